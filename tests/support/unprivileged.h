// Parts of tests that must run as an ordinary user: permission bits bind no
// one when the tests run as root (as CI runs them), so there such a part runs
// as "nobody" in a forked child instead of being skipped.
#pragma once

#include <grp.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>

namespace testing_support {

inline constexpr uid_t kNobody = 65534;

// Gives `path` and everything below it to "nobody" (when root), so an
// unprivileged child can change and remove what the test made as root.
inline void giveToNobody(const std::string& path) {
    if (::geteuid() != 0) return;
    namespace fs = std::filesystem;
    std::error_code ignored;
    if (::lchown(path.c_str(), kNobody, kNobody) != 0) return;
    for (auto it = fs::recursive_directory_iterator(path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (::lchown(it->path().c_str(), kNobody, kNobody) != 0) return;
    }
}

namespace unprivileged_detail {

inline void putField(std::string& out, const std::string& field) {
    out += std::to_string(field.size()) + ':' + field;
}

// The next field of `in` from `at`; false at the end or on a torn message.
inline bool takeField(const std::string& in, std::size_t& at, std::string& field) {
    const std::size_t colon = in.find(':', at);
    if (colon == std::string::npos) return false;
    const std::size_t size = std::strtoul(in.c_str() + at, nullptr, 10);
    if (colon + 1 + size > in.size()) return false;
    field = in.substr(colon + 1, size);
    at = colon + 1 + size;
    return true;
}

}  // namespace unprivileged_detail

// Runs `body` as "nobody" in a forked child when this process is root, else
// right here, and returns what it returns. Assertions that fail in the child
// fail the calling test, at their own file and line; so does a child that
// dies. What the child must read from a place closed to nobody (a checkout
// under /root: the grid definitions) is read before the call, by this
// process: the child keeps what it has read.
inline std::string runUnprivileged(const std::function<std::string()>& body) {
    if (::geteuid() != 0) return body();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return {};
    }
    using unprivileged_detail::putField;
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string message;
        {
            ::testing::TestPartResultArray results;
            std::string returned;
            {
                const ::testing::ScopedFakeTestPartResultReporter reporter(
                    ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
                try {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                        ::setuid(kNobody) != 0) {
                        ADD_FAILURE() << "cannot become nobody";
                    } else {
                        returned = body();
                    }
                } catch (const std::exception& error) {
                    // Never back into the test runner: the child would go on
                    // running the other tests as nobody.
                    ADD_FAILURE() << "exception: " << error.what();
                } catch (...) {
                    ADD_FAILURE() << "exception";
                }
            }
            putField(message, returned);
            for (int i = 0; i < results.size(); ++i) {
                const ::testing::TestPartResult& result = results.GetTestPartResult(i);
                if (!result.failed()) continue;
                putField(message, result.file_name() ? result.file_name() : "");
                putField(message, std::to_string(result.line_number()));
                putField(message, result.message());
            }
        }
        const char* data = message.data();
        std::size_t left = message.size();
        while (left > 0) {
            const ssize_t written = ::write(pipeFds[1], data, left);
            if (written <= 0) break;
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string message;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "the unprivileged child died (status " << status << ")";
        return {};
    }
    std::size_t at = 0;
    std::string returned, file, line, text;
    if (!unprivileged_detail::takeField(message, at, returned)) {
        ADD_FAILURE() << "the unprivileged child sent no report";
        return {};
    }
    while (unprivileged_detail::takeField(message, at, file) &&
           unprivileged_detail::takeField(message, at, line) &&
           unprivileged_detail::takeField(message, at, text)) {
        ADD_FAILURE_AT(file.empty() ? "unknown" : file.c_str(), std::atoi(line.c_str()))
            << "(as nobody) " << text;
    }
    return returned;
}

// The same for a body that only asserts.
inline void asUnprivileged(const std::function<void()>& body) {
    runUnprivileged([&] {
        body();
        return std::string();
    });
}

}  // namespace testing_support
