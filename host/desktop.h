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

// The program start that opens the file `path` with its associated program
// where only a helper program can (POSIX: xdg-open).
ProgramStart fileOpener(const std::string& path);

// Starts `start.program` (looked up on PATH) with exactly the argument bytes
// given, through no shell and no text conversion on POSIX. Gives the id to
// watch it by, or nullopt when it could not be started.
std::optional<long long> launchProgram(const ProgramStart& start) noexcept;
// The exit status of a launched program once it has ended (a program ended by
// a signal gives 128 + the signal), nullopt while it runs. The answer that
// gives a status also releases what the system kept of the program, so each
// launched program must be asked until it answers.
std::optional<int> launchedProgramStatus(long long id) noexcept;

// Opens `path` with its associated program where the system tells at once
// whether that worked (Windows: ShellExecuteW, whose result above 31 is
// success). nullopt where only a helper program's exit status will tell
// (POSIX: the window host starts xdg-open and watches it).
std::optional<bool> openWithAssociatedProgramNow(const std::string& path) noexcept;

// Whether a long run minimizes its window and restores it at the end. Windows:
// yes, the taskbar button (with the alternating icon) is the sign of progress
// users know. Linux: no, many desktops show no window icon and under Wayland a
// program cannot restore its own minimized window; the window's progress line
// shows the run instead.
bool minimizesDuringRuns() noexcept;

}  // namespace host
