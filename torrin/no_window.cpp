#include <cstdio>

#include "torrin/window_start.h"

namespace torrin {

// A build without Qt is an unattended-only program.
int openWindow(int, char**, const torapp&) {
    std::fputs("torrin: built without its window; start it as \"torrin exit\"\n", stderr);
    return kExitCheckFailed;
}

}  // namespace torrin
