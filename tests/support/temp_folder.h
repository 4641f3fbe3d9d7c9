// A fresh temporary folder per test, with helpers to create files with given
// bytes and modification times. Removed (with everything in it) at the end.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A path as the file API wants it. The tests hold paths as the program does:
// UTF-8 on Windows (where the narrow API would read them in the ANSI code
// page), the file system's own bytes elsewhere.
#ifdef _WIN32
inline std::filesystem::path fsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
#else
inline std::filesystem::path fsPath(const std::string& bytes) {
    return bytes;
}
#endif

// A name as the platform writes it: the relative names the program lists
// ("/sub/b.txt") and the paths it joins use "\\" on Windows.
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif
inline std::string native(std::string name) {
    for (char& c : name) {
        if (c == '/') c = kSeparator;
    }
    return name;
}
inline std::vector<std::string> nativeNames(std::vector<std::string> names) {
    for (std::string& name : names) name = native(std::move(name));
    return names;
}

class TempFolder {
  public:
#ifdef _WIN32
    TempFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("zarvik-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                const std::u8string utf8 = candidate.u8string();
                path_.assign(utf8.begin(), utf8.end());
            }
        }
        if (path_.empty()) throw std::runtime_error("no temporary folder");
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(fsPath(path_), ignored);
    }
#else
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zarvik-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        // Restore write permission first, so tests that made folders read-only clean up.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                ::chmod(it->path().c_str(), 0755);
        }
        ::chmod(path_.c_str(), 0755);
        std::filesystem::remove_all(path_, ignored);
    }
#endif
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const {
        return path_;
    }
    // Full path of `relative` ("a/b.txt") inside the folder.
    std::string operator/(const std::string& relative) const {
        return path_ + kSeparator + native(relative);
    }

    // Creates `relative` with `bytes`, making parent folders; returns the full path.
    std::string write(const std::string& relative, const std::string& bytes) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(fsPath(full).parent_path());
        std::ofstream out(fsPath(full), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + full);
        return full;
    }
    // Creates `relative` as a folder (with parents); returns the full path.
    std::string mkdir(const std::string& relative) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(fsPath(full));
        return full;
    }
    // Sets the modification time of `full` to `seconds` since the epoch and
    // `nanoseconds` more (Windows keeps steps of 100); the access time is set
    // a day and more later, so a copy that takes one time for the other is
    // caught.
    static void setModified(const std::string& full, std::time_t seconds, long nanoseconds = 0) {
#ifdef _WIN32
        const auto fileTime = [](std::time_t at, long nanoseconds) {
            // 100-nanosecond steps since 1601-01-01 UTC.
            const auto steps = static_cast<unsigned long long>(at + 11644473600LL) * 10000000ULL +
                               static_cast<unsigned long long>(nanoseconds / 100);
            return FILETIME{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
        };
        const FILETIME access = fileTime(seconds + kAccessLater, 0),
                       modified = fileTime(seconds, nanoseconds);
        HANDLE file = ::CreateFileW(fsPath(full).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const bool set =
            file != INVALID_HANDLE_VALUE && ::SetFileTime(file, nullptr, &access, &modified) != 0;
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        if (!set) throw std::runtime_error("SetFileTime failed");
#else
        const struct timespec times[2] = {{seconds + kAccessLater, 0}, {seconds, nanoseconds}};
        if (::utimensat(AT_FDCWD, full.c_str(), times, 0) != 0)
            throw std::runtime_error("utimensat failed");
#endif
    }
    // Whole, in one go: a character at a time is slow under the sanitizers.
    static std::string read(const std::string& full) {
        std::ifstream in(fsPath(full), std::ios::binary);
        std::ostringstream bytes;
        if (in) bytes << in.rdbuf();
        return std::move(bytes).str();
    }

    static constexpr std::time_t kAccessLater = 86400 + 3661;

  private:
    std::string path_;
};

// Runs the test in `folder` as working directory, restoring the old one after.
class ScopedWorkingDirectory {
  public:
    explicit ScopedWorkingDirectory(const std::string& folder)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(fsPath(folder));
    }
    ~ScopedWorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }

  private:
    std::filesystem::path previous_;
};

}  // namespace testing_support
