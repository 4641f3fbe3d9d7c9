// How the desktop is asked to show things to the user.
#pragma once

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

}  // namespace host
