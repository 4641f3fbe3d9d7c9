#include "host/desktop.h"

#include <errno.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char** environ;

namespace host {

namespace {

// A relative name beginning with "-" would be taken for an option; "./"
// names the same file without that risk.
std::string notAnOption(const std::string& path) {
    if (!path.empty() && path.front() == '-') return "./" + path;
    return path;
}

}  // namespace

ProgramStart folderOpener(const std::string& folder) {
    return {"xdg-open", {notAnOption(folder)}};
}

ProgramStart fileOpener(const std::string& path) {
    return {"xdg-open", {notAnOption(path)}};
}

std::optional<long long> launchProgram(const ProgramStart& start) noexcept {
    try {
        std::vector<std::string> store{start.program};
        store.insert(store.end(), start.args.begin(), start.args.end());
        std::vector<char*> argv;
        for (std::string& arg : store) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (::posix_spawnp(&pid, start.program.c_str(), nullptr, nullptr, argv.data(), environ) !=
            0)
            return std::nullopt;
        return static_cast<long long>(pid);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<int> launchedProgramStatus(long long id) noexcept {
    int status = 0;
    pid_t ended = 0;
    do {
        ended = ::waitpid(static_cast<pid_t>(id), &status, WNOHANG);
    } while (ended < 0 && errno == EINTR);
    if (ended == 0) return std::nullopt;
    // Gone without a status (reaped elsewhere): nothing says it succeeded.
    if (ended < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::optional<bool> openWithAssociatedProgramNow(const std::string&) noexcept {
    return std::nullopt;
}

bool minimizesDuringRuns() noexcept {
    return false;
}

}  // namespace host
