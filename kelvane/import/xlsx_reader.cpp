// .xlsx (Office Open XML) through libzip and expat. Every part is read as a
// stream, never unpacked whole or parsed into a tree: memory follows the cells
// of the wanted column, not the size of the XML. The package's relationships
// lead from the workbook to the sheet, the shared strings and the styles. The
// sheet is read first, keeping only the wanted column (a shared string by its
// number); the shared strings are then read for the numbers the column uses.
#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "base/text.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane::sheet {

namespace {

constexpr long kLastSheetRow = 1048576;
constexpr std::size_t kLargestPart = std::size_t{1} << 31;
// Spreadsheet XML packs ten to fifty times; a package that unpacks to far more
// than its own size is a zip bomb, and reading it would only cost time.
constexpr std::uint64_t kInflateAllowance = std::uint64_t{64} << 20;
constexpr std::uint64_t kLargestInflateRatio = 200;
// Text the column may bring in: the list holds it once more, and both must
// stay well below a gigabyte.
constexpr std::size_t kLargestColumnText = std::size_t{256} << 20;
// Relationships, sheets, number formats and cell styles a real workbook has
// by the thousand at most.
constexpr std::size_t kMostEntries = 1u << 20;

const char* const kColumnTooLarge = "所选列的文字超过256MB，无法导入";

// Element and attribute names compared without their namespace prefix, as
// some writers use "x:row" where others write "row".
std::string_view localName(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

// The value of attribute `name` (compared without its prefix); nullptr when absent.
const char* attribute(const char** attributes, std::string_view name) {
    for (const char** at = attributes; *at; at += 2)
        if (localName(at[0]) == name) return at[1];
    return nullptr;
}

std::string_view attributeText(const char** attributes, std::string_view name) {
    const char* value = attribute(attributes, name);
    return value ? value : "";
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Strings may carry characters XML cannot hold as "_xHHHH_".
std::string decodeEscapes(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = 0;
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
            std::from_chars(text.data() + i + 2, text.data() + i + 6, code, 16).ptr ==
                text.data() + i + 6) {
            base::appendUtf8(out, code);
            i += 6;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "AB12" -> column 28; 0 when the reference has no letters.
int referenceColumn(const char* reference) {
    int column = 0;
    for (const char* p = reference; *p; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') break;
        column = column * 26 + (c - 'A' + 1);
        if (column > 16384) return -1;
    }
    return column;
}

long parseLong(std::string_view text, long fallback) {
    long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// Howard Hinnant's civil-to-days conversion; day 0 is 1970-01-01.
long long daysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// An ISO 8601 date cell ("2024-01-02", "2024-01-02T03:04:05.5Z") as the serial
// day number the same moment has in the workbook's date system; nullopt when
// it is no such date or lies before the system's first day.
std::optional<double> isoDateSerial(std::string_view value, bool date1904) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    auto number = [&](std::size_t at, std::size_t length, int& out) {
        if (value.size() < at + length) return false;
        auto [end, error] = std::from_chars(value.data() + at, value.data() + at + length, out);
        return error == std::errc() && end == value.data() + at + length;
    };
    if (!number(0, 4, year) || value.size() < 10 || value[4] != '-' || !number(5, 2, month) ||
        value[7] != '-' || !number(8, 2, day) || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    if (value.size() > 10) {
        if (value[10] != 'T' || !number(11, 2, hour) || value.size() < 16 || value[13] != ':' ||
            !number(14, 2, minute) || hour > 24 || minute > 59)
            return std::nullopt;
        if (value.size() > 16 && value[16] == ':') {
            // Seconds with any fraction; a zone after them is the writer's, not the cell's.
            const char* end = value.data() + value.size();
            const char* secondsEnd = value.data() + 17;
            while (secondsEnd < end &&
                   ((*secondsEnd >= '0' && *secondsEnd <= '9') || *secondsEnd == '.'))
                ++secondsEnd;
            if (std::from_chars(value.data() + 17, secondsEnd, second).ptr != secondsEnd)
                return std::nullopt;
        }
    }
    long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    if (date1904) {
        days -= daysFromCivil(1904, 1, 1);
    } else {
        days -= daysFromCivil(1899, 12, 30);
        // Serials before March 1900 count the 29 February 1900 that never was.
        if (days < 61) --days;
    }
    const double serial =
        static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
    if (serial < 0 || (serial < 1 && !date1904)) return std::nullopt;
    return serial;
}

// A part's path from a relationship target: relative to the source part's
// folder unless it starts at the package root.
std::string resolveTarget(std::string_view sourcePart, std::string_view target) {
    std::string joined;
    if (!target.empty() && target.front() == '/') {
        joined = target.substr(1);
    } else {
        const std::size_t slash = sourcePart.rfind('/');
        joined =
            std::string(slash == std::string_view::npos ? "" : sourcePart.substr(0, slash + 1));
        joined += target;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find('/', start);
        if (end == std::string::npos) end = joined.size();
        std::string part = joined.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    std::string resolved;
    for (const std::string& part : parts) resolved += (resolved.empty() ? "" : "/") + part;
    return resolved;
}

// What a streamed part tells its reader. Names keep their prefix ("x:row");
// compare them with localName. Nothing is thrown through the parser: a
// handler calls fail(), refuse() or finish(), and the stream ends there.
class XmlHandler {
  public:
    virtual ~XmlHandler() = default;
    virtual void start(std::string_view name, const char** attributes) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view) {}

    void attach(XML_Parser parser) noexcept { parser_ = parser; }
    const std::optional<std::string>& failure() const noexcept { return failure_; }
    bool refused() const noexcept { return refused_; }
    bool finished() const noexcept { return finished_; }
    std::exception_ptr exception() const noexcept { return exception_; }

    // The part is damaged for `reason`.
    void fail(std::string reason) {
        if (!failure_) failure_ = std::move(reason);
        XML_StopParser(parser_, XML_FALSE);
    }
    // The part is sound but the import cannot take it, for `reason`.
    void refuse(std::string reason) {
        refused_ = true;
        fail(std::move(reason));
    }
    // The rest of the part is not needed.
    void finish() {
        finished_ = true;
        XML_StopParser(parser_, XML_FALSE);
    }
    void keep(std::exception_ptr exception) {
        exception_ = std::move(exception);
        XML_StopParser(parser_, XML_FALSE);
    }

  private:
    XML_Parser parser_ = nullptr;
    std::optional<std::string> failure_;
    bool refused_ = false;
    bool finished_ = false;
    std::exception_ptr exception_;
};

// Expat calls these with the handler as its user data; an exception (no
// memory) is kept and rethrown once the parser has returned.
void startElement(void* handler, const XML_Char* name, const XML_Char** attributes) {
    try {
        static_cast<XmlHandler*>(handler)->start(name, attributes);
    } catch (...) {
        static_cast<XmlHandler*>(handler)->keep(std::current_exception());
    }
}
void endElement(void* handler, const XML_Char* name) {
    try {
        static_cast<XmlHandler*>(handler)->end(name);
    } catch (...) {
        static_cast<XmlHandler*>(handler)->keep(std::current_exception());
    }
}
void characterData(void* handler, const XML_Char* text, int length) {
    try {
        static_cast<XmlHandler*>(handler)->text({text, static_cast<std::size_t>(length)});
    } catch (...) {
        static_cast<XmlHandler*>(handler)->keep(std::current_exception());
    }
}
// Spreadsheet parts have no document type; a part that declares one (and
// with it, perhaps, entities that expand without end) is not read.
void refuseDocumentType(void* handler, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<XmlHandler*>(handler)->fail("含有文档类型声明");
}

// Texts stored one after another in chunks that never move, so a growing store
// never holds a second copy of itself while it grows.
class TextArena {
  public:
    // A handle to pass to view() with the text's length.
    std::uint64_t append(std::string_view text) {
        if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < text.size()) {
            chunks_.emplace_back();
            chunks_.back().reserve(std::max(kChunk, text.size()));
        }
        std::string& chunk = chunks_.back();
        const std::uint64_t handle = (std::uint64_t{chunks_.size() - 1} << 32) | chunk.size();
        chunk.append(text);
        size_ += text.size();
        return handle;
    }
    std::string_view view(std::uint64_t handle, std::size_t length) const {
        return std::string_view(chunks_[handle >> 32]).substr(handle & 0xFFFFFFFF, length);
    }
    std::size_t size() const noexcept { return size_; }

  private:
    static constexpr std::size_t kChunk = std::size_t{4} << 20;
    std::vector<std::string> chunks_;
    std::size_t size_ = 0;
};

struct ParserFree {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

struct Relationship {
    std::string type;
    std::string target;  // resolved part name
};

class Package {
  public:
    Package(const std::string& path, std::string_view bytes)
        : path_(path), inflateBudget_(kInflateAllowance + kLargestInflateRatio * bytes.size()) {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source) {
            zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (!zip_) zip_source_free(source);
        }
        if (!zip_) {
            std::string reason = "文件已损坏（";
            reason += zip_error_strerror(&error);
            reason += "）";
            zip_error_fini(&error);
            throw ListFileError(path_, reason);
        }
        zip_error_fini(&error);
    }
    ~Package() { zip_discard(zip_); }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    bool has(const std::string& part) const {
        return zip_name_locate(zip_, part.c_str(), ZIP_FL_NOCASE) >= 0;
    }

    // Streams part `part` through `handler`; false when the package has no
    // such part. Throws ListFileError when the part is damaged, encrypted or
    // unpacks to more than a workbook plausibly holds, or when the handler
    // fails.
    bool stream(const std::string& part, XmlHandler& handler) {
        const zip_int64_t index = zip_name_locate(zip_, part.c_str(), ZIP_FL_NOCASE);
        if (index < 0) return false;
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &stat) != 0)
            damaged(part, zip_strerror(zip_));
        if ((stat.valid & ZIP_STAT_SIZE) && stat.size > kLargestPart) tooLarge(part);
        std::unique_ptr<zip_file_t, ZipFileClose> file(
            zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0));
        if (!file) {
            const int code = zip_error_code_zip(zip_get_error(zip_));
            if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP)
                throw ListFileError(path_, "工作簿受密码保护或已加密");
            damaged(part, zip_strerror(zip_));
        }
        std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(nullptr));
        if (!parser) throw std::bad_alloc();
        handler.attach(parser.get());
        XML_SetUserData(parser.get(), &handler);
        XML_SetElementHandler(parser.get(), startElement, endElement);
        XML_SetCharacterDataHandler(parser.get(), characterData);
        XML_SetStartDoctypeDeclHandler(parser.get(), refuseDocumentType);
        std::uint64_t partBytes = 0;
        constexpr int kChunk = 1 << 16;
        while (true) {
            void* buffer = XML_GetBuffer(parser.get(), kChunk);
            if (!buffer) throw std::bad_alloc();
            const zip_int64_t got = zip_fread(file.get(), buffer, kChunk);
            if (got < 0) damaged(part, zip_file_strerror(file.get()));
            partBytes += static_cast<std::uint64_t>(got);
            inflated_ += static_cast<std::uint64_t>(got);
            if (partBytes > kLargestPart || inflated_ > inflateBudget_) tooLarge(part);
            if (XML_ParseBuffer(parser.get(), static_cast<int>(got), got == 0) != XML_STATUS_OK) {
                if (handler.exception()) std::rethrow_exception(handler.exception());
                if (handler.refused()) throw ListFileError(path_, *handler.failure());
                if (handler.failure()) damaged(part, *handler.failure());
                if (handler.finished()) return true;
                const XML_Error code = XML_GetErrorCode(parser.get());
                damaged(part, std::string(XML_ErrorString(code)) + "，第" +
                                  std::to_string(XML_GetCurrentLineNumber(parser.get())) + "行");
            }
            if (got == 0) return true;
        }
    }

    [[noreturn]] void damaged(const std::string& part, const std::string& detail) const {
        throw ListFileError(path_, "文件已损坏（" + part + "：" + detail + "）");
    }
    [[noreturn]] void tooLarge(const std::string& part) const {
        throw ListFileError(path_, "文件中的 " + part + " 解压后过大");
    }

  private:
    std::string path_;
    zip_t* zip_ = nullptr;
    std::uint64_t inflated_ = 0;
    std::uint64_t inflateBudget_;
};

class RelationshipsReader : public XmlHandler {
  public:
    RelationshipsReader(std::string_view sourcePart, std::map<std::string, Relationship>& out)
        : sourcePart_(sourcePart), out_(out) {}
    void start(std::string_view name, const char** attributes) override {
        if (localName(name.data()) != "Relationship") return;
        if (attributeText(attributes, "TargetMode") == "External") return;
        if (out_.size() >= kMostEntries) return fail("关系过多");
        out_[std::string(attributeText(attributes, "Id"))] = {
            std::string(attributeText(attributes, "Type")),
            resolveTarget(sourcePart_, attributeText(attributes, "Target"))};
    }
    void end(std::string_view) override {}

  private:
    std::string_view sourcePart_;
    std::map<std::string, Relationship>& out_;
};

std::map<std::string, Relationship> readRelationships(Package& package, const std::string& part) {
    std::map<std::string, Relationship> relationships;
    const std::size_t slash = part.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    RelationshipsReader reader(part, relationships);
    package.stream(folder + "_rels/" + name + ".rels", reader);
    return relationships;
}

// The workbook's date system, its active sheet and the sheets in order.
class WorkbookReader : public XmlHandler {
  public:
    bool date1904 = false;
    long activeTab = 0;
    std::vector<std::string> sheetIds;  // relationship ids, in tab order

    void start(std::string_view name, const char** attributes) override {
        ++depth_;
        const std::string_view local = localName(name.data());
        if (depth_ == 2 && local == "workbookPr") {
            const std::string_view value = attributeText(attributes, "date1904");
            date1904 = value == "1" || value == "true";
        } else if (depth_ == 2 && local == "bookViews") {
            inBookViews_ = true;
        } else if (depth_ == 3 && inBookViews_ && local == "workbookView" && !viewSeen_) {
            viewSeen_ = true;
            activeTab = parseLong(attributeText(attributes, "activeTab"), 0);
        } else if (depth_ == 2 && local == "sheets") {
            inSheets_ = true;
        } else if (depth_ == 3 && inSheets_ && local == "sheet") {
            if (sheetIds.size() >= kMostEntries) return fail("工作表过多");
            // The relationship id is "r:id" under whatever prefix.
            std::string id;
            for (const char** at = attributes; *at; at += 2) {
                if (std::strchr(at[0], ':') && localName(at[0]) == "id") id = at[1];
            }
            sheetIds.push_back(std::move(id));
        }
    }
    void end(std::string_view name) override {
        const std::string_view local = localName(name.data());
        if (depth_ == 2 && local == "bookViews") inBookViews_ = false;
        // Once both are read the rest names nothing the import needs; some
        // writers put the views after the sheets.
        if (depth_ == 2 && local == "sheets") inSheets_ = false, sheetsRead_ = true;
        if (depth_ == 2 && sheetsRead_ && viewSeen_ && (local == "sheets" || local == "bookViews"))
            finish();
        --depth_;
    }

  private:
    int depth_ = 0;
    bool inBookViews_ = false, viewSeen_ = false, inSheets_ = false, sheetsRead_ = false;
};

// Which cell styles show dates: the number format of each entry of cellXfs.
class StylesReader : public XmlHandler {
  public:
    void start(std::string_view name, const char** attributes) override {
        ++depth_;
        const std::string_view local = localName(name.data());
        if (depth_ == 2) {
            section_ = local == "numFmts"   ? Section::Formats
                       : local == "cellXfs" ? Section::CellStyles
                                            : Section::Other;
        } else if (depth_ == 3 && section_ == Section::Formats && local == "numFmt") {
            if (customFormats_.size() >= kMostEntries) return fail("数字格式过多");
            customFormats_[parseLong(attributeText(attributes, "numFmtId"), -1)] =
                formatCodeKind(attributeText(attributes, "formatCode"));
        } else if (depth_ == 3 && section_ == Section::CellStyles && local == "xf") {
            if (formatIds_.size() >= kMostEntries) return fail("单元格样式过多");
            formatIds_.push_back(parseLong(attributeText(attributes, "numFmtId"), 0));
        }
    }
    void end(std::string_view) override {
        if (depth_ == 2) section_ = Section::Other;
        --depth_;
    }

    // By cell style index.
    std::vector<DateKind> kinds() const {
        std::vector<DateKind> kinds;
        kinds.reserve(formatIds_.size());
        for (long id : formatIds_) {
            auto custom = customFormats_.find(id);
            kinds.push_back(custom != customFormats_.end()
                                ? custom->second
                                : builtInFormatKind(static_cast<int>(id)));
        }
        return kinds;
    }

  private:
    enum class Section { Other, Formats, CellStyles };
    std::map<long, DateKind> customFormats_;
    std::vector<long> formatIds_;
    int depth_ = 0;
    Section section_ = Section::Other;
};

// Where the text of a shared or inline string item (<si>, <is>) is: its <t>,
// or the <t> of each rich-text run (<r>); phonetic runs (<rPh>) are not part
// of the text. Fed the elements inside the item, `depth` 1 being its children.
class StringItem {
  public:
    void begin(bool keep) {
        keep_ = keep;
        collecting_ = inRun_ = false;
    }
    void start(std::string_view local, int depth) {
        if (depth == 1) inRun_ = local == "r";
        collecting_ = local == "t" && (depth == 1 || (depth == 2 && inRun_));
    }
    void end(int depth) {
        collecting_ = false;
        if (depth == 1) inRun_ = false;
    }
    bool collecting() const noexcept { return keep_ && collecting_; }

  private:
    bool keep_ = false;
    bool collecting_ = false;
    bool inRun_ = false;
};

// One cell of the wanted column, in sheet order: its text in the sheet
// reader's arena, or the number of a shared string still to be read.
struct ColumnEntry {
    std::uint32_t row;
    std::uint32_t length;  // kShared: `value` is a shared string number
    std::uint64_t value;   // the text's arena handle, or the shared string number
};
constexpr std::uint32_t kShared = 0xFFFFFFFF;

struct WorkbookFacts {
    bool date1904 = false;
    std::vector<DateKind> styleKinds;  // by cell style index
};

class SheetReader : public XmlHandler {
  public:
    SheetReader(int column, const WorkbookFacts& facts) : column_(column), facts_(facts) {}

    std::vector<ColumnEntry> entries;
    TextArena texts;

    void start(std::string_view name, const char** attributes) override {
        ++depth_;
        if (cellDepth_ > 0) {
            if (!wanted_) return;
            const std::string_view local = localName(name.data());
            if (itemDepth_ > 0) {
                item_.start(local, depth_ - itemDepth_);
            } else if (depth_ == cellDepth_ + 1 && local == "v") {
                collectingValue_ = true;
            } else if (depth_ == cellDepth_ + 1 && local == "f") {
                formula_ = true;
            } else if (depth_ == cellDepth_ + 1 && local == "is") {
                itemDepth_ = depth_;
                item_.begin(true);
            }
            return;
        }
        const std::string_view local = localName(name.data());
        if (depth_ == 2 && local == "sheetData") {
            inSheetData_ = true;
        } else if (inSheetData_ && depth_ == 3 && local == "row") {
            const char* number = attribute(attributes, "r");
            row_ = number ? parseLong(number, -1) : row_ + 1;
            if (row_ < 1 || row_ > kLastSheetRow) return fail("行号错误");
            cellColumn_ = 0;
        } else if (inSheetData_ && depth_ == 4 && local == "c") {
            cellDepth_ = depth_;
            const char* reference = attribute(attributes, "r");
            cellColumn_ = reference ? referenceColumn(reference) : cellColumn_ + 1;
            if (cellColumn_ < 1) return fail("单元格引用错误");
            wanted_ = cellColumn_ == column_;
            if (!wanted_) return;
            type_ = attributeText(attributes, "t");
            style_ = parseLong(attributeText(attributes, "s"), 0);
            value_.clear();
            formula_ = false;
        }
    }

    void end(std::string_view name) override {
        if (cellDepth_ > 0 && depth_ > cellDepth_) {
            if (itemDepth_ > 0) {
                if (depth_ == itemDepth_) {
                    itemDepth_ = 0;
                } else {
                    item_.end(depth_ - itemDepth_);
                }
            }
            collectingValue_ = false;
        } else if (cellDepth_ > 0 && depth_ == cellDepth_) {
            if (wanted_) finishCell();
            cellDepth_ = 0;
            wanted_ = false;
        } else if (depth_ == 2 && localName(name.data()) == "sheetData") {
            inSheetData_ = false;
        }
        --depth_;
    }

    void text(std::string_view text) override {
        if (!collectingValue_ && !(itemDepth_ > 0 && item_.collecting())) return;
        if (value_.size() + text.size() + texts.size() > kLargestColumnText)
            return refuse(kColumnTooLarge);
        value_.append(text);
    }

  private:
    void finishCell() {
        // A sheet has one cell a row in each column; more are a damaged file
        // that would only cost memory.
        if (entries.size() >= static_cast<std::size_t>(kLastSheetRow))
            return fail("同一列中的单元格过多");
        // Written by a program that computes nothing (openpyxl, xlwt): the
        // name the cell stands for is nowhere in the file. A silent gap, or
        // a 0, would make a name missing from the list unnoticed.
        if (formula_ && value_.empty() && type_ != "str" && type_ != "inlineStr") {
            return refuse("单元格" + cellName(column_, row_) +
                          "的公式没有保存结果，请在电子表格程序中打开并保存后再导入");
        }
        if (type_ == "s") {
            if (value_.empty()) return;  // an empty cell, as spreadsheets show it
            const long index = parseLong(value_, -1);
            if (index < 0) return fail("共享字符串编号错误");
            entries.push_back(
                {static_cast<std::uint32_t>(row_), kShared, static_cast<std::uint64_t>(index)});
            return;
        }
        const std::string text = cellText();
        if (text.empty()) return;
        if (text.size() + texts.size() > kLargestColumnText) return refuse(kColumnTooLarge);
        entries.push_back({static_cast<std::uint32_t>(row_),
                           static_cast<std::uint32_t>(text.size()), texts.append(text)});
    }

    DateKind styleKind() const {
        return style_ >= 0 && static_cast<std::size_t>(style_) < facts_.styleKinds.size()
                   ? facts_.styleKinds[static_cast<std::size_t>(style_)]
                   : DateKind::None;
    }

    std::string cellText() const {
        if (type_ == "inlineStr" || type_ == "str" || type_ == "e") return decodeEscapes(value_);
        if (type_ == "b") return value_ == "1" ? "TRUE" : "FALSE";
        if (type_ == "d") {
            // The same text as the serial number of that moment in this style.
            const std::optional<double> serial = isoDateSerial(value_, facts_.date1904);
            return serial ? serialDateText(*serial, facts_.date1904, styleKind()) : value_;
        }
        if (value_.empty()) return "";
        double number = 0;
        auto [end, error] = std::from_chars(value_.data(), value_.data() + value_.size(), number);
        if (error != std::errc() || end != value_.data() + value_.size()) return value_;
        const DateKind kind = styleKind();
        return kind == DateKind::None ? numberText(number)
                                      : serialDateText(number, facts_.date1904, kind);
    }

    const int column_;
    const WorkbookFacts& facts_;
    int depth_ = 0;
    bool inSheetData_ = false;
    long row_ = 0;
    int cellColumn_ = 0;
    int cellDepth_ = 0;  // > 0 inside a <c>
    bool wanted_ = false;
    std::string type_;
    long style_ = 0;
    std::string value_;
    bool collectingValue_ = false;
    bool formula_ = false;  // the cell holds a formula
    int itemDepth_ = 0;     // > 0 inside the cell's <is>
    StringItem item_;
};

// The shared strings whose numbers `wanted` holds (ascending, no repeats):
// `found[i]` is the arena handle and length of the text of `wanted[i]`.
class SharedStringsReader : public XmlHandler {
  public:
    SharedStringsReader(const std::vector<std::uint64_t>& wanted, std::size_t alreadyKept)
        : wanted_(wanted), alreadyKept_(alreadyKept) {}

    TextArena texts;
    std::vector<std::pair<std::uint64_t, std::size_t>> found;
    std::uint64_t items = 0;  // <si> seen

    void start(std::string_view name, const char** /*attributes*/) override {
        ++depth_;
        if (itemDepth_ > 0) {
            item_.start(localName(name.data()), depth_ - itemDepth_);
        } else if (depth_ == 2 && localName(name.data()) == "si") {
            itemDepth_ = depth_;
            text_.clear();
            item_.begin(next_ < wanted_.size() && wanted_[next_] == items);
        }
    }
    void end(std::string_view) override {
        if (itemDepth_ > 0 && depth_ > itemDepth_) {
            item_.end(depth_ - itemDepth_);
        } else if (itemDepth_ > 0 && depth_ == itemDepth_) {
            itemDepth_ = 0;
            if (next_ < wanted_.size() && wanted_[next_] == items) {
                const std::string text = decodeEscapes(text_);
                found.emplace_back(texts.append(text), text.size());
                ++next_;
            }
            ++items;
            if (next_ == wanted_.size()) finish();  // every string the column needs is in
        }
        --depth_;
    }
    void text(std::string_view text) override {
        if (itemDepth_ == 0 || !item_.collecting()) return;
        if (alreadyKept_ + texts.size() + text_.size() + text.size() > kLargestColumnText)
            return refuse(kColumnTooLarge);
        text_.append(text);
    }

  private:
    const std::vector<std::uint64_t>& wanted_;
    const std::size_t alreadyKept_;
    std::size_t next_ = 0;
    int depth_ = 0;
    int itemDepth_ = 0;
    std::string text_;
    StringItem item_;
};

struct WorkbookParts {
    std::string sheet;
    std::string sharedStrings;  // empty when the workbook has none
    WorkbookFacts facts;
};

WorkbookParts openWorkbook(Package& package, const std::string& path) {
    std::string workbookPart;
    for (const auto& [id, relationship] : readRelationships(package, "")) {
        if (endsWith(relationship.type, "/officeDocument")) workbookPart = relationship.target;
    }
    if (workbookPart.empty()) workbookPart = "xl/workbook.xml";
    if (endsWith(workbookPart, ".bin"))
        throw ListFileError(path, "不支持二进制格式的工作簿(.xlsb)");
    WorkbookReader workbook;
    if (!package.stream(workbookPart, workbook))
        throw ListFileError(path, "不是Excel工作簿（压缩包中没有工作簿）");
    const std::map<std::string, Relationship> relationships =
        readRelationships(package, workbookPart);

    WorkbookParts parts;
    parts.facts.date1904 = workbook.date1904;
    // The sheet shown when the workbook was saved; chart sheets and broken
    // references fall back to the first worksheet.
    std::vector<std::size_t> order;
    if (workbook.activeTab >= 0 &&
        static_cast<std::size_t>(workbook.activeTab) < workbook.sheetIds.size())
        order.push_back(static_cast<std::size_t>(workbook.activeTab));
    for (std::size_t i = 0; i < workbook.sheetIds.size(); ++i) order.push_back(i);
    for (std::size_t index : order) {
        auto found = relationships.find(workbook.sheetIds[index]);
        if (found != relationships.end() && endsWith(found->second.type, "/worksheet")) {
            parts.sheet = found->second.target;
            break;
        }
    }
    if (parts.sheet.empty()) throw ListFileError(path, "工作簿中没有工作表");

    for (const auto& [id, relationship] : relationships) {
        if (endsWith(relationship.type, "/styles")) {
            StylesReader styles;
            if (package.stream(relationship.target, styles))
                parts.facts.styleKinds = styles.kinds();
        } else if (endsWith(relationship.type, "/sharedStrings")) {
            if (package.has(relationship.target)) parts.sharedStrings = relationship.target;
        }
    }
    return parts;
}

}  // namespace

PackedColumn readXlsxColumn(const std::string& path, std::string_view bytes, int column) {
    Package package(path, bytes);
    const WorkbookParts parts = openWorkbook(package, path);

    SheetReader sheet(column, parts.facts);
    if (!package.stream(parts.sheet, sheet))
        throw ListFileError(path, "文件已损坏（缺少 " + parts.sheet + "）");
    std::vector<ColumnEntry>& entries = sheet.entries;

    // The shared strings the column refers to, read in one pass.
    std::vector<std::uint64_t> wanted;
    for (const ColumnEntry& entry : entries)
        if (entry.length == kShared) wanted.push_back(entry.value);
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    SharedStringsReader shared(wanted, sheet.texts.size());
    if (!wanted.empty()) {
        if (parts.sharedStrings.empty() || !package.stream(parts.sharedStrings, shared) ||
            shared.found.size() != wanted.size())
            package.damaged(parts.sheet, "共享字符串编号错误");
    }
    auto entryText = [&](const ColumnEntry& entry) {
        if (entry.length != kShared) return sheet.texts.view(entry.value, entry.length);
        const auto slot =
            std::lower_bound(wanted.begin(), wanted.end(), entry.value) - wanted.begin();
        const auto [handle, length] = shared.found[static_cast<std::size_t>(slot)];
        return shared.texts.view(handle, length);
    };

    // Rows come in order from every writer. Of the cells given for one row the
    // last with a text counts, as when the sheet is read cell by cell.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ColumnEntry& a, const ColumnEntry& b) { return a.row < b.row; });
    std::size_t kept = 0, last = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t length = entryText(entries[i]).size();
        if (length == 0) continue;
        if (last > 0 && entries[last - 1].row == entries[i].row) {
            kept -= entryText(entries[last - 1]).size();
            entries[last - 1] = entries[i];
        } else {
            entries[last++] = entries[i];
        }
        kept += length;
    }
    entries.resize(last);
    // Checked before the copy, so that a few shared strings repeated down a
    // million rows are refused before they take the memory.
    if (kept > kLargestColumnText) throw ListFileError(path, kColumnTooLarge);

    PackedColumn cells;
    cells.reserve(entries.empty() ? 0 : entries.back().row, kept);
    for (const ColumnEntry& entry : entries) {
        while (cells.size() + 1 < entry.row) cells.push_back({});
        cells.push_back(entryText(entry));
    }
    return cells;
}

}  // namespace kelvane::sheet
