#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "host/ini.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

namespace {

using namespace std::string_literals;
using testing_support::TempFolder;

class IniStore : public ::testing::Test {
  protected:
    std::string put(const std::string& bytes) { return folder_.write("selmo1.ini", bytes); }
    std::string onDisk() const { return TempFolder::read(path()); }
    std::string path() const { return folder_ / "selmo1.ini"; }
    std::set<std::string> namesInFolder() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempFolder folder_;
};

// ---- Reading ---------------------------------------------------------------

TEST_F(IniStore, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(host::iniRead(path(), "other", "hjlltj", "0"), "0");
    put("[other]\r\nsle_1=D:\\data\r\n");
    EXPECT_EQ(host::iniRead(path(), "another", "sle_1", "dflt"), "dflt");
    EXPECT_EQ(host::iniRead(path(), "other", "sle_2", ""), "");
    EXPECT_EQ(host::iniRead(path(), "other", "bkycwj", "y"), "y");
    EXPECT_EQ(host::iniRead(path(), "other", "sle_1", "x"), "D:\\data");
}

TEST_F(IniStore, ReadingAloneCreatesNothing) {
    host::IniFile ini(path());
    EXPECT_EQ(ini.read("other", "k", "d"), "d");
    EXPECT_TRUE(ini.save());
    EXPECT_FALSE(std::filesystem::exists(path()));
}

TEST_F(IniStore, NamesMatchWithoutCaseAndBlanks) {
    put("[ Other ]\r\n  SLE_1 \t=  D:\\data  \r\n");
    EXPECT_EQ(host::iniRead(path(), "other", "sle_1", ""), "D:\\data");
    EXPECT_EQ(host::iniRead(path(), " OTHER", "Sle_1 ", ""), "D:\\data");
}

TEST_F(IniStore, EnclosingQuotesAreRemoved) {
    put("[other]\na=\"two words\"\nb='x'\nc=\"x'\nd=\"\"\ne=\"\n");
    EXPECT_EQ(host::iniRead(path(), "other", "a", "-"), "two words");
    EXPECT_EQ(host::iniRead(path(), "other", "b", "-"), "x");
    EXPECT_EQ(host::iniRead(path(), "other", "c", "-"), "\"x'");
    EXPECT_EQ(host::iniRead(path(), "other", "d", "-"), "");
    EXPECT_EQ(host::iniRead(path(), "other", "e", "-"), "\"");
}

TEST_F(IniStore, CommentsAndStrayLinesAreNotKeys) {
    put("k=outside\n[other]\n;k=semicolon\n#k=hash\nno equals sign\n[next]\nk=next\n");
    EXPECT_EQ(host::iniRead(path(), "other", "k", "none"), "none");
    EXPECT_EQ(host::iniRead(path(), "other", ";k", "none"), "none");
    EXPECT_EQ(host::iniRead(path(), "next", "k", "none"), "next");
}

TEST_F(IniStore, EmptyValueIsNotTheDefault) {
    put("[other]\r\nsle_1=\r\n");
    EXPECT_EQ(host::iniRead(path(), "other", "sle_1", "dflt"), "");
}

// ---- Writing in place ------------------------------------------------------

TEST_F(IniStore, ReplacingAValueKeepsEveryOtherByte) {
    const std::string before =
        "; settings\n[first]\nsle_1=keep\n\n[Other]\n# note\n  SLE_1 = old value \nbkycwj=y\n";
    put(before);
    ASSERT_TRUE(host::iniWrite(path(), "other", "sle_1", "new"));
    EXPECT_EQ(onDisk(),
              "; settings\n[first]\nsle_1=keep\n\n[Other]\n# note\n  SLE_1 = new\nbkycwj=y\n");
}

TEST_F(IniStore, NewKeyGoesAfterTheLastLineOfItsSection) {
    put("[other]\r\na=1\r\n; last\r\n\r\n\r\n[next]\r\nb=2\r\n");
    ASSERT_TRUE(host::iniWrite(path(), "OTHER", "hjlltj", "3"));
    EXPECT_EQ(onDisk(), "[other]\r\na=1\r\n; last\r\nhjlltj=3\r\n\r\n\r\n[next]\r\nb=2\r\n");
}

TEST_F(IniStore, NewSectionGoesAtTheEndAfterABlankLine) {
    put("[first]\nx=1\n");
    ASSERT_TRUE(host::iniWrite(path(), "other", "k", "v"));
    EXPECT_EQ(onDisk(), "[first]\nx=1\n\n[other]\nk=v\n");
}

TEST_F(IniStore, MissingFinalLineEndStaysMissing) {
    put("[other]\r\na=1");
    ASSERT_TRUE(host::iniWrite(path(), "other", "b", "2"));
    EXPECT_EQ(onDisk(), "[other]\r\na=1\r\nb=2");
    ASSERT_TRUE(host::iniWrite(path(), "z", "c", "3"));
    EXPECT_EQ(onDisk(), "[other]\r\na=1\r\nb=2\r\n\r\n[z]\r\nc=3");
}

TEST_F(IniStore, MixedLineEndsAreKeptPerLine) {
    put("[other]\na=1\r\nb=2\n");
    ASSERT_TRUE(host::iniWrite(path(), "other", "a", "9"));
    EXPECT_EQ(onDisk(), "[other]\na=9\r\nb=2\n");
}

TEST_F(IniStore, NewFileUsesCrLf) {
    host::IniFile ini(path());
    ini.write("other", "sle_1", "D:\\a");
    ini.write("other", "bkycwj", "n");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(onDisk(), "[other]\r\nsle_1=D:\\a\r\nbkycwj=n\r\n");
    EXPECT_EQ(ini.read("other", "bkycwj", ""), "n");
}

TEST_F(IniStore, FirstOfRepeatedSectionsOrKeysWins) {
    put("[other]\nk=1\nk=2\n[other]\nk=3\n");
    EXPECT_EQ(host::iniRead(path(), "other", "k", ""), "1");
    ASSERT_TRUE(host::iniWrite(path(), "other", "k", "x"));
    EXPECT_EQ(onDisk(), "[other]\nk=x\nk=2\n[other]\nk=3\n");
}

// ---- Values that the format could lose -------------------------------------

TEST_F(IniStore, ValuesSurviveTheirOwnQuotesAndBlanks) {
    host::IniFile ini(path());
    for (std::string value : {" padded "s, "\"quoted\""s, "'single'"s, "\t"s, "a=b;c"s}) {
        ini.write("other", "k", value);
        ASSERT_TRUE(ini.save());
        EXPECT_EQ(host::iniRead(path(), "other", "k", "-"), value);
    }
}

TEST_F(IniStore, LineBreaksInAValueCannotAddLines) {
    ASSERT_TRUE(host::iniWrite(path(), "other", "k", "x\r\n[evil]\r\nk2=y"));
    EXPECT_EQ(host::iniRead(path(), "evil", "k2", "none"), "none");
    EXPECT_EQ(host::iniRead(path(), "other", "k2", "none"), "none");
    EXPECT_EQ(host::iniRead(path(), "other", "k", ""), "x  [evil]  k2=y");
}

TEST_F(IniStore, NamesThatWouldBreakTheFileAreRefused) {
    put("[other]\r\na=1\r\n");
    host::IniFile ini(path());
    ini.write("other", "b=c", "v");
    ini.write("ot]her", "b", "v");
    ini.write("other", "", "v");
    ini.write("other", "x\ny", "v");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(onDisk(), "[other]\r\na=1\r\n");
}

// ---- GBK on disk -----------------------------------------------------------

TEST_F(IniStore, ChineseValueIsStoredAsGbk) {
    ASSERT_TRUE(host::iniWrite(path(), "other", "sle_1", "D:\\备份"));
    EXPECT_EQ(onDisk(), "[other]\r\nsle_1=D:\\\xB1\xB8\xB7\xDD\r\n");
    EXPECT_EQ(host::iniRead(path(), "other", "sle_1", ""), "D:\\备份");
}

TEST_F(IniStore, UndecodableBytesReadBackAndStayOnDisk) {
    const std::string before = "[other]\r\nsle_1=D:\\\xB1\xB8\xFF\r\nsle_2=\x80x\r\n";
    put(before);
    host::IniFile ini(path());
    std::string first = ini.read("other", "sle_1", "");
    EXPECT_EQ(first, "D:\\备\xFF");
    // Writing back what was read changes nothing and marks nothing.
    ini.write("other", "sle_1", first);
    ini.write("other", "sle_2", ini.read("other", "sle_2", ""));
    std::filesystem::remove(path());
    ASSERT_TRUE(ini.save());
    EXPECT_FALSE(std::filesystem::exists(path()));
    put(before);
    // Another change rewrites the file with both values byte for byte.
    ASSERT_TRUE(host::iniWrite(path(), "other", "bkycwj", "n"));
    EXPECT_EQ(onDisk(), before + "bkycwj=n\r\n");
    ASSERT_TRUE(host::iniWrite(path(), "other", "sle_2", "\x80x"));
    EXPECT_EQ(onDisk(), before + "bkycwj=n\r\n");
}

TEST_F(IniStore, ByteOrderMarkMeansUtf8) {
    put("\xEF\xBB\xBF[other]\nk=中\n");
    EXPECT_EQ(host::iniRead(path(), "other", "k", ""), "中");
    ASSERT_TRUE(host::iniWrite(path(), "OTHER", "k2", "文"));
    EXPECT_EQ(onDisk(), "\xEF\xBB\xBF[other]\nk=中\nk2=文\n");
}

// ---- Saving ----------------------------------------------------------------

TEST_F(IniStore, SaveLeavesNoTemporaryFile) {
    put("[other]\r\na=1\r\n");
    ASSERT_TRUE(host::iniWrite(path(), "other", "a", "2"));
    EXPECT_EQ(namesInFolder(), std::set<std::string>{"selmo1.ini"});
}

TEST_F(IniStore, FailedSaveInReadOnlyFolderLeavesFileUnchanged) {
    const std::string before = "[other]\r\na=1\r\n";
    put(before);
    testing_support::giveToNobody(folder_.path());
    testing_support::asUnprivileged([&] {
        ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);
        host::IniFile ini(path());
        ini.write("other", "a", "2");
        EXPECT_FALSE(ini.save());
        EXPECT_FALSE(host::iniWrite(path(), "other", "b", "3"));
    });
    ::chmod(folder_.path().c_str(), 0755);
    EXPECT_EQ(onDisk(), before);
    EXPECT_EQ(namesInFolder(), std::set<std::string>{"selmo1.ini"});
}

TEST_F(IniStore, UnreadableFileIsNeverOverwritten) {
    const std::string before = "[other]\r\na=1\r\nmany=settings\r\n";
    put(before);
    testing_support::giveToNobody(folder_.path());
    testing_support::asUnprivileged([&] {
        ASSERT_EQ(::chmod(path().c_str(), 0200), 0);
        host::IniFile ini(path());
        EXPECT_EQ(ini.read("other", "a", "d"), "d");
        ini.write("other", "a", "2");
        EXPECT_FALSE(ini.save());
    });
    ::chmod(path().c_str(), 0644);
    EXPECT_EQ(onDisk(), before);
}

TEST_F(IniStore, SaveIntoMissingFolderFails) {
    const std::string inMissing = folder_ / "no-such-folder/selmo1.ini";
    EXPECT_FALSE(host::iniWrite(inMissing, "other", "a", "1"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "no-such-folder"));
}

TEST_F(IniStore, PathNamingAFolderIsNotReplaced) {
    folder_.mkdir("selmo1.ini");
    folder_.write("selmo1.ini/inside", "keep");
    EXPECT_FALSE(host::iniWrite(path(), "other", "a", "1"));
    EXPECT_EQ(TempFolder::read(folder_ / "selmo1.ini/inside"), "keep");
}

// ---- Awkward content -------------------------------------------------------

TEST_F(IniStore, LongLinesAndNulBytesSurvive) {
    const std::string longValue(100 * 1024, 'x');
    const std::string before = "[other]\r\nlong=" + longValue + "\r\nnul=a\0b\r\n\0\0junk\r\n"s;
    put(before);
    EXPECT_EQ(host::iniRead(path(), "other", "long", ""), longValue);
    EXPECT_EQ(host::iniRead(path(), "other", "nul", ""), "a\0b"s);
    ASSERT_TRUE(host::iniWrite(path(), "other", "k", "v"));
    EXPECT_EQ(onDisk(), before + "k=v\r\n");
    ASSERT_TRUE(host::iniWrite(path(), "other", "nul", "c\0d"s));
    EXPECT_EQ(host::iniRead(path(), "other", "nul", ""), "c\0d"s);
    EXPECT_EQ(host::iniRead(path(), "other", "long", ""), longValue);
}

TEST_F(IniStore, BinaryGarbageIsReadWithoutLoss) {
    std::string garbage;
    for (int i = 0; i < 256; ++i) garbage += static_cast<char>(i);
    const std::string before = garbage + "\n[other]\na=1\n" + garbage;
    put(before);
    EXPECT_EQ(host::iniRead(path(), "other", "a", ""), "1");
    ASSERT_TRUE(host::iniWrite(path(), "other", "a", "2"));
    EXPECT_EQ(onDisk(), garbage + "\n[other]\na=2\n" + garbage);
}

}  // namespace
