#include "common/file_attributes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "tests/support/scoped_time_zone.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::ScopedTimeZone;
using testing_support::TempFolder;

// Every path below `root`, relative to it, folders and files alike.
std::set<std::string> treeOf(const std::string& root) {
    std::set<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.insert(std::filesystem::relative(entry.path(), root).string());
    return paths;
}

std::time_t utcSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return ::timegm(&parts);
}

// ---------------------------------------------------------------- file times

class FileTimeText : public ::testing::Test {
  protected:
    TempFolder temp;
    ScopedTimeZone zone{"Asia/Shanghai"};
};

TEST_F(FileTimeText, ModificationTimeInLocalTime) {
    const std::string file = temp.write("f.txt", "x");
    // 09:05:07 on 3 February 2012 in Shanghai is 01:05:07 UTC.
    TempFolder::setModified(file, utcSeconds(2012, 2, 3, 1, 5, 7));
    EXPECT_EQ(common::getft(file, 3), "2012-02-03 09:05:07");
}

TEST_F(FileTimeText, LocalDateMayDifferFromTheUtcDate) {
    const std::string file = temp.write("f.txt", "x");
    TempFolder::setModified(file, utcSeconds(1999, 12, 31, 20, 0, 0));
    EXPECT_EQ(common::getft(file, 3), "2000-01-01 04:00:00");
}

TEST_F(FileTimeText, EveryOtherTypeGivesTheCreationTime) {
    const std::string file = temp.write("f.txt", "x");
    TempFolder::setModified(file, utcSeconds(2012, 2, 3, 1, 5, 7));
    const std::string created = common::getft(file, 1);
    EXPECT_EQ(common::getft(file, 2), created);
    EXPECT_EQ(common::getft(file, 0), created);
    // The file was made just now, long after its back-dated modification time.
    ASSERT_EQ(created.size(), 19u);
    EXPECT_GT(created, "2020-01-01 00:00:00");
    EXPECT_NE(created, common::getft(file, 3));
}

TEST_F(FileTimeText, TimesOfAFolderAndAnUnreadableFile) {
    const std::string folder = temp.mkdir("d");
    TempFolder::setModified(folder, utcSeconds(2012, 2, 3, 1, 5, 7));
    EXPECT_EQ(common::getft(folder, 3), "2012-02-03 09:05:07");
    const std::string locked = temp.write("locked.txt", "x");
    TempFolder::setModified(locked, utcSeconds(2012, 2, 3, 1, 5, 7));
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(common::getft(locked, 3), "2012-02-03 09:05:07");
}

TEST_F(FileTimeText, MissingFileGivesTheZeroTimeEastOfUtc) {
    EXPECT_EQ(common::getft(temp / "missing", 3), "1601-01-01 08:00:00");
    EXPECT_EQ(common::getft(temp / "missing", 1), "1601-01-01 08:00:00");
    ScopedTimeZone india("Asia/Kolkata");
    EXPECT_EQ(common::getft(temp / "missing", 3), "1601-01-01 05:30:00");
}

TEST_F(FileTimeText, MissingFileGivesTheZeroTimeItselfAtOrWestOfUtc) {
    {
        ScopedTimeZone utc("UTC");
        EXPECT_EQ(common::getft(temp / "missing", 3), "1601-01-01 00:00:00");
    }
    ScopedTimeZone west("EST5");
    EXPECT_EQ(common::getft(temp / "missing", 3), "1601-01-01 00:00:00");
}

// ------------------------------------------------------------------ lengths

class FileLength : public ::testing::Test {
  protected:
    TempFolder temp;

    std::string sparseFile(long long length) {
        const std::string path = temp / "sparse.bin";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, length), 0);
        ::close(fd);
        return path;
    }
};

TEST_F(FileLength, SmallFileInEveryUnit) {
    const std::string file = temp.write("f.bin", std::string(1536, 'x'));
    EXPECT_EQ(common::filel(file), 1536.0);
    EXPECT_EQ(common::filelzf(file, "1"), "1536字节");
    EXPECT_EQ(common::filelzf(file, "2"), "1.5KB");
    EXPECT_EQ(common::filelzf(file, "3"), "0MB");
}

TEST_F(FileLength, AnyOtherUnitMeansKilobytes) {
    const std::string file = temp.write("f.bin", std::string(1536, 'x'));
    EXPECT_EQ(common::filelzf(file, ""), "1.5KB");
    EXPECT_EQ(common::filelzf(file, "文"), "1.5KB");
    EXPECT_EQ(common::filelzf(file, "4"), "1.5KB");
}

TEST_F(FileLength, RoundsToTwoPlaces) {
    const std::string file = temp.write("f.bin", std::string(1000, 'x'));
    EXPECT_EQ(common::filelzf(file, "2"), "0.98KB");
    const std::string empty = temp.write("e.bin", "");
    EXPECT_EQ(common::filel(empty), 0.0);
    EXPECT_EQ(common::filelzf(empty, "1"), "0字节");
    EXPECT_EQ(common::filelzf(empty, "2"), "0KB");
}

TEST_F(FileLength, ExactBeyondFourGibibytes) {
    const std::string file = sparseFile(5LL << 30);
    EXPECT_EQ(common::filel(file), 5368709120.0);
    EXPECT_EQ(common::filelzf(file, "1"), "5368709120字节");
    EXPECT_EQ(common::filelzf(file, "2"), "5242880KB");
    EXPECT_EQ(common::filelzf(file, "3"), "5120MB");
}

TEST_F(FileLength, OneByteOverFourGibibytesIsNotCutTo32Bits) {
    const std::string file = sparseFile((4LL << 30) + 1);
    EXPECT_EQ(common::filel(file), 4294967297.0);
    EXPECT_EQ(common::filelzf(file, "1"), "4294967297字节");
}

TEST_F(FileLength, UnreadableFileStillHasItsLength) {
    const std::string file = temp.write("locked.bin", std::string(1536, 'x'));
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    EXPECT_EQ(common::filel(file), 1536.0);
}

TEST_F(FileLength, MissingFileGivesTheFailureValue) {
    const std::string missing = temp / "missing.bin";
    EXPECT_EQ(common::filel(missing), 4294967295.0);
    EXPECT_EQ(common::filelzf(missing, "1"), "4294967295字节");
    EXPECT_EQ(common::filelzf(missing, "2"), "4194304KB");
    EXPECT_EQ(common::filelzf(missing, "3"), "4096MB");
}

// ---------------------------------------------------------- folder creation

class CreateTargetFolders : public ::testing::Test {
  protected:
    TempFolder temp;
};

TEST_F(CreateTargetFolders, CreatesEachFolderBelowTheTarget) {
    const std::string target = temp.mkdir("dst");
    common::cr_d(target + "/a/b/f.txt", target);
    EXPECT_EQ(treeOf(temp.path()), (std::set<std::string>{"dst", "dst/a", "dst/a/b"}));
}

TEST_F(CreateTargetFolders, ExistingFoldersAreKept) {
    const std::string target = temp.mkdir("dst");
    temp.write("dst/a/keep.txt", "k");
    common::cr_d(target + "/a/b/c/f.txt", target);
    EXPECT_EQ(treeOf(temp.path()),
              (std::set<std::string>{"dst", "dst/a", "dst/a/keep.txt", "dst/a/b", "dst/a/b/c"}));
    EXPECT_EQ(TempFolder::read(temp / "dst/a/keep.txt"), "k");
}

TEST_F(CreateTargetFolders, FileDirectlyInTheTargetNeedsNothing) {
    const std::string target = temp.mkdir("dst");
    common::cr_d(target + "/f.txt", target);
    EXPECT_EQ(treeOf(temp.path()), (std::set<std::string>{"dst"}));
}

TEST_F(CreateTargetFolders, TheTargetItselfIsNeverCreated) {
    const std::string target = temp / "missing";
    common::cr_d(target + "/a/f.txt", target);
    EXPECT_TRUE(treeOf(temp.path()).empty());
}

TEST_F(CreateTargetFolders, ChineseNamesCountInGbkBytes) {
    // "目标" is 4 GBK bytes but 6 UTF-8 bytes: positions taken from the UTF-8
    // bytes would skip the first folder below the target.
    const std::string target = temp.mkdir("目标");
    common::cr_d(target + "/a/b/f.txt", target);
    common::cr_d(target + "/中文夹/子/文件.txt", target);
    EXPECT_EQ(treeOf(temp.path()), (std::set<std::string>{"目标", "目标/a", "目标/a/b",
                                                          "目标/中文夹", "目标/中文夹/子"}));
}

TEST_F(CreateTargetFolders, AFileInTheWayIsLeftAlone) {
    const std::string target = temp.mkdir("dst");
    temp.write("dst/a", "a file");
    common::cr_d(target + "/a/b/f.txt", target);
    EXPECT_EQ(treeOf(temp.path()), (std::set<std::string>{"dst", "dst/a"}));
    EXPECT_EQ(TempFolder::read(temp / "dst/a"), "a file");
}

TEST_F(CreateTargetFolders, NamesWithBlanksQuotesAndOddBytes) {
    const std::string target = temp.mkdir("dst dir");
    const std::string odd = "odd\xff\xfe 'q' \"d\"";
    common::cr_d(target + "/" + odd + "/f.txt", target);
    EXPECT_EQ(treeOf(temp.path()), (std::set<std::string>{"dst dir", "dst dir/" + odd}));
}

}  // namespace
