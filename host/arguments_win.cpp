#include "host/arguments.h"
#include "host/windows_internal.h"

#include <shellapi.h>

namespace host {

std::vector<std::string> programArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return argc <= 1 ? std::vector<std::string>{}
                         : std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(windows::narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void ignoreBrokenPipes() noexcept {
    // Windows has no such signal: the write itself fails.
}

}  // namespace host
