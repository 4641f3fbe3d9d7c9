// Replays every seed and every input the fuzzers found a fault with through
// the same bodies the fuzz targets run, in the ordinary build; plus what the
// user sees for the inputs that once broke the readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_bodies.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzFolder = ZARVIK_FUZZ_FOLDER;

using Body = void (*)(std::string_view);

struct Target {
    const char* name;
    Body body;
};

const std::vector<Target>& targets() {
    static const std::vector<Target> all = {
        {"ini", fuzz::iniBody},
        {"text_list", fuzz::textListBody},
        {"csv", fuzz::csvBody},
#if ZARVIK_FUZZ_SPREADSHEETS
        {"xlsx", fuzz::xlsxBody},
        {"xls", fuzz::xlsBody},
#endif
        {"gbk_conversion", fuzz::gbkConversionBody},
        {"gbk_positions", fuzz::gbkPositionsBody},
        {"torrin_records", fuzz::torrinRecordsBody},
    };
    return all;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The bodies' scratch files go to a folder of this run, removed at the end.
class ScratchFolder : public ::testing::Environment {
  public:
    void SetUp() override {
        folder_ = std::make_unique<testing_support::TempFolder>();
        ::setenv("TMPDIR", folder_->path().c_str(), 1);
    }
    void TearDown() override { folder_.reset(); }

  private:
    std::unique_ptr<testing_support::TempFolder> folder_;
};
const auto* const kScratch = ::testing::AddGlobalTestEnvironment(new ScratchFolder);

struct KeptInput {
    std::string target;
    fs::path file;
};

std::vector<KeptInput> keptInputs() {
    std::vector<KeptInput> inputs;
    for (const Target& target : targets()) {
        for (const char* kind : {"corpus", "regressions"}) {
            const fs::path folder = kFuzzFolder / kind / target.name;
            if (!fs::is_directory(folder)) continue;
            for (const fs::directory_entry& entry : fs::directory_iterator(folder))
                if (entry.is_regular_file()) inputs.push_back({target.name, entry.path()});
        }
    }
    std::sort(inputs.begin(), inputs.end(),
              [](const KeptInput& a, const KeptInput& b) { return a.file < b.file; });
    return inputs;
}

class KeptInputReplay : public ::testing::TestWithParam<KeptInput> {};

TEST_P(KeptInputReplay, PassesTheTargetsChecks) {
    const KeptInput& input = GetParam();
    const auto target = std::find_if(targets().begin(), targets().end(),
                                     [&](const Target& t) { return input.target == t.name; });
    ASSERT_NE(target, targets().end());
    const std::string bytes = readBytes(input.file);
    // A broken check aborts the test program with the check's text.
    EXPECT_NO_THROW(target->body(bytes)) << input.file;
}

INSTANTIATE_TEST_SUITE_P(Kept, KeptInputReplay, ::testing::ValuesIn(keptInputs()),
                         [](const ::testing::TestParamInfo<KeptInput>& info) {
                             std::string name =
                                 info.param.file.parent_path().parent_path().filename().string() +
                                 "_" + info.param.target + "_" + info.param.file.stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(KeptInputs, EveryTargetHasSeeds) {
    for (const Target& target : targets()) {
        const fs::path folder = kFuzzFolder / "corpus" / target.name;
        ASSERT_TRUE(fs::is_directory(folder)) << folder;
        EXPECT_FALSE(fs::is_empty(folder)) << folder;
    }
}

// gbkMid once added start and count without a bound: a huge count (the
// "rest of the text" a caller may pass as LONG_MAX) overflowed.
TEST(GbkMidWithHugeCount, GivesTheRestOfTheText) {
    const std::string text = "名单a";  // 名 = bytes 1-2, 单 = 3-4, a = 5
    EXPECT_EQ(host::gbkMid(text, 3, LONG_MAX), "单a");
    EXPECT_EQ(host::gbkMid(text, 1, LONG_MAX), text);
    EXPECT_EQ(host::gbkMid(text, LONG_MAX, LONG_MAX), "");
    EXPECT_EQ(host::gbkMid("abc", LONG_MAX, LONG_MAX), "");
    EXPECT_EQ(host::gbkMid("abc", 2, LONG_MAX), "bc");
}

// A last line ended by a lone carriage return once joined the line end added
// after it into "\r\n": "[set\r" turned into a second section "set" on the
// next read, and the value written went where no reader looked.
TEST(IniFinalCarriageReturn, ValueWrittenAfterItReadsBack) {
    const std::string file = "[a]\nx=1\n[set\r";
    host::IniFile ini("/nonexistent/settings.ini", file);
    EXPECT_EQ(ini.content(), file);
    ini.write("set", "md", "2");
    const std::string saved = ini.content();
    host::IniFile reread("/nonexistent/settings.ini", saved);
    EXPECT_EQ(reread.read("set", "md", "none"), "2");
    EXPECT_EQ(reread.read("a", "x", "none"), "1");
    EXPECT_EQ(saved, "[a]\nx=1\n[set\nmd=2");
}

#if ZARVIK_FUZZ_SPREADSHEETS
class DamagedXls : public ::testing::Test {
  protected:
    std::string copyAsXls(const fs::path& source) {
        const std::string path = (fs::path(folder_.path()) / "list.xls").string();
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        return path;
    }
    testing_support::TempFolder folder_;
};

// A compound file whose directory entry claims a 23130-byte name made libfreexl
// read far beyond its buffer; the file is now refused as damaged.
TEST_F(DamagedXls, OversizedDirectoryNameIsRefusedAsDamaged) {
    const std::string path =
        copyAsXls(kFuzzFolder / "regressions" / "xls" / "directory_name_length.xls");
    try {
        kelvane::readSpreadsheetColumn(path, 1);
        FAIL() << "a damaged workbook was read";
    } catch (const kelvane::ListFileError& error) {
        EXPECT_EQ(error.path(), path);
        EXPECT_NE(error.reason().find("损坏"), std::string::npos) << error.reason();
    }
}

// A stream that claims more bytes than the file holds made libfreexl allocate
// that much (here 1.8 GB) and keep it.
TEST_F(DamagedXls, StreamLargerThanTheFileIsRefused) {
    const std::string path =
        copyAsXls(kFuzzFolder / "regressions" / "xls" / "claimed_stream_size.xls");
    EXPECT_THROW(kelvane::readSpreadsheetColumn(path, 1), kelvane::ListFileError);
}

// A damaged BIFF stream (it crashed the library .xls files were once read
// with): importing it is an error naming the file, and the list being filled
// is left as it was.
TEST_F(DamagedXls, DamagedBiffStreamIsAnImportError) {
    const std::string path =
        copyAsXls(kFuzzFolder / "regressions" / "xls" / "freexl_invalid_free.xls");
    try {
        kelvane::readSpreadsheetColumn(path, 1);
        FAIL() << "a damaged workbook was read";
    } catch (const kelvane::ListFileError& error) {
        EXPECT_EQ(error.path(), path);
        EXPECT_NE(error.reason().find("损坏"), std::string::npos) << error.reason();
    }

    grid::Grid grid(fuzz::nameListDefinition());
    grid.importtext("kept\n", 1);
    host::NullProgress progress;
    EXPECT_FALSE(kelvane::importListFile(grid, path, 1, 1, progress));
    ASSERT_EQ(grid.rowcount(), 1);
    EXPECT_EQ(grid.getitemstring(1, "md"), "kept");
    // The reader still works afterwards, in the same process.
    EXPECT_EQ(kelvane::readSpreadsheetColumn(
                  copyAsXls(kFuzzFolder / "corpus" / "xls" / "one_cell.xls"), 1)
                  .size(),
              1u);
}

TEST_F(DamagedXls, SoundWorkbookStillReads) {
    const std::string path = copyAsXls(kFuzzFolder / "corpus" / "xls" / "text_and_numbers.xls");
    const std::vector<std::string> cells = kelvane::readSpreadsheetColumn(path, 1);
    ASSERT_GE(cells.size(), 3u);
    EXPECT_EQ(cells[0], "名单.txt");
    EXPECT_EQ(cells[1], "3.5");
    EXPECT_EQ(cells[2], "12");
}
#endif

}  // namespace
