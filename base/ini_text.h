// The text of a settings file, with the semantics of Windows profile files:
// section and key names match case-insensitively, a missing section or key
// gives the default, and a write keeps every other line, comment and section
// as it was. The text is GBK unless it starts with a UTF-8 byte-order mark;
// the values handed in and out are UTF-8, converted by the converters given
// (bytes that do not decode pass through, so an unchanged value is written
// back byte for byte).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace base {

class IniText {
  public:
    using Converter = std::string (*)(std::string_view);
    IniText(std::string_view bytes, Converter gbkToUtf8, Converter utf8ToGbk);

    std::string read(std::string_view section, std::string_view key,
                     std::string_view defaultValue) const;
    // Changes the value, creating section and key when needed.
    void write(std::string_view section, std::string_view key, std::string_view value);
    // True when a write changed the text since it was read or last marked saved.
    bool changed() const noexcept { return dirty_; }
    void markSaved() noexcept { dirty_ = false; }
    // The text's bytes as they are now.
    std::string content() const;

  private:
    struct Line {
        std::string raw;  // the line's bytes without its line end
        std::string end;  // "\r\n", "\n", or empty for a last line without one
    };
    // Names are given trimmed and in the file's encoding; -1 when missing.
    long findSection(std::string_view section) const;
    long findKey(long sectionLine, std::string_view key) const;
    std::string toFile(std::string_view utf8) const;
    std::string fromFile(std::string_view bytes) const;
    void insertLine(std::size_t index, std::string raw);
    void parse(std::string_view bytes);

    std::vector<Line> lines_;
    std::string lineEnd_ = "\r\n";
    bool finalLineEnd_ = true;
    bool dirty_ = false;
    bool utf8_ = false;  // the file starts with a UTF-8 byte-order mark
    Converter gbkToUtf8_;
    Converter utf8ToGbk_;
};

}  // namespace base
