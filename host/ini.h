// Settings files: their text as base::IniText reads and writes it (GBK through
// the platform's converter), read from and saved to the file. A missing file
// is an empty one.
#pragma once

#include <string>
#include <string_view>

#include "base/ini_text.h"
#include "host/result.h"

namespace host {

class IniFile {
  public:
    // Reads `path` now; a missing or unreadable file is an empty one.
    explicit IniFile(std::string path);
    // Takes `content` as the file's bytes instead of reading `path`; save()
    // still writes to `path`.
    IniFile(std::string path, std::string_view content);

    std::string read(std::string_view section, std::string_view key,
                     std::string_view defaultValue) const {
        return text_.read(section, key, defaultValue);
    }
    // Changes the value in memory, creating section and key when needed.
    void write(std::string_view section, std::string_view key, std::string_view value) {
        text_.write(section, key, value);
    }
    // Writes the file atomically when anything changed. A failure (a read-only
    // folder, a file that exists but could not be read) leaves the file on
    // disk unchanged. `durable`: the file and its folder are flushed to the
    // device before it returns.
    Status save(bool durable = false);
    // The bytes save() would write.
    std::string content() const { return text_.content(); }

    const std::string& path() const noexcept { return path_; }

  private:
    std::string path_;
    base::IniText text_;
    bool unreadable_ = false;  // it exists but could not be read: never overwrite it
};

// One-shot helpers in the style of the platform's profile calls.
std::string iniRead(const std::string& file, std::string_view section, std::string_view key,
                    std::string_view defaultValue);
Status iniWrite(const std::string& file, std::string_view section, std::string_view key,
              std::string_view value);

}  // namespace host
