// The check engine on plain grids and real temporary folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/file_attributes.h"
#include "common/ordered_work.h"
#include "grid/grid.h"
#include "host/fault_injection.h"
#include "host/progress.h"
#include "kelvane/check/check_engine.h"
#include "support/scoped_time_zone.h"
#include "support/temp_folder.h"
#include "support/unprivileged.h"

using grid::Grid;
using testing_support::TempFolder;

namespace {

struct Row {
    std::string md;
    long xh;
    std::string jg;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << "{" << row.md << ", " << row.xh << ", " << row.jg << "}";
}

struct Duplicate {
    std::string dmd;
    long dxh;
    bool operator==(const Duplicate&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Duplicate& row) {
    return out << "{" << row.dmd << ", " << row.dxh << "}";
}

// Appends names as a walk does: xh = the shown row count, jg = "不同".
void append(Grid& list, const std::vector<std::string>& names) {
    for (const auto& name : names) {
        long row = list.insertrow(0);
        list.setitem(row, "xh", static_cast<double>(row));
        list.setitem(row, "md", name);
        list.setitem(row, "jg", "不同");
    }
}

std::vector<Row> rows(const Grid& list) {
    std::vector<Row> result;
    for (long r = 1; r <= list.rowcount(); ++r) {
        result.push_back({list.getitemstring(r, "md"),
                          static_cast<long>(list.getitemnumber(r, "xh")),
                          list.getitemstring(r, "jg")});
    }
    return result;
}

std::vector<Duplicate> duplicates(const Grid& list) {
    std::vector<Duplicate> result;
    for (long r = 1; r <= list.rowcount(); ++r) {
        result.push_back(
            {list.getitemstring(r, "dmd"), static_cast<long>(list.getitemnumber(r, "dxh"))});
    }
    return result;
}

std::string resultOf(const Grid& list, const std::string& name) {
    for (long r = 1; r <= list.rowcount(); ++r) {
        if (list.getitemstring(r, "md") == name) return list.getitemstring(r, "jg");
    }
    return "(missing)";
}

class CheckEngine : public ::testing::Test {
  protected:
    kelvane::CheckSummary check(const std::string& option = "附") {
        settings.addszf = kelvane::checkOption(option);
        return kelvane::mdhd({dw_1, dw_2, dw_3, dw_4}, settings, zfmdxg, progress);
    }

    Grid dw_1{grid::loadGridDefinition("htmd1")};
    Grid dw_2{grid::loadGridDefinition("htmd2")};
    Grid dw_3{grid::loadGridDefinition("cfmd1")};
    Grid dw_4{grid::loadGridDefinition("cfmd2")};
    kelvane::CheckSettings settings;
    bool zfmdxg = false;
    host::NullProgress progress;
};

TEST_F(CheckEngine, RepeatedNameMovesToTheDuplicateListWithItsSequenceNumber) {
    append(dw_1, {"\\two", "\\one", "\\two", "\\three"});
    auto summary = check();
    EXPECT_EQ(summary.duplicates1, 1);
    EXPECT_EQ(rows(dw_1), (std::vector<Row>{
                              {"\\one", 2, "不同"}, {"\\three", 4, "不同"}, {"\\two", 1, "不同"}}));
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"\\two", 3}}));
    EXPECT_EQ(dw_4.rowcount(), 0);
}

TEST_F(CheckEngine, ThreeEqualNamesMoveTwoRowsAndKeepTheFirst) {
    append(dw_2, {"b", "a", "b", "c", "b", "a"});
    auto summary = check();
    EXPECT_EQ(summary.duplicates2, 3);
    EXPECT_EQ(rows(dw_2), (std::vector<Row>{{"a", 2, "不同"}, {"b", 1, "不同"}, {"c", 4, "不同"}}));
    EXPECT_EQ(duplicates(dw_4), (std::vector<Duplicate>{{"a", 6}, {"b", 3}, {"b", 5}}));
    EXPECT_EQ(dw_3.rowcount(), 0);
}

TEST_F(CheckEngine, EmptyNamesAreNeverRepeatsNorMatches) {
    append(dw_1, {"", "", "x"});
    append(dw_2, {"", "x"});
    auto summary = check();
    EXPECT_EQ(summary.duplicates1, 0);
    EXPECT_EQ(summary.matched, 1);
    EXPECT_EQ(dw_1.rowcount(), 3);
    EXPECT_EQ(rows(dw_1)[0], (Row{"", 1, "不同"}));
    EXPECT_EQ(rows(dw_1)[1], (Row{"", 2, "不同"}));
    EXPECT_EQ(resultOf(dw_2, ""), "不同");
}

TEST_F(CheckEngine, NamesInBothListsAreMarkedSameInBoth) {
    append(dw_1, {"\\a", "\\only1"});
    append(dw_2, {"\\only2", "\\a"});
    auto summary = check();
    EXPECT_EQ(summary.matched, 1);
    EXPECT_EQ(resultOf(dw_1, "\\a"), "相同");
    EXPECT_EQ(resultOf(dw_2, "\\a"), "相同");
    EXPECT_EQ(resultOf(dw_1, "\\only1"), "不同");
    EXPECT_EQ(resultOf(dw_2, "\\only2"), "不同");
}

TEST_F(CheckEngine, MatchingIsExactInLetterCase) {
    append(dw_1, {"Readme.txt"});
    append(dw_2, {"readme.txt"});
    EXPECT_EQ(check().matched, 0);
    EXPECT_EQ(resultOf(dw_1, "Readme.txt"), "不同");
    EXPECT_EQ(resultOf(dw_2, "readme.txt"), "不同");
}

TEST_F(CheckEngine, ApostrophesTildesAndQuotesMatchLikeAnyName) {
    const std::vector<std::string> names = {"it's.txt", "a~b.txt", "~'", "say \"hi\".txt",
                                            "\\目录\\文件.txt"};
    append(dw_1, names);
    append(dw_2, {"a~~b.txt", "its.txt"});
    append(dw_2, names);
    EXPECT_EQ(check().matched, static_cast<long>(names.size()));
    for (const auto& name : names) {
        EXPECT_EQ(resultOf(dw_1, name), "相同") << name;
        EXPECT_EQ(resultOf(dw_2, name), "相同") << name;
    }
    EXPECT_EQ(resultOf(dw_2, "a~~b.txt"), "不同");
    EXPECT_EQ(resultOf(dw_2, "its.txt"), "不同");
}

TEST_F(CheckEngine, AnEmptyListLeavesTheOtherAsItWas) {
    append(dw_2, {"b", "a"});
    check();
    EXPECT_EQ(rows(dw_2), (std::vector<Row>{{"a", 2, "不同"}, {"b", 1, "不同"}}));
    EXPECT_EQ(dw_1.rowcount(), 0);
}

TEST_F(CheckEngine, CopyResultsStayOnRowsWithoutPartner) {
    append(dw_1, {"x", "y"});
    dw_1.setitem(1, "jg", "成功");
    dw_1.setitem(2, "jg", "失败");
    append(dw_2, {"y"});
    check();
    EXPECT_EQ(resultOf(dw_1, "x"), "成功");
    EXPECT_EQ(resultOf(dw_1, "y"), "相同");
}

TEST_F(CheckEngine, HiddenRowsTakePartInNothing) {
    append(dw_1, {"a", "b"});
    append(dw_2, {"a"});
    check();
    kelvane::showRows(dw_1, dw_2, "不同");
    // List 1 now shows b only; list 2 shows nothing (a is hidden as "相同").
    append(dw_1, {"a", "b"});  // a is hidden in list 2, b is hidden-free
    append(dw_2, {"b"});
    auto summary = check();
    // a hidden in list 1 is no repeat of the new a; b shown twice is a repeat.
    EXPECT_EQ(summary.duplicates1, 1);
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"b", 3}}));
    // The new a has no shown partner in list 2, so it stays "不同".
    EXPECT_EQ(summary.matched, 1);
    EXPECT_EQ(rows(dw_1), (std::vector<Row>{{"a", 2, "不同"}, {"b", 2, "相同"}}));
    // The hidden rows keep what they had.
    kelvane::showRows(dw_1, dw_2, "全部");
    EXPECT_EQ(dw_1.rowcount(), 3);
    EXPECT_EQ(dw_2.rowcount(), 2);
    EXPECT_EQ(resultOf(dw_2, "a"), "相同");
}

TEST_F(CheckEngine, MatchesTheFirstShownPartnerOnly) {
    append(dw_1, {"n"});
    append(dw_2, {"n"});
    // Hide list 2's n and add another: only the shown one may be marked.
    dw_2.setitem(1, "jg", "相同");
    kelvane::showRows(dw_1, dw_2, "不同");
    append(dw_2, {"n"});
    check();
    EXPECT_EQ(rows(dw_2), (std::vector<Row>{{"n", 1, "相同"}}));
    EXPECT_EQ(dw_2.filteredcount(), 1);
}

// Lists of file names in many folders (names that share folders, names that
// are prefixes of folders, empty names, repeats), with rows hidden by an
// earlier check: every row ends as one search of list 2 per name of list 1
// leaves it.
TEST_F(CheckEngine, EveryNameFindsThePartnerASearchOfList2Would) {
    std::mt19937 random(31);
    auto pick = [&random](unsigned n) { return static_cast<int>(random() % n); };
    auto name = [&] {
        if (pick(40) == 0) return std::string();
        std::string text = "/d" + std::to_string(pick(30));
        if (pick(2)) text += (pick(2) ? "/e" : " e") + std::to_string(pick(5));
        return text + (pick(4) ? "/f" + std::to_string(pick(60)) : std::string());
    };
    std::vector<std::string> names1, names2;
    for (int i = 0; i < 1500; ++i) names1.push_back(name());
    for (int i = 0; i < 1500; ++i) names2.push_back(name());
    append(dw_1, names1);
    append(dw_2, names2);
    check();
    kelvane::showRows(dw_1, dw_2, "不同");
    for (int i = 0; i < 500; ++i) names1.push_back(name());
    for (int i = 0; i < 500; ++i) names2.push_back(name());
    append(dw_1, {names1.end() - 500, names1.end()});
    append(dw_2, {names2.end() - 500, names2.end()});

    // What the check must do, on the shown rows, the slow way.
    auto shownRows = [](const Grid& list) { return rows(list); };
    auto sortAndDrop = [](std::vector<Row> list) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Row& a, const Row& b) { return a.md < b.md; });
        std::vector<Row> kept;
        for (const Row& row : list) {
            if (!kept.empty() && !row.md.empty() && row.md == kept.back().md) continue;
            kept.push_back(row);
        }
        return kept;
    };
    std::vector<Row> expected1 = sortAndDrop(shownRows(dw_1));
    std::vector<Row> expected2 = sortAndDrop(shownRows(dw_2));
    for (Row& row : expected1) {
        if (row.md.empty()) continue;
        for (Row& partner : expected2) {
            if (partner.md == row.md) {
                row.jg = partner.jg = "相同";
                break;
            }
        }
    }
    check();
    EXPECT_EQ(rows(dw_1), expected1);
    EXPECT_EQ(rows(dw_2), expected2);
}

TEST_F(CheckEngine, ASecondCheckAppendsBelowTheFirstFindings) {
    append(dw_1, {"a", "a"});
    check();
    append(dw_1, {"c", "c"});
    check();
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"a", 2}, {"c", 3}}));
}

TEST_F(CheckEngine, ProgressHearsOneStepPerRowOfList1) {
    struct Counting : host::ProgressSink {
        std::vector<std::string> names;
        void step(long, std::string_view current) override { names.emplace_back(current); }
    } counting;
    append(dw_1, {"b", "a", "b"});
    bool flag = false;
    kelvane::mdhd({dw_1, dw_2, dw_3, dw_4}, settings, flag, counting);
    EXPECT_EQ(counting.names, (std::vector<std::string>{"a", "b"}));
}

TEST_F(CheckEngine, RedrawIsOnForEveryGridAfterwards) {
    dw_1.setredraw(false);
    dw_2.setredraw(false);
    append(dw_1, {"a"});
    check();
    for (Grid* grid : {&dw_1, &dw_2, &dw_3, &dw_4}) EXPECT_TRUE(grid->redraw());
}

// The options compare the files on disk under each list's root.
class CheckOptions : public CheckEngine {
  protected:
    void SetUp() override {
        settings.ls_path1 = source.path();
        settings.ls_path2 = target.path();
    }
    // Writes \name under both roots with the given lengths and modification times.
    void pair(const std::string& name, std::size_t length1, std::time_t time1, std::size_t length2,
              std::time_t time2) {
        TempFolder::setModified(source.write(name, std::string(length1, 'x')), time1);
        TempFolder::setModified(target.write(name, std::string(length2, 'y')), time2);
        append(dw_1, {"/" + name});
        append(dw_2, {"/" + name});
    }
    std::string heading() const { return dw_3.headerText(0); }

    TempFolder source;
    TempFolder target;
    static constexpr std::time_t kTime = 1328259907;
    static constexpr std::time_t kLater = kTime + 3600;
};

TEST_F(CheckOptions, LengthOptionListsDifferingLengthsAfterTheDuplicates) {
    append(dw_1, {"/dup", "/dup"});
    pair("same", 3, kTime, 3, kLater);
    pair("longer", 3, kTime, 4, kTime);
    auto summary = check("1");
    EXPECT_EQ(summary.differing, 1);
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/dup", 2}, {"/longer", 2}}));
    EXPECT_EQ(heading(), "文件的长度不同的名单");
    EXPECT_EQ(resultOf(dw_1, "/longer"), "相同");
    EXPECT_EQ(resultOf(dw_2, "/longer"), "相同");
    EXPECT_TRUE(zfmdxg);
}

TEST_F(CheckOptions, DateOptionListsDifferingModificationTimes) {
    pair("same", 3, kTime, 4, kTime);
    pair("newer", 3, kTime, 3, kLater);
    check("2");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/newer", 1}}));
    EXPECT_EQ(heading(), "文件的修改日期不同的名单");
}

// 05:30 and 06:30 UTC on 2023-11-05 both read 01:30:00 in New York, where
// the clock turned back at 06:00 UTC.
TEST_F(CheckOptions, DatesCompareAsInstantsInTheHourTheClockRepeats) {
    const testing_support::ScopedTimeZone zone("America/New_York");
    constexpr std::time_t kFirst = 1699162200;
    pair("repeated", 3, kFirst, 3, kFirst + 3600);
    ASSERT_EQ(common::getft(source / "repeated", 3), common::getft(target / "repeated", 3));
    check("2");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/repeated", 1}}));
}

// As an ordinary user, in folders that can be listed but not searched, no
// length or time can be read: the pair is listed, and the reason said.
TEST_F(CheckOptions, PairsWhoseStatusCannotBeReadAreListedWithTheReason) {
    pair("locked/a", 3, kTime, 4, kLater);
    for (TempFolder* side : {&source, &target}) {
        testing_support::giveToNobody(side->path());
        ASSERT_EQ(::chmod((*side / "locked").c_str(), 0644), 0);
    }
    struct Failures : host::ProgressSink {
        void step(long, std::string_view) override {}
        void failed(std::string_view item, const host::Failure& failure) override {
            said += std::string(item) + ": " + failure.message() + "\n";
        }
        std::string said;
    };
    for (const char* option : {"1", "2", "4"}) {
        testing_support::runUnprivileged([&] {
            Grid list1{grid::loadGridDefinition("htmd1")}, list2{grid::loadGridDefinition("htmd2")};
            Grid found{grid::loadGridDefinition("cfmd1")},
                repeated{grid::loadGridDefinition("cfmd2")};
            append(list1, {"/locked/a"});
            append(list2, {"/locked/a"});
            settings.addszf = kelvane::checkOption(option);
            Failures failures;
            kelvane::mdhd({list1, list2, found, repeated}, settings, zfmdxg, failures);
            EXPECT_EQ(duplicates(found), (std::vector<Duplicate>{{"/locked/a", 1}})) << option;
            EXPECT_NE(failures.said.find("Permission denied"), std::string::npos) << failures.said;
            return std::string();
        });
    }
    for (TempFolder* side : {&source, &target}) ::chmod((*side / "locked").c_str(), 0755);
}

TEST_F(CheckOptions, BothOptionNeedsLengthAndDateToDiffer) {
    pair("length", 3, kTime, 4, kTime);
    pair("date", 3, kTime, 3, kLater);
    pair("both", 3, kTime, 4, kLater);
    check("3");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/both", 1}}));
    EXPECT_EQ(heading(), "文件的长度和修改日期都不同的名单");
}

TEST_F(CheckOptions, EitherOptionListsAnyDifference) {
    pair("length", 3, kTime, 4, kTime);
    pair("date", 3, kTime, 3, kLater);
    pair("both", 3, kTime, 4, kLater);
    pair("equal", 3, kTime, 3, kTime);
    check("4");
    EXPECT_EQ(duplicates(dw_3),
              (std::vector<Duplicate>{{"/both", 1}, {"/date", 2}, {"/length", 3}}));
    EXPECT_EQ(heading(), "文件的长度或修改日期不同的名单");
}

TEST_F(CheckOptions, AnyOtherDigitActsAsEither) {
    pair("date", 3, kTime, 3, kLater);
    check("7");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/date", 1}}));
    EXPECT_EQ(heading(), "文件的长度或修改日期不同的名单");
}

TEST_F(CheckOptions, MissingFilesOnBothSidesCompareEqual) {
    append(dw_1, {"/ghost"});
    append(dw_2, {"/ghost"});
    TempFolder::setModified(source.write("half", "abc"), kTime);
    append(dw_1, {"/half"});
    append(dw_2, {"/half"});
    check("4");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/half", 1}}));
}

TEST_F(CheckOptions, ContentOptionListsByteDifferencesInNameOrderFromTheWorkers) {
    // Equal lengths and times throughout, so only the bytes tell; the large
    // files span several reads and differ in their last byte.
    const std::string large(700 * 1024, 'z');
    std::string lastByte = large;
    lastByte.back() = 'Z';
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {large, large}, {large, lastByte}, {"abc", "abd"}, {"abc", "abcd"}};
    std::vector<Duplicate> expected;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "n" + std::to_string(10 + i);
        const auto& [first, second] = kinds[static_cast<std::size_t>(i) % kinds.size()];
        TempFolder::setModified(source.write(name, first), kTime);
        TempFolder::setModified(target.write(name, second), kTime);
        append(dw_1, {"/" + name});
        append(dw_2, {"/" + name});
        if (i % 4 != 0) expected.push_back({"/" + name, static_cast<long>(expected.size()) + 1});
    }
    // Missing on one side: it cannot be read, so it is not vouched for.
    source.write("o-gone", "abc");
    append(dw_1, {"/o-gone"});
    append(dw_2, {"/o-gone"});
    expected.push_back({"/o-gone", static_cast<long>(expected.size()) + 1});

    check("4");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/n13", 1},
                                                        {"/n17", 2},
                                                        {"/n21", 3},
                                                        {"/n25", 4},
                                                        {"/n29", 5},
                                                        {"/n33", 6},
                                                        {"/o-gone", 7}}));
    dw_3.reset();
    settings.workers = 3;
    host::faults::setWorkDelayForTesting(2000);  // the pairs end out of their order
    const auto summary = check("5");
    host::faults::setWorkDelayForTesting(0);
    EXPECT_EQ(summary.differing, static_cast<long>(expected.size()));
    EXPECT_EQ(duplicates(dw_3), expected);
    EXPECT_EQ(heading(), "文件的内容不同的名单");
}

TEST_F(CheckOptions, NamesWithApostrophesReachTheirFiles) {
    pair("it's~1.txt", 3, kTime, 5, kTime);
    check("1");
    EXPECT_EQ(duplicates(dw_3), (std::vector<Duplicate>{{"/it's~1.txt", 1}}));
}

TEST_F(CheckOptions, HeadingFollowsTheLatestOptionAndReturnsWithoutOne) {
    check();
    EXPECT_EQ(heading(), "重复名单1");
    EXPECT_FALSE(zfmdxg);
    check("1");  // no matched names: the heading changes all the same
    EXPECT_EQ(heading(), "文件的长度不同的名单");
    check("2");
    EXPECT_EQ(heading(), "文件的修改日期不同的名单");
    check();
    EXPECT_EQ(heading(), "重复名单1");
    EXPECT_TRUE(zfmdxg);
    EXPECT_EQ(dw_4.headerText(0), "重复名单2");
}

TEST_F(CheckOptions, NoOptionTouchesNoFile) {
    pair("length", 3, kTime, 4, kLater);
    check();
    EXPECT_EQ(dw_3.rowcount(), 0);
}

TEST(OptionRules, OnlyNumbersAreOptions) {
    EXPECT_TRUE(kelvane::optionInForce(kelvane::checkOption("1")));
    EXPECT_TRUE(kelvane::optionInForce(kelvane::checkOption("4")));
    EXPECT_FALSE(kelvane::optionInForce(kelvane::checkOption("")));
    EXPECT_FALSE(kelvane::optionInForce(kelvane::checkOption("附")));
    EXPECT_FALSE(kelvane::optionInForce(kelvane::checkOption("a")));
    EXPECT_TRUE(kelvane::comparesContent(kelvane::checkOption("5")));
    EXPECT_EQ(kelvane::optionHeading(kelvane::checkOption("6")), "文件的长度或修改日期不同的名单");
}

// The result filters and the list operations.
class ListOperations : public CheckEngine {};

TEST_F(ListOperations, FiltersSwitchBetweenAllSameAndDifferent) {
    append(dw_1, {"a", "b"});
    append(dw_2, {"a", "c"});
    check();
    kelvane::showRows(dw_1, dw_2, "不同");
    EXPECT_EQ(rows(dw_1), (std::vector<Row>{{"b", 2, "不同"}}));
    EXPECT_EQ(rows(dw_2), (std::vector<Row>{{"c", 2, "不同"}}));
    kelvane::showRows(dw_1, dw_2, "相同");
    EXPECT_EQ(rows(dw_1), (std::vector<Row>{{"a", 1, "相同"}}));
    EXPECT_EQ(rows(dw_2), (std::vector<Row>{{"a", 1, "相同"}}));
    kelvane::showRows(dw_1, dw_2, "全部");
    EXPECT_EQ(dw_1.rowcount(), 2);
    EXPECT_EQ(dw_2.rowcount(), 2);
}

TEST_F(ListOperations, EveryNameMatchedLeavesNothingShown) {
    append(dw_1, {"a", "b"});
    append(dw_2, {"b", "a"});
    check();
    kelvane::showRows(dw_1, dw_2, "不同");
    EXPECT_EQ(dw_1.rowcount(), 0);
    EXPECT_EQ(dw_2.rowcount(), 0);
}

TEST_F(ListOperations, InvertSelectionFlipsEveryShownRow) {
    append(dw_1, {"1", "2", "3", "4"});
    dw_1.selectrow(1, true);
    dw_1.selectrow(3, true);
    kelvane::invertSelection(dw_1);
    EXPECT_EQ((std::vector<bool>{dw_1.isselected(1), dw_1.isselected(2), dw_1.isselected(3),
                                 dw_1.isselected(4)}),
              (std::vector<bool>{false, true, false, true}));
}

TEST_F(ListOperations, InvertSelectionLeavesHiddenRowsAlone) {
    auto selectedNames = [this] {
        kelvane::showRows(dw_1, dw_2, "全部");
        std::set<std::string> names;
        for (long r = 1; r <= dw_1.rowcount(); ++r) {
            if (dw_1.isselected(r)) names.insert(dw_1.getitemstring(r, "md"));
        }
        return names;
    };
    append(dw_1, {"1", "2", "3"});
    dw_1.setitem(2, "jg", "相同");
    dw_1.selectrow(2, true);
    kelvane::showRows(dw_1, dw_2, "不同");
    kelvane::invertSelection(dw_1);
    EXPECT_EQ(selectedNames(), (std::set<std::string>{"1", "2", "3"}));
    kelvane::showRows(dw_1, dw_2, "相同");
    kelvane::invertSelection(dw_1);
    EXPECT_EQ(selectedNames(), (std::set<std::string>{"1", "3"}));
}

TEST_F(ListOperations, RemoveSelectedKeepsTheOthersInOrder) {
    append(dw_1, {"1", "2", "3", "4", "5"});
    dw_1.selectrow(2, true);
    dw_1.selectrow(3, true);
    EXPECT_EQ(kelvane::removeSelected(dw_1), 2);
    EXPECT_EQ(rows(dw_1), (std::vector<Row>{{"1", 1, "不同"}, {"4", 4, "不同"}, {"5", 5, "不同"}}));
    EXPECT_FALSE(dw_1.isselected(1) || dw_1.isselected(2) || dw_1.isselected(3));
}

TEST_F(ListOperations, RemoveSelectedLeavesHiddenRowsAlone) {
    append(dw_1, {"1", "2", "3"});
    dw_1.setitem(2, "jg", "相同");
    dw_1.selectrow(0, true);
    kelvane::showRows(dw_1, dw_2, "不同");
    EXPECT_EQ(kelvane::removeSelected(dw_1), 2);
    kelvane::showRows(dw_1, dw_2, "全部");
    EXPECT_EQ(rows(dw_1), (std::vector<Row>{{"2", 2, "相同"}}));
}

TEST_F(ListOperations, RestoreFolderTwicePutsTheFolderInFrontTwice) {
    append(dw_1, {"\\a.txt", "\\sub\\b.txt"});
    kelvane::hywjj(dw_1, "D:\\src");
    kelvane::hywjj(dw_1, "D:\\src");
    EXPECT_EQ(dw_1.getitemstring(1, "md"), "D:\\srcD:\\src\\a.txt");
    EXPECT_EQ(dw_1.getitemstring(2, "md"), "D:\\srcD:\\src\\sub\\b.txt");
}

TEST_F(ListOperations, RestoreFolderLeavesHiddenRowsAndKeepsFindWorking) {
    append(dw_1, {"/a", "/b"});
    dw_1.setitem(1, "jg", "相同");
    kelvane::showRows(dw_1, dw_2, "不同");
    EXPECT_EQ(dw_1.find("md", "/b"), 1);  // builds the index before the change
    kelvane::hywjj(dw_1, "/root");
    EXPECT_EQ(dw_1.find("md", "/root/b"), 1);
    EXPECT_EQ(dw_1.find("md", "/b"), 0);
    kelvane::showRows(dw_1, dw_2, "全部");
    EXPECT_EQ(resultOf(dw_1, "/a"), "相同");
}

TEST(ListFileRule, LastFourCharactersLowerCased) {
    EXPECT_TRUE(kelvane::namesListFile("/x/list.txt"));
    EXPECT_TRUE(kelvane::namesListFile("C:\\LIST.TXT"));
    EXPECT_TRUE(kelvane::namesListFile("名单.Xls"));
    EXPECT_TRUE(kelvane::namesListFile("book.XLSX"));
    EXPECT_TRUE(kelvane::namesListFile("weirdxlsx"));
    EXPECT_FALSE(kelvane::namesListFile("/data/src"));
    EXPECT_FALSE(kelvane::namesListFile("notes.text"));
    EXPECT_TRUE(kelvane::namesListFile("a.CSV"));
    EXPECT_FALSE(kelvane::namesListFile(""));
}

}  // namespace
