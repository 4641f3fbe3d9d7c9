// A user's files named like temporary files (other programs' shapes, this
// program's earlier ones) are listed, copied and never deleted, by kelvane's
// engine (run by an ordinary user) and command line and by torrin, on a
// memory file system, on ext4 and on FAT (where O_TMPFILE is refused and the
// named temporary files are taken for real).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "hardening_support.h"
#include "host/fs.h"
#include "support/mounted.h"
#include "support/temp_folder.h"

namespace {

using testing_support::Mounted;
using testing_support::TempFolder;

const bool memoryTemporaryFolders = hardening::preferMemoryTemporaryFolders();

// Names like the temporary files of many programs, this one's earlier versions
// included; all of them are a user's files.
const std::map<std::string, std::string> kSourceFiles = {
    {"report.txt", "new report"},
    {".report.txt.deadbeef.partial", "a user's file"},
    {".notes.0123abcd.partial", "a user's notes"},
    {"sub/.x.0123456789abcdef.partial", "deep"},
    {"sub/~$report.docx", "office lock"},
    {"sub/.report.txt.swp", "editor swap"},
};
// In the target only: must survive every copy into it.
const std::map<std::string, std::string> kTargetOnly = {
    {".report.txt.0123abcd.partial", "the user's own, in the target"},
    {".report.txt.0123456789abcdef.partial", "another"},
};

std::string kelvaneProgram(const std::string& source, const std::string& target,
                           const std::string& output) {
    return std::string("'") + KELVANE_PROGRAM + "' check '" + source + "' '" + target +
           "' --copy >'" + output + "' 2>&1";
}

// `folder` holds `files` byte for byte and no temporary file of ours.
void expectHolds(const std::string& folder, const std::map<std::string, std::string>& files) {
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(host::readFile(folder + "/" + name).value_or("<missing>"), bytes)
            << folder << "/" << name;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        EXPECT_FALSE(host::isTemporaryName(entry.path().filename().string())) << entry.path();
}

class LookalikeNames : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        top_ = temp_.mkdir("top");
        mounted_.emplace(GetParam(), temp_ / "image", top_);
        SKIP_UNLESS_MOUNTED(GetParam(), *mounted_);
        for (const char* folder : {"/s", "/s/sub", "/t", "/t2", "/t3"})
            ASSERT_TRUE(host::createFolder(top_ + folder)) << top_ << folder;
        for (const auto& [name, bytes] : kSourceFiles)
            ASSERT_TRUE(host::writeFileAtomically(top_ + "/s/" + name, bytes));
        ASSERT_TRUE(host::writeFileAtomically(top_ + "/t/report.txt", "old report"));
        for (const auto& [name, bytes] : kTargetOnly)
            ASSERT_TRUE(host::writeFileAtomically(top_ + "/t/" + name, bytes));
    }

    TempFolder temp_;
    std::string top_;
    std::optional<Mounted> mounted_;
};

TEST_P(LookalikeNames, AreListedCopiedAndNeverDeleted) {
    if (GetParam() == "vfat") {
        // The point of this file system: no nameless files here.
        const int fd = ::open((top_ + "/t").c_str(), O_TMPFILE | O_WRONLY, 0600);
        EXPECT_LT(fd, 0) << "O_TMPFILE works on this FAT mount";
        if (fd >= 0) ::close(fd);
    }
    // kelvane copies as an ordinary user (root may do what a user may not,
    // AT_EMPTY_PATH among it), except on FAT, whose FUSE mount is root's alone.
    auto kelvaneCopy = [&]() -> std::string {
        grid::Grid list(grid::loadGridDefinition("htmd1"));
        const auto summary =
            hardening::walkAndCopy(list, top_ + "/s", top_ + "/t", true, host::kListEverything);
        return "listed " + std::to_string(list.rowcount()) + ", failed " +
               std::to_string(summary.failed);
    };
    if (GetParam() != "vfat") hardening::giveToNobody(temp_.path());
    EXPECT_EQ(GetParam() == "vfat" ? kelvaneCopy() : hardening::runUnprivileged(kelvaneCopy),
              "listed " + std::to_string(kSourceFiles.size()) + ", failed 0");
    std::map<std::string, std::string> expected = kSourceFiles;
    expected.insert(kTargetOnly.begin(), kTargetOnly.end());
    expectHolds(top_ + "/t", expected);

    const auto result = hardening::torrinCopyAll(top_ + "/s", top_ + "/t2", temp_ / "log.txt");
    EXPECT_EQ(result.cgcs, static_cast<long>(kSourceFiles.size()));
    expectHolds(top_ + "/t2", kSourceFiles);

    const std::string output = temp_ / "out.txt";
    EXPECT_EQ(Mounted::run(kelvaneProgram(top_ + "/s", top_ + "/t3", output)), 0);
    expectHolds(top_ + "/t3", kSourceFiles);
    const std::string printed = host::readFile(output).value_or("");
    for (const auto& [name, bytes] : kSourceFiles)
        EXPECT_NE(printed.find("/" + name + "\t成功"), std::string::npos) << name << printed;
}

INSTANTIATE_TEST_SUITE_P(FileSystems, LookalikeNames, ::testing::Values("", "ext4", "vfat"),
                         [](const auto& info) {
                             return info.param.empty() ? std::string("tmpfs") : info.param;
                         });

}  // namespace
