// .xls (BIFF inside an OLE2 compound file) through libfreexl. libfreexl does
// not read the workbook's window settings, so the first sheet is the one read.
// libfreexl is not safe on damaged files (it frees pointers it never
// allocated), so it runs in a child process: a crash there is a damaged file,
// not a lost session.
#include <freexl.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "host/isolated.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane::sheet {

namespace {

// The encrypted form of the newer formats is also an OLE2 file, holding this
// stream instead of a workbook.
bool holdsEncryptedPackage(const std::string& path) {
    const std::string bytes = readWholeFile(path);
    const std::string_view name("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    return bytes.find(name) != std::string::npos;
}

std::string freexlReason(const std::string& path, int code) {
    switch (code) {
        case FREEXL_FILE_NOT_FOUND:
            return "无法打开文件";
        case FREEXL_INSUFFICIENT_MEMORY:
            return "内存不足";
        case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
            return holdsEncryptedPackage(path) ? "工作簿受密码保护或已加密"
                                               : "不是Excel工作簿（复合文档中没有工作簿）";
        case FREEXL_UNSUPPORTED_CHARSET:
        case FREEXL_INVALID_CHARACTER:
            return "文件已损坏（文字编码无法转换）";
        default:
            return "文件已损坏（freexl 错误 " + std::to_string(code) + "）";
    }
}

std::uint32_t le32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// libfreexl trusts the directory entries: it converts as many name bytes as an
// entry claims from a 64-byte buffer, reading far past it, and allocates the
// size a stream claims. The compound file's directory is walked here first,
// every step bounded by the file's size, and a file it would misread is
// refused as damaged.
bool directoryNamesFit(std::string_view bytes) {
    if (bytes.size() < 512) return false;
    const unsigned shift =
        static_cast<unsigned char>(bytes[30]) | (static_cast<unsigned char>(bytes[31]) << 8);
    if (shift != 9 && shift != 12) return false;
    const std::size_t sectorSize = std::size_t{1} << shift;
    const std::size_t sectorCount = (bytes.size() - 512 + sectorSize - 1) / sectorSize;
    auto sectorAt = [&](std::uint32_t sector) -> std::optional<std::string_view> {
        if (sector >= sectorCount) return std::nullopt;
        const std::size_t start = 512 + std::size_t{sector} * sectorSize;
        const std::string_view data = bytes.substr(start, sectorSize);
        if (data.size() < sectorSize) return std::nullopt;  // freexl wants whole sectors
        return data;
    };
    constexpr std::uint32_t kLastSpecial = 0xFFFFFFFA;

    // The sectors of the FAT: 109 listed in the header, the rest in a chain of
    // DIFAT sectors.
    std::vector<std::uint32_t> fatSectors;
    for (std::size_t at = 76; at < 512; at += 4) fatSectors.push_back(le32(bytes, at));
    std::uint32_t difat = le32(bytes, 68);
    for (std::size_t steps = 0; difat < kLastSpecial; ++steps) {
        const auto data = sectorAt(difat);
        if (!data || steps > sectorCount) return false;
        for (std::size_t at = 0; at + 4 < sectorSize; at += 4)
            fatSectors.push_back(le32(*data, at));
        difat = le32(*data, sectorSize - 4);
    }
    std::vector<std::uint32_t> fat;
    for (std::uint32_t sector : fatSectors) {
        if (sector >= kLastSpecial) continue;
        const auto data = sectorAt(sector);
        if (!data) return false;
        for (std::size_t at = 0; at < sectorSize; at += 4) fat.push_back(le32(*data, at));
        if (fat.size() > sectorCount + sectorSize) break;
    }

    // A compound file always has a directory, holding at least its root.
    std::uint32_t sector = le32(bytes, 48);
    if (sector >= kLastSpecial) return false;
    for (std::size_t steps = 0; sector < kLastSpecial; ++steps) {
        const auto data = sectorAt(sector);
        if (!data || steps > sectorCount) return false;
        for (std::size_t entry = 0; entry < sectorSize; entry += 128) {
            const unsigned nameBytes = static_cast<unsigned char>((*data)[entry + 64]) |
                                       (static_cast<unsigned char>((*data)[entry + 65]) << 8);
            if (nameBytes > 64 || nameBytes % 2 != 0) return false;
            // freexl allocates what a stream claims before reading it (and
            // keeps it when it then gives up); no stream is larger than the file.
            if (le32(*data, entry + 120) > bytes.size()) return false;
        }
        if (sector >= fat.size()) return false;
        sector = fat[sector];
    }
    return true;
}

class XlsHandle {
  public:
    explicit XlsHandle(const std::string& path) {
        const int code = freexl_open(path.c_str(), &handle_);
        if (code != FREEXL_OK) {
            if (handle_) freexl_close(handle_);
            handle_ = nullptr;
            throw ListFileError(path, freexlReason(path, code));
        }
    }
    ~XlsHandle() { freexl_close(handle_); }
    XlsHandle(const XlsHandle&) = delete;
    XlsHandle& operator=(const XlsHandle&) = delete;
    const void* get() const { return handle_; }

  private:
    const void* handle_ = nullptr;
};

std::vector<std::string> readCells(const std::string& path, int column) {
    XlsHandle xls(path);
    unsigned int info = 0;
    if (freexl_get_info(xls.get(), FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED)
        throw ListFileError(path, "工作簿受密码保护或已加密");
    unsigned int sheets = 0;
    if (freexl_get_info(xls.get(), FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0)
        throw ListFileError(path, "工作簿中没有工作表");
    int code = freexl_select_active_worksheet(xls.get(), 0);
    if (code != FREEXL_OK) throw ListFileError(path, freexlReason(path, code));
    unsigned int rows = 0;
    unsigned short columns = 0;
    code = freexl_worksheet_dimensions(xls.get(), &rows, &columns);
    if (code != FREEXL_OK) throw ListFileError(path, freexlReason(path, code));

    std::vector<std::string> cells;
    if (static_cast<unsigned>(column) > columns) return cells;
    std::size_t lastWithValue = 0;
    cells.reserve(rows);
    for (unsigned int row = 0; row < rows; ++row) {
        FreeXL_CellValue value;
        code =
            freexl_get_cell_value(xls.get(), row, static_cast<unsigned short>(column - 1), &value);
        if (code != FREEXL_OK) throw ListFileError(path, freexlReason(path, code));
        std::string text;
        switch (value.type) {
            case FREEXL_CELL_INT:
                text = std::to_string(value.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                text = numberText(value.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (value.value.text_value) text = value.value.text_value;
                break;
            default:
                break;
        }
        cells.push_back(std::move(text));
        if (!cells.back().empty()) lastWithValue = cells.size();
    }
    cells.resize(lastWithValue);
    return cells;
}

// The child's answer: 'C' and the cells, each as eight length bytes (least
// significant first) and its text; or 'E' and the reason the file was refused.
constexpr char kCells = 'C';
constexpr char kRefused = 'E';

void appendLength(std::string& out, std::uint64_t length) {
    for (int i = 0; i < 8; ++i, length >>= 8) out += static_cast<char>(length & 0xFF);
}

std::string packCells(const std::vector<std::string>& cells) {
    std::size_t size = 1;
    for (const std::string& cell : cells) size += 8 + cell.size();
    std::string out;
    out.reserve(size);
    out += kCells;
    for (const std::string& cell : cells) {
        appendLength(out, cell.size());
        out += cell;
    }
    return out;
}

std::vector<std::string> unpackCells(const std::string& path, std::string_view answer) {
    auto garbled = [&] { return ListFileError(path, "文件已损坏（读取结果不完整）"); };
    if (answer.empty()) throw garbled();
    if (answer.front() == kRefused) throw ListFileError(path, std::string(answer.substr(1)));
    if (answer.front() != kCells) throw garbled();
    answer.remove_prefix(1);
    std::vector<std::string> cells;
    while (!answer.empty()) {
        if (answer.size() < 8) throw garbled();
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(answer[i]);
        answer.remove_prefix(8);
        if (length > answer.size()) throw garbled();
        cells.emplace_back(answer.substr(0, length));
        answer.remove_prefix(length);
    }
    return cells;
}

}  // namespace

std::vector<std::string> readXlsColumn(const std::string& path, int column) {
    // Our own checks run here, where a fuzzer sees them; only libfreexl goes
    // to the child.
    if (!directoryNamesFit(readWholeFile(path)))
        throw ListFileError(path, "文件已损坏（复合文档目录错误）");
    std::string failure;
    const std::optional<std::string> answer = host::runIsolated(
        [&] {
            try {
                return packCells(readCells(path, column));
            } catch (const ListFileError& error) {
                return kRefused + error.reason();
            }
        },
        &failure);
    if (!answer) throw ListFileError(path, "文件已损坏（读取时 libfreexl 出错：" + failure + "）");
    return unpackCells(path, *answer);
}

}  // namespace kelvane::sheet
