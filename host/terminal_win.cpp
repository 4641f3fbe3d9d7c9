#include <windows.h>

#include "host/terminal.h"

namespace host {

// A console, not a redirected handle: GetConsoleMode fails on files and pipes.
bool standardErrorIsTerminal() noexcept {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int standardErrorColumns(int fallback) noexcept {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return fallback;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : fallback;
}

}  // namespace host
