#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/caseless_key.h"
#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "base/text_encoding.h"
#include "host/clock.h"
#include "host/encoding.h"
#include "host/gbk_positions.h"

namespace {

using namespace std::string_literals;

// Chinese folders in a path: "D:/备份/资料/a.txt" has "/" at GBK bytes 3, 8, 13.
const std::string kPath = "D:/备份/资料/a.txt";
const std::string kGrinning = "\xF0\x9F\x98\x80";  // U+1F600, four bytes in GB18030
const std::string kExtB = "\xF0\xA0\x80\x80";      // U+20000

// ---- GBK lengths, cuts and finds -------------------------------------------

TEST(GbkPositions, LengthCountsChineseAsTwoBytes) {
    EXPECT_EQ(host::gbkLength(""), 0);
    EXPECT_EQ(host::gbkLength("abc"), 3);
    EXPECT_EQ(host::gbkLength("中文abc"), 7);
    EXPECT_EQ(host::gbkLength(kPath), 18);
    EXPECT_EQ(host::gbkLength("，。"), 4);  // full-width punctuation is GBK too
}

TEST(GbkPositions, LeftNeverSplitsACharacter) {
    EXPECT_EQ(host::gbkLeft("中文", 3), "中");
    EXPECT_EQ(host::gbkLeft("中文", 4), "中文");
    EXPECT_EQ(host::gbkLeft("中文", 1), "");
    EXPECT_EQ(host::gbkLeft("中文", 99), "中文");
    EXPECT_EQ(host::gbkLeft("ab中", 3), "ab");
    EXPECT_EQ(host::gbkLeft("abc", 0), "");
    EXPECT_EQ(host::gbkLeft("abc", -2), "");
    EXPECT_EQ(host::gbkLeft("abc", 2), "ab");
}

TEST(GbkPositions, RightTakesWholeCharactersFromTheEnd) {
    EXPECT_EQ(host::gbkRight("中文abc", 4), "abc");
    EXPECT_EQ(host::gbkRight("中文abc", 5), "文abc");
    EXPECT_EQ(host::gbkRight("中文abc", 7), "中文abc");
    EXPECT_EQ(host::gbkRight("中文abc", 70), "中文abc");
    EXPECT_EQ(host::gbkRight("中文abc", 0), "");
    EXPECT_EQ(host::gbkRight("abcdef", 2), "ef");
}

TEST(GbkPositions, MidCountsGbkBytesFromOne) {
    EXPECT_EQ(host::gbkMid("中文abc", 3, 2), "文");
    EXPECT_EQ(host::gbkMid("中文abc", 3), "文abc");
    EXPECT_EQ(host::gbkMid("中文abc", 5, 2), "ab");
    // A start inside a character skips it; an end inside one leaves it out.
    EXPECT_EQ(host::gbkMid("中文abc", 2, 2), "");
    EXPECT_EQ(host::gbkMid("中文abc", 2), "文abc");
    EXPECT_EQ(host::gbkMid("中文abc", 1, 3), "中");
    EXPECT_EQ(host::gbkMid("中文abc", 0, 2), "中");
    EXPECT_EQ(host::gbkMid("中文abc", 8), "");
    EXPECT_EQ(host::gbkMid("中文abc", 3, 0), "");
    EXPECT_EQ(host::gbkMid("abcdef", 3, 2), "cd");
    EXPECT_EQ(host::gbkMid("abcdef", 9), "");
    // The folder below "D:/备份/" starts at GBK byte 9.
    EXPECT_EQ(host::gbkMid(kPath, 9), "资料/a.txt");
}

TEST(GbkPositions, FindGivesGbkBytePosition) {
    EXPECT_EQ(host::gbkFind(kPath, "/"), 3);
    EXPECT_EQ(host::gbkFind(kPath, "/", 4), 8);
    EXPECT_EQ(host::gbkFind(kPath, "/", 9), 13);
    EXPECT_EQ(host::gbkFind(kPath, "/", 14), 0);
    EXPECT_EQ(host::gbkFind(kPath, "资料"), 9);
    EXPECT_EQ(host::gbkFind(kPath, "a.txt"), 14);
    EXPECT_EQ(host::gbkFind(kPath, "z"), 0);
    EXPECT_EQ(host::gbkFind(kPath, ""), 0);
    // A start inside "备" looks from the next character on.
    EXPECT_EQ(host::gbkFind(kPath, "份", 5), 6);
    EXPECT_EQ(host::gbkFind("a/b/c", "/", 3), 4);
    EXPECT_EQ(host::gbkFind("a/b/c", "/", 0), 2);
}

TEST(GbkPositions, FindMatchesOnlyOnCharacterBoundaries) {
    // "中" is E4 B8 AD: its tail bytes must not be found as a needle.
    EXPECT_EQ(host::gbkFind("中x", "\xB8\xAD"), 0);
    EXPECT_EQ(host::gbkFind("中x", "x"), 3);
}

TEST(GbkPositions, CharactersOnlyGb18030EncodesCountFour) {
    EXPECT_EQ(host::gbkLength(kExtB), 4);
    EXPECT_EQ(host::gbkLength(kGrinning), 4);
    EXPECT_EQ(host::gbkLength("a" + kGrinning + "中"), 7);
    EXPECT_EQ(host::gbkLeft(kGrinning + "a", 3), "");
    EXPECT_EQ(host::gbkLeft(kGrinning + "a", 4), kGrinning);
    EXPECT_EQ(host::gbkMid("a" + kExtB + "b", 6), "b");
    EXPECT_EQ(host::gbkFind(kExtB + "/", "/"), 5);
}

TEST(GbkPositions, InvalidBytesCountOneAndAreKept) {
    EXPECT_EQ(host::gbkLength("a\xFF"
                              "b"),
              3);
    EXPECT_EQ(host::gbkLength("\xE4\xB8"), 2);  // a cut-off "中"
    EXPECT_EQ(host::gbkLeft("\xFF中", 1), "\xFF");
    EXPECT_EQ(host::gbkLeft("\xFF中", 3), "\xFF中");
    EXPECT_EQ(host::gbkRight("中\x80", 1), "\x80");
    EXPECT_EQ(host::gbkFind("\xFF/中/", "/", 3), 5);
}

TEST(GbkPositions, LengthsAgreeWithTheBytesWrittenToDisk) {
    const std::string samples[] = {
        "中文abc",
        kPath,
        kGrinning + kExtB,
        "€·—“”…",                        // punctuation GBK holds in two bytes
        "\xC2\x80\xC3\xA9\xE2\x82\xAC",  // U+0080, é, €
        "\xEF\xBF\xBD\xEF\xBB\xBF",      // U+FFFD and a byte-order mark
        "\xF0\xA0\x82\x87",              // U+20087
        "\xEE\x80\x80\xEE\x9E\x8D",      // private-use characters
        "a\xFF\xFE\x80z",
    };
    for (const std::string& text : samples)
        EXPECT_EQ(host::gbkLength(text), static_cast<long>(host::utf8ToGbk(text).size()))
            << base::displayText(text);
}

// ---- Encoding conversions --------------------------------------------------

TEST(Conversion, ChineseBecomesGbk) {
    EXPECT_EQ(host::utf8ToGbk("中文"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(host::utf8ToGbk("D:\\备份"), "D:\\\xB1\xB8\xB7\xDD");
    EXPECT_EQ(host::gbkToUtf8("\xD6\xD0\xCE\xC4"), "中文");
    EXPECT_EQ(host::utf8ToGbk("plain"), "plain");
    EXPECT_EQ(host::gbkToUtf8(""), "");
}

TEST(Conversion, CharactersOutsideGbkUseFourByteCodes) {
    EXPECT_EQ(host::utf8ToGbk(kExtB), "\x95\x32\x82\x36");
    EXPECT_EQ(host::gbkToUtf8("\x95\x32\x82\x36"), kExtB);
    EXPECT_EQ(host::gbkToUtf8(host::utf8ToGbk(kGrinning)), kGrinning);
}

TEST(Conversion, InvalidUtf8BytesPassThrough) {
    EXPECT_EQ(host::utf8ToGbk("a\xFF中"), "a\xFF\xD6\xD0");
    EXPECT_EQ(host::utf8ToGbk("\xE4\xB8"), "\xE4\xB8");
    EXPECT_EQ(host::utf8ToGbk("\xED\xA0\x80"), "\xED\xA0\x80");  // an encoded surrogate
}

TEST(Conversion, UndecodableGbkBytesPassThrough) {
    EXPECT_EQ(host::gbkToUtf8("\x80"), "\x80");
    EXPECT_EQ(host::gbkToUtf8("\xD6\xD0\xFF"), "中\xFF");
    EXPECT_EQ(host::gbkToUtf8("\xD6"), "\xD6");  // a lead byte cut off at the end
    EXPECT_EQ(host::gbkToUtf8("\x81 x"), "\x81 x");
}

TEST(Conversion, RoundTripsAreByteIdentical) {
    const std::string samples[] = {"\x80",          "\xFF\xFE",         "\xD6\xD0\xFF",
                                   "\xD6",          "\x81 x\x82",       "\x84\x31\xA5\x30",
                                   "a\xB1\xB8\x7F", "\xFE\x39\xFE\x39", "\x95\x32\x82\x36"};
    for (const std::string& gbk : samples)
        EXPECT_EQ(host::utf8ToGbk(host::gbkToUtf8(gbk)), gbk) << base::displayText(gbk);
    for (const std::string& utf8 : {"a\xFF中"s, kPath + "\x80"})
        EXPECT_EQ(host::gbkToUtf8(host::utf8ToGbk(utf8)), utf8);
}

TEST(Conversion, EveryTwoByteCodeRoundTrips) {
    std::string all;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            if (trail != 0x7F) all += {static_cast<char>(lead), static_cast<char>(trail)};
    std::string utf8 = host::gbkToUtf8(all);
    EXPECT_TRUE(base::isValidUtf8(utf8));
    EXPECT_EQ(host::utf8ToGbk(utf8), all);
}

TEST(Conversion, ArbitraryBytesRoundTrip) {
    std::mt19937 random(20240229);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(1 + random() % 24, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 4 == 0 ? '0' + random() % 10 : random());
        ASSERT_EQ(host::utf8ToGbk(host::gbkToUtf8(bytes)), bytes) << base::displayText(bytes);
    }
}

TEST(Conversion, Utf8ValidityAndDisplay) {
    EXPECT_TRUE(base::isValidUtf8("中文" + kGrinning));
    EXPECT_TRUE(base::isValidUtf8("\xEF\xBB\xBFok"));
    EXPECT_FALSE(base::isValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(base::isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(base::isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(base::isValidUtf8("\xE4\xB8"));
    EXPECT_EQ(base::displayText("a\xFF"
                                "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(base::displayText("中文"), "中文");
}

// A quoted name escapes its backslashes: a name holding the two characters
// "\t" and one holding a tab never print alike.
TEST(Conversion, QuotedNamesEscapeBackslashes) {
    EXPECT_EQ(base::quotedName("\x01"
                               "a\\tb"),
              "\"\\001a\\\\tb\"");
    EXPECT_NE(base::quotedName("\x01"
                               "a\\tb"),
              base::quotedName("\x01"
                               "a\tb"));
    EXPECT_EQ(base::quotedName("a\\tb"), "a\\tb");  // printable: as it is
}

// Spellings a file system may take for one name give one key; others differ.
TEST(Conversion, CaselessKeysJoinOnlyOneNamesSpellings) {
    const std::vector<std::vector<std::string>> sameName = {
        {"Read.ME", "read.me"},
        {"AZ.txt", "az.txt"},  // both ends of the ASCII letters
        {"\xC3\x89.txt", "\xC3\xA9.txt", "e\xCC\x81.txt", "E\xCC\x81.txt"},  // É é, e and E + acute
        {"\xCE\xA3", "\xCF\x83", "\xCF\x82"},                                // Σ σ ς
        {"\xE2\x84\xAA", "k"},                                               // Kelvin sign
        {"\xC7\x84", "\xC7\x85", "\xC7\x86"},                                // Ǆ ǅ ǆ
        {"\xED\x95\x9C", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB"},            // 한, its jamo
        {"a\xCC\x81\xCC\xA3", "a\xCC\xA3\xCC\x81", "\xE1\xBA\xA1\xCC\x81"},  // marks in any order
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                            // Deseret 𐐀 𐐨
        {"\xFF\xC3\x89", "\xFF\xC3\xA9"},  // a byte that is not UTF-8 stays
    };
    for (const auto& spellings : sameName) {
        for (const std::string& spelling : spellings)
            EXPECT_EQ(base::caselessKey(spelling), base::caselessKey(spellings.front()))
                << base::displayText(spelling);
    }
    for (const auto& [one, other] : std::vector<std::pair<std::string, std::string>>{
             {"\xC3\xA9", "e"}, {"资料1", "资料2"}, {"\xFF", "\xFE"}, {"\xC3\x9F", "ss"}}) {
        EXPECT_NE(base::caselessKey(one), base::caselessKey(other)) << base::displayText(one);
    }
}

// ---- Text of unknown encoding ---------------------------------------------

// Many GBK names are valid UTF-8 by chance ("/郑伟.txt" reads as "/֣ΰ.txt"):
// every name of one or two level-one GB2312 characters must read as GBK.
TEST(UnknownEncoding, EveryShortLevelOneGbkNameIsGbk) {
    std::vector<std::string> characters;
    for (int lead = 0xB0; lead <= 0xD7; ++lead)
        for (int trail = 0xA1; trail <= (lead == 0xD7 ? 0xF9 : 0xFE); ++trail)
            characters.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    ASSERT_EQ(characters.size(), 3755u);
    std::size_t validUtf8 = 0;
    for (const std::string& one : characters) {
        const std::string name = "/" + one + ".txt";
        validUtf8 += base::isValidUtf8(name);
        ASSERT_EQ(host::unknownTextToUtf8(name), host::gbkToUtf8(name)) << base::displayText(name);
        for (const std::string& two : characters) {
            const std::string pair = "/" + one + two + ".txt";
            if (base::looksLikeUtf8(pair)) FAIL() << host::gbkToUtf8(pair);
        }
    }
    EXPECT_GT(validUtf8, 600u);  // the trap is real
    EXPECT_EQ(host::unknownTextToUtf8("/\xD6\xA3\xCE\xB0.txt\r\n/\xC4\xBF\xC2\xBC.txt"),
              "/郑伟.txt\r\n/目录.txt");
}

TEST(UnknownEncoding, Utf8NamesAndByteOrderMarksAreKept) {
    for (const char* name :
         {"café",         "Müller", "Ærø",         "naïve",  "Dvořák",        "Łódź",
          "São Paulo",    "Zürich", "Ångström",    "Björk",  "Göteborg",      "Kraków",
          "Škoda",        "Gdańsk", "Besançon",    "Málaga", "Øresund",       "Straße",
          "Crème brûlée", "Háček",  "Jürgen Groß", "Œuvre",  "Île-de-France", "/数据/a.txt",
          "郑伟",         "a\tb"}) {
        EXPECT_EQ(host::unknownTextToUtf8(name), name);
        // And as GBK, where the platform's GBK holds every character of it.
        const std::string gbk = host::utf8ToGbk(name);
        if (host::gbkToUtf8(gbk) == name) {
            EXPECT_EQ(host::unknownTextToUtf8(gbk), name);
        }
    }
    EXPECT_EQ(host::unknownTextToUtf8("\xEF\xBB\xBF\xC3\xA9"), "é");  // a mark overrides
    EXPECT_EQ(host::unknownTextToUtf8("\xFF\xFE\xD1\x90\x3D\xD8\x00\xDE"s), "郑😀");
    EXPECT_EQ(host::unknownTextToUtf8("\xFE\xFF\x90\xD1"), "郑");
}

// Two-byte UTF-8 names whose GBK reading leaves GB2312 read as UTF-8; the
// ones whose bytes are also GB2312 characters ("é" is "茅") follow the rest
// of their list, and alone stay GBK.
TEST(UnknownEncoding, TheWholeListDecidesWhatEachAmbiguousNameIs) {
    const std::vector<std::string> utf8 = {"Ελληνικά.txt",   "Привет.txt", "Bucureşti.txt",
                                           "À la carte.txt", "é.txt",      "10µF.txt",
                                           "25°C.txt",       "©2020.txt"};
    std::string list;
    for (const std::string& name : utf8) list += name + "\r\n";
    EXPECT_EQ(host::unknownTextToUtf8(list), list);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(host::unknownTextToUtf8(utf8[i]), utf8[i]);
    EXPECT_EQ(host::unknownTextToUtf8("é.txt"), "茅.txt");
    EXPECT_EQ(host::unknownTextToUtf8("é.txt\r©2020.txt\r"), "茅.txt\r漏2020.txt\r");

    // 璐娟芳 in GBK is valid UTF-8 (贾 and a Hangul syllable): its list decides.
    const std::string gbk = host::utf8ToGbk("张三.docx\n李四.xlsx\n璐娟芳.docx\n");
    ASSERT_TRUE(base::isValidUtf8(host::utf8ToGbk("璐娟芳.docx")));
    EXPECT_EQ(host::unknownTextToUtf8(gbk), "张三.docx\n李四.xlsx\n璐娟芳.docx\n");
}

// Traditional characters lie outside GB2312, and some of their GBK bytes
// read as UTF-8 Greek, a modifier letter, a lone combining mark or Syriac
// punctuation: a one-line GBK list of them is still GBK.
TEST(UnknownEncoding, TraditionalCharactersInGbkAreGbk) {
    const std::string characters =
        "螞蟻藥品國語學習書籍電腦軟體網絡資料檔案圖片視頻影音樂錄製舊歷史傳統藝術經濟發展報導記"
        "憶體驗證明確認識關係醫院護理員會議廳廣場車輛運輸鐵路飛機場虂軃";
    std::vector<std::string> names;
    for (std::size_t i = 0; i + 6 <= characters.size(); i += 3)
        names.push_back(characters.substr(i, 6) + ".jpg");
    names.push_back("虂.jpg");  // U+0301 alone as UTF-8
    names.push_back("軃.jpg");  // U+0700
    for (const std::string& name : names)
        EXPECT_EQ(host::unknownTextToUtf8(host::utf8ToGbk(name) + "\r\n"), name + "\r\n");
}

// A line invalid in the list's encoding is read in the other; the rest of the
// list keeps its own.
TEST(UnknownEncoding, OneStrayLineChangesOnlyItself) {
    std::string before, after;
    for (int i = 0; i < 500; ++i) {
        before += "\\资料\\文档" + std::to_string(i) + ".txt\r\n";
        after += "\\资料\\表格" + std::to_string(i) + ".txt\r\n";
    }
    const std::string stray = "\\caf\xE9 \xB1\xED.txt\r\n";  // Latin-1 "é", then GBK "表"
    const std::string text = host::unknownTextToUtf8(before + stray + after);
    EXPECT_TRUE(text == before + host::gbkToUtf8(stray) + after);
    EXPECT_NE(text.find("\\caf\xE9 表.txt"), std::string::npos);

    // In a GBK list only a line invalid in GBK is read as UTF-8.
    const std::string gbk = host::utf8ToGbk("一.txt\n二.txt\n三.txt\n");
    EXPECT_EQ(host::unknownTextToUtf8(gbk + "数.txt\n数据.txt\n"),
              "一.txt\n二.txt\n三.txt\n数.txt\n" + host::gbkToUtf8("数据.txt\n"));
}

TEST(UnknownEncoding, Utf16WithoutAMarkIsToldByItsZeroBytes) {
    const std::u16string list = u"\\a.txt\r\n\\张三\\报告.doc\r\n一丁";
    std::string little, big;
    for (char16_t unit : list) {
        little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    EXPECT_EQ(host::unknownTextToUtf8(little), "\\a.txt\r\n\\张三\\报告.doc\r\n一丁");
    EXPECT_EQ(host::unknownTextToUtf8(big), "\\a.txt\r\n\\张三\\报告.doc\r\n一丁");
    // Other zero bytes make no text.
    EXPECT_EQ(host::listFileText("keep.txt\0junk\r\n"s), std::nullopt);
    EXPECT_EQ(host::listFileText("keep.txt\0junk1"s), std::nullopt);
    EXPECT_EQ(host::listFileText(little.substr(0, little.size() - 1)), std::nullopt);
    EXPECT_EQ(host::listFileText("a.txt\r\n"), "a.txt\r\n");
    // A list file reads as any text of unknown encoding, whether its bytes are
    // kept (UTF-8, a mark dropped) or converted.
    for (const std::string& bytes : {"\xEF\xBB\xBF\xC3\xA9.txt\n"s, "\xD5\xC5\xC8\xFD.doc\n"s,
                                     little, "caf\xC3\xA9.txt\n\xD5\xC5.doc\n"s})
        EXPECT_EQ(host::listFileText(bytes), host::unknownTextToUtf8(bytes)) << bytes;
}

// ---- Trimming, numbers, dates ----------------------------------------------

TEST(TextValues, TrimRemovesSpacesAndTabs) {
    EXPECT_EQ(base::trim(" \t a b \t"), "a b");
    EXPECT_EQ(base::trimLeft("  a "), "a ");
    EXPECT_EQ(base::trimRight("  a \t"), "  a");
    EXPECT_EQ(base::trim("   "), "");
    EXPECT_EQ(base::trim("　中　"), "　中　");  // full-width blanks are text
}

TEST(TextValues, NumberTest) {
    for (const char* yes : {"12", "-3", "+4.5", "1e3", " 7 ", "0.5", ".5", "5."})
        EXPECT_TRUE(base::isNumber(yes)) << yes;
    for (const char* no : {"", " ", "x", "3x", "1e", "-", ".", "1 2", "0x10", "１２"})
        EXPECT_FALSE(base::isNumber(no)) << no;
}

TEST(TextValues, IntegerValueIsZeroWhenNotANumber) {
    EXPECT_EQ(base::toInteger("12"), 12);
    EXPECT_EQ(base::toInteger(" 7 "), 7);
    EXPECT_EQ(base::toInteger("x"), 0);
    EXPECT_EQ(base::toInteger("3x"), 0);
    EXPECT_EQ(base::toInteger("-1"), -1);
    EXPECT_EQ(base::toInteger("+4"), 4);
    EXPECT_EQ(base::toInteger(""), 0);
    EXPECT_EQ(base::toInteger("3.7"), 3);
    EXPECT_EQ(base::toInteger("-3.7"), -3);
    EXPECT_EQ(base::toInteger("1e3"), 1000);
    EXPECT_EQ(base::toInteger("9223372036854775807"), 9223372036854775807LL);
    EXPECT_EQ(base::toInteger("-9223372036854775808"), -9223372036854775807LL - 1);
    EXPECT_EQ(base::toInteger("99999999999999999999"), 0);
}

TEST(TextValues, DatesFollowTheCalendar) {
    EXPECT_TRUE(base::isDate("2024-02-29"));
    EXPECT_FALSE(base::isDate("2023-02-29"));
    EXPECT_FALSE(base::isDate("2023-13-01"));
    EXPECT_TRUE(base::isDate("2000-02-29"));
    EXPECT_FALSE(base::isDate("1900-02-29"));
    EXPECT_FALSE(base::isDate("2024-04-31"));
    EXPECT_TRUE(base::isDate("2024-12-31"));
    EXPECT_TRUE(base::isDate("2024-4-5"));
    EXPECT_FALSE(base::isDate("2024-00-10"));
    EXPECT_FALSE(base::isDate("2024-01-00"));
    EXPECT_FALSE(base::isDate("24-01-01"));
    EXPECT_FALSE(base::isDate("2024-01-01 "));
    EXPECT_FALSE(base::isDate("2024/01/01x"));
    EXPECT_FALSE(base::isDate(""));
}

TEST(TextValues, TimesOfDay) {
    EXPECT_TRUE(base::isTime("00:00:00"));
    EXPECT_TRUE(base::isTime("23:59:59"));
    EXPECT_TRUE(base::isTime("9:5:7"));
    EXPECT_TRUE(base::isTime("12:30"));
    EXPECT_FALSE(base::isTime("24:00:00"));
    EXPECT_FALSE(base::isTime("12:60:00"));
    EXPECT_FALSE(base::isTime("12:00:60"));
    EXPECT_FALSE(base::isTime("12"));
    EXPECT_FALSE(base::isTime("12:30:"));
    EXPECT_FALSE(base::isTime("123:00:00"));
    EXPECT_FALSE(base::isTime(""));
}

TEST(TextValues, NumberPatterns) {
    EXPECT_EQ(base::formatNumber(7, "0000"), "0007");
    EXPECT_EQ(base::formatNumber(2024, "0000"), "2024");
    EXPECT_EQ(base::formatNumber(5, "00"), "05");
    EXPECT_EQ(base::formatNumber(12345, "00"), "12345");
    EXPECT_EQ(base::formatNumber(-5, "00"), "-05");
    EXPECT_EQ(base::formatNumber(0, "00"), "00");
    EXPECT_EQ(base::formatNumber(42, ""), "42");
}

TEST(TextValues, DecimalsRoundAndDropTrailingZeros) {
    EXPECT_EQ(base::formatDecimal(1536.0 / 1024, 2), "1.5");
    EXPECT_EQ(base::formatDecimal(0.00146, 2), "0");
    EXPECT_EQ(base::formatDecimal(4194304, 2), "4194304");
    EXPECT_EQ(base::formatDecimal(1.53125, 2), "1.53");
    EXPECT_EQ(base::formatDecimal(2.675, 2), "2.68");  // rounds the written value
    EXPECT_EQ(base::formatDecimal(0.125, 2), "0.13");
    EXPECT_EQ(base::formatDecimal(9.999, 2), "10");
    EXPECT_EQ(base::formatDecimal(99.96, 1), "100");
    EXPECT_EQ(base::formatDecimal(-1.25, 1), "-1.3");
    EXPECT_EQ(base::formatDecimal(-0.001, 2), "0");
    EXPECT_EQ(base::formatDecimal(2.5, 0), "3");
    EXPECT_EQ(base::formatDecimal(0, 2), "0");
    EXPECT_EQ(base::formatDecimal(1e15 + 0.5, 1), "1000000000000000.5");
}

// ---- Clock and local time --------------------------------------------------

class LocalTime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) previous_ = tz;
        useZone("Asia/Shanghai");
    }
    void TearDown() override {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    static void useZone(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

  private:
    std::optional<std::string> previous_;
};

constexpr std::time_t kLeapDayUtc = 1709164800;  // 2024-02-29 00:00:00 UTC

TEST_F(LocalTime, TextOfAKnownInstant) {
    EXPECT_EQ(host::localTimeText(0), "1970-01-01 08:00:00");
    EXPECT_EQ(host::localTimeText(kLeapDayUtc), "2024-02-29 08:00:00");
    EXPECT_EQ(host::localTimeText(kLeapDayUtc + 16 * 3600 - 1), "2024-02-29 23:59:59");
}

TEST_F(LocalTime, ParsingInvertsTheText) {
    std::time_t seconds = 0;
    ASSERT_TRUE(host::parseLocalTimeText("2024-02-29 08:00:00", seconds));
    EXPECT_EQ(seconds, kLeapDayUtc);
    ASSERT_TRUE(host::parseLocalTimeText("2024-3-1 7:59:59", seconds));
    EXPECT_EQ(seconds, kLeapDayUtc + 24 * 3600 - 1);
    for (const char* bad : {"2023-02-29 00:00:00", "2024-02-29", "2024-02-29 25:00:00",
                            "2024-02-29T08:00:00", "", "x y"}) {
        seconds = 123;
        EXPECT_FALSE(host::parseLocalTimeText(bad, seconds)) << bad;
        EXPECT_EQ(seconds, 123);
    }
}

TEST_F(LocalTime, DaylightSavingIsDecidedByTheDate) {
    useZone("America/New_York");
    std::time_t seconds = 0;
    ASSERT_TRUE(host::parseLocalTimeText("2024-07-01 12:00:00", seconds));
    EXPECT_EQ(seconds, 1719849600);  // 16:00 UTC, summer time
    ASSERT_TRUE(host::parseLocalTimeText("2024-01-01 12:00:00", seconds));
    EXPECT_EQ(seconds, 1704128400);  // 17:00 UTC, standard time
    EXPECT_EQ(host::localTimeText(1719849600), "2024-07-01 12:00:00");
}

TEST_F(LocalTime, OffsetAndNowComeFromTheInstalledClock) {
    host::FixedClock fixed(kLeapDayUtc);
    {
        host::ScopedClock use(fixed);
        EXPECT_EQ(host::utcOffsetSeconds(), 8 * 3600);
        EXPECT_EQ(host::nowText(), "2024-02-29 08:00:00");
        fixed.set(kLeapDayUtc + 61);
        EXPECT_EQ(host::nowText(), "2024-02-29 08:01:01");
        host::FixedClock inner(0);
        {
            host::ScopedClock nested(inner);
            EXPECT_EQ(host::nowText(), "1970-01-01 08:00:00");
        }
        EXPECT_EQ(host::clock().now(), kLeapDayUtc + 61);
        useZone("America/New_York");
        fixed.set(1719849600);
        EXPECT_EQ(host::utcOffsetSeconds(), -4 * 3600);
    }
    // Back on the system clock.
    EXPECT_GT(host::clock().now(), kLeapDayUtc);
}

}  // namespace
