#include "host/windows_internal.h"

namespace host::windows {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), needed);
    return wide;
}

std::wstring systemPath(std::string_view utf8) {
    std::wstring path = widen(utf8);
    // CreateDirectoryW refuses from 248 characters on (room for an 8.3 name).
    constexpr std::size_t kShortLimit = 240;
    if (path.size() < kShortLimit || path.starts_with(L"\\\\?\\")) return path;
    // The prefix turns off the system's own clean-up of "/", "." and "..",
    // so the full path is made first.
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (got == 0 || got >= needed) return path;
    full.resize(got);
    if (full.starts_with(L"\\\\?\\")) return full;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, text.data(), needed, nullptr, nullptr);
    return text;
}

std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer) text.assign(buffer, length);
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) return "error " + std::to_string(code);
    return narrow(text);
}

Failure failBecause(std::string_view what, const std::string& path, std::string_view reason,
                    DWORD code) {
    Failure failure{std::string(what), path, static_cast<int>(code), std::string(reason)};
    ::SetLastError(code);
    return failure;
}

Failure fail(std::string_view what, const std::string& path, DWORD code) {
    return failBecause(what, path, {}, code);
}

}  // namespace host::windows

namespace host {

std::string Failure::reasonText() const {
    return reason.empty() ? windows::systemMessage(static_cast<DWORD>(code)) : reason;
}

}  // namespace host
