#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/temporary_names.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/paths.h"
#include "tests/support/result_text.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

// fstat fails on request with this error (0: never). A status that cannot be
// read is something no file system offers on demand; the program's own calls
// are linked to this definition instead of the C library's.
std::atomic<int> failingStatus{0};
extern "C" int fstat(int fd, struct stat* st) noexcept {
    if (const int code = failingStatus.load()) {
        errno = code;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fstat, fd, st));
}

namespace {

using testing_support::reasonIn;
using testing_support::reportedIn;
using testing_support::TempFolder;

// Files are made under umask 022, the usual one, whatever the caller's, from
// before the first test on: the file services read the umask once.
class UmaskEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ::umask(022); }
};
const auto* const umaskEnvironment = ::testing::AddGlobalTestEnvironment(new UmaskEnvironment);

// Every name in `folder`, hidden ones included, straight from the file system.
std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::string> listingTexts(const std::string& folder, int mask) {
    std::vector<host::ListingEntry> entries;
    EXPECT_TRUE(host::listDirectory(folder, mask, entries));
    std::vector<std::string> texts;
    for (const auto& entry : entries) texts.push_back(host::listingText(entry));
    return texts;
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

struct timespec modifiedOf(const std::string& path) {
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

std::time_t accessedOf(const std::string& path) {
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_atim.tv_sec;
}

// ---------------------------------------------------------------- path rules

TEST(PathRules, SeparatorIsSlash) {
    EXPECT_EQ(host::separator(), '/');
    EXPECT_EQ(host::separatorText(), "/");
}

TEST(PathRules, JoinDoesNotDoubleTheSeparator) {
    EXPECT_EQ(host::joinPath("/a/b", "c.txt"), "/a/b/c.txt");
    EXPECT_EQ(host::joinPath("/a/b/", "c.txt"), "/a/b/c.txt");
    EXPECT_EQ(host::joinPath("/", "c.txt"), "/c.txt");
    EXPECT_EQ(host::joinPath("", "c.txt"), "c.txt");
}

TEST(PathRules, HeldRootKeepsSlashAndDropsOtherTrailingSeparators) {
    EXPECT_EQ(host::heldRoot("/"), "/");
    EXPECT_EQ(host::heldRoot("/home/user/"), "/home/user");
    EXPECT_EQ(host::heldRoot("/home/user"), "/home/user");
    EXPECT_EQ(host::heldRoot("/data//"), "/data");
}

TEST(PathRules, BaseNameAndParent) {
    EXPECT_EQ(host::baseName("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(host::baseName("c.txt"), "c.txt");
    EXPECT_EQ(host::baseName("/a/b/"), "");
    EXPECT_EQ(host::parentPath("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(host::parentPath("/c.txt"), "/");
    EXPECT_EQ(host::parentPath("c.txt"), "");
}

// ---------------------------------------------------------- simple services

class FileServices : public ::testing::Test {
  protected:
    TempFolder temp;
};

TEST_F(FileServices, ExistenceTellsFilesFromFolders) {
    const std::string file = temp.write("f.txt", "x");
    const std::string folder = temp.mkdir("d");
    EXPECT_TRUE(host::fileExists(file));
    EXPECT_FALSE(host::folderExists(file));
    EXPECT_TRUE(host::folderExists(folder));
    EXPECT_FALSE(host::fileExists(folder));
    EXPECT_FALSE(host::fileExists(temp / "missing"));
    EXPECT_FALSE(host::folderExists(temp / "missing"));
}

TEST_F(FileServices, ExistenceFollowsLinks) {
    const std::string file = temp.write("f.txt", "x");
    ASSERT_EQ(::symlink(file.c_str(), (temp / "link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (temp / "dangling").c_str()), 0);
    EXPECT_TRUE(host::fileExists(temp / "link"));
    EXPECT_FALSE(host::fileExists(temp / "dangling"));
}

TEST_F(FileServices, CreateFolderNeedsItsParent) {
    EXPECT_TRUE(host::createFolder(temp / "new"));
    EXPECT_TRUE(host::folderExists(temp / "new"));
    EXPECT_FALSE(host::createFolder(temp / "new"));
    EXPECT_FALSE(host::createFolder(temp / "missing/child"));
    EXPECT_FALSE(host::folderExists(temp / "missing"));
}

TEST_F(FileServices, LengthIsExactBeyondFourGibibytes) {
    const std::string path = temp / "sparse.bin";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);
    ::close(fd);
    EXPECT_EQ(host::fileLength(path), 5368709120LL);
    EXPECT_EQ(host::fileLength(temp.write("e", "")), 0);
    EXPECT_FALSE(host::fileLength(temp / "missing"));
}

TEST_F(FileServices, WorkingAndProgramFolders) {
    testing_support::ScopedWorkingDirectory here(temp.path());
    EXPECT_EQ(host::currentDirectory(), std::filesystem::current_path().string());
    EXPECT_EQ(host::currentDirectory().back() == '/', host::currentDirectory() == "/");
    const std::string program = host::programDirectory();
    EXPECT_TRUE(host::folderExists(program));
    EXPECT_TRUE(host::fileExists(host::joinPath(program, "fs_test")));
}

TEST_F(FileServices, TimesComeFromStatusWithoutReadPermission) {
    const std::string file = temp.write("locked.txt", "x");
    TempFolder::setModified(file, 1328231107);
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    const auto times = host::fileTimes(file);
    ASSERT_TRUE(times.has_value());
    EXPECT_EQ(times->modified, 1328231107);
    // Birth time, or the status-change time: either is no earlier than the
    // modification time set in the past.
    EXPECT_GE(times->created, times->modified);
    EXPECT_FALSE(host::fileTimes(temp / "missing").has_value());
}

TEST_F(FileServices, ReadAndAppend) {
    EXPECT_FALSE(host::readFile(temp / "missing").has_value());
    EXPECT_FALSE(host::readFile(temp.mkdir("d")).has_value());
    const std::string path = temp / "log.txt";
    EXPECT_TRUE(host::appendToFile(path, "one\r\n"));
    EXPECT_TRUE(host::appendToFile(path, std::string("two\0\r\n", 6)));
    EXPECT_EQ(host::readFile(path), std::string("one\r\ntwo\0\r\n", 11));
    // A log that cannot be written says which and why.
    const host::Status appended = host::appendToFile(temp / "missing/log.txt", "x");
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.error().message(),
              "cannot open \"" + temp / "missing/log.txt" + "\": " + std::strerror(ENOENT));
    EXPECT_EQ(appended.error().code, ENOENT);
    // A full disk reports the path and the system's "no space" too.
    host::faults::setWriteFailureAfterBytesForTesting(0);
    const host::Status full = host::appendToFile(path, "three");
    host::faults::setWriteFailureAfterBytesForTesting(-1);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().message(), "cannot write \"" + path + "\": " + std::strerror(ENOSPC));
}

TEST_F(FileServices, ReadingAFifoDoesNotHang) {
    const std::string fifo = temp / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(host::readFile(fifo).has_value());
}

TEST_F(FileServices, AStatusThatCannotBeReadGivesItsOwnReason) {
    const std::string path = temp.write("a.txt", "x");
    std::string reason;
    failingStatus = EIO;
    const bool read = reasonIn(host::readFile(path), reason);
    failingStatus = 0;
    EXPECT_FALSE(read);
    EXPECT_EQ(reason, std::strerror(EIO));
}

// ------------------------------------------------------------------- listing

class Listing : public ::testing::Test {
  protected:
    TempFolder temp;
};

TEST_F(Listing, HiddenEntriesOnlyUnderTheWideMask) {
    temp.write("visible.txt", "v");
    temp.write(".hidden.txt", "h");
    temp.mkdir("folder");
    temp.mkdir(".hidden-folder");
    const std::string readOnly = temp.write("read-only.txt", "r");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);

    EXPECT_EQ(listingTexts(temp.path(), host::kListNormal),
              (std::vector<std::string>{"[folder]", "read-only.txt", "visible.txt"}));
    EXPECT_EQ(listingTexts(temp.path(), host::kListEverything),
              (std::vector<std::string>{".hidden.txt", "[.hidden-folder]", "[folder]",
                                        "read-only.txt", "visible.txt"}));
}

TEST_F(Listing, DotEntriesAreNeverListed) {
    for (const auto& text : listingTexts(temp.path(), host::kListEverything)) {
        EXPECT_NE(text, "[.]");
        EXPECT_NE(text, "[..]");
    }
    EXPECT_TRUE(listingTexts(temp.path(), host::kListEverything).empty());
}

TEST_F(Listing, OrderFoldsAsciiCaseAndBreaksTiesByBytes) {
    for (const char* name : {"b.txt", "a.txt", "A.txt", "9.txt", "10.txt", "_u.txt", "B2.txt"})
        temp.write(name, "x");
    temp.mkdir("Sub");
    temp.mkdir("zz");
    EXPECT_EQ(listingTexts(temp.path(), host::kListNormal),
              (std::vector<std::string>{"10.txt", "9.txt", "[Sub]", "[zz]", "_u.txt", "A.txt",
                                        "a.txt", "b.txt", "B2.txt"}));
}

TEST_F(Listing, FoldersAreMarkedAndFlagged) {
    temp.mkdir("sub");
    temp.write("file", "x");
    std::vector<host::ListingEntry> entries;
    ASSERT_TRUE(host::listDirectory(temp.path(), host::kListNormal, entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "sub");
    EXPECT_TRUE(entries[0].isFolder);
    EXPECT_EQ(entries[1].name, "file");
    EXPECT_FALSE(entries[1].isFolder);
}

TEST_F(Listing, SpecialFilesAreNeverListed) {
    temp.write("plain.txt", "x");
    ASSERT_EQ(::mkfifo((temp / "pipe").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = temp / "sock";
    if (socketPath.size() < sizeof address.sun_path) {
        std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
        ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ::close(sock);
    EXPECT_EQ(listingTexts(temp.path(), host::kListEverything),
              (std::vector<std::string>{"plain.txt"}));
}

TEST_F(Listing, LinksCountAsFilesOnlyWhenTheyLeadToOne) {
    const std::string file = temp.write("real.txt", "x");
    const std::string folder = temp.mkdir("real-folder");
    ASSERT_EQ(::symlink(file.c_str(), (temp / "file-link").c_str()), 0);
    ASSERT_EQ(::symlink(folder.c_str(), (temp / "folder-link").c_str()), 0);
    ASSERT_EQ(::symlink("loop", (temp / "loop").c_str()), 0);
    ASSERT_EQ(::symlink("missing", (temp / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink(temp.path().c_str(), (temp / "real-folder/up").c_str()), 0);

    std::vector<host::ListingEntry> entries;
    ASSERT_TRUE(host::listDirectory(temp.path(), host::kListEverything, entries));
    std::vector<std::string> texts;
    for (const auto& entry : entries) texts.push_back(host::listingText(entry));
    EXPECT_EQ(texts, (std::vector<std::string>{"[real-folder]", "file-link", "real.txt"}));
    EXPECT_TRUE(listingTexts(folder, host::kListEverything).empty());
}

TEST_F(Listing, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string odd = "bad\xff\xfe-\xc3(.txt";
    temp.write(odd, "x");
    temp.write("中文名.txt", "x");
    const auto texts = listingTexts(temp.path(), host::kListNormal);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], odd);
    EXPECT_EQ(texts[1], "中文名.txt");
    EXPECT_TRUE(host::fileExists(host::joinPath(temp.path(), texts[0])));
}

// User files shaped like temporary names of other programs (or of this one's
// earlier versions) are listed; only the program's tagged names are left out.
TEST_F(Listing, OnlyTheProgramsTaggedTemporaryNamesAreLeftOut) {
    temp.write("a.txt", "x");
    temp.write(".a.txt.0123abcd.partial", "a user's file");
    temp.write(".a.txt.0123456789abcdef.partial", "a user's file");
    temp.write(base::temporary_names::make("a.txt"), "ours");
    EXPECT_EQ(listingTexts(temp.path(), host::kListEverything),
              (std::vector<std::string>{".a.txt.0123456789abcdef.partial",
                                        ".a.txt.0123abcd.partial", "a.txt"}));
}

TEST_F(Listing, UnreadableOrMissingFolderFails) {
    std::vector<host::ListingEntry> entries{{"stale", false}};
    EXPECT_FALSE(host::listDirectory(temp / "missing", host::kListNormal, entries));
    EXPECT_TRUE(entries.empty());
    const std::string file = temp.write("file.txt", "x");
    EXPECT_FALSE(host::listDirectory(file, host::kListNormal, entries));

    const std::string locked = temp.mkdir("locked");
    temp.write("locked/inside.txt", "x");
    testing_support::giveToNobody(temp.path());
    testing_support::asUnprivileged([&] {
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
        entries = {{"stale", false}};
        EXPECT_FALSE(host::listDirectory(locked, host::kListNormal, entries));
        EXPECT_TRUE(entries.empty());
    });
}

TEST(TemporaryNames, MadeNamesAreRecognisedAndLookalikesAreNot) {
    namespace names = base::temporary_names;
    const std::string made = names::make("中文.txt");
    EXPECT_TRUE(host::isTemporaryName(made)) << made;
    EXPECT_TRUE(names::isFor(made, "中文.txt"));
    EXPECT_FALSE(names::isFor(made, "文.txt"));
    EXPECT_NE(made, names::make("中文.txt"));
    EXPECT_TRUE(host::isTemporaryName("..0123456789abcdef.zarvik-tmp"));
    for (const char* lookalike :
         {".a.txt.0123abcd.partial", ".a.txt.0123456789abcdef.partial",
          ".a.txt.0123456789ABCDEF.zarvik-tmp", ".a.txt.0123456789abcde.zarvik-tmp",
          "a.txt.0123456789abcdef.zarvik-tmp", ".a.txt-0123456789abcdef.zarvik-tmp",
          ".a.txt.0123456789abcdef.zarvik-tmp2", ".zarvik-tmp"})
        EXPECT_FALSE(host::isTemporaryName(lookalike)) << lookalike;
}

// ----------------------------------------------------------------- safe copy

class SafeCopy : public ::testing::Test {
  protected:
    TempFolder temp;
    std::string source;
    std::string targets;

    void SetUp() override {
        source = temp.write("src/report.txt", "fresh content\n");
        // The last nanosecond of a second: a copy that rounds shows it.
        TempFolder::setModified(source, 1328231107, 999999999);
        ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
        targets = temp.mkdir("dst");
    }

    // No temporary file of ours is left in the target folder.
    void expectNoTemporary() const {
        for (const auto& name : namesIn(targets)) EXPECT_FALSE(host::isTemporaryName(name)) << name;
    }
};

TEST_F(SafeCopy, KeepsContentTimeAndMode) {
    const std::string target = targets + "/report.txt";
    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source, target, false), error)) << error;
    EXPECT_EQ(TempFolder::read(target), "fresh content\n");
    EXPECT_EQ(modifiedOf(target).tv_sec, 1328231107);
    EXPECT_EQ(modifiedOf(target).tv_nsec, 999999999);
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(namesIn(targets), (std::set<std::string>{"report.txt"}));
}

TEST_F(SafeCopy, CopiesLargeAndEmptyFiles) {
    std::string large(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string big = temp.write("src/big.bin", large);
    const std::string empty = temp.write("src/empty", "");
    ASSERT_TRUE(host::copyFileSafely(big, targets + "/big.bin", false));
    ASSERT_TRUE(host::copyFileSafely(empty, targets + "/empty", false));
    EXPECT_EQ(TempFolder::read(targets + "/big.bin"), large);
    EXPECT_EQ(host::fileLength(targets + "/empty"), 0);
    expectNoTemporary();
}

// A verified copy is read back from the device before it takes its name: one
// damaged on its way there fails, is removed, and leaves the target's file.
TEST_F(SafeCopy, AVerifiedCopyThatReadsBackOtherwiseFailsAndLeavesTheTarget) {
    // Data, a hole, data: the hole reads back as the zeros the checksum took.
    const std::string sparse = temp / "src/sparse.bin";
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(::pwrite(fd, "tail", 4, 5 << 20), 4);
    ::close(fd);
    const std::string target = temp.write("dst/report.txt", "old content");
    host::TargetFolder folder(targets);
    folder.setVerify(true);
    ASSERT_EQ(folder.enter(""), host::TargetFolder::Reach::Reached);
    std::string error;
    ASSERT_TRUE(reportedIn(folder.copyHere(sparse, "sparse.bin", false), error)) << error;
    EXPECT_EQ(TempFolder::read(targets + "/sparse.bin"), TempFolder::read(sparse));

    host::faults::setCorruptCopyForTesting(1);
    EXPECT_FALSE(reportedIn(folder.copyHere(source, "report.txt", true), error));
    host::faults::setCorruptCopyForTesting(0);
    EXPECT_NE(error.find("cannot verify the copy \"" + target +
                         "\": it reads back from the device with other bytes"),
              std::string::npos)
        << error;
    EXPECT_EQ(TempFolder::read(target), "old content");
    EXPECT_EQ(namesIn(targets), (std::set<std::string>{"report.txt", "sparse.bin"}));
}

TEST_F(SafeCopy, WithoutReplaceAnExistingTargetIsUntouched) {
    const std::string target = temp.write("dst/report.txt", "old content");
    TempFolder::setModified(target, 1000000000);
    std::string error;
    EXPECT_FALSE(reportedIn(host::copyFileSafely(source, target, false), error));
    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_EQ(TempFolder::read(target), "old content");
    EXPECT_EQ(modifiedOf(target).tv_sec, 1000000000);
    EXPECT_EQ(namesIn(targets), (std::set<std::string>{"report.txt"}));
}

TEST_F(SafeCopy, WithoutReplaceAnExistingFolderOrLinkIsUntouched) {
    temp.mkdir("dst/report.txt");
    EXPECT_FALSE(host::copyFileSafely(source, targets + "/report.txt", false));
    EXPECT_TRUE(host::folderExists(targets + "/report.txt"));
    ASSERT_EQ(::symlink("missing", (targets + "/link.txt").c_str()), 0);
    EXPECT_FALSE(host::copyFileSafely(source, targets + "/link.txt", false));
    EXPECT_FALSE(host::fileExists(targets + "/link.txt"));
    expectNoTemporary();
}

TEST_F(SafeCopy, WithReplaceTheTargetIsReplaced) {
    const std::string target = temp.write("dst/report.txt", "old content that is longer");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source, target, true), error)) << error;
    EXPECT_EQ(TempFolder::read(target), "fresh content\n");
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(namesIn(targets), (std::set<std::string>{"report.txt"}));
}

// The test process's umask is 022 (see UmaskEnvironment): group and other
// write bits of the source are kept all the same, also over an existing file.
TEST_F(SafeCopy, ModesWithGroupAndOtherWriteBitsAreKept) {
    for (const mode_t mode : {0664, 0666}) {
        ASSERT_EQ(::chmod(source.c_str(), mode), 0);
        const std::string target = targets + "/" + std::to_string(mode);
        ASSERT_TRUE(host::copyFileSafely(source, target, false));
        EXPECT_EQ(modeOf(target), mode);
        ASSERT_TRUE(host::copyFileSafely(source, target, true));
        EXPECT_EQ(modeOf(target), mode);
    }
}

TEST_F(SafeCopy, ReadOnlySourceGivesReadOnlyCopy) {
    ASSERT_EQ(::chmod(source.c_str(), 0444), 0);
    ASSERT_TRUE(host::copyFileSafely(source, targets + "/r.txt", false));
    EXPECT_EQ(modeOf(targets + "/r.txt"), 0444u);
    EXPECT_EQ(TempFolder::read(targets + "/r.txt"), "fresh content\n");
}

// A leftover is removed only when it is tagged, meant for the same target and
// unlocked: a running copy (here: a file held with the writer's lock) and
// every user file, whatever it looks like, stay.
TEST_F(SafeCopy, OnlyUnlockedTaggedLeftoversOfTheSameTargetAreRemoved) {
    namespace names = base::temporary_names;
    const std::string killed = names::make("report.txt");
    const std::string running = names::make("report.txt");
    const std::string otherTarget = names::make("report.txt.x");
    temp.write("dst/" + killed, "killed run");
    temp.write("dst/" + names::make("report.txt"), "another killed run");
    temp.write("dst/" + otherTarget, "other target");
    const std::set<std::string> users = {
        ".report.txt.0123abcd.partial", ".report.txt.deadbeef.partial",
        "report.txt.0123abcd.partial", ".report.txt.0123456789abcdef.partial"};
    for (const auto& name : users) temp.write("dst/" + name, "a user's file");
    const int held = ::open(temp.write("dst/" + running, "running").c_str(), O_WRONLY);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);

    ASSERT_TRUE(host::copyFileSafely(source, targets + "/report.txt", false));
    std::set<std::string> expected = users;
    expected.insert({"report.txt", running, otherTarget});
    EXPECT_EQ(namesIn(targets), expected);
    ::close(held);
    ASSERT_TRUE(host::copyFileSafely(source, targets + "/report.txt", true));
    expected.erase(running);
    EXPECT_EQ(namesIn(targets), expected);
}

TEST_F(SafeCopy, MissingSourceFailsNamingThePath) {
    const std::string missing = temp / "src/missing.txt";
    std::string error;
    EXPECT_FALSE(reportedIn(host::copyFileSafely(missing, targets + "/missing.txt", true), error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_TRUE(namesIn(targets).empty());
    EXPECT_FALSE(host::copyFileSafely(missing, targets + "/missing.txt", true));
}

TEST_F(SafeCopy, MissingTargetFolderFailsNamingThePath) {
    std::string error;
    EXPECT_FALSE(
        reportedIn(host::copyFileSafely(source, temp / "nowhere/report.txt", true), error));
    EXPECT_NE(error.find(temp / "nowhere"), std::string::npos) << error;
    EXPECT_FALSE(host::folderExists(temp / "nowhere"));
}

TEST_F(SafeCopy, SpecialSourcesAreRefusedWithoutHanging) {
    const std::string fifo = temp / "src/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(reportedIn(host::copyFileSafely(fifo, targets + "/pipe", true), error));
    EXPECT_EQ(error, "cannot copy \"" + fifo + "\": not a file but a FIFO");
    EXPECT_FALSE(host::copyFileSafely(temp / "src", targets + "/src", true));
    // A link to a file the system makes up as it is read: /proc/self/pagemap
    // would never end; status ends, and must fail all the same.
    const std::string link = temp / "src/endless";
    ASSERT_EQ(::symlink("/proc/self/status", link.c_str()), 0);
    EXPECT_FALSE(reportedIn(host::copyFileSafely(link, targets + "/endless", true), error));
    EXPECT_NE(error.find("pseudo file system proc"), std::string::npos) << error;
    EXPECT_TRUE(namesIn(targets).empty());
}

// A backup reads its sources without marking them read. A file the system
// will not read that way (another user's) is copied all the same.
TEST_F(SafeCopy, LeavesTheSourcesAccessTimeAsItWas) {
    // Accessed before it was changed: any read would set its access time.
    const timespec times[2] = {{1000000000, 0}, {1328231107, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source, targets + "/report.txt", false), error))
        << error;
    EXPECT_EQ(accessedOf(source), 1000000000);
    EXPECT_EQ(accessedOf(targets + "/report.txt"), 1000000000);

    testing_support::giveToNobody(temp.path());
    ASSERT_EQ(::lchown(source.c_str(), ::geteuid(), ::getegid()), 0);
    testing_support::asUnprivileged([&] {
        std::string failure;
        EXPECT_TRUE(
            reportedIn(host::copyFileSafely(source, targets + "/other.txt", false), failure))
            << failure;
        EXPECT_EQ(TempFolder::read(targets + "/other.txt"), "fresh content\n");
    });
}

TEST_F(SafeCopy, UnwritableTargetFolderFailsAndLeavesNothing) {
    testing_support::giveToNobody(temp.path());
    testing_support::asUnprivileged([&] {
        ASSERT_EQ(::chmod(targets.c_str(), 0555), 0);
        std::string error;
        EXPECT_FALSE(
            reportedIn(host::copyFileSafely(source, targets + "/report.txt", true), error));
        EXPECT_NE(error.find(targets), std::string::npos) << error;
    });
    EXPECT_TRUE(namesIn(targets).empty());
}

TEST_F(SafeCopy, AwkwardNamesAreCopiedByteForByte) {
    const std::vector<std::string> names = {
        "with blanks  and 'single' \"double\" quotes.txt",
        "中文文件名 (副本).txt",
        "not-utf8-\xff\xfe\xc3.txt",
        std::string(240, 'n') + ".txt",  // the temporary name must be cut
        std::string(236, 'a') + "中",    // the cut would split a character
    };
    std::string deep =
        temp.mkdir(std::string(150, 'd') + "/" + std::string(150, 'e') + "/" + "深层文件夹");
    for (const auto& name : names) {
        const std::string from = temp.write("src/" + name, name);
        const std::string to = host::joinPath(deep, name);
        std::string error;
        ASSERT_TRUE(reportedIn(host::copyFileSafely(from, to, false), error)) << error;
        EXPECT_GT(to.size(), 300u);
        EXPECT_EQ(TempFolder::read(to), name);
        EXPECT_FALSE(host::copyFileSafely(from, to, false));
        EXPECT_TRUE(host::copyFileSafely(from, to, true));
    }
    std::set<std::string> expected(names.begin(), names.end());
    EXPECT_EQ(namesIn(deep), expected);
}

TEST_F(SafeCopy, LeftoverOfALongNameIsRemoved) {
    // The temporary name of a name too long to carry whole holds its first 226 bytes.
    const std::string name = std::string(250, 'L');
    const std::string from = temp.write("src/" + name, "long");
    temp.write("dst/" + base::temporary_names::make(std::string(226, 'L')), "killed");
    const std::string other = base::temporary_names::make(std::string(225, 'L'));
    temp.write("dst/" + other, "other target");
    ASSERT_TRUE(host::copyFileSafely(from, targets + "/" + name, false));
    EXPECT_EQ(namesIn(targets), (std::set<std::string>{name, other}));
}

// ------------------------------------------------------------- atomic write

class AtomicWrite : public ::testing::Test {
  protected:
    TempFolder temp;
};

TEST_F(AtomicWrite, CreatesAndReplaces) {
    const std::string path = temp / "settings.ini";
    std::string error;
    ASSERT_TRUE(reportedIn(host::writeFileAtomically(path, "first"), error)) << error;
    EXPECT_EQ(TempFolder::read(path), "first");
    ASSERT_TRUE(reportedIn(host::writeFileAtomically(path, std::string("sec\0nd", 6)), error))
        << error;
    EXPECT_EQ(TempFolder::read(path), std::string("sec\0nd", 6));
    ASSERT_TRUE(reportedIn(host::writeFileAtomically(path, ""), error)) << error;
    EXPECT_EQ(host::fileLength(path), 0);
    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"settings.ini"}));
}

TEST_F(AtomicWrite, KeepsThePermissionBitsOfTheOldFile) {
    const std::string path = temp.write("private.ini", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(host::writeFileAtomically(path, "new"));
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(AtomicWrite, ReplacesTheFileALinkNamesNotTheLink) {
    const std::string real = temp.write("real.ini", "old");
    ASSERT_EQ(::symlink("real.ini", (temp / "link.ini").c_str()), 0);
    ASSERT_TRUE(host::writeFileAtomically(temp / "link.ini", "new"));
    struct stat st;
    ASSERT_EQ(::lstat((temp / "link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(TempFolder::read(real), "new");
}

TEST_F(AtomicWrite, FailureLeavesTheOldFileAndNoTemporary) {
    std::string error;
    EXPECT_FALSE(reportedIn(host::writeFileAtomically(temp / "missing/x.ini", "x"), error));
    EXPECT_NE(error.find(temp / "missing"), std::string::npos) << error;

    const std::string folder = temp.mkdir("folder-in-the-way");
    EXPECT_FALSE(host::writeFileAtomically(folder, "x"));
    EXPECT_TRUE(host::folderExists(folder));
    EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"folder-in-the-way"}));

    const std::string path = temp.write("ro/settings.ini", "old");
    testing_support::giveToNobody(temp.path());
    testing_support::asUnprivileged([&] {
        ASSERT_EQ(::chmod((temp / "ro").c_str(), 0555), 0);
        EXPECT_FALSE(host::writeFileAtomically(path, "new"));
    });
    EXPECT_EQ(TempFolder::read(path), "old");
    EXPECT_EQ(namesIn(temp / "ro"), (std::set<std::string>{"settings.ini"}));
}

}  // namespace
