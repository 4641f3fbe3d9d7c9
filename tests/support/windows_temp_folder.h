// A fresh temporary folder per test for the Windows build, made and filled
// through the wide-character API, with "\" paths in UTF-8 as the program holds them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testing_support {

inline std::wstring wide(const std::string& utf8) {
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
    return text;
}

inline std::string utf8(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                          nullptr, nullptr);
    return bytes;
}

// A UTC calendar time as a FILETIME.
inline FILETIME utcFileTime(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME parts{};
    parts.wYear = static_cast<WORD>(year);
    parts.wMonth = static_cast<WORD>(month);
    parts.wDay = static_cast<WORD>(day);
    parts.wHour = static_cast<WORD>(hour);
    parts.wMinute = static_cast<WORD>(minute);
    parts.wSecond = static_cast<WORD>(second);
    FILETIME time{};
    if (!::SystemTimeToFileTime(&parts, &time)) throw std::runtime_error("bad time");
    return time;
}

class WindowsTempFolder {
  public:
    WindowsTempFolder() {
        wchar_t base[MAX_PATH + 1];
        if (!::GetTempPathW(MAX_PATH + 1, base)) throw std::runtime_error("no temp folder");
        static unsigned counter = 0;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::wstring candidate = std::wstring(base) + L"zarvik-win-" +
                                     std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(++counter);
            if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
                path_ = utf8(candidate);
                while (path_.size() > 3 && path_.back() == '\\') path_.pop_back();
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary folder");
    }
    ~WindowsTempFolder() {
        std::error_code ignored;
        // Read-only files would refuse removal.
        for (auto it = std::filesystem::recursive_directory_iterator(wide(path_), ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(wide(path_), ignored);
    }
    WindowsTempFolder(const WindowsTempFolder&) = delete;
    WindowsTempFolder& operator=(const WindowsTempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Full path of `relative` ("a\\b.txt").
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

    // Creates `relative` with `bytes` (parent folders too); returns its full path.
    std::string write(const std::string& relative, const std::string& bytes,
                      DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
        const std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(wide(full)).parent_path());
        HANDLE file = ::CreateFileW(wide(full).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + full);
        DWORD written = 0;
        const bool ok =
            ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
        ::CloseHandle(file);
        if (!ok) throw std::runtime_error("cannot write " + full);
        if (attributes != FILE_ATTRIBUTE_NORMAL) setAttributes(full, attributes);
        return full;
    }
    std::string mkdir(const std::string& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
        const std::string full = *this / relative;
        std::filesystem::create_directories(wide(full));
        if (attributes != FILE_ATTRIBUTE_NORMAL) setAttributes(full, attributes);
        return full;
    }
    static void setAttributes(const std::string& full, DWORD attributes) {
        if (!::SetFileAttributesW(wide(full).c_str(), attributes))
            throw std::runtime_error("SetFileAttributesW failed on " + full);
    }
    static DWORD attributes(const std::string& full) {
        return ::GetFileAttributesW(wide(full).c_str());
    }
    // Sets the creation and/or last-write time (nullptr leaves one as it is).
    static bool setTimes(const std::string& full, const FILETIME* created,
                         const FILETIME* written) {
        HANDLE file = ::CreateFileW(wide(full).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool ok = ::SetFileTime(file, created, nullptr, written) != 0;
        ::CloseHandle(file);
        return ok;
    }
    // The creation and last-write times as the system reports them.
    static bool times(const std::string& full, FILETIME& created, FILETIME& written) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!::GetFileAttributesExW(wide(full).c_str(), GetFileExInfoStandard, &data)) return false;
        created = data.ftCreationTime;
        written = data.ftLastWriteTime;
        return true;
    }
    static std::string read(const std::string& full) {
        HANDLE file = ::CreateFileW(wide(full).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return {};
        std::string bytes;
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
            bytes.append(buffer, got);
        ::CloseHandle(file);
        return bytes;
    }

  private:
    std::string path_;
};

inline bool sameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace testing_support
