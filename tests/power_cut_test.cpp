// Power cuts, the way file-system developers make them: the file system is
// shut down without writing out its log (xfs_io's "shutdown", xfstests'
// method) at a random moment of a run or soon after it, unmounted and mounted
// again, which replays what had reached the device and nothing else. After
// that the run is made again, and the target must equal what one
// uninterrupted run leaves, name for name and byte for byte; a last run
// copies nothing. Loop images of XFS and ext4, as root; each cut is said in
// the trace, with its moment, so that a failure can be tried again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/encoding.h"
#include "support/file_trees.h"
#include "support/mounted.h"
#include "support/skips.h"
#include "support/temp_folder.h"

namespace {

using testing_support::differences;
using testing_support::TempFolder;
using testing_support::Tree;
namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A loop image mounted on a folder, to be cut and mounted again. A "vfat"
// disk is a USB stick as a FUSE driver writes one: a FAT image mounted by
// fusefat, the image a file of an XFS disk of its own (the stick's device),
// which is what a cut takes.
class Disk {
  public:
    Disk(std::string kind, const std::string& image, std::string folder)
        : kind_(std::move(kind)), image_(image), folder_(std::move(folder)) {
        fs::create_directories(folder_);
        if (kind_ == "vfat") {
            stick_ = std::make_unique<Disk>("xfs", image + ".stick", folder_ + ".stick");
            reason_ = stick_->reason();
            image_ = *stick_ / "fat.img";
            if (reason_.empty() && shell("mkfs.vfat -C '" + image_ + "' 65536 >/dev/null 2>&1"))
                reason_ = "cannot make the FAT image";
            else if (reason_.empty() && !mount())
                reason_ = "the machine refuses the fusefat mount";
            return;
        }
        const std::string make =
            kind_ == "xfs" ? "truncate -s 300M '" + image + "' && mkfs.xfs -q -f '" + image + "'"
                           : "mkfs.ext4 -q -F '" + image + "' 64M";
        if (::geteuid() != 0)
            reason_ = "mounting needs root";
        else if (shell(make + " >/dev/null 2>&1") != 0)
            reason_ = "cannot make the " + kind_ + " image";
        else if (!mount())
            reason_ = "the machine refuses the " + kind_ + " mount";
    }
    ~Disk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
        if (driver_ > 0) ::waitpid(driver_, nullptr, 0);
    }
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;

    const std::string& reason() const { return reason_; }
    const std::string& folder() const { return folder_; }
    std::string operator/(const std::string& name) const { return folder_ + "/" + name; }

    // The power cut: nothing more reaches the device, the log is not written.
    void cut() {
        if (stick_) return stick_->cut();
        // Never the disk the folder lies on: a mount that failed would leave
        // the machine's own disk under the shutdown.
        ASSERT_TRUE(mounted_) << folder_ << " is not mounted";
        ASSERT_EQ(shell("xfs_io -x -c shutdown '" + folder_ + "'"), 0) << kind_;
    }
    // Unmounted and mounted again, its log replayed: the disks in the order
    // they were mounted (one mounted inside another after it).
    static void remount(const std::vector<Disk*>& disks) {
        for (auto disk = disks.rbegin(); disk != disks.rend(); ++disk) (*disk)->unmount();
        for (Disk* disk : disks) ASSERT_TRUE(disk->mount()) << "cannot mount " << disk->kind_;
    }
    // What was written to it reaches its device (the stick's: its image's).
    void flush() {
        if (stick_) return stick_->flush();
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::syncfs(fd), 0);
        ::close(fd);
    }
    // Everything on it goes, for the next trial, but its lost+found and the
    // folders other disks are mounted on.
    void clear() {
        struct stat root {};
        ::stat(folder_.c_str(), &root);
        clearBelow(folder_, root.st_dev);
    }

  private:
    // True when `folder` is empty now.
    static bool clearBelow(const std::string& folder, dev_t device) {
        bool emptied = true;
        for (const auto& entry : fs::directory_iterator(folder)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            if (st.st_dev != device || entry.path().filename() == "lost+found") {
                emptied = false;
            } else if (S_ISDIR(st.st_mode)) {
                if (clearBelow(entry.path(), device))
                    fs::remove(entry.path());
                else
                    emptied = false;
            } else {
                fs::remove(entry.path());
            }
        }
        return emptied;
    }

    void unmount() {
        for (int attempt = 0; ::umount(folder_.c_str()) != 0; ++attempt) {
            ASSERT_LT(attempt, 50) << "cannot unmount " << folder_ << ": " << std::strerror(errno);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        mounted_ = false;
        if (!stick_) return;
        // The driver ends with its mount; the stick's disk is free after it.
        ::waitpid(driver_, nullptr, 0);
        driver_ = -1;
        stick_->unmount();
    }

    bool mount() {
        if (!stick_) {
            mounted_ =
                shell("mount -o loop '" + image_ + "' '" + folder_ + "' >/dev/null 2>&1") == 0;
            return mounted_;
        }
        if (!stick_->mounted_ && !stick_->mount()) return false;
        struct stat before {};
        ::stat(folder_.c_str(), &before);
        driver_ = ::fork();
        if (driver_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("fusefat", "fusefat", "-f", "-o", "rw+", image_.c_str(), folder_.c_str(),
                     nullptr);
            ::_exit(127);
        }
        // Mounted once the folder is another file system's root.
        for (int waited = 0; waited < 500; ++waited) {
            struct stat now {};
            if (::stat(folder_.c_str(), &now) == 0 && now.st_dev != before.st_dev) {
                mounted_ = true;
                return true;
            }
            if (::waitpid(driver_, nullptr, WNOHANG) == driver_) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string kind_;
    std::string image_;
    std::string folder_;
    std::string reason_;
    bool mounted_ = false;
    std::unique_ptr<Disk> stick_;  // vfat: the disk its image lies on
    pid_t driver_ = -1;            // vfat: the FUSE driver
};

Tree treeOf(const std::string& folder) {
    return testing_support::treeOf(folder, {"lost+found", "neighbour.dat"});
}

// Another program on the same disk that makes its own writes durable every
// few milliseconds, as programs do: each of its flushes commits whatever the
// file system's log holds then, names of files whose bytes are still only in
// memory among them.
class Neighbour {
  public:
    explicit Neighbour(const std::string& folder)
        : thread_([path = folder + "/neighbour.dat"](std::stop_token stop) {
              const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
              for (int i = 0; fd >= 0 && !stop.stop_requested(); ++i) {
                  if (::pwrite(fd, &i, sizeof i, 0) < 0 || ::fsync(fd) != 0) break;
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
              if (fd >= 0) ::close(fd);
          }) {}

  private:
    std::jthread thread_;
};

// Starts `program` with `arguments` in `folder`, its output thrown away.
pid_t start(const std::string& folder, const std::vector<std::string>& arguments) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

// A run that has not ended after two minutes waits for ever (whatever its
// disks did): it is killed, and the trial fails.
int wait(pid_t child) {
    int status = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > giveUp) {
            ADD_FAILURE() << "the run did not end";
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int runIn(const std::string& folder, const std::vector<std::string>& arguments) {
    return wait(start(folder, arguments));
}

// The trials of a case: how many, from the environment when it says so (a
// longer hunt for a rare fault), and each cut's moment.
int trials(int usual) {
    const char* asked = std::getenv("ZARVIK_POWER_CUT_TRIALS");
    return asked && std::atoi(asked) > 0 ? std::atoi(asked) : usual;
}

class PowerCut : public ::testing::Test {
  protected:
    void SetUp() override {
        // Every file modified long ago and born now: the runs copy them for
        // their birth, and the threshold a run stores (its start, less a
        // second) is later than every birth only two seconds on.
        for (int folder = 0; folder < 12; ++folder) {
            for (int file = 0; file < 16; ++file) {
                const std::string name =
                    "d" + std::to_string(folder) + "/f" + std::to_string(file) + ".txt";
                writeSource(name, std::string(200 + 97 * file * (folder + 1), 'a' + folder));
            }
        }
        for (int i = 0; i < 3; ++i)
            writeSource("big" + std::to_string(i) + ".bin",
                        std::string((1 << 20) + i, static_cast<char>('x' + i)));
        writeSource("a.txt", "new a");
        // A few of them, for a slow target.
        for (int folder = 0; folder < 3; ++folder)
            for (int file = 0; file < 5; ++file)
                writeSource(
                    "small/d" + std::to_string(folder) + "/f" + std::to_string(file) + ".txt",
                    std::string(100 + 37 * file, 'k' + folder));
        writeSource("small/a.txt", "new a");
        born_ = std::chrono::steady_clock::now();
    }

    void writeSource(const std::string& name, const std::string& bytes) {
        TempFolder::setModified(sources.write("src/" + name, bytes), 1600000000);
    }
    std::string source() const { return sources / "src"; }
    std::string smallSource() const { return sources / "src/small"; }

    // Waits until the sources' births lie a stored threshold back.
    void letTheBirthsAge() const {
        std::this_thread::sleep_until(born_ + std::chrono::milliseconds(2100));
    }

    // A moment to cut at: during the run mostly, a third of the time in the
    // second and a half after it (what a run leaves to the kernel to write).
    std::chrono::milliseconds moment(std::chrono::milliseconds runLength, bool onlyAfter = false) {
        std::uniform_int_distribution<long> during(0, runLength.count());
        std::uniform_int_distribution<long> after(0, 1500);
        const bool later = onlyAfter || random_() % 3 == 0;
        return std::chrono::milliseconds(later ? runLength.count() + after(random_)
                                               : during(random_));
    }

    TempFolder sources;
    TempFolder images;
    std::mt19937 random_{std::random_device{}()};
    std::chrono::steady_clock::time_point born_;
};

#define SKIP_UNLESS_DISK(disk)    \
    if (!(disk).reason().empty()) \
    GTEST_SKIP() << testing_support::kSkipMountForbidden << (disk).reason()

// torrin's settings folder and target, and the disks they lie on.
struct TorrinLayout {
    std::string settings;
    std::string target;
    std::vector<Disk*> disks;     // all the run writes to, cleared before each trial
    std::vector<Disk*> cut;       // those the cut takes, in the order they were mounted
    std::string mountedInTarget;  // a folder of the target that is another disk's root
    // Cut only once the run has ended: a file system without a log of its own
    // (FAT) may be left damaged by a cut in the middle of its writes.
    bool onlyAfterTheRun = false;
    std::string source = {};  // the source row ("": the whole source)
};

class TorrinPowerCut : public PowerCut {
  protected:
    // A fresh settings folder and target: every source file qualifies, nothing
    // is replaced and the target already holds two of the names (numbered
    // names are made), so a rerun that forgot what it copied adds numbered
    // copies of its own.
    void prepare(const TorrinLayout& layout) {
        for (Disk* disk : layout.disks) disk->clear();
        fs::create_directories(layout.settings);
        fs::create_directories(layout.target);
        if (!layout.mountedInTarget.empty()) fs::create_directories(layout.mountedInTarget);
        writeFile(layout.target + "/a.txt", "old a");
        fs::create_directories(layout.target + "/d0");
        writeFile(layout.target + "/d0/f0.txt", "old f0");
        writeFile(layout.settings + "/confi9.ini",
                  "[other]\r\nmpath=" + layout.target + "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" +
                      (layout.source.empty() ? source() : layout.source) +
                      "\r\nsfth=n\r\nqmljg=n\r\njobs=4\r\n");
        // What was there before the run is on the device before it begins.
        for (Disk* disk : layout.disks) disk->flush();
    }

    // One uninterrupted run's target, and how long the run took.
    Tree reference(const TorrinLayout& layout, std::chrono::milliseconds& length) {
        prepare(layout);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(runIn(layout.settings, {TORRIN_PROGRAM, "exit"}), 0);
        length = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        return treeOf(layout.target);
    }

    void cutRuns(const TorrinLayout& layout, int count) {
        std::chrono::milliseconds length{};
        const Tree expected = reference(layout, length);
        ASSERT_GT(expected.size(), 10u);
        letTheBirthsAge();
        for (int trial = 0; trial < count; ++trial) {
            prepare(layout);
            const auto at = moment(length, layout.onlyAfterTheRun);
            SCOPED_TRACE("trial " + std::to_string(trial) + ", cut " + std::to_string(at.count()) +
                         " ms after the start of a run of " + std::to_string(length.count()) +
                         " ms");
            const auto started = std::chrono::steady_clock::now();
            {
                std::vector<std::unique_ptr<Neighbour>> neighbours;
                for (Disk* disk : layout.cut)
                    neighbours.push_back(std::make_unique<Neighbour>(disk->folder()));
                const pid_t run = start(layout.settings, {TORRIN_PROGRAM, "exit"});
                if (at >= length) wait(run);
                std::this_thread::sleep_until(started + at);
                for (Disk* disk : layout.cut) disk->cut();
                if (at < length) wait(run);
            }
            Disk::remount(layout.cut);
            const std::string journal = TempFolder::read(layout.settings + "/confi9.journal");
            EXPECT_EQ(runIn(layout.settings, {TORRIN_PROGRAM, "exit"}), 0);
            EXPECT_EQ(differences(expected, treeOf(layout.target)), "")
                << host::gbkToUtf8(TempFolder::read(layout.settings + "/log.txt")) << "journal:\n"
                << journal;
            // The last run finds nothing new: the threshold vouched only for
            // what is there.
            const std::string before = TempFolder::read(layout.settings + "/log.txt");
            EXPECT_EQ(runIn(layout.settings, {TORRIN_PROGRAM, "exit"}), 0);
            const std::string log = TempFolder::read(layout.settings + "/log.txt");
            // "成功复制全部应复制的文件数:0" in GBK.
            EXPECT_NE(
                log.find("\xB3\xC9\xB9\xA6\xB8\xB4\xD6\xC6\xC8\xAB\xB2\xBF\xD3\xA6\xB8\xB4\xD6"
                         "\xC6\xB5\xC4\xCE\xC4\xBC\xFE\xCA\xFD:0\r\n",
                         before.size()),
                std::string::npos);
            if (HasFailure()) return;
        }
    }
};

TEST_F(TorrinPowerCut, SettingsAndTargetOnOneXfsDisk) {
    Disk disk("xfs", images / "one.img", images / "one");
    SKIP_UNLESS_DISK(disk);
    cutRuns({disk / "settings", disk / "target", {&disk}, {&disk}, ""}, trials(16));
}

TEST_F(TorrinPowerCut, SettingsAndTargetOnOneExt4Disk) {
    Disk disk("ext4", images / "one.img", images / "one");
    SKIP_UNLESS_DISK(disk);
    cutRuns({disk / "settings", disk / "target", {&disk}, {&disk}, ""}, trials(16));
}

// The settings on one disk, the target on another: both cut at once (one
// machine's power), or only the target's (a stick pulled out).
TEST_F(TorrinPowerCut, SettingsAndTargetOnTwoDisks) {
    Disk settings("ext4", images / "settings.img", images / "settings");
    Disk target("xfs", images / "target.img", images / "target");
    SKIP_UNLESS_DISK(settings);
    SKIP_UNLESS_DISK(target);
    const TorrinLayout both{
        settings / "settings", target / "target", {&settings, &target}, {&settings, &target}, ""};
    cutRuns(both, trials(16));
    if (HasFailure()) return;
    TorrinLayout targetOnly = both;
    targetOnly.cut = {&target};
    cutRuns(targetOnly, trials(10));
}

// A FAT stick through FUSE pulled out soon after a run ended (its driver's
// writes lie in the image's file system until that is flushed): what the run
// called copied is on the stick. The settings are on the computer's own disk.
TEST_F(TorrinPowerCut, ATargetOnAFatStickThroughFusePulledOutAfterTheRun) {
    Disk stick("vfat", images / "stick.img", images / "stick");
    SKIP_UNLESS_DISK(stick);
    cutRuns({images / "settings", stick / "target", {&stick}, {&stick}, "", true, smallSource()},
            trials(6));
}

// Another disk mounted inside the target: the copies that land there reach
// its device as those of the target's own disk do.
TEST_F(TorrinPowerCut, ADiskMountedInsideTheTarget) {
    Disk outer("ext4", images / "outer.img", images / "outer");
    SKIP_UNLESS_DISK(outer);
    fs::create_directories(outer / "target/d1");
    Disk inner("xfs", images / "inner.img", outer / "target/d1");
    SKIP_UNLESS_DISK(inner);
    cutRuns({outer / "settings",
             outer / "target",
             {&inner, &outer},
             {&outer, &inner},
             outer / "target/d1"},
            trials(12));
}

// kelvane's copy into a target that loses its power: the next check and copy
// makes the target what one uninterrupted copy leaves, and a last one copies
// nothing.
class KelvanePowerCut : public PowerCut, public ::testing::WithParamInterface<std::string> {};

TEST_P(KelvanePowerCut, TheNextCopyMakesTheTargetWhole) {
    Disk disk(GetParam(), images / "target.img", images / "target");
    SKIP_UNLESS_DISK(disk);
    const std::string target = disk / "target";
    const auto prepare = [&] {
        disk.clear();
        fs::create_directories(target + "/d0");
        writeFile(target + "/d0/f0.txt", "old f0");
        disk.flush();
    };
    const std::vector<std::string> copy = {KELVANE_PROGRAM, "check",  source(), target,
                                           "--copy",        "--jobs", "4"};
    prepare();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runIn(images.path(), copy), 0);
    const auto length = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    const Tree expected = treeOf(target);
    ASSERT_GT(expected.size(), 190u);
    for (int trial = 0; trial < trials(12); ++trial) {
        prepare();
        const auto at = moment(length);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", cut " + std::to_string(at.count()) +
                     " ms after the start of a copy of " + std::to_string(length.count()) + " ms");
        const auto begun = std::chrono::steady_clock::now();
        {
            const Neighbour neighbour(disk.folder());
            const pid_t run = start(images.path(), copy);
            if (at >= length) wait(run);
            std::this_thread::sleep_until(begun + at);
            disk.cut();
            if (at < length) wait(run);
        }
        Disk::remount({&disk});
        EXPECT_EQ(runIn(images.path(), copy), 0);
        EXPECT_EQ(differences(expected, treeOf(target)), "");
        // Nothing is left to copy: the check finds every name there.
        const std::string output = images / "last.txt";
        EXPECT_EQ(shell("cd '" + images.path() + "' && '" + KELVANE_PROGRAM + "' check '" +
                        source() + "' '" + target + "' --copy >'" + output + "'"),
                  0);
        EXPECT_EQ(TempFolder::read(output).find("\xE6\x88\x90\xE5\x8A\x9F"), std::string::npos)
            << TempFolder::read(output);  // no row says "成功"
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, KelvanePowerCut, ::testing::Values("xfs", "ext4"));

}  // namespace
