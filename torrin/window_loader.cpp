// The window opened from its library (torrin/window/window_module.cpp), found
// beside the program (the build tree, the Windows zip and installer) or in
// <prefix>/lib/<architecture>/zarvik with the program in <prefix>/bin (the
// Debian package).
#include <iostream>
#include <string>

#include "host/fs.h"
#include "host/paths.h"
#include "host/shared_library.h"
#include "torrin/window_start.h"

namespace torrin {

namespace {

#ifdef _WIN32
constexpr const char* kWindowLibrary = "torrin-window.dll";
#else
constexpr const char* kWindowLibrary = "torrin-window.so";
#endif

std::string windowLibraryPath() {
    const std::string program = host::programDirectory();
    const std::string beside = host::joinPath(program, kWindowLibrary);
    if (host::fileExists(beside)) return beside;
    const std::string installed = host::joinPath(
        host::joinPath(host::parentPath(program), ZARVIK_PRIVATE_LIBDIR), kWindowLibrary);
    return host::fileExists(installed) ? installed : beside;
}

}  // namespace

int openWindow(int argc, char** argv, const torapp& app) {
    using Entry = int (*)(int, char**, const torapp*);
    const std::string library = windowLibraryPath();
    const host::Result<void*> entry = host::librarySymbol(library, "torrin_window_main");
    if (!entry) {
        std::cerr << "torrin: cannot open the window: " << entry.error().message() << "\n";
        return kExitCheckFailed;
    }
    return reinterpret_cast<Entry>(*entry)(argc, argv, &app);
}

}  // namespace torrin
