#include "host/ini.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "host/encoding.h"
#include "host/fs.h"
#include "host/fs_path.h"

namespace host {

IniFile::IniFile(std::string path) : path_(std::move(path)), text_({}, gbkToUtf8, utf8ToGbk) {
    Result<std::string> content = readFile(path_);
    if (!content) {
        std::error_code error;
        unreadable_ =
            std::filesystem::exists(std::filesystem::symlink_status(fsPath(path_), error));
        return;
    }
    text_ = base::IniText(*content, gbkToUtf8, utf8ToGbk);
}

IniFile::IniFile(std::string path, std::string_view content)
    : path_(std::move(path)), text_(content, gbkToUtf8, utf8ToGbk) {}

Status IniFile::save(bool durable) {
    if (!text_.changed()) return {};
    if (unreadable_) return Failure{"will not overwrite", path_, 0, "it exists but cannot be read"};
    if (Status written = writeFileAtomically(path_, content(), durable); !written) return written;
    text_.markSaved();
    return {};
}

std::string iniRead(const std::string& file, std::string_view section, std::string_view key,
                    std::string_view defaultValue) {
    return IniFile(file).read(section, key, defaultValue);
}

Status iniWrite(const std::string& file, std::string_view section, std::string_view key,
              std::string_view value) {
    IniFile ini(file);
    ini.write(section, key, value);
    return ini.save();
}

}  // namespace host
