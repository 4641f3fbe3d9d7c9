// torrin's settings file: defaults, the source folders dealt over three keys
// and read back grouped, and what the window's close keeps or writes.
#include <gtest/gtest.h>

#include "host/encoding.h"
#include "host/ini.h"
#include "support/temp_folder.h"
#include "torrin/torrin_settings.h"

using testing_support::TempFolder;
using torrin::CloseState;
using torrin::Settings;

namespace {

class TorrinSettings : public ::testing::Test {
  protected:
    void writeProfile(const std::string& utf8Text) {
        folder.write("confi9.ini", host::utf8ToGbk(utf8Text));
    }
    std::string stored(const char* key) const {
        return host::iniRead(profile, "other", key, "<missing>");
    }
    CloseState closeState(std::vector<std::string> rows) const {
        CloseState state;
        state.threshold = "2024-03-05 06:07:08";
        state.target = folder / "target";
        state.rows = std::move(rows);
        return state;
    }

    TempFolder folder;
    std::string profile = torrin::profilePath(folder.path());
};

TEST_F(TorrinSettings, SettingsAndLogLieInTheWorkingDirectory) {
    EXPECT_EQ(torrin::profilePath("/work/here"), "/work/here/confi9.ini");
    EXPECT_EQ(torrin::logPath("/work/here"), "/work/here/log.txt");
    EXPECT_EQ(torrin::profilePath("/"), "/confi9.ini");
}

TEST_F(TorrinSettings, MissingFileGivesEveryDefault) {
    const Settings settings = torrin::loadSettings(profile);
    EXPECT_EQ(settings.mpath, "");
    EXPECT_EQ(settings.fdt, "");
    EXPECT_EQ(settings.bkycwj, "y");
    EXPECT_EQ(settings.sfth, "y");
    EXPECT_EQ(settings.qmljg, "y");
    EXPECT_TRUE(torrin::storedSourceFolders(settings).empty());
}

TEST_F(TorrinSettings, ReadsEveryKeyFromGbkText) {
    writeProfile(
        "[other]\r\nmpath=/备份\r\nfdt=2024-01-02 03:04:05\r\nbkycwj=n\r\nsfth=Y\r\n"
        "qmljg=no\r\nypath1=/源;/b;\r\nypath2=/c\r\n");
    const Settings settings = torrin::loadSettings(profile);
    EXPECT_EQ(settings.mpath, "/备份");
    EXPECT_EQ(settings.fdt, "2024-01-02 03:04:05");
    EXPECT_FALSE(torrin::isOn(settings.bkycwj));
    // Only exactly "y" is on.
    EXPECT_FALSE(torrin::isOn(settings.sfth));
    EXPECT_FALSE(torrin::isOn(settings.qmljg));
    EXPECT_EQ(torrin::storedSourceFolders(settings), (std::vector<std::string>{"/源", "/b", "/c"}));
}

TEST_F(TorrinSettings, DealsRowsInTurnOverTheThreeKeys) {
    using Values = std::array<std::string, 3>;
    EXPECT_EQ(torrin::dealSourceFolders({"A", "B", "C", "D", "E"}), (Values{"A;D;", "B;E;", "C"}));
    EXPECT_EQ(torrin::dealSourceFolders({"A"}), (Values{"A", "", ""}));
    EXPECT_EQ(torrin::dealSourceFolders({"A", "B", "C"}), (Values{"A", "B", "C"}));
    EXPECT_EQ(torrin::dealSourceFolders({"1", "2", "3", "4", "5", "6", "7"}),
              (Values{"1;4;7;", "2;5;", "3;6;"}));
}

TEST_F(TorrinSettings, FiveFoldersAreStoredDealtAndReloadGroupedByKey) {
    ASSERT_TRUE(torrin::saveCloseSettings(profile, closeState({"A", "B", "C", "D", "E"})));
    EXPECT_EQ(stored("ypath1"), "A;D;");
    EXPECT_EQ(stored("ypath2"), "B;E;");
    EXPECT_EQ(stored("ypath3"), "C");
    EXPECT_EQ(torrin::storedSourceFolders(torrin::loadSettings(profile)),
              (std::vector<std::string>{"A", "D", "B", "E", "C"}));
}

TEST_F(TorrinSettings, FewerRowsClearTheKeysTheyNoLongerReach) {
    ASSERT_TRUE(torrin::saveCloseSettings(profile, closeState({"A", "B", "C", "D"})));
    ASSERT_TRUE(torrin::saveCloseSettings(profile, closeState({"X"})));
    EXPECT_EQ(stored("ypath1"), "X");
    EXPECT_EQ(stored("ypath2"), "");
    EXPECT_EQ(stored("ypath3"), "");
    EXPECT_EQ(torrin::storedSourceFolders(torrin::loadSettings(profile)),
              std::vector<std::string>{"X"});
}

TEST_F(TorrinSettings, EmptyGridKeepsTheStoredFolders) {
    writeProfile("[other]\r\nypath1=/a;/d;\r\nypath2=/b\r\n");
    ASSERT_TRUE(torrin::saveCloseSettings(profile, closeState({})));
    EXPECT_EQ(stored("ypath1"), "/a;/d;");
    EXPECT_EQ(stored("ypath2"), "/b");
    EXPECT_EQ(stored("mpath"), folder / "target");
}

TEST_F(TorrinSettings, CloseWritesTheOptionsAsYOrN) {
    CloseState state = closeState({"A"});
    state.replace = false;
    state.includeHidden = true;
    state.fullStructure = false;
    ASSERT_TRUE(torrin::saveCloseSettings(profile, state));
    EXPECT_EQ(stored("sfth"), "n");
    EXPECT_EQ(stored("bkycwj"), "y");
    EXPECT_EQ(stored("qmljg"), "n");
    EXPECT_EQ(stored("fdt"), "2024-03-05 06:07:08");
}

TEST_F(TorrinSettings, IncompleteThresholdKeepsTheStoredOne) {
    writeProfile("[other]\r\nfdt=2020-01-01 00:00:00\r\n");
    for (const char* incomplete :
         {"", "2024-03-05 06:07:", "2024-03-05", "2024-02-30 06:07:08", "2024-03-05 25:00:00"}) {
        CloseState state = closeState({"A"});
        state.threshold = incomplete;
        ASSERT_TRUE(torrin::saveCloseSettings(profile, state));
        EXPECT_EQ(stored("fdt"), "2020-01-01 00:00:00") << incomplete;
    }
}

TEST_F(TorrinSettings, MpathIsWrittenAtOnceKeepingTheOtherKeys) {
    writeProfile("[other]\r\nfdt=2020-01-01 00:00:00\r\nypath1=/a\r\n");
    ASSERT_TRUE(torrin::saveTarget(profile, "/目标"));
    EXPECT_EQ(stored("mpath"), "/目标");
    EXPECT_EQ(stored("fdt"), "2020-01-01 00:00:00");
    EXPECT_EQ(stored("ypath1"), "/a");
    // Stored as GBK, the settings file's code page.
    EXPECT_NE(TempFolder::read(profile).find(host::utf8ToGbk("mpath=/目标")), std::string::npos);
}

TEST(TorrinThreshold, NeedsAValidDateFirstAndAValidTimeLast) {
    EXPECT_TRUE(torrin::isValidThreshold("2024-02-29 23:59:59"));
    EXPECT_FALSE(torrin::isValidThreshold("2023-02-29 23:59:59"));
    EXPECT_FALSE(torrin::isValidThreshold("2024-02-29 24:00:00"));
    EXPECT_FALSE(torrin::isValidThreshold("2024-02-29 23:59:"));
    EXPECT_FALSE(torrin::isValidThreshold(""));
    EXPECT_FALSE(torrin::isValidThreshold("    -  -     :  :  "));
}

}  // namespace
