// The copy path on the file systems it meets: holes stay holes (tmpfs, ext4),
// a clone shares its source's blocks (XFS), and a folder swapped for a link
// to elsewhere between two copies leads no copy of either program outside
// the target.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/target_copies.h"
#include "host/fs.h"
#include "support/mounted.h"
#include "support/result_text.h"
#include "support/temp_folder.h"
#include "torrin/engine/rcopy.h"

namespace {

using testing_support::Mounted;
using testing_support::reportedIn;
using testing_support::TempFolder;

struct Layout {
    std::vector<std::pair<off_t, off_t>> data;  // [start, end) of each data range
    off_t size = 0;
    blkcnt_t blocks = 0;
};

Layout layoutOf(const std::string& path) {
    Layout layout;
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    ::fstat(fd, &st);
    layout.size = st.st_size;
    layout.blocks = st.st_blocks;
    for (off_t at = 0;;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        at = ::lseek(fd, data, SEEK_HOLE);
        layout.data.emplace_back(data, at);
    }
    ::close(fd);
    return layout;
}

class SparseCopy : public ::testing::TestWithParam<std::string> {};

TEST_P(SparseCopy, KeepsHolesBytesTimeAndMode) {
    TempFolder temp;
    const std::string top = temp.path() + "/top";
    std::filesystem::create_directory(top);
    Mounted disk(GetParam(), temp.path() + "/image", top);
    SKIP_UNLESS_MOUNTED(GetParam(), disk);
    // 1 GiB with 4 KiB of data at its start and in its middle, and a hole at
    // its end, which only the length can copy.
    const std::string source = top + "/disk.img";
    const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT, 0640);
    const std::string head(4096, 'h'), middle(4096, 'm');
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), 4096);
    ASSERT_EQ(::pwrite(fd, middle.data(), middle.size(), 512 << 20), 4096);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
    const timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(::futimens(fd, times), 0);
    ::close(fd);

    std::string error;
    ASSERT_TRUE(reportedIn(host::copyFileSafely(source, top + "/copy.img", false), error)) << error;
    const Layout from = layoutOf(source), to = layoutOf(top + "/copy.img");
    EXPECT_EQ(to.size, from.size);
    EXPECT_EQ(to.data, from.data);
    EXPECT_LE(to.blocks, from.blocks);
    const int copy = ::open((top + "/copy.img").c_str(), O_RDONLY);
    std::string read(4096, '\0');
    EXPECT_EQ(::pread(copy, read.data(), read.size(), 512 << 20), 4096);
    EXPECT_EQ(read, middle);
    struct stat st {};
    ::fstat(copy, &st);
    ::close(copy);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, SparseCopy, ::testing::Values("tmpfs", "ext4"));

TEST(CloneCopy, SharesTheSourceBlocksOnXfs) {
    TempFolder temp;
    const std::string top = temp.path() + "/top";
    std::filesystem::create_directory(top);
    Mounted disk("xfs", temp.path() + "/image", top);
    SKIP_UNLESS_MOUNTED("xfs", disk);
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    ASSERT_TRUE(host::writeFileAtomically(top + "/a.bin", bytes));
    ASSERT_TRUE(host::copyFileSafely(top + "/a.bin", top + "/b.bin", false));
    EXPECT_EQ(host::readFile(top + "/b.bin"), bytes);

    alignas(fiemap) char buffer[sizeof(fiemap) + 8 * sizeof(fiemap_extent)] = {};
    auto* map = reinterpret_cast<fiemap*>(buffer);
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 8;
    const int fd = ::open((top + "/b.bin").c_str(), O_RDONLY);
    ASSERT_EQ(::ioctl(fd, FS_IOC_FIEMAP, map), 0);
    ::close(fd);
    ASSERT_GT(map->fm_mapped_extents, 0u);
    EXPECT_TRUE(map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED);
}

// Swaps the target's folder "a" for a link to the sibling folder "t2" when
// the second file's step comes, between its two copies.
class SwapBeforeSecond : public host::ProgressSink {
  public:
    explicit SwapBeforeSecond(std::string top) : top_(std::move(top)) {}
    void step(long count, std::string_view) override {
        if (count != 2) return;
        std::filesystem::rename(top_ + "/t/a", top_ + "/t/moved");
        std::filesystem::create_directory_symlink(top_ + "/t2", top_ + "/t/a");
    }

  private:
    std::string top_;
};

TEST(Containment, AFolderSwappedForALinkLeadsNoCopyOutside) {
    TempFolder temp;
    temp.write("s/a/1.txt", "one");
    temp.write("s/a/2.txt", "two");
    temp.mkdir("t2");
    const std::string top = temp.path();
    {
        temp.mkdir("t");
        common::TargetCopies copies(top + "/t", {1, false, 16, {}});
        const auto copy = [&](const std::string& name) {
            bool copied = false;
            copies.add({top + "/s/a/" + name, "a", name, true, "a/" + name, {}, 0},
                       [&](const common::CopyEnd& end) {
                           copied = end.how == common::CopyEnd::How::Copied;
                       });
            static_cast<void>(copies.finishAll());
            return copied;
        };
        SwapBeforeSecond swap(top);
        EXPECT_TRUE(copy("1.txt"));
        swap.step(2, "");
        copy("2.txt");
        EXPECT_TRUE(std::filesystem::is_empty(top + "/t2")) << "the copies";
    }
    std::filesystem::remove_all(top + "/t");
    temp.mkdir("t");
    torrin::RunDescription run;
    run.sourceFolders = {top + "/s"};
    run.target = top + "/t";
    run.threshold = "2000-01-01 00:00:00";
    run.logfile = top + "/log.txt";
    // One at a time: the swap then falls between the two copies.
    run.workers = 1;
    SwapBeforeSecond swap(top);
    const torrin::RunResult result = torrin::rcopy(run, swap);
    EXPECT_TRUE(std::filesystem::is_empty(top + "/t2")) << "torrin";
    EXPECT_EQ(host::readFile(top + "/t/moved/2.txt").value_or(""), "two");
}

}  // namespace
