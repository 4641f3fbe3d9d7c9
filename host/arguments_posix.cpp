#include "host/arguments.h"

#include <csignal>

namespace host {

std::vector<std::string> programArguments(int argc, char** argv) {
    if (argc <= 1) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

void ignoreBrokenPipes() noexcept {
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace host
