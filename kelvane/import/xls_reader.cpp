// .xls: BIFF8 records in the "Workbook" stream of an OLE2 compound file, read
// here directly. A saved workbook keeps each formula's last result, so a
// formula cell is read like a constant of the same kind, and the globals name
// the sheet that was active when it was saved. Every read is bounded by the
// bytes at hand: the file is outside input and may be damaged or hostile.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "kelvane/import/compound_file.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane::sheet {

namespace {

constexpr const char* kEncrypted = "工作簿受密码保护或已加密";
constexpr const char* kOldVersion =
    "文件是Excel 95或更早版本的工作簿（BIFF5），本程序不能读取，请在电子表格程序中另存为"
    "Excel 97-2003工作簿或.xlsx后再导入";

using cfb::CompoundFile;
using cfb::DirectoryEntry;
using cfb::le16;
using cfb::le32;
using cfb::leDouble;

// ---- BIFF8 records ---------------------------------------------------------

namespace record {
constexpr std::uint16_t kFormula = 0x0006;
constexpr std::uint16_t kEof = 0x000A;
constexpr std::uint16_t kDateMode = 0x0022;
constexpr std::uint16_t kFilePass = 0x002F;
constexpr std::uint16_t kContinue = 0x003C;
constexpr std::uint16_t kWindow1 = 0x003D;
constexpr std::uint16_t kBoundSheet = 0x0085;
constexpr std::uint16_t kMulRk = 0x00BD;
constexpr std::uint16_t kRString = 0x00D6;
constexpr std::uint16_t kXf = 0x00E0;
constexpr std::uint16_t kSst = 0x00FC;
constexpr std::uint16_t kLabelSst = 0x00FD;
constexpr std::uint16_t kNumber = 0x0203;
constexpr std::uint16_t kLabel = 0x0204;
constexpr std::uint16_t kBoolErr = 0x0205;
constexpr std::uint16_t kString = 0x0207;
constexpr std::uint16_t kRk = 0x027E;
constexpr std::uint16_t kFormat = 0x041E;
constexpr std::uint16_t kBof = 0x0809;
}  // namespace record

struct Record {
    std::uint16_t type = 0;
    std::string_view data;
    std::size_t offset = 0;  // of its header in the stream
};

class Biff {
  public:
    Biff(const std::string& path, std::string_view stream) : path_(path), stream_(stream) {}

    // The record at `at`, or nullopt at the end of the stream.
    std::optional<Record> at(std::size_t offset) const {
        if (offset >= stream_.size()) return std::nullopt;
        if (stream_.size() - offset < 4) damaged("记录头不完整");
        const std::size_t size = le16(stream_, offset + 2);
        if (stream_.size() - offset - 4 < size) damaged("记录不完整");
        return Record{le16(stream_, offset), stream_.substr(offset + 4, size), offset};
    }
    static std::size_t next(const Record& r) { return r.offset + 4 + r.data.size(); }

    // A record followed by its CONTINUE records, as the pieces a long string
    // may be split over.
    std::vector<std::string_view> withContinues(const Record& first, std::size_t& after) const {
        std::vector<std::string_view> pieces{first.data};
        after = next(first);
        while (std::optional<Record> r = at(after)) {
            if (r->type != record::kContinue) break;
            pieces.push_back(r->data);
            after = next(*r);
        }
        return pieces;
    }

    [[noreturn]] void damaged(const std::string& detail) const {
        throw ListFileError(path_, "文件已损坏（" + detail + "）");
    }
    [[noreturn]] void refuse(const std::string& reason) const {
        throw ListFileError(path_, reason);
    }

  private:
    const std::string& path_;
    std::string_view stream_;
};

// Reads across a record and its CONTINUE records. Characters of one string
// may run on into the next piece, which then starts with a fresh option byte
// saying whether they are one or two bytes wide.
class PieceReader {
  public:
    PieceReader(const Biff& biff, std::vector<std::string_view> pieces, std::size_t skip)
        : biff_(biff), pieces_(std::move(pieces)), offset_(skip) {}

    std::uint8_t byte() { return static_cast<std::uint8_t>(take(1)[0]); }
    std::uint16_t u16() { return le16(take(2), 0); }
    std::uint32_t u32() { return le32(take(4), 0); }
    void skip(std::size_t count) {
        while (count > 0) {
            const std::size_t step = std::min(count, available());
            if (step == 0) {
                advancePiece();
                continue;
            }
            offset_ += step;
            count -= step;
        }
    }

    // An XLUnicodeRichExtendedString (SST entries, STRING and LABEL with a
    // 16-bit count): the characters, then rich-text runs and phonetic data to
    // skip.
    std::string string() {
        const std::size_t count = u16();
        std::uint8_t options = byte();
        std::size_t runs = 0, extra = 0;
        if (options & 0x08) runs = u16();
        if (options & 0x04) extra = u32();
        std::u16string units;
        for (std::size_t i = 0; i < count; ++i) {
            if (available() == 0) {
                advancePiece();
                options = byte();
            }
            units += static_cast<char16_t>((options & 0x01) ? le16(take(2), 0) : byte());
        }
        skip(runs * 4 + extra);
        return base::utf16ToUtf8(units);
    }

  private:
    std::size_t available() const {
        return piece_ < pieces_.size() ? pieces_[piece_].size() - offset_ : 0;
    }
    void advancePiece() {
        if (piece_ + 1 >= pieces_.size()) biff_.damaged("字符串超出记录");
        ++piece_;
        offset_ = 0;
    }
    std::string_view take(std::size_t count) {
        if (available() == 0) advancePiece();
        if (available() < count) biff_.damaged("字符串超出记录");
        const std::string_view out = pieces_[piece_].substr(offset_, count);
        offset_ += count;
        return out;
    }

    const Biff& biff_;
    std::vector<std::string_view> pieces_;
    std::size_t piece_ = 0;
    std::size_t offset_ = 0;
};

struct SheetEntry {
    std::uint32_t offset;
    std::uint8_t kind;  // 0 worksheet, 2 chart, 6 macro module
};

struct Globals {
    std::vector<std::string> strings;
    std::vector<SheetEntry> sheets;
    std::vector<DateKind> xfKinds;  // by XF index
    bool date1904 = false;
    std::size_t activeTab = 0;
};

// One switch over the workbook globals' record types, a few lines each; kept
// together so that every record the reader understands is listed in one place.
Globals readGlobals(const Biff& biff) {
    std::optional<Record> first = biff.at(0);
    if (!first || first->type != record::kBof || first->data.size() < 4)
        biff.damaged("工作簿数据流不以BOF记录开头");
    if (le16(first->data, 0) != 0x0600) biff.refuse(kOldVersion);
    Globals globals;
    std::vector<std::pair<int, DateKind>> formats;
    std::vector<int> xfFormats;
    bool sawWindow = false;
    std::size_t offset = Biff::next(*first);
    while (true) {
        std::optional<Record> r = biff.at(offset);
        if (!r) biff.damaged("工作簿全局数据没有EOF记录");
        offset = Biff::next(*r);
        const std::string_view d = r->data;
        switch (r->type) {
            case record::kEof:
                break;
            case record::kFilePass:
                biff.refuse(kEncrypted);
            case record::kWindow1:
                // The first window is the workbook's own; later ones are
                // further views of it.
                if (d.size() >= 12 && !sawWindow) globals.activeTab = le16(d, 10);
                sawWindow = true;
                continue;
            case record::kDateMode:
                if (d.size() >= 2) globals.date1904 = le16(d, 0) == 1;
                continue;
            case record::kBoundSheet:
                if (d.size() < 6) biff.damaged("工作表目录记录过短");
                globals.sheets.push_back({le32(d, 0), static_cast<std::uint8_t>(d[5])});
                continue;
            case record::kFormat: {
                if (d.size() < 2) biff.damaged("数字格式记录过短");
                PieceReader reader(biff, {d}, 2);
                formats.emplace_back(le16(d, 0), formatCodeKind(reader.string()));
                continue;
            }
            case record::kXf:
                if (d.size() < 4) biff.damaged("单元格格式记录过短");
                xfFormats.push_back(le16(d, 2));
                continue;
            case record::kSst: {
                if (d.size() < 8) biff.damaged("共享字符串表过短");
                const std::uint32_t count = le32(d, 4);
                PieceReader reader(biff, biff.withContinues(*r, offset), 8);
                // Each string takes at least three bytes: the count alone is
                // no reason to reserve memory.
                globals.strings.reserve(std::min<std::size_t>(count, d.size()));
                for (std::uint32_t i = 0; i < count; ++i)
                    globals.strings.push_back(reader.string());
                continue;
            }
            default:
                continue;
        }
        break;
    }
    for (int id : xfFormats) {
        auto custom = std::find_if(formats.begin(), formats.end(),
                                   [&](const auto& format) { return format.first == id; });
        globals.xfKinds.push_back(custom != formats.end() ? custom->second : builtInFormatKind(id));
    }
    return globals;
}

std::string errorText(std::uint8_t code) {
    switch (code) {
        case 0x00:
            return "#NULL!";
        case 0x07:
            return "#DIV/0!";
        case 0x0F:
            return "#VALUE!";
        case 0x17:
            return "#REF!";
        case 0x1D:
            return "#NAME?";
        case 0x24:
            return "#NUM!";
        case 0x2A:
            return "#N/A";
        case 0x2B:
            return "#GETTING_DATA";
        default:
            return "";
    }
}

double rkValue(std::uint32_t rk) {
    double value = 0;
    if (rk & 0x02) {
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        const std::uint64_t bits = std::uint64_t{rk & 0xFFFFFFFCu} << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100 : value;
}

class SheetReader {
  public:
    SheetReader(const std::string& path, const Biff& biff, const Globals& globals, int column)
        : path_(path), biff_(biff), globals_(globals), column_(column - 1) {}

    std::vector<std::string> read(std::size_t offset) {
        std::optional<Record> bof = biff_.at(offset);
        if (!bof || bof->type != record::kBof) biff_.damaged("工作表位置错误");
        offset = Biff::next(*bof);
        while (true) {
            std::optional<Record> r = biff_.at(offset);
            if (!r) biff_.damaged("工作表没有EOF记录");
            offset = Biff::next(*r);
            if (r->type == record::kEof) break;
            if (r->type == record::kBof) {
                skipEmbedded(offset);
                continue;
            }
            cell(*r, offset);
        }
        std::size_t lastWithValue = 0;
        for (std::size_t i = 0; i < cells_.size(); ++i)
            if (!cells_[i].empty()) lastWithValue = i + 1;
        cells_.resize(lastWithValue);
        return std::move(cells_);
    }

  private:
    // An embedded chart is a whole BOF ... EOF substream inside the sheet's.
    void skipEmbedded(std::size_t& offset) const {
        for (int depth = 1; depth > 0;) {
            std::optional<Record> r = biff_.at(offset);
            if (!r) biff_.damaged("嵌入对象没有EOF记录");
            offset = Biff::next(*r);
            if (r->type == record::kBof) ++depth;
            if (r->type == record::kEof) --depth;
        }
    }

    [[noreturn]] void unreadable(std::uint16_t row, const std::string& why) const {
        throw ListFileError(
            path_, "单元格 " + cellName(column_ + 1, row + 1) + " 无法读取（" + why + "）");
    }

    void put(std::uint16_t row, std::string text) {
        if (cells_.size() <= row) cells_.resize(std::size_t{row} + 1);
        cells_[row] = std::move(text);
    }

    std::string numberWithFormat(double value, std::uint16_t xf) const {
        const DateKind kind = xf < globals_.xfKinds.size() ? globals_.xfKinds[xf] : DateKind::None;
        return kind == DateKind::None ? numberText(value)
                                      : serialDateText(value, globals_.date1904, kind);
    }

    // `offset` is the stream position after `r`; records that carry on
    // into following ones (a formula's STRING) move it on.
    void cell(const Record& r, std::size_t& offset) {
        const std::string_view d = r.data;
        if (r.type == record::kMulRk) {
            if (d.size() < 6) biff_.damaged("MULRK记录过短");
            const std::uint16_t row = le16(d, 0), first = le16(d, 2);
            const std::size_t count = (d.size() - 6) / 6;
            if (column_ < first || static_cast<std::size_t>(column_ - first) >= count) return;
            const std::size_t at = 4 + std::size_t(column_ - first) * 6;
            put(row, numberWithFormat(rkValue(le32(d, at + 2)), le16(d, at)));
            return;
        }
        const bool isCell = r.type == record::kLabelSst || r.type == record::kLabel ||
                            r.type == record::kRString || r.type == record::kNumber ||
                            r.type == record::kRk || r.type == record::kBoolErr ||
                            r.type == record::kFormula;
        if (!isCell) return;
        if (d.size() < 6) biff_.damaged("单元格记录过短");
        const std::uint16_t row = le16(d, 0);
        if (le16(d, 2) != column_) return;
        const std::uint16_t xf = le16(d, 4);
        auto need = [&](std::size_t size) {
            if (d.size() < size) unreadable(row, "记录过短");
        };
        switch (r.type) {
            case record::kLabelSst: {
                need(10);
                const std::uint32_t index = le32(d, 6);
                if (index >= globals_.strings.size()) unreadable(row, "共享字符串编号错误");
                put(row, globals_.strings[index]);
                return;
            }
            case record::kLabel:
            case record::kRString: {
                PieceReader reader(biff_, {d}, 6);
                put(row, reader.string());
                return;
            }
            case record::kNumber:
                need(14);
                put(row, numberWithFormat(leDouble(d, 6), xf));
                return;
            case record::kRk:
                need(10);
                put(row, numberWithFormat(rkValue(le32(d, 6)), xf));
                return;
            case record::kBoolErr:
                need(8);
                put(row, boolOrError(row, static_cast<std::uint8_t>(d[6]), d[7] != 0));
                return;
            case record::kFormula:
                need(20);
                put(row, formulaResult(row, d, xf, offset));
                return;
            default:
                return;
        }
    }

    std::string boolOrError(std::uint16_t row, std::uint8_t value, bool isError) const {
        if (!isError) return value ? "TRUE" : "FALSE";
        std::string text = errorText(value);
        if (text.empty()) unreadable(row, "未知的错误值");
        return text;
    }

    // A formula's saved result: a number in the eight bytes, or (when their
    // last two are 0xFFFF) a tag in the first byte: text in the STRING record
    // that follows, a boolean, an error or empty text.
    std::string formulaResult(std::uint16_t row, std::string_view d, std::uint16_t xf,
                              std::size_t& offset) const {
        if (le16(d, 12) != 0xFFFF) return numberWithFormat(leDouble(d, 6), xf);
        switch (static_cast<std::uint8_t>(d[6])) {
            case 0: {
                // A shared or array formula's defining record may stand
                // between the cell and its text.
                std::optional<Record> r = biff_.at(offset);
                while (r && (r->type == 0x04BC || r->type == 0x0221 || r->type == 0x0236)) {
                    offset = Biff::next(*r);
                    r = biff_.at(offset);
                }
                if (!r || r->type != record::kString) unreadable(row, "公式结果文字缺失");
                PieceReader reader(biff_, biff_.withContinues(*r, offset), 0);
                return reader.string();
            }
            case 1:
                return static_cast<std::uint8_t>(d[8]) ? "TRUE" : "FALSE";
            case 2:
                return boolOrError(row, static_cast<std::uint8_t>(d[8]), true);
            case 3:
                return "";
            default:
                unreadable(row, "未知的公式结果类型");
        }
    }

    const std::string& path_;
    const Biff& biff_;
    const Globals& globals_;
    int column_;
    std::vector<std::string> cells_;
};

}  // namespace

std::vector<std::string> readXlsColumn(const std::string& path, int column) {
    CompoundFile file(path, readWholeFile(path));
    // The encrypted form of the newer formats is also a compound file, holding
    // this stream instead of a workbook.
    if (file.find(u"EncryptedPackage")) throw ListFileError(path, kEncrypted);
    const DirectoryEntry* workbook = file.find(u"Workbook");
    if (!workbook) {
        if (file.find(u"Book")) throw ListFileError(path, kOldVersion);
        throw ListFileError(path, "不是Excel工作簿（复合文档中没有工作簿）");
    }
    const std::string stream = file.stream(*workbook);
    const Biff biff(path, stream);
    const Globals globals = readGlobals(biff);
    // The sheet shown when the workbook was saved; a chart or macro sheet
    // there falls back to the first worksheet, as for .xlsx.
    std::vector<std::size_t> order;
    if (globals.activeTab < globals.sheets.size()) order.push_back(globals.activeTab);
    for (std::size_t i = 0; i < globals.sheets.size(); ++i) order.push_back(i);
    for (std::size_t index : order) {
        if (globals.sheets[index].kind != 0) continue;
        return SheetReader(path, biff, globals, column).read(globals.sheets[index].offset);
    }
    throw ListFileError(path, "工作簿中没有工作表");
}

}  // namespace kelvane::sheet
