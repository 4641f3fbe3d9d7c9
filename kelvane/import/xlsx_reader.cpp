// .xlsx (Office Open XML) through libzip and pugixml: the package's
// relationships lead from the workbook to the sheet, the shared strings and the
// styles; only the wanted column is converted to text.
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <pugixml.hpp>

#include "host/text.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane::sheet {

namespace {

constexpr std::size_t kLargestPart = std::size_t{1} << 31;  // a bigger part is a zip bomb
constexpr long kLastSheetRow = 1048576;

// Element and attribute names compared without their namespace prefix, as
// some writers use "x:row" where others write "row".
std::string_view localName(const char* name) {
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

pugi::xml_node child(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node node : parent.children())
        if (node.type() == pugi::node_element && localName(node.name()) == name) return node;
    return {};
}

// The relationship id of a <sheet>: "r:id" under whatever prefix.
std::string_view relationshipId(pugi::xml_node sheet) {
    for (pugi::xml_attribute attribute : sheet.attributes()) {
        std::string_view name = attribute.name();
        if (name.find(':') != std::string_view::npos && localName(attribute.name()) == "id")
            return attribute.value();
    }
    return {};
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
            host::appendUtf8(out, code);
            i += 6;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The text of a shared or inline string: its <t>, or the <t> of each rich-text
// run; phonetic runs (<rPh>) are not part of the text.
std::string stringItemText(pugi::xml_node item) {
    std::string text;
    for (pugi::xml_node part : item.children()) {
        if (part.type() != pugi::node_element) continue;
        std::string_view name = localName(part.name());
        if (name == "t") {
            text += part.child_value();
        } else if (name == "r") {
            text += child(part, "t").child_value();
        }
    }
    return decodeEscapes(text);
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

struct Relationship {
    std::string type;
    std::string target;  // resolved part name
};

class Package {
  public:
    Package(const std::string& path, std::string_view bytes) : path_(path) {
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

    // The part's bytes; nullopt when the package has no such part.
    std::optional<std::string> read(const std::string& part) {
        const zip_int64_t index = zip_name_locate(zip_, part.c_str(), ZIP_FL_NOCASE);
        if (index < 0) return std::nullopt;
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &stat) != 0)
            damaged(part, zip_strerror(zip_));
        if ((stat.valid & ZIP_STAT_SIZE) && stat.size > kLargestPart)
            throw ListFileError(path_, "文件中的 " + part + " 过大");
        zip_file_t* file = zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0);
        if (!file) {
            const int code = zip_error_code_zip(zip_get_error(zip_));
            if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP)
                throw ListFileError(path_, "工作簿受密码保护或已加密");
            damaged(part, zip_strerror(zip_));
        }
        std::string bytes;
        // The size is only what the damaged or hostile file claims: reserve
        // at most 16 MiB on its word.
        if (stat.valid & ZIP_STAT_SIZE)
            bytes.reserve(static_cast<std::size_t>(std::min<zip_uint64_t>(stat.size, 1 << 24)));
        char buffer[1 << 16];
        while (true) {
            const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
            if (got < 0) {
                std::string reason = zip_file_strerror(file);
                zip_fclose(file);
                damaged(part, reason);
            }
            if (got == 0) break;
            bytes.append(buffer, static_cast<std::size_t>(got));
            if (bytes.size() > kLargestPart) {
                zip_fclose(file);
                throw ListFileError(path_, "文件中的 " + part + " 过大");
            }
        }
        zip_fclose(file);
        return bytes;
    }

    [[noreturn]] void damaged(const std::string& part, const std::string& detail) const {
        throw ListFileError(path_, "文件已损坏（" + part + "：" + detail + "）");
    }

  private:
    std::string path_;
    zip_t* zip_ = nullptr;
};

// A parsed XML part; the document parses in place, so it keeps the bytes.
class XmlPart {
  public:
    XmlPart(Package& package, const std::string& name, std::string bytes)
        : bytes_(std::move(bytes)) {
        const unsigned flags = pugi::parse_minimal | pugi::parse_escapes | pugi::parse_eol |
                               pugi::parse_cdata | pugi::parse_ws_pcdata_single;
        pugi::xml_parse_result result =
            document_.load_buffer_inplace(bytes_.data(), bytes_.size(), flags);
        if (!result) package.damaged(name, result.description());
    }
    pugi::xml_node root() const { return document_.document_element(); }

  private:
    std::string bytes_;
    pugi::xml_document document_;
};

std::map<std::string, Relationship> readRelationships(Package& package, const std::string& part) {
    std::map<std::string, Relationship> relationships;
    const std::size_t slash = part.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    const std::string relsName = folder + "_rels/" + name + ".rels";
    std::optional<std::string> bytes = package.read(relsName);
    if (!bytes) return relationships;
    XmlPart rels(package, relsName, std::move(*bytes));
    for (pugi::xml_node node : rels.root().children()) {
        if (node.type() != pugi::node_element || localName(node.name()) != "Relationship") continue;
        if (std::string_view(node.attribute("TargetMode").value()) == "External") continue;
        relationships[node.attribute("Id").value()] = {
            node.attribute("Type").value(), resolveTarget(part, node.attribute("Target").value())};
    }
    return relationships;
}

struct Workbook {
    std::string sheetPart;
    bool date1904 = false;
    std::vector<DateKind> styleKinds;  // by cell style index
    std::optional<XmlPart> sharedStrings;
    std::vector<pugi::xml_node> stringItems;
};

void readStyles(Package& package, const std::string& part, Workbook& workbook) {
    std::optional<std::string> bytes = package.read(part);
    if (!bytes) return;
    XmlPart styles(package, part, std::move(*bytes));
    std::map<long, DateKind> customFormats;
    for (pugi::xml_node format : child(styles.root(), "numFmts").children()) {
        if (format.type() != pugi::node_element || localName(format.name()) != "numFmt") continue;
        customFormats[format.attribute("numFmtId").as_int()] =
            formatCodeKind(format.attribute("formatCode").value());
    }
    for (pugi::xml_node xf : child(styles.root(), "cellXfs").children()) {
        if (xf.type() != pugi::node_element || localName(xf.name()) != "xf") continue;
        const int id = xf.attribute("numFmtId").as_int();
        auto custom = customFormats.find(id);
        workbook.styleKinds.push_back(custom != customFormats.end() ? custom->second
                                                                    : builtInFormatKind(id));
    }
}

Workbook openWorkbook(Package& package, const std::string& path) {
    std::string workbookPart;
    for (const auto& [id, relationship] : readRelationships(package, "")) {
        if (endsWith(relationship.type, "/officeDocument")) workbookPart = relationship.target;
    }
    if (workbookPart.empty()) workbookPart = "xl/workbook.xml";
    if (endsWith(workbookPart, ".bin"))
        throw ListFileError(path, "不支持二进制格式的工作簿(.xlsb)");
    std::optional<std::string> bytes = package.read(workbookPart);
    if (!bytes) throw ListFileError(path, "不是Excel工作簿（压缩包中没有工作簿）");
    XmlPart workbookXml(package, workbookPart, std::move(*bytes));
    const std::map<std::string, Relationship> relationships =
        readRelationships(package, workbookPart);

    Workbook workbook;
    const std::string_view date1904 =
        child(workbookXml.root(), "workbookPr").attribute("date1904").value();
    workbook.date1904 = date1904 == "1" || date1904 == "true";

    // The sheet shown when the workbook was saved; chart sheets and broken
    // references fall back to the first worksheet.
    std::vector<std::string_view> sheetIds;
    for (pugi::xml_node sheet : child(workbookXml.root(), "sheets").children()) {
        if (sheet.type() == pugi::node_element && localName(sheet.name()) == "sheet")
            sheetIds.push_back(relationshipId(sheet));
    }
    const long active = child(child(workbookXml.root(), "bookViews"), "workbookView")
                            .attribute("activeTab")
                            .as_int();
    std::vector<std::size_t> order;
    if (active >= 0 && static_cast<std::size_t>(active) < sheetIds.size())
        order.push_back(static_cast<std::size_t>(active));
    for (std::size_t i = 0; i < sheetIds.size(); ++i) order.push_back(i);
    for (std::size_t index : order) {
        auto found = relationships.find(std::string(sheetIds[index]));
        if (found != relationships.end() && endsWith(found->second.type, "/worksheet")) {
            workbook.sheetPart = found->second.target;
            break;
        }
    }
    if (workbook.sheetPart.empty()) throw ListFileError(path, "工作簿中没有工作表");

    for (const auto& [id, relationship] : relationships) {
        if (endsWith(relationship.type, "/styles")) {
            readStyles(package, relationship.target, workbook);
        } else if (endsWith(relationship.type, "/sharedStrings")) {
            std::optional<std::string> strings = package.read(relationship.target);
            if (!strings) continue;
            workbook.sharedStrings.emplace(package, relationship.target, std::move(*strings));
            for (pugi::xml_node item : workbook.sharedStrings->root().children()) {
                if (item.type() == pugi::node_element && localName(item.name()) == "si")
                    workbook.stringItems.push_back(item);
            }
        }
    }
    return workbook;
}

// "2024-01-02T03:04:05.000Z" -> "2024-01-02 03:04:05"; midnight -> the date alone.
std::string isoDateText(std::string_view value) {
    std::string text(value.substr(0, 19));
    if (text.size() > 10 && text[10] == 'T') text[10] = ' ';
    if (text.size() == 19 && text.substr(10) == " 00:00:00") text.resize(10);
    return text;
}

}  // namespace

std::vector<std::string> readXlsxColumn(const std::string& path, std::string_view bytes,
                                        int column) {
    Package package(path, bytes);
    Workbook workbook = openWorkbook(package, path);
    std::optional<std::string> sheetBytes = package.read(workbook.sheetPart);
    if (!sheetBytes) throw ListFileError(path, "文件已损坏（缺少 " + workbook.sheetPart + "）");
    XmlPart sheet(package, workbook.sheetPart, std::move(*sheetBytes));

    auto cellText = [&](pugi::xml_node cell) -> std::string {
        const std::string_view type = cell.attribute("t").value();
        pugi::xml_node valueNode = child(cell, "v");
        const std::string_view value = valueNode.child_value();
        if (type == "inlineStr") return stringItemText(child(cell, "is"));
        if (type == "s") {
            const long index = parseLong(value, -1);
            if (index < 0 || static_cast<std::size_t>(index) >= workbook.stringItems.size())
                package.damaged(workbook.sheetPart, "共享字符串编号错误");
            return stringItemText(workbook.stringItems[static_cast<std::size_t>(index)]);
        }
        if (type == "str" || type == "e") return decodeEscapes(value);
        if (type == "b") return value == "1" ? "TRUE" : "FALSE";
        if (type == "d") return isoDateText(value);
        if (value.empty()) return "";
        double number = 0;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc() || end != value.data() + value.size()) return std::string(value);
        const long style = cell.attribute("s").as_int();
        const DateKind kind =
            style >= 0 && static_cast<std::size_t>(style) < workbook.styleKinds.size()
                ? workbook.styleKinds[static_cast<std::size_t>(style)]
                : DateKind::None;
        return kind == DateKind::None ? numberText(number)
                                      : serialDateText(number, workbook.date1904, kind);
    };

    std::vector<std::string> cells;
    long rowNumber = 0;
    for (pugi::xml_node row : child(sheet.root(), "sheetData").children()) {
        if (row.type() != pugi::node_element || localName(row.name()) != "row") continue;
        pugi::xml_attribute rowAttribute = row.attribute("r");
        rowNumber = rowAttribute ? parseLong(rowAttribute.value(), -1) : rowNumber + 1;
        if (rowNumber < 1 || rowNumber > kLastSheetRow)
            package.damaged(workbook.sheetPart, "行号错误");
        int columnNumber = 0;
        for (pugi::xml_node cell : row.children()) {
            if (cell.type() != pugi::node_element || localName(cell.name()) != "c") continue;
            pugi::xml_attribute reference = cell.attribute("r");
            columnNumber = reference ? referenceColumn(reference.value()) : columnNumber + 1;
            if (columnNumber < 1) package.damaged(workbook.sheetPart, "单元格引用错误");
            if (columnNumber != column) continue;
            std::string text = cellText(cell);
            if (text.empty()) continue;
            if (cells.size() < static_cast<std::size_t>(rowNumber))
                cells.resize(static_cast<std::size_t>(rowNumber));
            cells[static_cast<std::size_t>(rowNumber) - 1] = std::move(text);
        }
    }
    return cells;
}

}  // namespace kelvane::sheet
