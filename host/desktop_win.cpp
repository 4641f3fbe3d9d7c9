#include "host/desktop.h"

#include "base/path_rules.h"
#include "host/windows_internal.h"

#include <shellapi.h>

namespace host {

namespace {

// One argument as the C runtime's command-line parser reads it back: quoted
// when it holds a blank, a tab or a quote, with backslashes doubled where a
// quote follows them.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

}  // namespace

ProgramStart folderOpener(const std::string& folder) {
    return {"explorer.exe", {base::windows_rules::folderForShell(folder)}};
}

ProgramStart fileOpener(const std::string& path) {
    return {"explorer.exe", {path}};
}

std::optional<long long> launchProgram(const ProgramStart& start) noexcept {
    try {
        std::wstring line;
        appendQuoted(line, windows::widen(start.program));
        for (const std::string& arg : start.args) {
            line += L' ';
            appendQuoted(line, windows::widen(arg));
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process))
            return std::nullopt;
        ::CloseHandle(process.hThread);
        return static_cast<long long>(reinterpret_cast<INT_PTR>(process.hProcess));
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<int> launchedProgramStatus(long long id) noexcept {
    const auto process = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(id));
    if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) return std::nullopt;
    DWORD code = 0;
    const bool known = ::GetExitCodeProcess(process, &code) != 0;
    ::CloseHandle(process);
    return known ? static_cast<int>(code) : -1;
}

std::optional<bool> openWithAssociatedProgramNow(const std::string& path) noexcept {
    try {
        const std::wstring wide = windows::widen(path);
        const auto result = reinterpret_cast<INT_PTR>(
            ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        // ShellExecute's old convention: values up to 32 are error codes.
        return result > 31;
    } catch (...) {
        return false;
    }
}

bool minimizesDuringRuns() noexcept {
    return true;
}

}  // namespace host
