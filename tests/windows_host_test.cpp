// The Win32 host services on real folders: attribute masks, file times, 64-bit
// lengths, the safe copy, Chinese names through the wide API, GBK bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/temporary_names.h"
#include "common/file_attributes.h"
#include "host/arguments.h"
#include "host/clock.h"
#include "host/desktop.h"
#include "host/durability.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/folder_status.h"
#include "host/fs.h"
#include "host/gbk_positions.h"
#include "host/paths.h"
#include "tests/support/result_text.h"
#include "tests/support/skips.h"
#include "tests/support/windows_temp_folder.h"

#include <winioctl.h>

namespace {

using testing_support::reasonIn;
using testing_support::reportedIn;
using testing_support::sameTime;
using testing_support::utcFileTime;
using testing_support::wide;
using testing_support::WindowsTempFolder;

std::vector<std::string> listing(const std::string& folder, int mask) {
    std::vector<host::ListingEntry> entries;
    EXPECT_TRUE(host::listDirectory(folder, mask, entries)) << folder;
    std::vector<std::string> texts;
    for (const auto& entry : entries) texts.push_back(host::listingText(entry));
    return texts;
}

class WindowsListing : public ::testing::Test {
  protected:
    void SetUp() override {
        temp_.write("normal.txt", "n");
        temp_.write("readonly.txt", "r", FILE_ATTRIBUTE_READONLY);
        temp_.write("archived.txt", "a", FILE_ATTRIBUTE_ARCHIVE);
        temp_.write("hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
        temp_.write("system.txt", "s", FILE_ATTRIBUTE_SYSTEM);
        temp_.mkdir("Folder");
        temp_.mkdir("secret", FILE_ATTRIBUTE_HIDDEN);
    }
    WindowsTempFolder temp_;
};

TEST_F(WindowsListing, MaskSixteenLeavesOutHiddenAndSystemButKeepsReadOnlyAndArchive) {
    EXPECT_EQ(listing(temp_.path(), host::kListNormal),
              (std::vector<std::string>{"[Folder]", "archived.txt", "normal.txt", "readonly.txt"}));
}

TEST_F(WindowsListing, MaskFiftyFiveListsEverything) {
    EXPECT_EQ(listing(temp_.path(), host::kListEverything),
              (std::vector<std::string>{"[Folder]", "[secret]", "archived.txt", "hidden.txt",
                                        "normal.txt", "readonly.txt", "system.txt"}));
}

TEST_F(WindowsListing, HiddenBitAloneDoesNotBringInSystemFiles) {
    EXPECT_EQ(listing(temp_.path(), 16 + 2),
              (std::vector<std::string>{"[Folder]", "[secret]", "archived.txt", "hidden.txt",
                                        "normal.txt", "readonly.txt"}));
}

TEST_F(WindowsListing, WithoutTheFolderBitNoFolderIsListed) {
    EXPECT_EQ(listing(temp_.path(), 1 + 2 + 4 + 32),
              (std::vector<std::string>{"archived.txt", "hidden.txt", "normal.txt", "readonly.txt",
                                        "system.txt"}));
}

TEST(WindowsListingOrder, SortsByListingTextWithAsciiFoldedAndSkipsOnlyOurTemporaries) {
    WindowsTempFolder temp;
    temp.write("b.txt", "");
    temp.write("A.txt", "");
    temp.write("中文.txt", "");
    temp.write(".b.txt.0123abcd.partial", "a user's file");
    temp.write(base::temporary_names::make("b.txt"), "");
    temp.mkdir("z");
    EXPECT_EQ(
        listing(temp.path(), host::kListEverything),
        (std::vector<std::string>{".b.txt.0123abcd.partial", "[z]", "A.txt", "b.txt", "中文.txt"}));
}

TEST(WindowsListingOrder, DriveRootHeldWithoutSeparatorIsListed) {
    // "C:" + "\*": the root of drive C, not its current folder.
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 2u);
    const std::string drive = testing_support::utf8(std::wstring(system, 2));
    const std::vector<std::string> entries = listing(drive, host::kListEverything);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "[windows]"), entries.end())
        << "no [windows] in " << drive;
    EXPECT_FALSE(host::listDirectory(drive + "\\no such folder", host::kListNormal,
                                     *std::make_unique<std::vector<host::ListingEntry>>()));
}

TEST(WindowsNames, ChineseNamesGoThroughTheWideApi) {
    WindowsTempFolder temp;
    const std::string folder = temp / "资料";
    ASSERT_TRUE(host::createFolder(folder));
    const std::string file = folder + "\\报告.txt";
    ASSERT_TRUE(host::writeFileAtomically(file, "内容"));
    // The system sees the UTF-16 name, whatever the ANSI code page.
    EXPECT_NE(
        ::GetFileAttributesW((wide(temp.path()) + L"\\\u8D44\u6599\\\u62A5\u544A.txt").c_str()),
        INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(host::fileExists(file));
    EXPECT_TRUE(host::folderExists(folder));
    EXPECT_FALSE(host::fileExists(folder));
    EXPECT_EQ(host::readFile(file), std::string("内容"));
    EXPECT_EQ(listing(temp.path(), host::kListNormal), std::vector<std::string>{"[资料]"});
    EXPECT_EQ(listing(folder, host::kListNormal), std::vector<std::string>{"报告.txt"});
}

TEST(WindowsNames, NamesTheSystemTakesForOneFileShareTheirKey) {
    // Two copies to these names are never under way at once.
    EXPECT_EQ(host::sameFileKey("C:\\Daten\\Äpfel.TXT"), host::sameFileKey("c:\\daten\\äpfel.txt"));
    EXPECT_NE(host::sameFileKey("C:\\a\\资料1"), host::sameFileKey("C:\\a\\资料2"));
}

TEST(WindowsNames, CrDCreatesEachMissingLevelBelowTheTarget) {
    WindowsTempFolder temp;
    const std::string target = temp / "目标";
    ASSERT_TRUE(host::createFolder(target));
    common::cr_d(target + "\\一\\二\\f.txt", target);
    EXPECT_TRUE(host::folderExists(target + "\\一\\二"));
    EXPECT_FALSE(host::folderExists(target + "\\一\\二\\f.txt"));
}

TEST(WindowsFolders, CurrentDirectoryOfADriveRootHasNoTrailingSeparator) {
    const std::string previous = host::currentDirectory();
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 2u);
    const std::wstring root = std::wstring(system, 2) + L"\\";
    ASSERT_TRUE(::SetCurrentDirectoryW(root.c_str()));
    EXPECT_EQ(host::currentDirectory(), testing_support::utf8(root.substr(0, 2)));
    ::SetCurrentDirectoryW(wide(previous).c_str());
    EXPECT_EQ(host::currentDirectory(), previous);
    EXPECT_NE(previous.back(), '\\');
}

TEST(WindowsFolders, ProgramDirectoryHoldsTheRunningProgram) {
    const std::string folder = host::programDirectory();
    EXPECT_TRUE(host::fileExists(folder + "\\windows_host_test.exe")) << folder;
}

// Times. The zone comes from the system; the tests that need a known offset
// run with TZ=Asia/Shanghai (UTC+8) and check that wine took it.
class WindowsTimes : public ::testing::Test {
  protected:
    // Why a test cannot run here, or "" when it can.
    static std::string notChinaTime() {
        const long offset = host::utcOffsetSeconds();
        if (offset == 8 * 3600) return {};
        return "the system's zone is not UTC+8 (offset " + std::to_string(offset) +
               " s); run with TZ=Asia/Shanghai";
    }
    // This file system must keep a creation time apart from the last write.
    static std::string noCreationTime(const std::string& file) {
        const FILETIME created = utcFileTime(2010, 1, 2, 3, 4, 5);
        FILETIME readCreated{}, readWritten{};
        if (WindowsTempFolder::setTimes(file, &created, nullptr) &&
            WindowsTempFolder::times(file, readCreated, readWritten) &&
            sameTime(readCreated, created))
            return {};
        return "this file system (under wine) does not keep the creation time SetFileTime sets";
    }
    WindowsTempFolder temp_;
};

// A zone that is not UTC+8 skips the test on a developer's machine; under CI
// (CI=true) the skip fails the run (support/skips.h), so a run that lost its
// TZ never reports success.
#define REQUIRE_CHINA_TIME() \
    if (const std::string reason = notChinaTime(); !reason.empty()) GTEST_SKIP() << reason

TEST_F(WindowsTimes, GetftTypeThreeIsTheLastWriteTimeInLocalTime) {
    REQUIRE_CHINA_TIME();
    const std::string file = temp_.write("f.txt", "x");
    const FILETIME written = utcFileTime(2012, 2, 3, 1, 5, 7);
    ASSERT_TRUE(WindowsTempFolder::setTimes(file, nullptr, &written));
    EXPECT_EQ(common::getft(file, 3), "2012-02-03 09:05:07");
}

TEST_F(WindowsTimes, GetftOtherTypesGiveTheCreationTime) {
    const std::string file = temp_.write("f.txt", "x");
    if (const std::string reason = noCreationTime(file); !reason.empty())
        GTEST_SKIP() << testing_support::kSkipNoCreationTimeUnderWine << reason;
    REQUIRE_CHINA_TIME();
    const FILETIME written = utcFileTime(2012, 2, 3, 1, 5, 7);
    ASSERT_TRUE(WindowsTempFolder::setTimes(file, nullptr, &written));
    EXPECT_EQ(common::getft(file, 1), "2010-01-02 11:04:05");
    EXPECT_EQ(common::getft(file, 2), "2010-01-02 11:04:05");
    EXPECT_EQ(common::getft(file, 3), "2012-02-03 09:05:07");
    host::FolderStatusReader reader;
    ASSERT_TRUE(reader.open(temp_.path()));
    const auto status = reader.status("f.txt");
    ASSERT_TRUE(status);
    EXPECT_EQ(host::localTimeText(status->created), "2010-01-02 11:04:05");
    EXPECT_EQ(host::localTimeText(status->modified), "2012-02-03 09:05:07");
    EXPECT_EQ(status->length, 1);
}

TEST_F(WindowsTimes, AFileThatCannotBeReadGivesTheZeroFileTimeInLocalTime) {
    REQUIRE_CHINA_TIME();
    EXPECT_EQ(common::getft(temp_ / "missing.txt", 3), "1601-01-01 08:00:00");
}

TEST_F(WindowsTimes, TimeTextsReadBackToTheSameInstant) {
    REQUIRE_CHINA_TIME();
    std::time_t seconds = 0;
    ASSERT_TRUE(host::parseLocalTimeText("2012-02-03 09:05:07", seconds));
    EXPECT_EQ(seconds, 1328231107);  // 2012-02-03 01:05:07 UTC
    EXPECT_EQ(host::localTimeText(seconds), "2012-02-03 09:05:07");
    EXPECT_FALSE(host::parseLocalTimeText("2012-02-30 09:05:07", seconds));
}

TEST(WindowsLengths, SixtyFourBitLengthsAreExact) {
    WindowsTempFolder temp;
    const std::string file = temp.write("big.bin", "");
    HANDLE handle = ::CreateFileW(wide(file).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    // Sparse where the file system allows, so 5 GiB costs no disk.
    ::DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 5LL * 1024 * 1024 * 1024;
    const bool sized =
        ::SetFilePointerEx(handle, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle);
    ::CloseHandle(handle);
    if (!sized) GTEST_SKIP() << "cannot make a 5 GiB file here";
    EXPECT_EQ(host::fileLength(file), 5368709120LL);
    EXPECT_EQ(common::filel(file), 5368709120.0);
    EXPECT_EQ(common::filelzf(file, "3"), "5120MB");
    EXPECT_FALSE(host::fileLength(temp / "missing"));
    EXPECT_EQ(common::filel(temp / "missing"), 4294967295.0);
}

class WindowsSafeCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = temp_.write("src\\a.txt", "new content");
        ASSERT_TRUE(WindowsTempFolder::setTimes(source_, nullptr, &written_));
        target_ = temp_.mkdir("dst") + "\\a.txt";
    }
    std::vector<std::string> rawNames(const std::string& folder) {
        std::vector<std::string> names;
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((wide(folder) + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") names.push_back(testing_support::utf8(name));
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
        return names;
    }
    WindowsTempFolder temp_;
    std::string source_;
    std::string target_;
    const FILETIME written_ = utcFileTime(2015, 6, 7, 8, 9, 10);
};

TEST_F(WindowsSafeCopy, CopiesContentAndKeepsTheLastWriteTime) {
    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source_, target_, false), error)) << error;
    EXPECT_EQ(WindowsTempFolder::read(target_), "new content");
    FILETIME created{}, written{};
    ASSERT_TRUE(WindowsTempFolder::times(target_, created, written));
    EXPECT_TRUE(sameTime(written, written_));
    EXPECT_EQ(rawNames(temp_ / "dst"), std::vector<std::string>{"a.txt"});
}

TEST_F(WindowsSafeCopy, WithoutReplaceAnExistingTargetIsKept) {
    temp_.write("dst\\a.txt", "old");
    std::string error;
    EXPECT_FALSE(reportedIn(host::copyFileSafely(source_, target_, false), error));
    EXPECT_NE(error.find(target_), std::string::npos) << error;
    EXPECT_EQ(WindowsTempFolder::read(target_), "old");
    EXPECT_EQ(rawNames(temp_ / "dst"), std::vector<std::string>{"a.txt"});
}

TEST_F(WindowsSafeCopy, WithReplaceAnExistingTargetIsReplaced) {
    temp_.write("dst\\a.txt", "old and longer than the new one");
    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source_, target_, true), error)) << error;
    EXPECT_EQ(WindowsTempFolder::read(target_), "new content");
    EXPECT_EQ(rawNames(temp_ / "dst"), std::vector<std::string>{"a.txt"});
}

TEST_F(WindowsSafeCopy, AttributesTravelWithTheCopy) {
    WindowsTempFolder::setAttributes(source_, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(host::copyFileSafely(source_, target_, false));
    const DWORD attributes = WindowsTempFolder::attributes(target_);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
}

// Only an unlocked tagged leftover of the same target goes: a running copy's
// file (open without FILE_SHARE_DELETE) and a user's lookalike stay.
TEST_F(WindowsSafeCopy, OnlyAnUnlockedTaggedLeftoverIsRemovedAndNoneIsListed) {
    namespace names = base::temporary_names;
    temp_.write("dst\\" + names::make("a.txt"), "half");
    const std::string running = names::make("a.txt");
    const std::string other = names::make("other.txt");
    temp_.write("dst\\" + running, "running");
    temp_.write("dst\\" + other, "someone else's");
    temp_.write("dst\\.a.txt.0123abcd.partial", "a user's file");
    const HANDLE held =
        ::CreateFileW(testing_support::wide(temp_ / ("dst\\" + running)).c_str(), GENERIC_WRITE, 0,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(listing(temp_ / "dst", host::kListEverything),
              (std::vector<std::string>{".a.txt.0123abcd.partial"}));
    ASSERT_TRUE(host::copyFileSafely(source_, target_, false));
    ::CloseHandle(held);
    std::vector<std::string> found = rawNames(temp_ / "dst");
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = {".a.txt.0123abcd.partial", "a.txt", running, other};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

TEST_F(WindowsSafeCopy, AMissingSourceOrFolderFailsWithTheReason) {
    std::string error;
    EXPECT_FALSE(
        reportedIn(host::copyFileSafely(temp_ / "src\\missing.txt", target_, true), error));
    EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
    EXPECT_FALSE(reportedIn(host::copyFileSafely(temp_ / "src", target_, true), error));
    EXPECT_FALSE(host::fileExists(target_));
}

// Through the open file's handle, as on POSIX: a source that gives fewer
// bytes than its length, or is written to while it is copied, leaves no copy.
TEST_F(WindowsSafeCopy, ASourceCutShortOrWrittenMidwayLeavesNoCopy) {
    temp_.write("src\\a.txt", std::string(3 << 20, 'x'));
    std::string error;
    host::faults::setSourceReadLimitForTesting(1 << 20);
    EXPECT_FALSE(reportedIn(host::copyFileSafely(source_, target_, true), error));
    host::faults::setSourceReadLimitForTesting(-1);
    EXPECT_NE(error.find("the source gave 1048576 of 3145728 bytes"), std::string::npos) << error;
    host::faults::setMidCopyActionForTesting(1 << 20, [&] {
        const HANDLE file =
            ::CreateFileW(testing_support::wide(source_).c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, "changed", 7, &written, nullptr);
        ::CloseHandle(file);
    });
    EXPECT_FALSE(reportedIn(host::copyFileSafely(source_, target_, true), error));
    host::faults::setMidCopyActionForTesting(-1, {});
    EXPECT_NE(error.find("the source changed while it was copied"), std::string::npos) << error;
    EXPECT_TRUE(rawNames(temp_ / "dst").empty());
}

TEST(WindowsFiles, PathsLongerThanMaxPathWork) {
    WindowsTempFolder temp;
    std::string folder = temp.path();
    // Deep backup trees pass the 260 characters the plain calls accept.
    while (folder.size() < 320) {
        folder += "\\长文件夹名称0123456789abcdefghij";
        ASSERT_TRUE(host::createFolder(folder)) << folder.size();
    }
    const std::string file = folder + "\\a.txt";
    ASSERT_TRUE(host::writeFileAtomically(file, "deep"));
    EXPECT_TRUE(host::fileExists(file));
    EXPECT_EQ(host::fileLength(file), 4);
    EXPECT_TRUE(host::fileTimes(file).has_value());
    const std::string copy = folder + "\\b.txt";
    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(file, copy, false), error)) << error;
    EXPECT_EQ(host::readFile(copy), std::string("deep"));
    EXPECT_EQ(listing(folder, host::kListNormal), (std::vector<std::string>{"a.txt", "b.txt"}));
    ASSERT_TRUE(host::appendToFile(copy, "er"));
    EXPECT_EQ(host::readFile(copy), std::string("deeper"));
    // A copy's destination that deep, reached from its target folder, and
    // walked like any folder.
    host::TargetFolder target(temp.path());
    const std::string relative = folder.substr(temp.path().size() + 1) + "\\新";
    const host::Result<host::TargetFolder::Reach> reached = target.enter(relative);
    if (!reached) error = reached.error().message();
    ASSERT_EQ(reached, host::TargetFolder::Reach::Reached) << error;
    ASSERT_TRUE(reportedIn(target.copyHere(copy, "c.txt", false), error)) << error;
    EXPECT_EQ(host::readFile(folder + "\\新\\c.txt"), std::string("deeper"));
    EXPECT_EQ(listing(folder, host::kListNormal),
              (std::vector<std::string>{"[新]", "a.txt", "b.txt"}));
}

TEST_F(WindowsSafeCopy, AFullDiskLeavesNoTargetAndNoTemporaryFile) {
    host::faults::setWriteFailureAfterBytesForTesting(5, temp_ / "dst");
    std::string error;
    EXPECT_FALSE(reportedIn(host::copyFileSafely(source_, target_, false), error));
    EXPECT_FALSE(host::writeFileAtomically(temp_ / "dst\\list.txt", "0123456789"));
    // Outside the folder writes go on.
    EXPECT_TRUE(host::writeFileAtomically(temp_ / "other.txt", "0123456789"));
    host::faults::setWriteFailureAfterBytesForTesting(-1);
    EXPECT_TRUE(rawNames(temp_ / "dst").empty()) << error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source_, target_, false), error)) << error;
}

TEST(WindowsFiles, AtomicWriteReplacesAndAppendAdds) {
    WindowsTempFolder temp;
    const std::string file = temp / "settings.ini";
    ASSERT_TRUE(host::writeFileAtomically(file, "one"));
    ASSERT_TRUE(host::writeFileAtomically(file, "two"));
    EXPECT_EQ(WindowsTempFolder::read(file), "two");
    ASSERT_TRUE(host::appendToFile(file, "\r\nthree"));
    EXPECT_EQ(WindowsTempFolder::read(file), "two\r\nthree");
    std::string reason;
    EXPECT_FALSE(reasonIn(host::readFile(temp / "missing.ini"), reason));
    EXPECT_FALSE(reason.empty());
}

// The settings lock is the file opened without sharing: a second holder is
// refused until the first lets go. A journal grows by flushed appends.
TEST(WindowsFiles, LockExcludesAndJournalAppends) {
    WindowsTempFolder temp;
    host::ExclusiveLock first, second;
    EXPECT_EQ(first.tryTake(temp / "confi9.lock"), host::ExclusiveLock::Taking::Taken);
    EXPECT_EQ(second.tryTake(temp / "confi9.lock"), host::ExclusiveLock::Taking::Busy);
    first.release();
    EXPECT_EQ(second.tryTake(temp / "confi9.lock"), host::ExclusiveLock::Taking::Taken);
    ASSERT_TRUE(host::writeFileAtomically(temp / "journal", "head\n", true));
    host::JournalFile journal;
    ASSERT_TRUE(journal.open(temp / "journal"));
    EXPECT_TRUE(journal.append("one\n") && journal.flush());
    journal.close();
    EXPECT_EQ(WindowsTempFolder::read(temp / "journal"), "head\none\n");
    EXPECT_TRUE(host::removeFileDurably(temp / "journal"));
    EXPECT_FALSE(host::fileExists(temp / "journal"));
}

TEST(WindowsText, LogTextIsWrittenInGbk) {
    WindowsTempFolder temp;
    const std::string log = temp / "log.txt";
    ASSERT_TRUE(host::appendToFile(log, host::utf8ToGbk("开始时间:2012-02-03 09:05:07\r\n")));
    EXPECT_EQ(WindowsTempFolder::read(log),
              "\xBF\xAA\xCA\xBC\xCA\xB1\xBC\xE4:2012-02-03 09:05:07\r\n");
    // A character GBK lacks is written in GB18030's four bytes, and read back.
    EXPECT_EQ(host::utf8ToGbk("\xF0\xA0\x80\x80"), "\x95\x32\x82\x36");
    EXPECT_EQ(host::gbkToUtf8("\x95\x32\x82\x36"), "\xF0\xA0\x80\x80");
    EXPECT_EQ(host::gbkLength("开始\xF0\xA0\x80\x80"), 8);
}

TEST(WindowsText, BytesThatDoNotConvertPassThroughBothWays) {
    EXPECT_EQ(host::utf8ToGbk("a\xFF"
                              "中"),
              "a\xFF\xD6\xD0");
    EXPECT_EQ(host::gbkToUtf8("a\x80\xD6\xD0\xFF"), "a\x80中\xFF");
    const std::string odd = "\x81\x30\xFF\x81";
    EXPECT_EQ(host::utf8ToGbk(host::gbkToUtf8(odd)), odd);
}

TEST(WindowsText, TheAnsiCodePageReadsTheLogAsGbk) {
    if (::GetACP() != 936)
        GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 936 (set LANG=zh_CN.GBK)";
    const std::string gbk = host::utf8ToGbk("复制文件全部失败，失败数:");
    wchar_t text[64];
    const int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, gbk.data(),
                                        static_cast<int>(gbk.size()), text, 64);
    ASSERT_GT(n, 0);
    EXPECT_EQ(testing_support::utf8(std::wstring(text, static_cast<std::size_t>(n))),
              "复制文件全部失败，失败数:");
}

// The test program starts itself with a Chinese argument; the child checks
// that it arrives in UTF-8 (argv would hold it in the ANSI code page).
TEST(WindowsArguments, ArgumentsArriveInUtf8) {
    const std::string marker = "--zarvik-child=";
    for (const std::string& argument : host::programArguments(0, nullptr)) {
        if (argument.rfind(marker, 0) == 0) {
            EXPECT_EQ(argument.substr(marker.size()), "报告 文件.txt");
            return;
        }
    }
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=WindowsArguments.* \"" +
                           wide(marker) + L"\u62A5\u544A \u6587\u4EF6.txt\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process));
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    EXPECT_EQ(status, 0u);
}

TEST(WindowsDesktop, ExplorerGetsTheFolderAndADriveItsRoot) {
    const host::ProgramStart opener = host::folderOpener("D:\\备份");
    EXPECT_EQ(opener.program, "explorer.exe");
    EXPECT_EQ(opener.args, std::vector<std::string>{"D:\\备份"});
    EXPECT_EQ(host::folderOpener("D:").args, std::vector<std::string>{"D:\\"});
}

TEST(WindowsDesktop, OpeningAMissingFileFailsAtOnce) {
    WindowsTempFolder temp;
    const std::optional<bool> opened = host::openWithAssociatedProgramNow(temp / "missing.zz");
    ASSERT_TRUE(opened.has_value());
    EXPECT_FALSE(*opened);
}

}  // namespace
