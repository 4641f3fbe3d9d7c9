// A fresh temporary folder per test, with helpers to create files with given
// bytes and modification times. Removed (with everything in it) at the end.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace testing_support {

class TempFolder {
  public:
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
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Full path of `relative` ("a/b.txt") inside the folder.
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Creates `relative` with `bytes`, making parent folders; returns the full path.
    std::string write(const std::string& relative, const std::string& bytes) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + full);
        return full;
    }
    // Creates `relative` as a folder (with parents); returns the full path.
    std::string mkdir(const std::string& relative) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(full);
        return full;
    }
    // Sets the modification (and access) time of `full` to `seconds` since the epoch.
    // Sets the modification time; the access time is set a day and more
    // later, so a copy that takes one time for the other is caught.
    static void setModified(const std::string& full, std::time_t seconds) {
        struct timeval times[2] = {{seconds + kAccessLater, 0}, {seconds, 0}};
        if (::utimes(full.c_str(), times) != 0) throw std::runtime_error("utimes failed");
    }
    static std::string read(const std::string& full) {
        std::ifstream in(full, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
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
        std::filesystem::current_path(folder);
    }
    ~ScopedWorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }

  private:
    std::filesystem::path previous_;
};

}  // namespace testing_support
