// The grid store: numbering, row operations, sort, filter, indexed find,
// selection, header texts, footers, import and export.
#include "grid/grid.h"
#include "host/paths.h"
#include "host/encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>

#include "tests/support/scripted_host.h"
#include "tests/support/temp_folder.h"

namespace {

using grid::Grid;
using host::SaveFormat;

class NameListTest : public ::testing::Test {
  protected:
    Grid grid{grid::loadGridDefinition("htmd1")};

    // Appends one entry the way the folder walk does.
    long append(const std::string& name, const std::string& result = "不同") {
        grid.insertrow(0);
        long row = grid.rowcount();
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "md", name);
        grid.setitem(row, "jg", result);
        return row;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (long r = 1; r <= grid.rowcount(); ++r) out.push_back(grid.getitemstring(r, "md"));
        return out;
    }
    std::vector<long> numbers() const {
        std::vector<long> out;
        for (long r = 1; r <= grid.rowcount(); ++r)
            out.push_back(static_cast<long>(grid.getitemnumber(r, "xh")));
        return out;
    }
};

// --- definitions ---

TEST(GridDefinitionTest, ShippedDefinitionsCarryTheirColumnsAndHeaders) {
    auto htmd1 = grid::loadGridDefinition("htmd1");
    ASSERT_EQ(htmd1.columns.size(), 6u);
    std::vector<std::string> expected = {"md", "xh", "jg", "wjct", "xgrq", "cjrq"};
    std::vector<int> lengths = {256, 0, 5, 256, 13, 13};
    std::vector<std::string> headers = {
        "源文件夹文件名单(或名单1)", "序号", "结果", "文件的长度", "修改日期", "创建日期"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(htmd1.columns[i].name, expected[i]);
        EXPECT_EQ(htmd1.columns[i].headerObject, expected[i] + "_t");
        EXPECT_EQ(htmd1.columns[i].declaredLength, lengths[i]);
        EXPECT_EQ(htmd1.columns[i].headerText, headers[i]);
        EXPECT_EQ(htmd1.columns[i].type,
                  i == 1 ? grid::ColumnType::Number : grid::ColumnType::Text);
    }
    EXPECT_EQ(grid::loadGridDefinition("htmd2").columns[0].headerText,
              "目标文件夹文件名单(或名单2)");

    auto cfmd1 = grid::loadGridDefinition("cfmd1");
    auto cfmd2 = grid::loadGridDefinition("cfmd2");
    EXPECT_EQ(cfmd1.columns[0].headerText, "重复名单1");
    EXPECT_EQ(cfmd2.columns[0].headerText, "重复名单2");
    EXPECT_EQ(cfmd1.columns[0].declaredLength, 501);
    EXPECT_EQ(cfmd1.columns[1].name, "dxh");
    EXPECT_EQ(cfmd1.footerExpression, "'总数:'+count(dmd for all)");
    EXPECT_EQ(cfmd2.footerExpression, "count(dmd for all)");

    auto frn1 = grid::loadGridDefinition("frn1");
    ASSERT_EQ(frn1.columns.size(), 1u);
    EXPECT_EQ(frn1.columns[0].name, "ypath");
    EXPECT_EQ(frn1.columns[0].declaredLength, 301);
    EXPECT_EQ(frn1.columns[0].headerObject, "ypath_t");
    EXPECT_EQ(frn1.columns[0].headerText, "源文件夹");
    EXPECT_EQ(frn1.rowColourExpression,
              "if(getrow()=currentrow(),rgb(174,241,242),rgb(255,255,255))");
}

TEST(GridDefinitionTest, MalformedDefinitionsAreRejectedWithTheLine) {
    auto message = [](const std::string& text) -> std::string {
        try {
            grid::parseGridDefinition(text);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "accepted";
    };
    EXPECT_NE(message("grid g\ncolumn a txt 1 a_t 10 A\n").find("line 2"), std::string::npos);
    EXPECT_NE(message("grid g\ncolumn a text x a_t 10 A\n"), "accepted");
    EXPECT_NE(message("grid g\ncolumn a text 1 a_t wide A\n"), "accepted");
    EXPECT_NE(message("grid g\ncolumn a text 1\n"), "accepted");
    EXPECT_NE(message("column a text 1 a_t 10 A\n"), "accepted");
    EXPECT_NE(message("grid g\n"), "accepted");
    EXPECT_NE(message("grid g\ncolumn a text 1 a_t 10 A\ncolumn a text 1 a_t 10 B\n"), "accepted");
    EXPECT_NE(message("grid g\nbanner x\ncolumn a text 1 a_t 10 A\n").find("line 2"),
              std::string::npos);
    EXPECT_EQ(message("\xEF\xBB\xBF# c\r\ngrid g\r\n\r\ncolumn a text 1 a_t 10 A b\r\n"),
              "accepted");
    EXPECT_THROW(grid::loadGridDefinition("no_such_grid"), std::runtime_error);
}

// An installed program finds its definitions under <prefix>/share/zarvik from
// any prefix; the build tree's bin/resources wins when both exist; a program
// with neither names the folder beside it, never some other tree.
TEST(GridDefinitionTest, ResourcesAreFoundRelativeToTheProgram) {
    testing_support::TempFolder root;
    const std::string installedBin = root.mkdir("opt/z p/bin");
    root.write("opt/z p/share/zarvik/htmd1.grid", "grid htmd1\n");
    root.write("opt/z p/share/zarvik2/htmd1.grid", "grid htmd1\n");
    // Windows takes "/" and "\\" alike; the names are compared as the platform writes them.
    using testing_support::native;
    EXPECT_EQ(native(host::resourceDirectoryFor(installedBin)), root / "opt/z p/share/zarvik");

    const std::string buildBin = root.mkdir("build/bin");
    root.write("build/bin/resources/htmd1.grid", "grid htmd1\n");
    root.write("build/share/zarvik/htmd1.grid", "grid htmd1\n");
    EXPECT_EQ(native(host::resourceDirectoryFor(buildBin)), root / "build/bin/resources");

    const std::string bare = root.mkdir("bare/bin");
    root.mkdir("bare/share/zarvik");
    EXPECT_EQ(native(host::resourceDirectoryFor(bare)), root / "bare/bin/resources");
}

// --- numbering and row operations ---

TEST_F(NameListTest, AppendedRowsAreNumberedAfterTheShownRows) {
    EXPECT_EQ(append("a"), 1);
    EXPECT_EQ(grid.getitemnumber(1, "xh"), 1);
    for (const char* name : {"b", "c", "d", "e"}) append(name);
    for (const char* name : {"f", "g", "h"}) append(name);
    EXPECT_EQ(numbers(), (std::vector<long>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(NameListTest, AppendAfterAFilterTakesTheShownCountPlusOne) {
    append("a", "相同");
    append("b");
    append("c", "相同");
    append("d");
    ASSERT_TRUE(grid.setfilter("jg = '不同'"));
    grid.filter();
    ASSERT_EQ(grid.rowcount(), 2);
    EXPECT_EQ(grid.filteredcount(), 2);
    EXPECT_EQ(append("e"), 3);
    EXPECT_EQ(grid.getitemnumber(3, "xh"), 3);  // hidden row "c" has 3 as well
}

TEST_F(NameListTest, InsertBeforeARowAndRejectInvalidRows) {
    append("a");
    append("c");
    EXPECT_EQ(grid.insertrow(2), 2);
    grid.setitem(2, "md", "b");
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(grid.insertrow(5), -1);
    EXPECT_EQ(grid.insertrow(-1), -1);
    EXPECT_FALSE(grid.setitem(9, "md", "x"));
    EXPECT_FALSE(grid.setitem(1, "nope", "x"));
    EXPECT_EQ(grid.getitemstring(9, "md"), "");
}

TEST_F(NameListTest, DeletedRowsLeaveNothingBehindForNewRows) {
    append("a");
    append("b");
    grid.selectrow(2, true);
    EXPECT_TRUE(grid.deleterow(2));
    EXPECT_FALSE(grid.deleterow(2));
    grid.insertrow(0);
    EXPECT_EQ(grid.getitemstring(2, "md"), "");
    EXPECT_EQ(grid.getitemstring(2, "xh"), "");
    EXPECT_FALSE(grid.isselected(2));
    EXPECT_EQ(names(), (std::vector<std::string>{"a", ""}));
}

TEST_F(NameListTest, ResetRemovesHiddenRowsToo) {
    append("a", "相同");
    append("b");
    grid.setfilter("jg = '不同'");
    grid.filter();
    grid.reset();
    EXPECT_EQ(grid.rowcount(), 0);
    EXPECT_EQ(grid.filteredcount(), 0);
    grid.setfilter("");
    grid.filter();
    EXPECT_EQ(grid.rowcount(), 0);
    EXPECT_EQ(append("c"), 1);
}

TEST_F(NameListTest, NumberCellsReadAsTextWithoutFraction) {
    append("a");
    EXPECT_EQ(grid.getitemstring(1, "xh"), "1");
    EXPECT_TRUE(grid.setitem(1, "xh", "2.5"));
    EXPECT_EQ(grid.getitemstring(1, "xh"), "2.5");
    EXPECT_FALSE(grid.setitem(1, "xh", "abc"));
    EXPECT_EQ(grid.getitemnumber(1, "xh"), 2.5);
    EXPECT_EQ(grid.getitemnumber(1, "md"), 0);
}

// --- sort and filter ---

TEST_F(NameListTest, SortIsStableAndBytewise) {
    append("b");
    append("a");
    append("b");
    append("B");
    append("a");
    ASSERT_TRUE(grid.setsort("md   A"));
    grid.sort();
    EXPECT_EQ(names(), (std::vector<std::string>{"B", "a", "a", "b", "b"}));
    EXPECT_EQ(numbers(), (std::vector<long>{4, 2, 5, 1, 3}));
    ASSERT_TRUE(grid.setsort("md D"));
    grid.sort();
    EXPECT_EQ(numbers(), (std::vector<long>{1, 3, 2, 5, 4}));
}

TEST_F(NameListTest, SortsNumbersNumericallyAndBySeveralKeys) {
    for (int i = 0; i < 12; ++i) append(i % 2 ? "x" : "y");
    grid.setsort("xh D");
    grid.sort();
    EXPECT_EQ(numbers(), (std::vector<long>{12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    ASSERT_TRUE(grid.setsort("md A,xh D"));
    grid.sort();
    EXPECT_EQ(numbers(), (std::vector<long>{12, 10, 8, 6, 4, 2, 11, 9, 7, 5, 3, 1}));
}

// Row numbers given as rows are added are kept without a cell each; any
// other value, an empty cell or a deleted row must read back as it would
// from stored cells, and sort as such.
TEST_F(NameListTest, RowNumbersKeptWithoutCellsReadAndSortAsStoredOnes) {
    std::mt19937 random(27);
    // Short runs from an empty grid: the first change that is no row's own
    // number is the one that matters.
    for (int run = 0; run < 300; ++run) {
        grid.reset();
        std::vector<std::string> model;  // xh of each shown row
        for (int step = 0; step < 8; ++step) {
            const long count = grid.rowcount();
            const long row = count == 0 ? 0 : static_cast<long>(random() % count) + 1;
            switch (count < 3 ? 0 : random() % 5) {
                case 0:  // a row added with its own number, as a walk adds it
                    model.push_back(std::to_string(append("n")));
                    break;
                case 4:  // a row added with no number (it may take a deleted row's place)
                    grid.insertrow(0);
                    model.emplace_back();
                    break;
                case 1:
                    grid.setitem(row, "xh", static_cast<double>(row));
                    model[row - 1] = std::to_string(row);
                    break;
                case 2: {
                    const std::string value = random() % 2 ? "" : "2.5";
                    grid.setitem(row, "xh", value);
                    model[row - 1] = value;
                    break;
                }
                default:
                    grid.deleterow(row);
                    model.erase(model.begin() + row - 1);
            }
            ASSERT_EQ(grid.rowcount(), static_cast<long>(model.size()));
            for (long r = 1; r <= grid.rowcount(); ++r)
                ASSERT_EQ(grid.getitemstring(r, "xh"), model[r - 1]) << run << " " << step;
        }
        ASSERT_TRUE(grid.setsort("xh D"));
        grid.sort();
        std::stable_sort(
            model.begin(), model.end(), [](const std::string& a, const std::string& b) {
                return (a.empty() ? -1e9 : std::stod(a)) > (b.empty() ? -1e9 : std::stod(b));
            });
        for (long r = 1; r <= grid.rowcount(); ++r)
            ASSERT_EQ(grid.getitemstring(r, "xh"), model[r - 1]) << run;
    }
}

TEST_F(NameListTest, BadSortExpressionsKeepTheOldOne) {
    EXPECT_FALSE(grid.setsort("zz A"));
    EXPECT_FALSE(grid.setsort("md X"));
    EXPECT_FALSE(grid.setsort("md Ascending"));
    EXPECT_FALSE(grid.setsort("md A xh D"));
    append("b");
    append("a");
    grid.setsort("md A");
    EXPECT_FALSE(grid.setsort("md Q"));
    grid.sort();
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(NameListTest, UnfilterBringsHiddenRowsBackAfterTheShownOnes) {
    append("a", "相同");
    append("b");
    append("c", "相同");
    append("d");
    ASSERT_TRUE(grid.setfilter("jg = \"相同\""));
    grid.filter();
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c"}));
    grid.setfilter("");
    grid.filter();
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c", "b", "d"}));
    EXPECT_EQ(grid.filteredcount(), 0);
}

TEST_F(NameListTest, FilterOnNumbersAndBadFilters) {
    for (const char* name : {"a", "b", "c"}) append(name);
    ASSERT_TRUE(grid.setfilter("xh = 2"));
    grid.filter();
    EXPECT_EQ(names(), (std::vector<std::string>{"b"}));
    EXPECT_FALSE(grid.setfilter("jg = "));
    EXPECT_FALSE(grid.setfilter("jg = '不同"));
    EXPECT_FALSE(grid.setfilter("nope = 'x'"));
    EXPECT_FALSE(grid.setfilter("jg = 'x' and"));
    grid.filter();  // the last good filter still holds
    EXPECT_EQ(names(), (std::vector<std::string>{"b"}));
}

// --- find and its index ---

TEST_F(NameListTest, FindHonoursBounds) {
    for (const char* name : {"a", "b", "a", "c", "a"}) append(name);
    EXPECT_EQ(grid.find("md", "a", 1, 5), 1);
    EXPECT_EQ(grid.find("md", "a", 2, 5), 3);
    EXPECT_EQ(grid.find("md", "a", 4, 4), 0);
    EXPECT_EQ(grid.find("md", "a", 4), 5);
    EXPECT_EQ(grid.find("md", "c", 1, 3), 0);
    EXPECT_EQ(grid.find("md", "zz"), 0);
    EXPECT_EQ(grid.find("xh", "4"), 4);
    EXPECT_EQ(grid.find("nope", "a"), 0);
}

TEST_F(NameListTest, FindFollowsChangesAfterTheIndexIsBuilt) {
    for (const char* name : {"a", "b", "c", "d"}) append(name);
    ASSERT_EQ(grid.find("md", "c"), 3);
    grid.setitem(2, "md", "c");
    EXPECT_EQ(grid.find("md", "c"), 2);
    EXPECT_EQ(grid.find("md", "b"), 0);
    grid.deleterow(1);
    EXPECT_EQ(grid.find("md", "c"), 1);
    EXPECT_EQ(grid.find("md", "d"), 3);
    append("a");
    EXPECT_EQ(grid.find("md", "a"), 4);
    grid.setsort("md A");
    grid.sort();
    EXPECT_EQ(grid.find("md", "a"), 1);
    EXPECT_EQ(grid.find("md", "d"), 4);
    grid.setitem(1, "jg", "相同");
    grid.setfilter("jg = '不同'");
    grid.filter();
    EXPECT_EQ(grid.find("md", "a"), 0);  // hidden rows are not found
    EXPECT_EQ(grid.find("md", "c"), 1);
    grid.deleterow(grid.rowcount());
    EXPECT_EQ(grid.find("md", "d"), 0);
}

TEST_F(NameListTest, FindAgreesWithAScanThroughRandomChanges) {
    std::mt19937 random(7);
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    // Many equal values make the index's lists long enough to be dropped and rebuilt.
    for (int i = 0; i < 3000; ++i) append(i % 3 ? "" : "v" + std::to_string(pick(5)));
    for (int step = 0; step < 600; ++step) {
        long count = grid.rowcount();
        switch (pick(8)) {
            case 0:
                append("v" + std::to_string(pick(6)));
                break;
            case 1:
                if (count) grid.deleterow(1 + pick(static_cast<int>(count)));
                break;
            case 2:
                if (count) grid.deleterow(count);
                break;
            case 3:
            case 4:
                if (count)
                    grid.setitem(1 + pick(static_cast<int>(count)), "md",
                                 pick(3) ? "v" + std::to_string(pick(6)) : std::string());
                break;
            case 5:
                grid.setsort(pick(2) ? "md A" : "xh D");
                grid.sort();
                break;
            case 6:
                if (count)
                    grid.setitem(1 + pick(static_cast<int>(count)), "jg",
                                 pick(2) ? "相同" : "不同");
                grid.setfilter(pick(3) ? "jg = '不同'" : "");
                grid.filter();
                break;
            default:
                if (count) grid.insertrow(1 + pick(static_cast<int>(count)));
                break;
        }
        std::string value = pick(4) ? "v" + std::to_string(pick(6)) : std::string();
        long first = 1 + pick(static_cast<int>(grid.rowcount()) + 1);
        long expected = 0;
        for (long r = first; r <= grid.rowcount() && !expected; ++r) {
            if (grid.getitemstring(r, "md") == value) expected = r;
        }
        ASSERT_EQ(grid.find("md", value, first, grid.rowcount()), expected)
            << "step " << step << " value '" << value << "' from " << first;
    }
}

// --- how texts are kept ---

// Texts that look like the forms kept inside a cell (short texts, times,
// lengths) or nearly so, names with either separator anywhere, and bytes that
// are no text at all: each reads back as given, also when written over a
// longer or a shorter one, and after the column has been rewritten. Both in a
// column of few different texts and in one of many.
class TextForms : public NameListTest, public ::testing::WithParamInterface<int> {};

TEST_P(TextForms, EveryTextReadsBackAsItWasGiven) {
    for (int i = 0; i < GetParam(); ++i) append("/filler " + std::to_string(i) + "/name");
    const std::string big(std::size_t{1} << 20, 'x');
    const std::vector<std::string> texts = {"",
                                            "a",
                                            "不同",
                                            "1234567",
                                            "a/b",
                                            "/",
                                            "\\",
                                            "ab\\",
                                            "/x/",
                                            "//",
                                            "a\\b/c",
                                            "1.2.3",
                                            "2019-03-04 05:06:07",
                                            "2019-03-04 05:06:0",
                                            "2019-03-04T05:06:07",
                                            "0000-00-00 00:00:00",
                                            "9999-99-99 99:99:99",
                                            "123.45KB",
                                            "1024字节",
                                            "0.00MB",
                                            "12345678901234MB",
                                            "123456789012345MB",
                                            ".KB",
                                            "KB",
                                            "字节",
                                            "1,024字节",
                                            "12345678",
                                            "00000000000000",
                                            "-12345678",
                                            std::string("\0a\0b/\0", 6),
                                            "\xff\xfe/\x80",
                                            "/文件夹 1/报告 2.docx",
                                            "/文件夹 1/报告 2.docx/",
                                            big,
                                            big + "/tail",
                                            "/" + big.substr(10),
                                            "head/" + big,
                                            "medium/" + big.substr(700000),
                                            big.substr(600000) + "/leaf"};
    const long first = grid.rowcount() + 1;
    for (const std::string& text : texts) append(text);
    auto expectAll = [&](const std::vector<std::string>& expected, const char* when) {
        ASSERT_EQ(grid.rowcount(), first - 1 + static_cast<long>(expected.size()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(grid.getitemstring(first + static_cast<long>(i), "md"), expected[i])
                << when << ", row " << i + 1 << " of " << expected[i].size() << " bytes";
        }
        EXPECT_EQ(grid.getitemstring(first - 1, "md"),
                  first > 1 ? "/filler " + std::to_string(first - 2) + "/name" : "");
    };
    expectAll(texts, "as given");
    // Each cell written over with its neighbour's text: longer, shorter, another form.
    std::vector<std::string> shifted(texts.begin() + 1, texts.end());
    shifted.push_back(texts.front());
    for (std::size_t i = 0; i < shifted.size(); ++i)
        grid.setitem(first + static_cast<long>(i), "md", shifted[i]);
    expectAll(shifted, "written over");
    // A cell set from the column's own text, the same and a neighbour's.
    grid.setitem(first + 4, "md", grid.textView(first + 4, 0));
    grid.setitem(first + 5, "md", grid.textView(first + 6, 0));
    shifted[5] = shifted[6];
    expectAll(shifted, "set from the column");
    // Enough growing rewrites of the long names, each in a new folder, to make
    // the column rewrite itself without the folders left behind.
    for (int round = 0; round < 6; ++round) {
        for (std::size_t i = 0; i < shifted.size(); ++i) {
            if (shifted[i].size() > 1000) {
                shifted[i] = std::to_string(round) + "/" + shifted[i];
                grid.setitem(first + static_cast<long>(i), "md", shifted[i]);
            }
        }
    }
    expectAll(shifted, "after the rewrites");
    EXPECT_EQ(grid.getitemstring(first, "jg"), "不同");
}

INSTANTIATE_TEST_SUITE_P(FewOrMany, TextForms, ::testing::Values(0, 300));

// The order of file names kept as folder and rest must be the order of the
// whole texts: a folder's names interleave with its sub-folders' ("a b/",
// "a-", "a.", "a/", "a0" and "a/"'s rows fall around each other), names end
// in separators or are folders' own prefixes, and equal names keep their
// order both ways. More rows than a sort keeps on one thread: the slices it
// hands to the others must put together the one order.
TEST_F(NameListTest, SortOrdersNamesAsWholeTextsWhateverTheirFolders) {
    std::mt19937 random(27);
    const std::vector<std::string> parts = {
        "a", "a b", "a-", "a.", "a0", "ab", "B", "报告", "Ab", "", "a b c d e f g h i", "1234567"};
    auto pick = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    std::vector<std::string> texts;
    for (int i = 0; i < 70000; ++i) {
        std::string text = pick(4) ? "/" : "";
        const std::size_t depth = pick(5);
        for (std::size_t d = 0; d < depth; ++d)
            text += parts[pick(parts.size())] + (pick(3) ? "/" : "\\");
        if (pick(8) != 0) text += parts[pick(parts.size())];
        if (pick(10) == 0)
            text = i % 2 ? "2020-01-0" + std::to_string(pick(10)) + " 00:00:00"
                         : std::to_string(pick(1000)) + ".5KB";
        texts.push_back(text);
    }
    for (const std::string& text : texts) append(text);
    for (const bool ascending : {true, false}) {
        std::vector<std::size_t> order(texts.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        // From the given order each time: rows numbered as appended.
        ASSERT_TRUE(grid.setsort("xh A"));
        grid.sort();
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return ascending ? texts[a] < texts[b] : texts[b] < texts[a];
        });
        ASSERT_TRUE(grid.setsort(ascending ? "md A" : "md D"));
        grid.sort();
        for (std::size_t i = 0; i < order.size(); ++i) {
            ASSERT_EQ(grid.getitemnumber(static_cast<long>(i) + 1, "xh"),
                      static_cast<double>(order[i] + 1))
                << (ascending ? "ascending" : "descending") << " at " << i << ": "
                << texts[order[i]];
        }
    }
    // Only the shown rows take part.
    for (long row = 1; row <= grid.rowcount(); row += 2) grid.setitem(row, "jg", "相同");
    grid.setfilter("jg = '不同'");
    grid.filter();
    grid.setsort("md A");
    grid.sort();
    for (long row = 2; row <= grid.rowcount(); ++row)
        ASSERT_LE(grid.getitemstring(row - 1, "md"), grid.getitemstring(row, "md")) << row;
}

// --- selection, header texts, footers ---

// Cells that grow leave their old bytes behind until the column is rewritten;
// a column of several megabytes is rewritten once half of it is garbage, and
// every cell, the index and cells set from the column's own text survive it.
TEST_F(NameListTest, GrowingCellsSurviveTheColumnBeingRewritten) {
    constexpr long kRows = 3000;
    auto nameOf = [](long row, std::size_t length) {
        std::string name = "/" + std::to_string(row) + "/";
        name.resize(length, static_cast<char>('a' + row % 26));
        return name;
    };
    for (long r = 1; r <= kRows; ++r) append(nameOf(r, 1000));
    ASSERT_EQ(grid.find("md", nameOf(1234, 1000)), 1234);
    for (int round = 0; round < 3; ++round) {
        const std::size_t length = 1500 + 500 * static_cast<std::size_t>(round);
        for (long r = 1; r <= kRows; ++r) grid.setitem(r, "md", nameOf(r, length));
        // A cell set from a text of its own column, and a shrinking one.
        grid.setitem(7, "md", grid.getitemstring(8, "md"));
        grid.setitem(8, "md", nameOf(8, length));
        grid.setitem(9, "md", "/short");
        grid.setitem(9, "md", nameOf(9, length));
        for (long r = 1; r <= kRows; ++r) {
            const std::string expected = r == 7 ? nameOf(8, length) : nameOf(r, length);
            ASSERT_EQ(grid.getitemstring(r, "md"), expected) << "round " << round << " row " << r;
        }
        EXPECT_EQ(grid.find("md", nameOf(2999, length)), 2999);
        EXPECT_EQ(grid.find("md", nameOf(8, length)), 7);
    }
    EXPECT_EQ(grid.getitemstring(kRows, "jg"), "不同");
}

TEST_F(NameListTest, SelectionFollowsItsRows) {
    for (const char* name : {"c", "a", "b"}) append(name);
    grid.selectrow(0, true);
    EXPECT_TRUE(grid.isselected(1) && grid.isselected(2) && grid.isselected(3));
    grid.selectrow(1, false);  // "c"
    grid.setsort("md A");
    grid.sort();
    EXPECT_TRUE(grid.isselected(1));
    EXPECT_FALSE(grid.isselected(3));
    EXPECT_FALSE(grid.isselected(0));
    EXPECT_FALSE(grid.isselected(4));
    EXPECT_FALSE(grid.selectrow(4, true));
    grid.selectrow(0, false);
    EXPECT_FALSE(grid.isselected(1));
}

TEST(GridHeaderTest, ModifyChangesHeaderTexts) {
    Grid grid(grid::loadGridDefinition("cfmd1"));
    EXPECT_TRUE(grid.modify("dmd_t.text = '长度不同'"));
    EXPECT_EQ(grid.headerText(0), "长度不同");
    EXPECT_TRUE(grid.modify("dmd_t.text='a~'b'  dxh_t.text = \"号\""));
    EXPECT_EQ(grid.headerText(0), "a'b");
    EXPECT_EQ(grid.headerText(1), "号");
    EXPECT_FALSE(grid.modify("md_t.text = 'x'"));
    EXPECT_FALSE(grid.modify("dmd_t.text = 'x' dxh_t.width = '9'"));
    EXPECT_FALSE(grid.modify("dmd_t.text = 'unterminated"));
    EXPECT_EQ(grid.headerText(0), "a'b");
    EXPECT_EQ(grid.headerText(5), "");
}

TEST(GridFooterTest, FootersCountTheShownRows) {
    Grid total(grid::loadGridDefinition("cfmd1"));
    Grid count(grid::loadGridDefinition("cfmd2"));
    EXPECT_EQ(total.footerText(), "总数:0");
    EXPECT_EQ(count.footerText(), "0");
    for (int i = 0; i < 3; ++i) {
        total.insertrow(0);
        count.insertrow(0);
    }
    total.setitem(1, "dmd", "x");
    total.setfilter("dmd = 'x'");
    total.filter();
    EXPECT_EQ(total.footerText(), "总数:1");
    EXPECT_EQ(count.footerText(), "3");
    EXPECT_EQ(Grid(grid::loadGridDefinition("htmd1")).footerText(), "");
}

// --- notifications ---

class RecordingObserver : public grid::GridObserver {
  public:
    std::vector<std::string> calls;
    void rowsReset() override { calls.push_back("reset"); }
    void rowsInserted(long f, long l) override { calls.push_back(range("inserted", f, l)); }
    void rowsRemoved(long f, long l) override { calls.push_back(range("removed", f, l)); }
    void rowChanged(long r) override { calls.push_back("changed " + std::to_string(r)); }
    void headerChanged() override { calls.push_back("header"); }
    void rowsAboutToBeReset() override { calls.push_back("before reset"); }
    void rowsAboutToBeInserted(long f, long l) override {
        calls.push_back(range("before inserted", f, l));
    }
    void rowsAboutToBeRemoved(long f, long l) override {
        calls.push_back(range("before removed", f, l));
    }

  private:
    static std::string range(const char* what, long f, long l) {
        return std::string(what) + " " + std::to_string(f) + "-" + std::to_string(l);
    }
};

TEST_F(NameListTest, ObserverHearsEachChangeOrOneResetAfterRedrawOff) {
    RecordingObserver observer;
    grid.setObserver(&observer);
    grid.insertrow(0);
    grid.setitem(1, "md", "a");
    grid.deleterow(1);
    EXPECT_EQ(observer.calls,
              (std::vector<std::string>{"before inserted 1-1", "inserted 1-1", "changed 1",
                                        "before removed 1-1", "removed 1-1"}));
    observer.calls.clear();
    grid.setredraw(false);
    for (int i = 0; i < 3; ++i) append("x");
    grid.setsort("md A");
    grid.sort();
    EXPECT_TRUE(observer.calls.empty());
    grid.setredraw(true);
    EXPECT_EQ(std::count(observer.calls.begin(), observer.calls.end(), "reset"), 1);
    grid.setObserver(nullptr);
}

// --- import ---

class GridImportTest : public NameListTest {
  protected:
    testing_support::TempFolder folder;
};

TEST_F(GridImportTest, TextWithWindowsLineEndsAndNoFinalLineEnd) {
    EXPECT_EQ(grid.importtext("a\t7\t相同\r\n\r\nb\t8\r\nc\t9\t不同\t1KB\tt1\tt2\textra"), 3);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(numbers(), (std::vector<long>{7, 8, 9}));
    EXPECT_EQ(grid.getitemstring(1, "jg"), "相同");
    EXPECT_EQ(grid.getitemstring(2, "jg"), "");
    EXPECT_EQ(grid.getitemstring(3, "cjrq"), "t2");
}

TEST_F(GridImportTest, StartLineAndNumberColumn) {
    EXPECT_EQ(grid.importtext("heading\nx\tabc\ny\t12\nz\n", 2), 3);
    EXPECT_EQ(names(), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(grid.getitemstring(1, "xh"), "0");
    EXPECT_EQ(grid.getitemnumber(2, "xh"), 12);
    EXPECT_EQ(grid.getitemstring(3, "xh"), "");
    EXPECT_EQ(grid.importtext("only\n", 5), 0);
}

TEST_F(GridImportTest, FilesInUtf8WithOrWithoutBomAndInGbk) {
    std::string bom = folder.write("bom.txt", "\xEF\xBB\xBF名单\nb\n");
    std::string plain = folder.write("plain.txt", "名单\n");
    // "不同\t5" in GBK: not valid UTF-8, so it is read as GBK.
    std::string gbk = folder.write("gbk.txt", "\xB2\xBB\xCD\xAC\t5\r\n");
    EXPECT_EQ(grid.importfile(bom), 2);
    EXPECT_EQ(grid.importfile(plain), 1);
    EXPECT_EQ(grid.importfile(gbk), 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"名单", "b", "名单", "不同"}));
    EXPECT_EQ(grid.getitemnumber(4, "xh"), 5);
    EXPECT_EQ(grid.importfile(folder / "missing.txt"), -1);
}

// A file is read in pieces of 64 KiB: a line end (CR LF too) or a character
// split between two pieces, and the encoding the evidence of every line
// decides, must give the rows of the whole text read at once.
TEST_F(GridImportTest, AFileReadInPiecesGivesTheRowsOfItsWholeText) {
    const auto text = [](std::string_view word, std::string_view odd, std::string_view start) {
        std::string bytes(start);
        long line = 0;
        const auto fillTo = [&](std::size_t end) {
            while (bytes.size() + 40 < end)
                bytes += "d/" + std::string(word) + std::to_string(++line) + "\t7\n";
            bytes.append(end - bytes.size(), 'x');
        };
        fillTo(65535);
        bytes += "\r\n";  // the CR ends the first piece
        fillTo(131071);
        bytes += std::string(word) + "\n";  // a character across the second boundary
        bytes += std::string(odd) + "\n";
        fillTo(196607);
        bytes += "\rlast " + std::string(word);  // a lone CR ends the third piece
        return bytes;
    };
    const std::string utf8 = "名单", gbk = "\xC3\xFB\xB5\xA5";
    // A line of the other encoding, invalid in the text's own.
    const std::string gbkLine = "\xB2\xBB\xCD\xAC", utf8Line = "a\xE2\x82\xAC";
    const std::string cases[] = {
        text(utf8, "", ""), text(utf8, "", "\xEF\xBB\xBF\xEF\xBB\xBF"), text(utf8, gbkLine, ""),
        text(gbk, "", ""),  text(gbk, utf8Line, "\x84\x31\x95\x33"),  // U+FEFF
        text("ab", "", "")};
    for (const std::string& bytes : cases) {
        const std::string path = folder.write("list.txt", bytes);
        // From a line after the first piece, so that every line end counts.
        const long pastFirstPiece = std::count(bytes.begin(), bytes.begin() + 65535, '\n') + 3;
        for (long firstLine : {1L, 3L, pastFirstPiece}) {
            Grid whole(grid::loadGridDefinition("htmd1")),
                pieces(grid::loadGridDefinition("htmd1"));
            const long expected = whole.importtext(host::unknownTextToUtf8(bytes), firstLine);
            EXPECT_GT(expected, 4000);
            EXPECT_EQ(pieces.importfile(path, firstLine), expected);
            EXPECT_EQ(pieces.datatext(), whole.datatext()) << bytes.substr(0, 12);
        }
    }
}

TEST_F(GridImportTest, ClipboardFromAStartLine) {
    host::ScriptedHost host;
    host.clipboard = "one\r\ntwo\r\nthree";
    EXPECT_EQ(grid.importclipboard(host, 2), 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"two", "three"}));
}

TEST_F(GridImportTest, AppendedRowsAreFoundByABuiltIndex) {
    append("a");
    ASSERT_EQ(grid.find("md", "b"), 0);
    grid.importtext("b\nc\n");
    EXPECT_EQ(grid.find("md", "b"), 2);
    EXPECT_EQ(grid.find("md", "c"), 3);
}

// --- export ---

class GridExportTest : public NameListTest {
  protected:
    testing_support::TempFolder folder;
};

TEST_F(GridExportTest, TextIsGbkWithoutHeadingAndSkipsHiddenRows) {
    append("名单", "相同");
    append("b");
    grid.setitem(2, "wjct", "3字节");
    grid.setfilter("jg = '相同'");
    grid.filter();
    std::string path = folder / "out.txt";
    ASSERT_TRUE(grid.saveas(path, SaveFormat::Text));
    EXPECT_EQ(testing_support::TempFolder::read(path),
              "\xC3\xFB\xB5\xA5\t1\t\xCF\xE0\xCD\xAC\t\t\t\r\n");
    grid.setfilter("");
    grid.filter();
    ASSERT_TRUE(grid.saveas(path, SaveFormat::Text));
    Grid back(grid::loadGridDefinition("htmd1"));
    EXPECT_EQ(back.importfile(path), 2);
    EXPECT_EQ(back.datatext(), grid.datatext());
}

TEST_F(GridExportTest, CsvQuotesWhereNeeded) {
    append("a,b");
    append("say \"hi\"");
    append("two\nlines");
    grid.modify("md_t.text = '名,单'");
    std::string path = folder / "out.csv";
    ASSERT_TRUE(grid.saveas(path, SaveFormat::Csv));
    EXPECT_EQ(testing_support::TempFolder::read(path),
              "\xEF\xBB\xBF\"名,单\",序号,结果,文件的长度,修改日期,创建日期\r\n"
              "\"a,b\",1,不同,,,\r\n"
              "\"say \"\"hi\"\"\",2,不同,,,\r\n"
              "\"two\nlines\",3,不同,,,\r\n");
}

TEST_F(GridExportTest, XlsxIsAZipArchive) {
    append("名单");
    std::string path = folder / "out.xlsx";
    std::string error;
#if ZARVIK_WITHOUT_XLSX
    // Built without the spreadsheet libraries: a clean failure, no file.
    EXPECT_FALSE(grid.saveas(path, SaveFormat::Xlsx, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
    return;
#endif
    ASSERT_TRUE(grid.saveas(path, SaveFormat::Xlsx, &error)) << error;
    EXPECT_EQ(testing_support::TempFolder::read(path).substr(0, 2), "PK");
    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

#if !ZARVIK_WITHOUT_XLSX
// A list a sheet cannot hold is refused whole, before anything is written: the
// file already there keeps its bytes and no scratch file is left beside it.
TEST_F(GridExportTest, XlsxRefusesWhatASheetCannotHold) {
    const std::string path = folder / "list.xlsx";
    folder.write("list.xlsx", "earlier");
    host::ScriptedHost host;
    auto refused = [&](const std::string& message) {
        host.messages.clear();
        host.saveAnswers.push_back({1, path, SaveFormat::Xlsx});
        EXPECT_EQ(grid.saveas(host), -1);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].title, "提示");
        EXPECT_EQ(host.messages[0].text, message);
        EXPECT_EQ(testing_support::TempFolder::read(path), "earlier");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                                std::filesystem::directory_iterator()),
                  1);
    };

    // 32,767 UTF-16 units fit, a character beyond the BMP counting two.
    const std::string longest = "\xF0\x9F\x98\x80" + std::string(32765, 'a');
    append(longest);
    std::string error;
    ASSERT_TRUE(grid.saveas(path, SaveFormat::Xlsx, &error)) << error;
    folder.write("list.xlsx", "earlier");
    grid.setitem(1, "md", longest + "b");
    refused("名称超过Excel单元格的长度上限(32767个字符)，请另存为txt或csv文件");
    grid.reset();

    std::string lines;
    for (int i = 0; i < 1048576; ++i) lines += "n\n";
    grid.importtext(lines);
    refused("名单超过Excel工作表的行数上限(1048575行)，请另存为txt或csv文件");
}
#endif

TEST_F(GridExportTest, SaveThroughTheHost) {
    append("a");
    host::ScriptedHost host;
    EXPECT_EQ(grid.saveas(host), 0);  // cancelled
    EXPECT_EQ(host.dialogTitles, (std::vector<std::string>{"另存为"}));

    host.saveAnswers.push_back({1, folder / "list.txt", SaveFormat::Text});
    EXPECT_EQ(grid.saveas(host), 1);
    EXPECT_EQ(testing_support::TempFolder::read(folder / "list.txt"),
              "a\t1\t\xB2\xBB\xCD\xAC\t\t\t\r\n");

    host.saveAnswers.push_back({1, folder / "no/such/folder/list.csv", SaveFormat::Csv});
    EXPECT_EQ(grid.saveas(host), -1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "提示");
    EXPECT_NE(host.messages[0].text.find("list.csv"), std::string::npos);
}

// The name the user typed wins over the filter left selected in the dialog.
TEST_F(GridExportTest, TypedExtensionDecidesTheFormat) {
    append("a");
    host::ScriptedHost host;
    auto saved = [&](const std::string& name, SaveFormat filter) {
        host.saveAnswers.push_back({1, folder / name, filter});
        EXPECT_EQ(grid.saveas(host), 1) << name;
        return testing_support::TempFolder::read(folder / name).substr(0, 3);
    };
    EXPECT_EQ(saved("list.CSV", SaveFormat::Text), "\xEF\xBB\xBF");
    EXPECT_EQ(saved("list.txt", SaveFormat::Csv), "a\t1");
    EXPECT_EQ(saved("list.dat", SaveFormat::Csv), "\xEF\xBB\xBF");  // no format named
#if !ZARVIK_WITHOUT_XLSX
    EXPECT_EQ(saved("list.xlsx", SaveFormat::Text).substr(0, 2), "PK");
#endif
}

}  // namespace
