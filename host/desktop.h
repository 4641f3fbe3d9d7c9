// How the desktop is asked to show things to the user.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host {

struct ProgramStart {
    std::string program;
    std::vector<std::string> args;
};

// The program start that opens `folder` in the desktop's file manager, to be
// started without waiting for it: "explorer.exe" on Windows, xdg-open on POSIX.
ProgramStart folderOpener(const std::string& folder);

// Opens `path` with its associated program where the system tells at once
// whether that worked (Windows: ShellExecuteW, whose result above 31 is
// success). nullopt where only a helper program's exit status will tell
// (POSIX: the window host starts xdg-open and watches it).
std::optional<bool> openWithAssociatedProgramNow(const std::string& path) noexcept;

}  // namespace host
