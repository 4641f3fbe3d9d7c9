// Settings files with the semantics of Windows profile files: section and key
// names match case-insensitively, a missing file, section or key gives the
// default, and a write keeps every other line, comment and section as it was.
// The file is GBK text; the values handed in and out are UTF-8 (bytes that do
// not decode pass through, so an unchanged value is written back byte for byte).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

class IniFile {
  public:
    // Reads `path` now; a missing or unreadable file is an empty one.
    explicit IniFile(std::string path);
    // Takes `content` as the file's bytes instead of reading `path`; save()
    // still writes to `path`.
    IniFile(std::string path, std::string_view content);

    std::string read(std::string_view section, std::string_view key,
                     std::string_view defaultValue) const;
    // Changes the value in memory, creating section and key when needed.
    void write(std::string_view section, std::string_view key, std::string_view value);
    // Writes the file atomically when anything changed. False when it could not
    // be written (a read-only folder), with the reason in `error` when given;
    // the file on disk is then unchanged. `durable`: the file and its folder
    // are flushed to the device before it returns.
    bool save(bool durable = false, std::string* error = nullptr);
    // The bytes save() would write.
    std::string content() const;

    const std::string& path() const noexcept { return path_; }

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

    std::string path_;
    std::vector<Line> lines_;
    std::string lineEnd_ = "\r\n";
    bool finalLineEnd_ = true;
    bool dirty_ = false;
    bool utf8_ = false;        // the file starts with a UTF-8 byte-order mark
    bool unreadable_ = false;  // it exists but could not be read: never overwrite it
};

// One-shot helpers in the style of the platform's profile calls.
std::string iniRead(const std::string& file, std::string_view section, std::string_view key,
                    std::string_view defaultValue);
bool iniWrite(const std::string& file, std::string_view section, std::string_view key,
              std::string_view value);

}  // namespace host
