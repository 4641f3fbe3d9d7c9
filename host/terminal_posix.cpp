#include <sys/ioctl.h>
#include <unistd.h>

#include "host/terminal.h"

namespace host {

bool standardErrorIsTerminal() noexcept {
    return ::isatty(STDERR_FILENO) == 1;
}

int standardErrorColumns(int fallback) noexcept {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return fallback;
    return size.ws_col;
}

}  // namespace host
