// The spreadsheet reader on files the tests write themselves: .xlsx from
// libxlsxwriter and hand-assembled packages, .xls as raw BIFF8/OLE2 bytes,
// .csv and other text; and the failures a user can run into.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <xlsxwriter.h>
#include <fstream>

#include "grid/grid.h"
#include "host/encoding.h"
#include "import_fixtures.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "support/temp_folder.h"

using kelvane::ListFileError;
using kelvane::readSpreadsheetColumn;
using kelvane::spreadsheetColumnLines;
using kelvane::sheet::DateKind;
using Cells = std::vector<std::string>;
using testing_support::TempFolder;

namespace {

TEST(SpreadsheetNumbers, WholeNumbersHaveNoPointOthersFifteenDigits) {
    using kelvane::sheet::numberText;
    EXPECT_EQ(numberText(42), "42");
    EXPECT_EQ(numberText(-7), "-7");
    EXPECT_EQ(numberText(-0.0), "0");
    EXPECT_EQ(numberText(123456789012345), "123456789012345");
    EXPECT_EQ(numberText(3.25), "3.25");
    EXPECT_EQ(numberText(0.1 + 0.2), "0.3");
    EXPECT_EQ(numberText(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(numberText(1e20), "1e+20");
    // Card and ID numbers keep every digit; small ones are written out.
    EXPECT_EQ(numberText(6222020200112233.0), "6222020200112233");
    EXPECT_EQ(numberText(9007199254740992.0), "9007199254740992");
    EXPECT_EQ(numberText(1e-05), "0.00001");
    EXPECT_EQ(numberText(-0.000123456), "-0.000123456");
}

// A name a spreadsheet would take for a formula or a number is saved in a
// .csv as a formula that gives its text, and the list import reads every
// name back as it was; a quote that never closes stops the import.
TEST(CsvLists, EveryNameSurvivesTheSpreadsheetAndComesBack) {
    TempFolder folder;
    const Cells names = {"=HYPERLINK(\"http://x\")",
                         "+1",
                         "-a.txt",
                         "@b",
                         "\tt",
                         "000123",
                         "2024-01-02",
                         "a,b",
                         "q\"q",
                         "1.txt",
                         "=\"quoted\""};
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    for (const std::string& name : names) grid.setitem(grid.insertrow(0), "md", name);
    const std::string path = folder / "names.csv";
    ASSERT_TRUE(grid.saveas(path, host::SaveFormat::Csv));
    const std::string text = TempFolder::read(path);
    EXPECT_NE(text.find("\r\n\"=\"\"000123\"\"\","), std::string::npos) << text;
    for (const char first : {'=', '+', '-', '@', '\t', '0', '2'})
        EXPECT_EQ(text.find(std::string("\r\n") + first), std::string::npos) << first;
    Cells read = readSpreadsheetColumn(path, 1);
    ASSERT_FALSE(read.empty());
    read.erase(read.begin());
    EXPECT_EQ(read, names);

    const std::string cut = folder.write("cut.csv", "md\r\na\r\n\"b,\r\nc\r\n");
    try {
        readSpreadsheetColumn(cut, 1);
        ADD_FAILURE() << "read";
    } catch (const kelvane::ListFileError& error) {
        EXPECT_EQ(error.reason(), "第3行的引号没有结束，文件不完整或已损坏");
        EXPECT_EQ(error.path(), cut);
    }
}

TEST(SpreadsheetDates, SerialNumbersBecomeCalendarDates) {
    using kelvane::sheet::serialDateText;
    EXPECT_EQ(serialDateText(45356, false, DateKind::Date), "2024-03-05");
    EXPECT_EQ(serialDateText(45356.75, false, DateKind::Date), "2024-03-05");
    EXPECT_EQ(serialDateText(45356.75, false, DateKind::DateTime), "2024-03-05 18:00:00");
    EXPECT_EQ(serialDateText(45356, false, DateKind::DateTime), "2024-03-05 00:00:00");
    // Rounded to the second, carrying into the next day.
    EXPECT_EQ(serialDateText(45356.9999999, false, DateKind::DateTime), "2024-03-06 00:00:00");
    EXPECT_EQ(serialDateText(0.5, false, DateKind::Time), "12:00:00");
    // A date-time in a time format shows its time of day; a duration its hours.
    EXPECT_EQ(serialDateText(45356.58969, false, DateKind::Time), "14:09:09");
    EXPECT_EQ(serialDateText(1.25, false, DateKind::Elapsed), "30:00:00");
    // The 1900 system's phantom leap day shifts the first two months.
    EXPECT_EQ(serialDateText(1, false, DateKind::Date), "1900-01-01");
    EXPECT_EQ(serialDateText(59, false, DateKind::Date), "1900-02-28");
    EXPECT_EQ(serialDateText(61, false, DateKind::Date), "1900-03-01");
    EXPECT_EQ(serialDateText(0, true, DateKind::Date), "1904-01-01");
    EXPECT_EQ(serialDateText(43894, true, DateKind::Date), "2024-03-05");
    EXPECT_EQ(serialDateText(-3, false, DateKind::Date), "-3");
    EXPECT_EQ(serialDateText(7.5, false, DateKind::None), "7.5");
}

TEST(SpreadsheetDates, FormatCodesAreClassified) {
    using kelvane::sheet::formatCodeKind;
    EXPECT_EQ(formatCodeKind("yyyy-mm-dd"), DateKind::Date);
    EXPECT_EQ(formatCodeKind("yyyy\"年\"m\"月\"d\"日\""), DateKind::Date);
    EXPECT_EQ(formatCodeKind("[$-804]mmmm"), DateKind::Date);
    EXPECT_EQ(formatCodeKind("yyyy/m/d h:mm AM/PM"), DateKind::DateTime);
    EXPECT_EQ(formatCodeKind("h:mm"), DateKind::Time);
    EXPECT_EQ(formatCodeKind("[h]:mm:ss"), DateKind::Elapsed);
    EXPECT_EQ(formatCodeKind("mm:ss"), DateKind::Time);
    EXPECT_EQ(formatCodeKind("General"), DateKind::None);
    EXPECT_EQ(formatCodeKind("0.00\"days\""), DateKind::None);
    EXPECT_EQ(formatCodeKind("#,##0.00_);[Red](#,##0.00)"), DateKind::None);
    EXPECT_EQ(formatCodeKind("0\\h"), DateKind::None);
    EXPECT_EQ(formatCodeKind("0.00;\"yes\""), DateKind::None);
    EXPECT_EQ(kelvane::sheet::builtInFormatKind(14), DateKind::Date);
    EXPECT_EQ(kelvane::sheet::builtInFormatKind(22), DateKind::DateTime);
    EXPECT_EQ(kelvane::sheet::builtInFormatKind(20), DateKind::Time);
    EXPECT_EQ(kelvane::sheet::builtInFormatKind(2), DateKind::None);
}

class SpreadsheetReading : public ::testing::Test {
  protected:
    // A workbook written by libxlsxwriter; `fill` writes into it.
    template <typename Fill>
    std::string writeXlsx(const std::string& name, Fill fill, bool constantMemory = false) {
        const std::string path = folder / name;
        lxw_workbook_options options{};
        options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
        lxw_workbook* workbook = workbook_new_opt(path.c_str(), &options);
        fill(workbook);
        EXPECT_EQ(workbook_close(workbook), LXW_NO_ERROR);
        return path;
    }
    // The reason the reader gives for `path`, after checking it names the file.
    std::string failureReason(const std::string& path, int column = 1) {
        try {
            readSpreadsheetColumn(path, column);
        } catch (const ListFileError& error) {
            EXPECT_EQ(error.path(), path);
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
            return error.reason();
        }
        ADD_FAILURE() << "no error for " << path;
        return "";
    }

    TempFolder folder;
};

TEST_F(SpreadsheetReading, XlsxColumnWithStringsNumbersAndGaps) {
    const std::string path = writeXlsx("list.xlsx", [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        worksheet_write_string(sheet, 0, 0, "文件名", nullptr);
        worksheet_write_string(sheet, 1, 0, "\\资料\\甲.txt", nullptr);
        worksheet_write_number(sheet, 2, 0, 42, nullptr);
        worksheet_write_number(sheet, 3, 0, 3.25, nullptr);
        // row 5 left empty
        worksheet_write_string(sheet, 5, 0, " 带空格 ", nullptr);
        worksheet_write_number(sheet, 6, 0, 1.0 / 3, nullptr);
        worksheet_write_string(sheet, 0, 1, "B1", nullptr);
        worksheet_write_string(sheet, 9, 1, "B10", nullptr);  // beyond column A's last row
    });
    EXPECT_EQ(readSpreadsheetColumn(path, 1), (Cells{"文件名", "\\资料\\甲.txt", "42", "3.25", "",
                                                     " 带空格 ", "0.333333333333333"}));
    EXPECT_EQ(readSpreadsheetColumn(path, 2), (Cells{"B1", "", "", "", "", "", "", "", "", "B10"}));
    EXPECT_EQ(readSpreadsheetColumn(path, 3), Cells{});
}

// The list's own .xlsx export reads back name for name, escapes included:
// readers turn "_xHHHH_" into a character, so the export must escape it.
TEST_F(SpreadsheetReading, ExportedNamesReadBackAsTheyWere) {
    const Cells names = {"x_x0041_y.txt", "_x005F_x0041_", "a_X00e9_b",   "__x0041__",
                         "_x12_",         "_x0041",        "ctl\x01name", "\\资料\\_x4E2D_.txt"};
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    for (const std::string& name : names) {
        grid.insertrow(0);
        grid.setitem(grid.rowcount(), "md", name);
    }
    const std::string path = folder / "names.xlsx";
    std::string error;
    ASSERT_TRUE(grid.saveas(path, host::SaveFormat::Xlsx, &error)) << error;
    Cells expected = {grid.headerText(0)};
    expected.insert(expected.end(), names.begin(), names.end());
    EXPECT_EQ(readSpreadsheetColumn(path, 1), expected);
}

TEST_F(SpreadsheetReading, StartRowSkipsTheHeadingAndEveryCellIsOneLine) {
    const std::string path = writeXlsx("lines.xlsx", [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        worksheet_write_string(sheet, 0, 2, "heading", nullptr);
        worksheet_write_string(sheet, 1, 2, "a\tb", nullptr);
        worksheet_write_string(sheet, 3, 2, "two\nlines", nullptr);
        worksheet_write_string(sheet, 4, 2, "crlf\r\nline\rend", nullptr);
    });
    EXPECT_EQ(spreadsheetColumnLines(path, 3, 2), "a b\n\ntwo lines\ncrlf line end\n");
    EXPECT_EQ(spreadsheetColumnLines(path, 3, 1), "heading\na b\n\ntwo lines\ncrlf line end\n");
    EXPECT_EQ(spreadsheetColumnLines(path, 3, 26), "");
}

TEST_F(SpreadsheetReading, XlsxDatesFollowTheirFormat) {
    const std::string path = writeXlsx("dates.xlsx", [](lxw_workbook* workbook) {
        lxw_format* builtIn = workbook_add_format(workbook);
        format_set_num_format_index(builtIn, 14);
        lxw_format* custom = workbook_add_format(workbook);
        format_set_num_format(custom, "yyyy\"年\"m\"月\"d\"日\" hh:mm:ss");
        lxw_format* time = workbook_add_format(workbook);
        format_set_num_format(time, "h:mm:ss");
        lxw_format* decimals = workbook_add_format(workbook);
        format_set_num_format(decimals, "0.00");
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        lxw_datetime when = {2024, 3, 5, 13, 45, 30};
        worksheet_write_datetime(sheet, 0, 0, &when, builtIn);
        worksheet_write_datetime(sheet, 1, 0, &when, custom);
        worksheet_write_number(sheet, 2, 0, 0.75, time);
        worksheet_write_number(sheet, 3, 0, 45356, decimals);
    });
    EXPECT_EQ(readSpreadsheetColumn(path, 1),
              (Cells{"2024-03-05", "2024-03-05 13:45:30", "18:00:00", "45356"}));
}

TEST_F(SpreadsheetReading, TheActiveSheetIsRead) {
    auto twoSheets = [](bool activateSecond) {
        return [activateSecond](lxw_workbook* workbook) {
            lxw_worksheet* first = workbook_add_worksheet(workbook, "一");
            lxw_worksheet* second = workbook_add_worksheet(workbook, "二");
            worksheet_write_string(first, 0, 0, "first", nullptr);
            worksheet_write_string(second, 0, 0, "second", nullptr);
            if (activateSecond) worksheet_activate(second);
        };
    };
    EXPECT_EQ(readSpreadsheetColumn(writeXlsx("a.xlsx", twoSheets(true)), 1), Cells{"second"});
    EXPECT_EQ(readSpreadsheetColumn(writeXlsx("b.xlsx", twoSheets(false)), 1), Cells{"first"});
}

TEST_F(SpreadsheetReading, XlsReadsTheActiveSheet) {
    using import_fixtures::XlsCell;
    const std::vector<std::vector<XlsCell>> sheets = {{{0, 0, std::string("first")}},
                                                      {{0, 0, std::string("second")}}};
    EXPECT_EQ(
        readSpreadsheetColumn(folder.write("a.xls", import_fixtures::xlsSheetsFile(sheets, 1)), 1),
        Cells{"second"});
    EXPECT_EQ(
        readSpreadsheetColumn(folder.write("b.xls", import_fixtures::xlsSheetsFile(sheets, 0)), 1),
        Cells{"first"});
}

// One workbook saved both ways gives one list: formula results (a filled-down
// column, a number, a date, a boolean, an error) and BOOLERR constants.
TEST_F(SpreadsheetReading, XlsFormulasAndBoolErrMatchTheXlsxTwin) {
    using import_fixtures::XlsBoolErr;
    using import_fixtures::XlsCell;
    using import_fixtures::XlsFormula;
    const std::vector<XlsCell> cells = {
        {0, 0, std::string("名称")},
        {1, 0, XlsFormula{std::string("/数据/a"), -1, true}},
        {2, 0, XlsFormula{std::string("/数据/b"), -1, false, 1}},
        {3, 0, XlsFormula{std::string("/数据/c"), -1, false, 1}},
        {4, 0, XlsFormula{2.0}},
        {5, 0, XlsFormula{45356.0}, true},
        {6, 0, XlsFormula{true}},
        {7, 0, XlsFormula{0.0, 0x2A}},
        {8, 0, XlsBoolErr{0, false}},
        {9, 0, XlsBoolErr{0x07, true}},
        {10, 0, XlsFormula{std::string()}},
        {11, 0, std::string("end")},
        {2, 1, XlsFormula{1.5}},
    };
    const std::string xls = folder.write("list.xls", import_fixtures::xlsFile(cells));
    const std::string xlsx = writeXlsx("list.xlsx", [](lxw_workbook* workbook) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        lxw_format* date = workbook_add_format(workbook);
        format_set_num_format_index(date, 14);
        worksheet_write_string(sheet, 0, 0, "名称", nullptr);
        worksheet_write_formula_str(sheet, 1, 0, "=\"/数据/\"&B2", nullptr, "/数据/a");
        worksheet_write_formula_str(sheet, 2, 0, "=\"/数据/\"&B3", nullptr, "/数据/b");
        worksheet_write_formula_str(sheet, 3, 0, "=\"/数据/\"&B4", nullptr, "/数据/c");
        worksheet_write_formula_num(sheet, 4, 0, "=1+1", nullptr, 2);
        worksheet_write_formula_num(sheet, 5, 0, "=DATE(2024,3,5)", date, 45356);
        worksheet_write_formula_str(sheet, 6, 0, "=1=1", nullptr, "TRUE");
        worksheet_write_formula_str(sheet, 7, 0, "=NA()", nullptr, "#N/A");
        worksheet_write_boolean(sheet, 8, 0, 0, nullptr);
        worksheet_write_formula_str(sheet, 9, 0, "=1/0", nullptr, "#DIV/0!");
        worksheet_write_string(sheet, 11, 0, "end", nullptr);
    });
    const Cells expected = {"名称", "/数据/a", "/数据/b", "/数据/c", "2", "2024-03-05",
                            "TRUE", "#N/A",    "FALSE",   "#DIV/0!", "",  "end"};
    EXPECT_EQ(readSpreadsheetColumn(xls, 1), expected);
    EXPECT_EQ(readSpreadsheetColumn(xlsx, 1), expected);
    EXPECT_EQ(readSpreadsheetColumn(xls, 2), (Cells{"", "", "1.5"}));

    // A cell whose value cannot be read stops the import, naming file and cell.
    const std::string odd = folder.write(
        "odd.xls",
        import_fixtures::xlsFile({{0, 0, std::string("a")}, {1, 0, XlsBoolErr{0x55, true}}}));
    EXPECT_NE(failureReason(odd).find("A2"), std::string::npos);
}

TEST_F(SpreadsheetReading, RichTextAndInlineStrings) {
    const std::string rich = writeXlsx("rich.xlsx", [](lxw_workbook* workbook) {
        lxw_format* bold = workbook_add_format(workbook);
        format_set_bold(bold);
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        lxw_rich_string_tuple start = {nullptr, (char*)"\\报表"};
        lxw_rich_string_tuple middle = {bold, (char*)"2024"};
        lxw_rich_string_tuple end = {nullptr, (char*)".txt"};
        lxw_rich_string_tuple* parts[] = {&start, &middle, &end, nullptr};
        worksheet_write_rich_string(sheet, 0, 0, parts, nullptr);
    });
    EXPECT_EQ(readSpreadsheetColumn(rich, 1), Cells{"\\报表2024.txt"});

    // constant_memory makes libxlsxwriter write inline strings.
    const std::string inlined = writeXlsx(
        "inline.xlsx",
        [](lxw_workbook* workbook) {
            lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
            worksheet_write_string(sheet, 0, 0, "行内", nullptr);
            worksheet_write_string(sheet, 1, 0, " ", nullptr);
            worksheet_write_number(sheet, 2, 0, 7, nullptr);
        },
        true);
    EXPECT_EQ(readSpreadsheetColumn(inlined, 1), (Cells{"行内", " ", "7"}));
}

TEST_F(SpreadsheetReading, HandMadePackagesFromOtherWriters) {
    // Prefixed elements, rows and cells without references, escapes, rich runs
    // with phonetic text, boolean, error and ISO date cells.
    auto parts = import_fixtures::minimalWorkbookParts(
        "", "<si><t>A1</t></si><si><r><t>漢</t></r><rPh><t>かん</t></rPh><r><t>字</t></r></si>",
        "<workbookPr date1904=\"1\"/>");
    parts["xl/worksheets/sheet1.xml"] =
        "<?xml version=\"1.0\"?><x:worksheet "
        "xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
        "<x:row><x:c t=\"s\"><x:v>0</x:v></x:c><x:c><x:v>5</x:v></x:c></x:row>"
        "<x:row r=\"3\"><x:c t=\"str\"><x:v>line_x000D_break</x:v></x:c></x:row>"
        "<x:row><x:c t=\"b\"><x:v>1</x:v></x:c></x:row>"
        "<x:row><x:c t=\"e\"><x:v>#N/A</x:v></x:c></x:row>"
        "<x:row><x:c t=\"d\"><x:v>2024-03-05T00:00:00</x:v></x:c></x:row>"
        "<x:row><x:c t=\"d\"><x:v>2024-03-05T08:09:10.500Z</x:v></x:c></x:row>"
        "<x:row><x:c t=\"s\"><x:v>1</x:v></x:c></x:row>"
        "<x:row r=\"10\"><x:c r=\"B10\" s=\"0\"><x:v>0</x:v></x:c></x:row>"
        "</x:sheetData></x:worksheet>";
    const std::string path = folder / "handmade.xlsx";
    import_fixtures::writePackage(path, parts);
    // ISO dates in the General format read as the serial numbers they are.
    EXPECT_EQ(readSpreadsheetColumn(path, 1), (Cells{"A1", "", "line\rbreak", "TRUE", "#N/A",
                                                     "43894", "43894.3397048611", "漢字"}));
    EXPECT_EQ(readSpreadsheetColumn(path, 2), (Cells{"5", "", "", "", "", "", "", "", "", "0"}));
}

TEST_F(SpreadsheetReading, Dates1904AreCountedFrom1904) {
    auto parts = import_fixtures::minimalWorkbookParts("<row><c s=\"1\"><v>43894</v></c></row>", "",
                                                       "<workbookPr date1904=\"true\"/>");
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    parts["xl/_rels/workbook.xml.rels"] =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel +
        "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"" +
        rel +
        "/styles\" Target=\"/xl/styles.xml\"/>"
        "</Relationships>";
    parts["xl/styles.xml"] =
        "<styleSheet><numFmts><numFmt numFmtId=\"170\" formatCode=\"d/m/yyyy\"/></numFmts>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"170\"/></cellXfs></styleSheet>";
    const std::string path = folder / "1904.xlsx";
    import_fixtures::writePackage(path, parts);
    EXPECT_EQ(readSpreadsheetColumn(path, 1), Cells{"2024-03-05"});
}

// A moment written as an ISO date (t="d") reads as the same moment written as
// a serial number in the same style.
TEST_F(SpreadsheetReading, IsoDateCellsReadAsTheirSerialTwins) {
    const std::string rows[][2] = {
        {"s=\"2\" t=\"d\"><v>2024-03-05T00:00:00", "s=\"2\"><v>45356"},
        {"s=\"1\" t=\"d\"><v>2024-03-05T13:45:30Z", "s=\"1\"><v>45356.5732638889"},
        {"s=\"2\" t=\"d\"><v>2024-03-05T13:45:30.4", "s=\"2\"><v>45356.5732685185"},
        {"s=\"1\" t=\"d\"><v>1900-01-01", "s=\"1\"><v>1"},
        {"t=\"d\"><v>1900-03-01", "><v>61"},
    };
    std::string sheetData;
    for (const auto& [iso, serial] : rows)
        sheetData += "<row><c " + iso + "</v></c><c " + serial + "</v></c></row>";
    auto parts = import_fixtures::minimalWorkbookParts(sheetData);
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    parts["xl/_rels/workbook.xml.rels"] =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel +
        "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"" +
        rel +
        "/styles\" Target=\"styles.xml\"/>"
        "</Relationships>";
    parts["xl/styles.xml"] =
        "<styleSheet><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/>"
        "</cellXfs></styleSheet>";
    const std::string path = folder / "iso-dates.xlsx";
    import_fixtures::writePackage(path, parts);
    const Cells expected = {"2024-03-05 00:00:00", "2024-03-05", "2024-03-05 13:45:30",
                            "1900-01-01", "61"};
    EXPECT_EQ(readSpreadsheetColumn(path, 1), expected);
    EXPECT_EQ(readSpreadsheetColumn(path, 2), expected);
}

TEST_F(SpreadsheetReading, AnActiveChartSheetFallsBackToTheFirstWorksheet) {
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    auto parts = import_fixtures::minimalWorkbookParts(
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\">"
        "<is><t>data</t></is></c></row>");
    parts["xl/workbook.xml"] =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:rel=\"" +
        rel +
        "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>"
        "<sheet name=\"Chart\" sheetId=\"2\" rel:id=\"rId9\"/>"
        "<sheet name=\"S\" sheetId=\"1\" rel:id=\"rId1\"/></sheets></workbook>";
    parts["xl/_rels/workbook.xml.rels"] =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel +
        "/worksheet\" Target=\"./worksheets/../worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId9\" Type=\"" +
        rel +
        "/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
        "</Relationships>";
    parts["xl/chartsheets/sheet1.xml"] = "<chartsheet/>";
    const std::string path = folder / "chart.xlsx";
    import_fixtures::writePackage(path, parts);
    EXPECT_EQ(readSpreadsheetColumn(path, 1), Cells{"data"});
}

// Writers that put the views after the sheets, and a shared-string cell
// with no index (shown empty): the active sheet is read, the cell is empty.
TEST_F(SpreadsheetReading, ViewsAfterTheSheetsAndAnEmptySharedStringCell) {
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    auto parts = import_fixtures::minimalWorkbookParts(
        "<row r=\"1\"><c t=\"inlineStr\"><is><t>first</t></is></c></row>");
    parts["xl/workbook.xml"] =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"" +
        rel +
        "\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/>"
        "<sheet name=\"B\" sheetId=\"2\" r:id=\"rId2\"/></sheets>"
        "<bookViews><workbookView activeTab=\"1\"/></bookViews></workbook>";
    parts["xl/_rels/workbook.xml.rels"] =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel +
        "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"" +
        rel +
        "/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
        "</Relationships>";
    parts["xl/worksheets/sheet2.xml"] =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
        "<row r=\"1\"><c t=\"s\"><v></v></c></row>"
        "<row r=\"2\"><c t=\"inlineStr\"><is><t>second</t></is></c></row></sheetData></worksheet>";
    const std::string path = folder / "views.xlsx";
    import_fixtures::writePackage(path, parts);
    EXPECT_EQ(readSpreadsheetColumn(path, 1), (Cells{"", "second"}));
}

// A formula saved with its result reads as the result; one saved without
// (openpyxl writes no result) stops the import and names the cell, where a
// silent gap would hide a missing file.
TEST_F(SpreadsheetReading, AFormulaWithoutItsResultNamesTheCell) {
    const std::string saved = folder / "saved.xlsx";
    import_fixtures::writePackage(
        saved,
        import_fixtures::minimalWorkbookParts(
            "<row r=\"1\"><c r=\"A1\" t=\"str\"><f>B1&amp;\".txt\"</f><v>a.txt</v></c></row>"));
    EXPECT_EQ(readSpreadsheetColumn(saved, 1), Cells{"a.txt"});
    const std::string unsaved = folder / "unsaved.xlsx";
    import_fixtures::writePackage(
        unsaved, import_fixtures::minimalWorkbookParts(
                     "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>md</t></is></c></row>"
                     "<row r=\"2\"><c r=\"A2\"><f>B2</f><v></v></c></row>"));
    EXPECT_EQ(failureReason(unsaved),
              "单元格A2的公式没有保存结果，请在电子表格程序中打开并保存后再导入");
}

TEST_F(SpreadsheetReading, XlsCellsOfEveryKind) {
    using import_fixtures::XlsCell;
    const std::vector<XlsCell> cells = {
        {0, 0, std::string("名称")},
        {1, 0, std::string("\\资料\\a.txt")},
        {2, 0, 42},
        {3, 0, 3.25},
        {4, 0, 45356.0, true},
        {6, 0, std::string("last")},
        {1, 1, std::string("B")},
    };
    const std::string path = folder.write("list.xls", import_fixtures::xlsFile(cells));
    EXPECT_EQ(readSpreadsheetColumn(path, 1),
              (Cells{"名称", "\\资料\\a.txt", "42", "3.25", "2024-03-05", "", "last"}));
    EXPECT_EQ(readSpreadsheetColumn(path, 2), (Cells{"", "B"}));
    EXPECT_EQ(readSpreadsheetColumn(path, 5), Cells{});
    EXPECT_EQ(spreadsheetColumnLines(path, 1, 2), "\\资料\\a.txt\n42\n3.25\n2024-03-05\n\nlast\n");
}

// The cells come back from the reading process in one answer: every row, in
// order, with the empty ones kept.
TEST_F(SpreadsheetReading, XlsLongColumnKeepsEveryRowInOrder) {
    using import_fixtures::XlsCell;
    std::vector<XlsCell> cells;
    Cells expected;
    for (int row = 0; row < 3001; ++row) {  // the last row has a value
        if (row % 7 == 3) {
            expected.push_back("");
            continue;
        }
        XlsCell cell{row, 0, 0};
        cell.value = row * 11;  // not in the braces: GCC 12 warns maybe-uninitialized there
        cells.push_back(std::move(cell));
        expected.push_back(std::to_string(row * 11));
    }
    const std::string path = folder.write("long.xls", import_fixtures::xlsFile(cells));
    EXPECT_EQ(readSpreadsheetColumn(path, 1), expected);
}

// A chart embedded in the sheet is a BOF ... EOF substream inside it, with
// records of its own that are no cells of the sheet.
TEST_F(SpreadsheetReading, XlsSkipsAnEmbeddedChart) {
    using namespace import_fixtures;
    std::string stream = xlsWorkbookStream({{{0, 0, std::string("a")}}}, 0, false);
    std::string bof;
    for (int field : {0x0600, 0x0020, 0x0DBB, 0x07CC})
        put16(bof, static_cast<std::uint16_t>(field));
    put32(bof, 0);
    put32(bof, 0x06);
    std::string number;
    for (int field : {4, 0, 0}) put16(number, static_cast<std::uint16_t>(field));
    number += biffDouble(7);
    const std::string chart =
        biffRecord(0x0809, bof) + biffRecord(0x0203, number) + biffRecord(0x000A, "");
    stream.insert(stream.size() - 4, chart);  // before the sheet's EOF
    EXPECT_EQ(readSpreadsheetColumn(folder.write("chart.xls", compoundFile("Workbook", stream)), 1),
              Cells{"a"});
}

// Some writers end the file inside its last sector; the rest counts as zeros.
TEST_F(SpreadsheetReading, XlsCompoundFileLayouts) {
    std::string bytes = import_fixtures::xlsFile({{0, 0, std::string("a")}});
    while (bytes.back() == '\0') bytes.pop_back();
    EXPECT_EQ(readSpreadsheetColumn(folder.write("short.xls", bytes), 1), Cells{"a"});
    // Version 4: 4096-byte sectors, the first one the header's.
    const std::string v4 = import_fixtures::compoundFile(
        "Workbook", import_fixtures::xlsWorkbookStream({{{0, 0, std::string("b")}}}, 0, false), 12);
    EXPECT_EQ(readSpreadsheetColumn(folder.write("v4.xls", v4), 1), Cells{"b"});
}

TEST_F(SpreadsheetReading, TheContentDecidesTheFormatNotTheExtension) {
    using import_fixtures::XlsCell;
    const std::string xls = folder.write(
        "really-xls.xlsx", import_fixtures::xlsFile({{0, 0, std::string("from xls")}}));
    EXPECT_EQ(readSpreadsheetColumn(xls, 1), Cells{"from xls"});
    const std::string xlsx = writeXlsx("really-xlsx.dat", [](lxw_workbook* workbook) {
        worksheet_write_string(workbook_add_worksheet(workbook, nullptr), 0, 0, "from xlsx",
                               nullptr);
    });
    EXPECT_EQ(readSpreadsheetColumn(xlsx, 1), Cells{"from xlsx"});
}

TEST_F(SpreadsheetReading, CsvQuotingLineEndsAndEncodings) {
    const std::string utf8 =
        folder.write("list.csv",
                     "\xEF\xBB\xBF名称,备注\r\n\"\\a,b.txt\",x\r\n\"say \"\"hi\"\"\",y\r\n"
                     "\"two\nlines\",z\r\n,only second\r\nlast,");
    EXPECT_EQ(readSpreadsheetColumn(utf8, 1),
              (Cells{"名称", "\\a,b.txt", "say \"hi\"", "two\nlines", "", "last"}));
    EXPECT_EQ(readSpreadsheetColumn(utf8, 2), (Cells{"备注", "x", "y", "z", "only second"}));
    EXPECT_EQ(spreadsheetColumnLines(utf8, 1, 2), "\\a,b.txt\nsay \"hi\"\ntwo lines\n\nlast\n");

    const std::string gbk =
        folder.write("gbk.csv", host::utf8ToGbk("目录,长度\n\\文件甲.txt,12\n"));
    EXPECT_EQ(readSpreadsheetColumn(gbk, 1), (Cells{"目录", "\\文件甲.txt"}));

    // Other text is tab-separated, as a spreadsheet opens it.
    const std::string dat = folder.write("list.dat", "a,1\tsecond\nb\tthird\n");
    EXPECT_EQ(readSpreadsheetColumn(dat, 1), (Cells{"a,1", "b"}));
    EXPECT_EQ(readSpreadsheetColumn(dat, 2), (Cells{"second", "third"}));
    EXPECT_EQ(readSpreadsheetColumn(folder.write("empty.csv", ""), 1), Cells{});
}

TEST_F(SpreadsheetReading, DamagedWorkbooksAreReportedWithTheirReason) {
    const std::string good = writeXlsx("good.xlsx", [](lxw_workbook* workbook) {
        worksheet_write_string(workbook_add_worksheet(workbook, nullptr), 0, 0, "x", nullptr);
    });
    const std::string bytes = TempFolder::read(good);
    const std::string truncated = folder.write("truncated.xlsx", bytes.substr(0, bytes.size() / 2));
    EXPECT_NE(failureReason(truncated).find("损坏"), std::string::npos);

    auto parts = import_fixtures::minimalWorkbookParts("<row><c><v>1</v></c>");  // unclosed
    const std::string brokenXml = folder / "broken-xml.xlsx";
    import_fixtures::writePackage(brokenXml, parts);
    EXPECT_NE(failureReason(brokenXml).find("sheet1.xml"), std::string::npos);

    const std::string badString = folder / "bad-string.xlsx";
    import_fixtures::writePackage(
        badString, import_fixtures::minimalWorkbookParts("<row><c t=\"s\"><v>7</v></c></row>",
                                                         "<si><t>only one</t></si>"));
    EXPECT_NE(failureReason(badString).find("损坏"), std::string::npos);

    const std::string noWorkbook = folder / "document.docx";
    import_fixtures::writePackage(noWorkbook, {{"word/document.xml", "<document/>"}});
    EXPECT_NE(failureReason(noWorkbook).find("没有工作簿"), std::string::npos);

    const std::string xls =
        folder.write("damaged.xls", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(600, '\x33'));
    EXPECT_NE(failureReason(xls).find("损坏"), std::string::npos);

    EXPECT_NE(failureReason(folder.write("text.xlsx", "just some text\n")).find("不是Excel工作簿"),
              std::string::npos);
    EXPECT_FALSE(failureReason(folder.write("empty.xls", "")).empty());
    // What web systems export under the name .xls is named for what it is.
    EXPECT_NE(failureReason(folder.write("report.xls", "<HTML><body><TABLE><tr><td>a</td>"))
                  .find("文件是网页（HTML表格）"),
              std::string::npos);
    EXPECT_NE(failureReason(folder.write("report2.xls",
                                         "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-"
                                         "microsoft-com:office:spreadsheet\">"))
                  .find("XML Spreadsheet 2003"),
              std::string::npos);
    const std::string old = folder / "old.xls";
    {
        std::ofstream out(old, std::ios::binary);
        out << import_fixtures::compoundFile("Book", std::string(600, '\x09'));
    }
    EXPECT_NE(failureReason(old).find("Excel 95或更早版本的工作簿（BIFF5）"), std::string::npos);
    EXPECT_NE(failureReason(folder.write("binary.dat", std::string("ab\0cd", 5))).find("不是"),
              std::string::npos);
}

// Cells of one row given twice (a damaged or odd writer): the last with a
// text counts; rows out of order land in their places.
TEST_F(SpreadsheetReading, RepeatedCellsAndRowsOutOfOrder) {
    const std::string path = folder / "odd.xlsx";
    import_fixtures::writePackage(
        path, import_fixtures::minimalWorkbookParts(
                  "<row r=\"3\"><c r=\"A3\"><v>3</v></c></row>"
                  "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
                  "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>1</v></c></row>",
                  "<si><t/></si><si><t>three</t></si>"));
    EXPECT_EQ(readSpreadsheetColumn(path, 1), (Cells{"1", "", "three"}));
}

// What would take the memory or the time is refused with a message: a
// column of more text than a list should hold (one shared string repeated
// down the rows), a part that unpacks to hundreds of times its packed size,
// and entity declarations.
TEST_F(SpreadsheetReading, HostilePackagesAreRefusedBeforeTheyTakeTheMemory) {
    std::string rows;
    for (int row = 1; row <= 300000; ++row)
        rows += "<row r=\"" + std::to_string(row) + "\"><c t=\"s\"><v>0</v></c></row>";
    const std::string repeated = folder / "repeated.xlsx";
    import_fixtures::writePackage(repeated,
                                  import_fixtures::minimalWorkbookParts(
                                      rows, "<si><t>" + std::string(1000, 'n') + "</t></si>"));
    EXPECT_EQ(failureReason(repeated), "所选列的文字超过256MB，无法导入");

    auto parts = import_fixtures::minimalWorkbookParts("<row><c><v>1</v></c></row>");
    parts["xl/worksheets/sheet1.xml"].insert(parts["xl/worksheets/sheet1.xml"].find("<sheetData>"),
                                             std::string(100 << 20, ' '));
    const std::string bomb = folder / "bomb.xlsx";
    import_fixtures::writePackage(bomb, parts);
    EXPECT_EQ(failureReason(bomb), "文件中的 xl/worksheets/sheet1.xml 解压后过大");

    parts = import_fixtures::minimalWorkbookParts("<row><c><v>&a;</v></c></row>");
    std::string& sheet = parts["xl/worksheets/sheet1.xml"];
    sheet.insert(sheet.find("<worksheet"), "<!DOCTYPE worksheet [<!ENTITY a \"aaaa\">]>");
    const std::string doctype = folder / "doctype.xlsx";
    import_fixtures::writePackage(doctype, parts);
    EXPECT_NE(failureReason(doctype).find("文档类型"), std::string::npos);
}

TEST_F(SpreadsheetReading, EncryptedWorkbooksAreRecognised) {
    const std::string xls =
        folder.write("secret.xls", import_fixtures::xlsFile({{0, 0, std::string("hidden")}}, true));
    EXPECT_EQ(failureReason(xls), "工作簿受密码保护或已加密");

    // Office keeps an encrypted .xlsx as an OLE2 file around the encrypted package.
    const std::string office =
        folder.write("secret.xlsx", import_fixtures::compoundFile("EncryptedPackage", "xxxx"));
    EXPECT_NE(failureReason(office).find("密码"), std::string::npos);

    const std::string zipped = folder / "zip-password.xlsx";
    import_fixtures::writePackage(zipped, import_fixtures::minimalWorkbookParts(""), "secret");
    EXPECT_NE(failureReason(zipped).find("密码"), std::string::npos);
}

// POSIX reasons and permission bits; the Windows build checks the system's
// reason through the import button (import_window_test).
#ifndef _WIN32
TEST_F(SpreadsheetReading, UnreadableFilesNameTheSystemReason) {
    EXPECT_NE(failureReason(folder / "missing.xlsx").find("No such file"), std::string::npos);
    EXPECT_NE(failureReason(folder.mkdir("folder.xls")).find("directory"), std::string::npos);
    if (::geteuid() != 0) {
        const std::string locked = folder.write("locked.csv", "a\n");
        ::chmod(locked.c_str(), 0);
        EXPECT_NE(failureReason(locked).find("Permission denied"), std::string::npos);
    }
    EXPECT_FALSE(failureReason(folder.write("ok.csv", "a\n"), 0).empty());
}
#endif

}  // namespace
