#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>
#include <system_error>

#include "host/isolated.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace host {

namespace {

// What the child writes to the pipe: a kind byte, the length of the text as
// eight bytes (least significant first), the text. The length tells a whole
// answer from one cut short by a crash while writing.
constexpr char kResult = 'R';
constexpr char kFailure = 'F';
constexpr std::size_t kHeaderSize = 9;

bool writeAll(int fd, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool writeAnswer(int fd, char kind, std::string_view text) noexcept {
    char header[kHeaderSize];
    header[0] = kind;
    std::uint64_t length = text.size();
    for (std::size_t i = 1; i < kHeaderSize; ++i, length >>= 8)
        header[i] = static_cast<char>(length & 0xFF);
    return writeAll(fd, std::string_view(header, kHeaderSize)) && writeAll(fd, text);
}

// The signals a crash raises. In the child they kill it plainly: a handler
// the program installed (a crash reporter, a sanitizer's or fuzzer's report)
// belongs to the program, not to a throw-away copy of it.
void restoreCrashSignals() noexcept {
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS})
        ::signal(signal, SIG_DFL);
}

[[noreturn]] void runChild(int fd, pid_t parent, const std::function<std::string()>& work) {
#ifdef __linux__
    // A child left behind by a parent that died would go on working for no one.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
#else
    (void)parent;
#endif
    restoreCrashSignals();
    bool written = false;
    try {
        const std::string result = work();
        written = writeAnswer(fd, kResult, result);
    } catch (const std::exception& error) {
        written = writeAnswer(fd, kFailure, error.what());
    } catch (...) {
        written = writeAnswer(fd, kFailure, "unknown exception");
    }
    // _exit, not exit: the program's atexit handlers, static destructors and
    // stdio buffers belong to the parent.
    ::_exit(written ? 0 : 1);
}

std::string signalText(int signal) {
    static constexpr struct {
        int number;
        const char* name;
    } kNames[] = {{SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},
                  {SIGILL, "SIGILL"},   {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"},
                  {SIGSYS, "SIGSYS"},   {SIGKILL, "SIGKILL"}, {SIGTERM, "SIGTERM"},
                  {SIGPIPE, "SIGPIPE"}, {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"}};
    std::string text = "killed by signal " + std::to_string(signal);
    for (const auto& known : kNames)
        if (known.number == signal) text += std::string(" (") + known.name + ")";
    return text;
}

class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

bool fail(std::string* failure, std::string text) {
    if (failure) *failure = std::move(text);
    return false;
}

// The child's answer when it is whole: `kind` and the text.
bool parseAnswer(std::string& answer, char& kind) {
    if (answer.size() < kHeaderSize) return false;
    std::uint64_t length = 0;
    for (std::size_t i = kHeaderSize - 1; i >= 1; --i)
        length = (length << 8) | static_cast<unsigned char>(answer[i]);
    if (answer[0] != kResult && answer[0] != kFailure) return false;
    if (length != answer.size() - kHeaderSize) return false;
    kind = answer[0];
    answer.erase(0, kHeaderSize);
    return true;
}

}  // namespace

std::optional<std::string> runIsolated(const std::function<std::string()>& work,
                                       std::string* failure) {
    int ends[2];
    if (::pipe(ends) != 0) {
        fail(failure, "cannot create a pipe: " + std::system_category().message(errno));
        return std::nullopt;
    }
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    // A program started meanwhile by another thread must not hold the write
    // end open, or the end of the answer would never be seen.
    ::fcntl(readEnd.get(), F_SETFD, FD_CLOEXEC);
    ::fcntl(writeEnd.get(), F_SETFD, FD_CLOEXEC);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        fail(failure, "cannot start a child process: " + std::system_category().message(errno));
        return std::nullopt;
    }
    if (child == 0) {
        ::close(readEnd.get());
        runChild(writeEnd.get(), parent, work);
    }
    writeEnd.close();

    // The whole answer first: a child blocked on a full pipe never ends.
    std::string answer;
    char buffer[65536];
    int readError = 0;
    while (true) {
        const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
        if (got > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            readError = errno;
            break;
        }
    }
    readEnd.close();

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    // With SIGCHLD ignored the child is reaped by the system and its status
    // is gone (ECHILD); its answer alone then tells.
    const bool statusKnown = waited == child;

    if (statusKnown && WIFSIGNALED(status)) {
        fail(failure, signalText(WTERMSIG(status)));
        return std::nullopt;
    }
    if (statusKnown && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        fail(failure, "ended with exit code " + std::to_string(WEXITSTATUS(status)));
        return std::nullopt;
    }
    if (readError != 0) {
        fail(failure,
             "cannot read the child's answer: " + std::system_category().message(readError));
        return std::nullopt;
    }
    char kind = 0;
    if (!parseAnswer(answer, kind)) {
        fail(failure, "ended without an answer");
        return std::nullopt;
    }
    if (kind == kFailure) {
        fail(failure, std::move(answer));
        return std::nullopt;
    }
    return answer;
}

}  // namespace host
