// Grid definition files (resources/*.grid), UTF-8 text, one statement a line:
//   grid <name>
//   column <name> <text|number> <declared length> <header object> <width> <header text...>
//   footer <expression>
//   rowcolour <expression>
// Blank lines and lines starting with "#" are ignored.
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "base/text.h"
#include "grid/grid.h"
#include "host/fs.h"
#include "host/paths.h"

namespace grid {

namespace {

[[noreturn]] void fail(long line, const std::string& reason) {
    throw std::runtime_error("grid definition line " + std::to_string(line) + ": " + reason);
}

// Splits off the next blank-separated word; `rest` keeps what follows.
std::string nextWord(std::string_view& rest) {
    std::size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    std::size_t end = rest.find_first_of(" \t", start);
    std::string word(rest.substr(start, end == std::string_view::npos ? end : end - start));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    return word;
}

int parseCount(const std::string& word, long line, const char* what) {
    if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos ||
        word.size() > 6) {
        fail(line, std::string("bad ") + what + " \"" + word + "\"");
    }
    return std::stoi(word);
}

}  // namespace

GridDefinition parseGridDefinition(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    GridDefinition definition;
    long lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view raw =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNumber;
        std::string line = base::trim(raw.ends_with('\r') ? raw.substr(0, raw.size() - 1) : raw);
        if (line.empty() || line.front() == '#') continue;
        std::string_view rest = line;
        std::string keyword = nextWord(rest);
        if (keyword == "grid") {
            if (!definition.name.empty()) fail(lineNumber, "second grid name");
            definition.name = nextWord(rest);
            if (definition.name.empty() || !base::trim(rest).empty())
                fail(lineNumber, "bad grid name");
        } else if (keyword == "column") {
            ColumnDefinition column;
            column.name = nextWord(rest);
            std::string type = nextWord(rest);
            if (type == "text") {
                column.type = ColumnType::Text;
            } else if (type == "number") {
                column.type = ColumnType::Number;
            } else {
                fail(lineNumber, "unknown column type \"" + type + "\"");
            }
            column.declaredLength = parseCount(nextWord(rest), lineNumber, "declared length");
            column.headerObject = nextWord(rest);
            column.width = parseCount(nextWord(rest), lineNumber, "width");
            column.headerText = base::trim(rest);
            if (column.name.empty() || column.headerObject.empty()) {
                fail(lineNumber, "column needs a name and a header object");
            }
            for (const auto& other : definition.columns) {
                if (other.name == column.name)
                    fail(lineNumber, "column \"" + column.name + "\" twice");
            }
            definition.columns.push_back(std::move(column));
        } else if (keyword == "footer") {
            definition.footerExpression = base::trim(rest);
        } else if (keyword == "rowcolour") {
            definition.rowColourExpression = base::trim(rest);
        } else {
            fail(lineNumber, "unknown statement \"" + keyword + "\"");
        }
    }
    if (definition.name.empty()) fail(lineNumber, "no grid name");
    if (definition.columns.empty()) fail(lineNumber, "no columns");
    return definition;
}

GridDefinition loadGridDefinition(const std::string& name) {
    // Each file is read and parsed once per process: the windows and the
    // check make their lists again and again from the same few definitions.
    static std::mutex mutex;
    static std::map<std::string, GridDefinition, std::less<>> loaded;
    std::lock_guard lock(mutex);
    if (const auto found = loaded.find(name); found != loaded.end()) return found->second;
    std::string path = host::resourceDirectory() + "/" + name + ".grid";
    host::Result<std::string> text = host::readFile(path);
    if (!text) throw std::runtime_error("cannot read " + path);
    try {
        return loaded.emplace(name, parseGridDefinition(*text)).first->second;
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

}  // namespace grid
