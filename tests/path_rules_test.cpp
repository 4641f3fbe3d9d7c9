// The path rules of both platforms, run on every platform. Each case names what
// each rule gives, so a case where the platforms differ fails against the
// other platform's rule; the last tests check that the build picks its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/path_rules.h"
#include "host/fs_path.h"
#include "host/paths.h"
#include "support/temp_folder.h"

namespace {

namespace win = base::windows_rules;
namespace posix = base::posix_rules;

struct HeldRootCase {
    std::string chosen;
    std::string windows;
    std::string posix;
};

class HeldRoot : public ::testing::TestWithParam<HeldRootCase> {};

TEST_P(HeldRoot, EachPlatformHoldsTheChosenFolderByItsOwnRule) {
    EXPECT_EQ(win::heldRoot(GetParam().chosen), GetParam().windows);
    EXPECT_EQ(posix::heldRoot(GetParam().chosen), GetParam().posix);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeldRoot,
    ::testing::Values(HeldRootCase{"D:\\", "D:", "D:\\"},  // drive root
                      HeldRootCase{"D:\\data\\", "D:\\data",
                                   "D:\\data\\"},  // "\" is no POSIX separator
                      HeldRootCase{"D:\\data", "D:\\data", "D:\\data"},
                      HeldRootCase{"\\\\srv\\share\\", "\\\\srv\\share", "\\\\srv\\share\\"},
                      HeldRootCase{"/", "/", "/"}, HeldRootCase{"/data/", "/data", "/data"}));

TEST(FullStructure, DriveSourceLosesItsDriveOnWindows) {
    EXPECT_EQ(win::fullStructureFolder("D:\\bak", "C:\\data\\src", "a\\b\\"),
              "D:\\bak\\data\\src\\a\\b\\");
    EXPECT_EQ(win::fullStructureFolder("D:\\bak", "C:\\data\\src", ""), "D:\\bak\\data\\src\\");
    // A source that is a drive root adds no level.
    EXPECT_EQ(win::fullStructureFolder("D:\\bak", "C:", "a\\"), "D:\\bak\\a\\");
    // The POSIX rule knows no drive: the letter stays part of the path.
    EXPECT_EQ(posix::fullStructureFolder("/bak", "C:\\data\\src", ""), "/bak/C:\\data\\src/");
}

TEST(FullStructure, NetworkSourceLandsBelowTheTargetNotBesideIt) {
    // Dropping two characters, as for a drive, would give "D:\baksrv\...".
    const std::string folder = win::fullStructureFolder("D:\\bak", "\\\\srv\\sh\\src", "a\\");
    EXPECT_EQ(folder, "D:\\bak\\srv\\sh\\src\\a\\");
    EXPECT_EQ(folder.find("baksrv"), std::string::npos);
}

TEST(FullStructure, PosixKeepsTheWholeSourcePath) {
    EXPECT_EQ(posix::fullStructureFolder("/bak", "/data/src", "a/b/"), "/bak/data/src/a/b/");
    EXPECT_EQ(posix::fullStructureFolder("/", "/data", ""), "/data/");
    // Under the Windows rule "/" is a separator too, but the first two
    // characters of a POSIX source are no drive: nothing of "/data" is lost.
    EXPECT_EQ(win::fullStructureFolder("/bak", "/data/src", "a/b/"), "/bak\\data/src\\a/b/");
}

TEST(FullStructure, TrailingSeparatorsAreNotDoubled) {
    EXPECT_EQ(win::fullStructureFolder("D:\\bak\\", "C:\\data\\", "a\\"), "D:\\bak\\data\\a\\");
    EXPECT_EQ(posix::fullStructureFolder("/bak/", "/data/", "a/"), "/bak/data/a/");
}

TEST(PathParts, WindowsTakesPathsApartAtBackslashes) {
    EXPECT_EQ(win::baseName("D:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(win::parentPath("D:\\a\\b.txt"), "D:\\a");
    EXPECT_EQ(win::parentPath("D:\\b.txt"), "D:");
    EXPECT_EQ(win::parentPath("\\\\srv\\sh\\b.txt"), "\\\\srv\\sh");
    EXPECT_EQ(win::baseName("D:b.txt"), "b.txt");
    EXPECT_EQ(posix::baseName("D:\\a\\b.txt"), "D:\\a\\b.txt");
    EXPECT_EQ(posix::parentPath("D:\\a\\b.txt"), "");
    EXPECT_EQ(posix::parentPath("/b.txt"), "/");
    EXPECT_EQ(win::parentPath("/b.txt"), "/");
}

TEST(PathParts, JoiningUsesThePlatformsSeparatorOnce) {
    EXPECT_EQ(win::joinPath("D:", "a.txt"), "D:\\a.txt");
    EXPECT_EQ(win::joinPath("D:\\x\\", "a.txt"), "D:\\x\\a.txt");
    EXPECT_EQ(posix::joinPath("D:", "a.txt"), "D:/a.txt");
    EXPECT_EQ(posix::joinPath("/x/", "a.txt"), "/x/a.txt");
    EXPECT_EQ(win::joinPath("", "a.txt"), "a.txt");
    EXPECT_EQ(posix::joinPath("", "a.txt"), "a.txt");
}

TEST(PathParts, TheFileManagerGetsADriveWithItsRoot) {
    EXPECT_EQ(win::folderForShell("D:"), "D:\\");
    EXPECT_EQ(win::folderForShell("D:\\bak"), "D:\\bak");
}

// How a list's first names are read: the Windows rule looks at the first name
// alone; the POSIX rule asks the files, because full paths and relative names
// both begin with "/" there.
class NameReadingRules : public ::testing::Test {
  protected:
    host::NameReading posixReading(const std::vector<std::string>& names) {
        return posix::nameReading(
            static_cast<long>(names.size()),
            [&](long i) { return names[static_cast<std::size_t>(i - 1)]; }, root_,
            [&](const std::string& path) { return files_.count(path) > 0; });
    }
    std::string root_ = "/src";
    std::map<std::string, bool> files_;
};

TEST_F(NameReadingRules, NetworkNamesRunInRelativeModeOnWindows) {
    EXPECT_EQ(win::nameReading("\\\\srv\\sh\\a.txt"), host::NameReading::Relative);
    EXPECT_EQ(posixReading({"\\\\srv\\sh\\a.txt"}), host::NameReading::Unfit);
}

TEST_F(NameReadingRules, ADriveLetterMakesAFullPathOnWindowsOnly) {
    EXPECT_EQ(win::nameReading("C:\\data\\a.txt"), host::NameReading::Full);
    EXPECT_EQ(posixReading({"C:\\data\\a.txt"}), host::NameReading::Unfit);
}

TEST_F(NameReadingRules, ASlashFirstIsUnfitOnWindowsAndDecidedByTheFilesOnPosix) {
    EXPECT_EQ(win::nameReading("/data/a.txt"), host::NameReading::Unfit);
    files_["/data/a.txt"] = true;
    EXPECT_EQ(posixReading({"/data/a.txt"}), host::NameReading::Full);
    files_["/src/data/a.txt"] = true;
    EXPECT_EQ(posixReading({"/data/a.txt"}), host::NameReading::Relative);
}

TEST_F(NameReadingRules, BackslashFirstIsRelativeOnWindows) {
    EXPECT_EQ(win::nameReading("\\a\\b.txt"), host::NameReading::Relative);
    EXPECT_EQ(win::nameReading("abc.txt"), host::NameReading::Unfit);
    EXPECT_EQ(win::nameReading("C"), host::NameReading::Unfit);
}

// The build's own choice.
TEST(PlatformChoice, TheHostFunctionsFollowThisPlatformsRules) {
#ifdef _WIN32
    EXPECT_EQ(host::separator(), '\\');
    EXPECT_EQ(host::heldRoot("D:\\"), win::heldRoot("D:\\"));
    EXPECT_EQ(host::fullStructureFolder("D:\\bak", "\\\\srv\\sh", ""),
              win::fullStructureFolder("D:\\bak", "\\\\srv\\sh", ""));
    const std::vector<std::string> names{"\\\\srv\\sh\\a.txt"};
    EXPECT_EQ(host::listNameReading(
                  1, [&](long) { return names[0]; }, "C:\\none"),
              host::NameReading::Relative);
#else
    EXPECT_EQ(host::separator(), '/');
    EXPECT_EQ(host::heldRoot("D:\\"), posix::heldRoot("D:\\"));
    EXPECT_EQ(host::fullStructureFolder("/bak", "/data", "a/"),
              posix::fullStructureFolder("/bak", "/data", "a/"));
#endif
    EXPECT_EQ(host::joinPath("x", "y"), std::string("x") + host::separator() + "y");
}

}  // namespace

namespace {

TEST(FilesystemPaths, ProgramTextsReachStdFilesystemAsUtf8) {
    const std::string chinese = "资料\\报告.txt";
    EXPECT_EQ(host::fsPathText(host::fsPath(chinese)), chinese);
#ifdef _WIN32
    // Two characters, a separator and a name: UTF-8 read as UTF-8, not as ANSI.
    EXPECT_EQ(host::fsPath("资料").native(), std::wstring(L"\u8D44\u6599"));
#else
    // Bytes that are not UTF-8 pass unchanged, as file names may hold them.
    const std::string odd = "a\xFF\xFE.txt";
    EXPECT_EQ(host::fsPath(odd).native(), odd);
    EXPECT_EQ(host::fsPathText(host::fsPath(odd)), odd);
#endif
}

}  // namespace

namespace {

TEST(Containment, OnlyASeparatorEndsTheFolderAndStepsAreResolved) {
    // Below the temporary folder, where nothing of these names exists: what
    // does not exist is taken as written.
    const std::string base =
        host::heldRoot(host::fsPathText(std::filesystem::temp_directory_path()));
    const auto at = [&](const std::string& relative) { return host::joinPath(base, relative); };
    EXPECT_EQ(host::pathInside(at("t"), at("t2/x")), std::nullopt);
    EXPECT_EQ(host::pathInside(at("t"), at("t")), "");
    EXPECT_EQ(host::pathInside(at("t") + host::separator(), at("t")), "");
    EXPECT_EQ(host::pathInside(at("t"), at("u/../t/./a")), "a");
    EXPECT_EQ(host::pathInside(at("t/a"), at("t")), std::nullopt);
    EXPECT_EQ(host::pathInside("", at("t")), std::nullopt);
    EXPECT_TRUE(host::pathInside(base.substr(0, base.find_first_of("/\\") + 1), at("t")));

    EXPECT_EQ(host::absoluteLexically("x/../src/", base), at("src"));
    EXPECT_EQ(host::absoluteLexically(at("x/../src"), "/elsewhere"), at("x/../src"));
}

#ifndef _WIN32
// The keys a walk gets with its parents' keys kept are those each folder's own
// resolution gives: through a link on the way, at a link itself, for folders
// still to be made, and from one parent to another.
TEST(FolderKeys, KeptParentsGiveWhatAWholeResolutionGives) {
    testing_support::TempFolder folder;
    folder.mkdir("t/real/\xc3\x89");
    std::filesystem::create_directory_symlink("real", folder / "t/link");
    host::FolderKeys keys;
    for (const std::string relative :
         {"t/real/\xc3\x89", "t/real/e\xcc\x81x/", "t/link", "t/link/\xc3\x89", "t/link/new/deeper",
          "t/real/../link/\xc3\x89", "t/missing/a", "t/missing/b", "t/real"}) {
        EXPECT_EQ(keys.of(folder / relative), host::folderKey(folder / relative)) << relative;
    }
}
#endif

}  // namespace
