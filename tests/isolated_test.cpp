// runIsolated on children that answer, throw, crash or end early: every one
// of them leaves this test process running and tells what happened.
#include <dirent.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "host/isolated.h"

namespace {

using host::runIsolated;

class Isolated : public ::testing::Test {
  protected:
    // The failure text of a run that must fail.
    std::string failureOf(const std::function<std::string()>& work) {
        std::string failure;
        const std::optional<std::string> result = runIsolated(work, &failure);
        EXPECT_FALSE(result.has_value()) << "answered " << result->size() << " bytes";
        EXPECT_FALSE(failure.empty());
        return failure;
    }
};

TEST_F(Isolated, ResultBytesComeBackUnchanged) {
    std::string failure = "untouched";
    const std::string bytes("with\0zero\xFF bytes\n", 17);
    EXPECT_EQ(runIsolated([&] { return bytes; }, &failure), bytes);
    EXPECT_EQ(runIsolated([] { return std::string(); }, &failure), std::string());
    EXPECT_EQ(failure, "untouched");
}

// A result larger than the pipe holds: the parent must read while the child
// writes.
TEST_F(Isolated, ResultOfSeveralMegabytesComesBackWhole) {
    std::string big(5 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
    const std::optional<std::string> result = runIsolated([&] { return big; }, nullptr);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->size(), big.size());
    EXPECT_TRUE(*result == big);
}

TEST_F(Isolated, ChangesInTheChildStayThere) {
    int counter = 1;
    const auto result = runIsolated(
        [&] {
            counter = 99;
            return std::to_string(counter);
        },
        nullptr);
    EXPECT_EQ(result, "99");
    EXPECT_EQ(counter, 1);
}

TEST_F(Isolated, ExceptionTextIsTheFailure) {
    EXPECT_EQ(failureOf([]() -> std::string { throw std::runtime_error("bad cell table"); }),
              "bad cell table");
    EXPECT_FALSE(failureOf([]() -> std::string { throw 42; }).empty());
}

TEST_F(Isolated, AbortNamesTheSignal) {
    const std::string failure = failureOf([]() -> std::string { std::abort(); });
    EXPECT_NE(failure.find("SIGABRT"), std::string::npos) << failure;
}

TEST_F(Isolated, SegmentationFaultNamesTheSignal) {
    const std::string failure = failureOf([]() -> std::string {
        // A page that may not be touched: a real fault, not a null store a
        // sanitizer would report first.
        void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return "no page";
        *static_cast<volatile int*>(page) = 1;
        return "unreachable";
    });
    EXPECT_NE(failure.find("SIGSEGV"), std::string::npos) << failure;
}

TEST_F(Isolated, ChildEndingWithoutAnAnswerFails) {
    EXPECT_NE(failureOf([]() -> std::string { ::_exit(3); }).find("exit code 3"),
              std::string::npos);
    // An exit code of 0 without the answer is no result either (an empty
    // answer would be mistaken for an empty column).
    EXPECT_NE(failureOf([]() -> std::string { ::_exit(0); }).find("without an answer"),
              std::string::npos);
}

// The child must leave the parent's buffered output alone: exit() there would
// write it a second time.
TEST_F(Isolated, ParentsBufferedOutputIsWrittenOnce) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("written once", file);
    ASSERT_TRUE(runIsolated([] { return std::string("done"); }, nullptr).has_value());
    ASSERT_EQ(std::fflush(file), 0);
    std::rewind(file);
    char buffer[64] = {};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    EXPECT_EQ(std::string(buffer, got), "written once");
}

int openDescriptors() {
    int count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder)) ++count;
        ::closedir(folder);
    }
    return count;
}

TEST_F(Isolated, RepeatedRunsLeaveNoDescriptorsOrChildren) {
    const int before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        runIsolated([] { return std::string("x"); }, nullptr);
        runIsolated([]() -> std::string { throw std::runtime_error("x"); }, nullptr);
        runIsolated([]() -> std::string { std::abort(); }, nullptr);
    }
    EXPECT_EQ(openDescriptors(), before);
    // Every child was waited for: none is left to reap.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// With SIGCHLD ignored the system reaps the child itself; its answer still
// tells a result from a crash.
TEST_F(Isolated, WorksWithChildSignalIgnored) {
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &previous), 0);
    std::string failure;
    const auto result = runIsolated([] { return std::string("fine"); }, &failure);
    const auto crashed = runIsolated([]() -> std::string { std::abort(); }, &failure);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(result, "fine");
    EXPECT_FALSE(crashed.has_value());
    EXPECT_FALSE(failure.empty());
}

}  // namespace
