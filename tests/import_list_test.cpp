// Filling a name list from a list file without the window: the text-list
// rule, encodings and line ends, the renumbering after every import, and a
// failed import leaving the list as it was.
#include <gtest/gtest.h>

#include "base/text.h"
#include "grid/grid.h"
#include "host/encoding.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/import/list_rows.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "support/result_text.h"
#include "support/temp_folder.h"

using grid::Grid;
using kelvane::importListFile;
using testing_support::reasonIn;
using testing_support::TempFolder;

namespace {

TEST(TextListRule, TheLastThreeCharactersDecide) {
    EXPECT_TRUE(kelvane::isTextListName("/a/list.txt"));
    EXPECT_TRUE(kelvane::isTextListName("/a/list.TxT"));
    EXPECT_TRUE(kelvane::isTextListName("/a/listtxt"));  // no dot needed
    EXPECT_FALSE(kelvane::isTextListName("/a/list.csv"));
    EXPECT_FALSE(kelvane::isTextListName("/a/list.dat"));
    EXPECT_FALSE(kelvane::isTextListName("/a/list.txt "));
    EXPECT_FALSE(kelvane::isTextListName("xt"));
}

TEST(TextListRule, OnlySpacesAreTrimmed) {
    EXPECT_EQ(kelvane::trimSpaces("  \\a b.txt  "), "\\a b.txt");
    EXPECT_EQ(kelvane::trimSpaces("   "), "");
    EXPECT_EQ(kelvane::trimSpaces("\u3000全角\u3000"), "\u3000全角\u3000");
}

class ListImport : public ::testing::Test {
  protected:
    host::Result<long> import(const std::string& path, int firstRow = 2, int column = 1) {
        return importListFile(grid, path, firstRow, column, progress);
    }
    void addRow(const std::string& name, const std::string& result) {
        const long row = grid.insertrow(0);
        grid.setitem(row, "xh", 99.0);
        grid.setitem(row, "md", name);
        grid.setitem(row, "jg", result);
    }
    std::vector<std::string> column(const char* name) const {
        std::vector<std::string> values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemstring(row, name));
        return values;
    }
    std::vector<double> numbers() const {
        std::vector<double> values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemnumber(row, "xh"));
        return values;
    }

    TempFolder folder;
    Grid grid{grid::loadGridDefinition("htmd1")};
    host::NullProgress progress;
};

using Texts = std::vector<std::string>;

TEST_F(ListImport, TextListIsTrimmedNumberedAndMarkedDifferent) {
    const std::string path = folder.write("list.txt", " \\a.txt \n\\b.txt\n");
    EXPECT_EQ(import(path), 2);
    EXPECT_EQ(column("md"), (Texts{"\\a.txt", "\\b.txt"}));
    EXPECT_EQ(numbers(), (std::vector<double>{1, 2}));
    EXPECT_EQ(column("jg"), (Texts{"不同", "不同"}));
}

TEST_F(ListImport, WindowsLineEndsByteOrderMarkAndNoFinalLineEnd) {
    const std::string path =
        folder.write("crlf.TXT", "\xEF\xBB\xBF\\目录\\甲.txt\r\n\\乙.txt\r\n\\丙.txt");
    EXPECT_EQ(import(path), 3);
    EXPECT_EQ(column("md"), (Texts{"\\目录\\甲.txt", "\\乙.txt", "\\丙.txt"}));
}

// Old Mac line ends split as LF and CR LF do, and UTF-16 without a mark is
// read as UTF-16; any other zero byte makes the file no text list.
TEST_F(ListImport, CrLineEndsUtf16WithoutAMarkAndZeroBytes) {
    EXPECT_EQ(import(folder.write("mac.txt", "\\a.txt\r\\b.txt\r\r\\c.txt\n\\d.txt\r"), 1), 4);
    EXPECT_EQ(column("md"), (Texts{"\\a.txt", "\\b.txt", "\\c.txt", "\\d.txt"}));
    grid.reset();

    std::string utf16;
    for (char16_t unit : std::u16string(u"\\甲.txt\r\n\\b.txt\r\n"))
        utf16 += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    EXPECT_EQ(import(folder.write("utf16.txt", utf16), 1), 2);
    EXPECT_EQ(column("md"), (Texts{"\\甲.txt", "\\b.txt"}));

    const host::Result<long> refused =
        import(folder.write("zero-byte.txt", std::string("keep.txt\0junk\r\nnext.txt\r\n", 24)));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().reason, "不是电子表格或文本文件");
    EXPECT_EQ(column("md"), (Texts{"\\甲.txt", "\\b.txt"}));
}

TEST_F(ListImport, GbkTextIsDetected) {
    const std::string path =
        folder.write("gbk.txt", host::utf8ToGbk("\\资料\\报告.doc\r\n\\图片.jpg\r\n"));
    EXPECT_EQ(import(path), 2);
    EXPECT_EQ(column("md"), (Texts{"\\资料\\报告.doc", "\\图片.jpg"}));
}

// These GBK bytes happen to be valid UTF-8; the text list and the .csv alike
// must still read them as GBK.
TEST_F(ListImport, GbkThatLooksLikeUtf8IsGbk) {
    const std::string gbk = host::utf8ToGbk("md\n/郑伟.txt\n/谢强.doc\n/目录.txt\n");
    ASSERT_TRUE(base::isValidUtf8(gbk));
    ASSERT_TRUE(import(folder.write("gbk.txt", gbk)));
    Texts expected = {"md", "/郑伟.txt", "/谢强.doc", "/目录.txt"};
    if (kelvane::spreadsheetReaderAvailable()) {
        ASSERT_TRUE(import(folder.write("gbk.csv", gbk)));  // from row 2
        const Texts again(expected.begin() + 1, expected.end());
        expected.insert(expected.end(), again.begin(), again.end());
    }
    EXPECT_EQ(column("md"), expected);
}

TEST_F(ListImport, FurtherFieldsLandInTheirColumnsAndAreRenumbered) {
    const std::string path = folder.write(
        "fields.txt", "\\a.txt\t7\t相同\t12字节\t2024-01-02 03:04:05\t2023-01-01 00:00:00\n");
    ASSERT_TRUE(import(path));
    EXPECT_EQ(numbers(), std::vector<double>{1});
    EXPECT_EQ(column("jg"), Texts{"不同"});
    EXPECT_EQ(column("wjct"), Texts{"12字节"});
    EXPECT_EQ(column("xgrq"), Texts{"2024-01-02 03:04:05"});
    EXPECT_EQ(column("cjrq"), Texts{"2023-01-01 00:00:00"});
}

TEST_F(ListImport, RowsAreAddedAfterTheListAndAllShownRowsRenumbered) {
    addRow(" \\old1 ", "相同");
    addRow("\\old2", "相同");
    addRow("\\old3", "不同");
    ASSERT_TRUE(import(folder.write("more.txt", "\\new1\n\\new2\n")));
    EXPECT_EQ(column("md"), (Texts{"\\old1", "\\old2", "\\old3", "\\new1", "\\new2"}));
    EXPECT_EQ(numbers(), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(column("jg"), Texts(5, "不同"));
}

TEST_F(ListImport, RowsHiddenByAFilterAreLeftAlone) {
    addRow("\\same", "相同");
    addRow("\\different", "不同");
    grid.setfilter("jg = '不同'");
    grid.filter();
    ASSERT_TRUE(import(folder.write("one.txt", "\\new\n")));
    EXPECT_EQ(column("md"), (Texts{"\\different", "\\new"}));
    grid.setfilter("");
    grid.filter();
    ASSERT_EQ(grid.rowcount(), 3);
    EXPECT_EQ(grid.getitemstring(3, "md"), "\\same");
    EXPECT_EQ(grid.getitemstring(3, "jg"), "相同");
    EXPECT_EQ(grid.getitemnumber(3, "xh"), 99);
}

TEST_F(ListImport, SpreadsheetColumnFromTheStartRow) {
    if (!kelvane::spreadsheetReaderAvailable()) GTEST_SKIP() << "this build reads no spreadsheets";
    const std::string path = folder.write("list.csv", "名称,长度\n  \\a.txt ,1\n\n\\b.txt,2\n");
    EXPECT_EQ(import(path, 2, 1), 2);
    EXPECT_EQ(column("md"), (Texts{"\\a.txt", "\\b.txt"}));
    grid.reset();
    EXPECT_EQ(import(path, 1, 2), 3);
    EXPECT_EQ(column("md"), (Texts{"长度", "1", "2"}));
}

TEST_F(ListImport, AFailedImportLeavesTheListAsItWas) {
    addRow(" \\kept ", "相同");
    for (const std::string& path :
         {folder / "missing.txt", folder / "missing.xlsx",
          folder.write("bad.xls", "not a workbook"), folder.mkdir("folder.txt")}) {
        EXPECT_FALSE(import(path)) << path;
        ASSERT_EQ(grid.rowcount(), 1);
        EXPECT_EQ(grid.getitemstring(1, "md"), " \\kept ");
        EXPECT_EQ(grid.getitemstring(1, "jg"), "相同");
        EXPECT_EQ(grid.getitemnumber(1, "xh"), 99);
    }
}

TEST_F(ListImport, AMissingTextListNamesTheReason) {
    const host::Result<long> missing = import(folder / "missing.txt");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().path, folder / "missing.txt");
    // The system's own reason, as the file service words it on each platform.
    std::string reason;
    ASSERT_FALSE(reasonIn(host::readFile(folder / "missing.txt"), reason));
    EXPECT_NE(missing.error().reason.find(reason), std::string::npos) << missing.error().reason;
}

TEST_F(ListImport, PasteRenumberingKeepsBlanks) {
    addRow("\\old", "相同");
    grid.importtext(" \\pasted \r\n\\second\r\n");
    kelvane::renumberShownRows(grid, false, progress);
    EXPECT_EQ(column("md"), (Texts{"\\old", " \\pasted ", "\\second"}));
    EXPECT_EQ(numbers(), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(column("jg"), Texts(3, "不同"));
}

}  // namespace
