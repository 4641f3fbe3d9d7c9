// What every benchmark program does first with its arguments: --help (or -h)
// prints its usage (its last line "needs: TOOL..." when it measures against
// other tools) and ends it with status 0, before it makes anything; a tool it
// measures against that is missing ends it with status 2 and says which.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace bench {

// Whether some folder of PATH holds an executable `tool`.
inline bool onPath(const char* tool) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "";
    while (true) {
        const std::size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        if (folder.empty()) folder = ".";
        if (::access((folder + "/" + tool).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        folders.remove_prefix(colon + 1);
    }
}

// -1 to go on, else the status `main` returns: 0 after --help, 2 when one of
// `tools` is missing. `usage` ends with a line break.
inline int start(int argc, char** argv, const char* usage,
                 std::initializer_list<const char*> tools = {}) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
    }
    for (const char* tool : tools) {
        if (!onPath(tool)) {
            std::fprintf(stderr,
                         "%s: %s is missing: it is measured against (bash scripts/bench "
                         "installs it)\n",
                         argc > 0 ? argv[0] : "bench", tool);
            return 2;
        }
    }
    return -1;
}

}  // namespace bench
