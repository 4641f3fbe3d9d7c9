// Writes the seed corpus of every fuzz target into <folder>/<target>/: small
// inputs of our own that reach the readers' main paths, so the fuzzer starts
// from real structure instead of finding a zip or compound file by chance.
// Usage: fuzz_make_seeds tests/fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "import_fixtures.h"

namespace {

namespace fs = std::filesystem;
using import_fixtures::XlsCell;

void save(const fs::path& folder, const std::string& name, const std::string& bytes) {
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
}

std::string readBack(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A zip package's bytes, through a file because libzip writes to one.
std::string packageBytes(const fs::path& scratch, const std::map<std::string, std::string>& parts) {
    import_fixtures::writePackage(scratch.string(), parts);
    std::string bytes = readBack(scratch);
    fs::remove(scratch);
    return bytes;
}

std::string gbk(const char* bytes) {
    return bytes;
}

std::string positions(std::int64_t start, std::int64_t count, std::int64_t from,
                      const std::string& needle, const std::string& text) {
    std::string out;
    for (std::int64_t value : {start, count, from})
        for (int shift = 56; shift >= 0; shift -= 8)
            out += static_cast<char>((static_cast<std::uint64_t>(value) >> shift) & 0xFF);
    return out + needle + '\0' + text;
}

std::string iniInput(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& value) {
    return file + '\0' + section + '\0' + key + '\0' + value;
}

void writeXlsx(const fs::path& folder) {
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const fs::path scratch = fs::temp_directory_path() / "zarvik-make-seeds.xlsx";

    save(folder, "shared_strings.xlsx",
         packageBytes(scratch, import_fixtures::minimalWorkbookParts(
                                   "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                   "<c r=\"B1\" t=\"s\"><v>1</v></c></row>"
                                   "<row r=\"3\"><c r=\"A3\"><v>42</v></c>"
                                   "<c r=\"B3\" t=\"inlineStr\"><is><t>内联</t></is></c></row>",
                                   "<si><t>名单.txt</t></si><si><r><t>富</t></r><r><t>文本"
                                   "</t></r><rPh><t>x</t></rPh></si>")));

    auto styled = import_fixtures::minimalWorkbookParts(
        "<row><c s=\"1\"><v>45000.5</v></c><c s=\"2\"><v>0.25</v></c></row>"
        "<row><c t=\"str\"><v>a_x0009_b</v></c><c t=\"b\"><v>1</v></c></row>"
        "<row><c t=\"d\"><v>2024-01-02T00:00:00Z</v></c><c t=\"e\"><v>#N/A</v></c></row>"
        "<row r=\"9\"><c r=\"AB9\"><v>1e20</v></c><c s=\"3\"><v>60</v></c></row>",
        "", "<workbookPr date1904=\"0\"/><bookViews><workbookView activeTab=\"0\"/></bookViews>");
    styled["xl/styles.xml"] =
        "<?xml version=\"1.0\"?><styleSheet><numFmts count=\"1\">"
        "<numFmt numFmtId=\"164\" formatCode=\"yyyy/m/d h:mm;@\"/></numFmts><cellXfs>"
        "<xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"21\"/><xf numFmtId=\"14\"/>"
        "</cellXfs></styleSheet>";
    std::string& rels = styled["xl/_rels/workbook.xml.rels"];
    rels.insert(rels.rfind("</Relationships>"),
                "<Relationship Id=\"rId3\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/>");
    save(folder, "styles_dates.xlsx", packageBytes(scratch, styled));

    auto prefixed = import_fixtures::minimalWorkbookParts("<x:row><x:c><x:v>7</x:v></x:c></x:row>");
    std::string& sheet = prefixed["xl/worksheets/sheet1.xml"];
    sheet =
        "<?xml version=\"1.0\"?><x:worksheet "
        "xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<x:sheetData><x:row r=\"2\"><x:c r=\"A2\"><x:v>7</x:v></x:c></x:row>"
        "</x:sheetData></x:worksheet>";
    save(folder, "prefixed.xlsx", packageBytes(scratch, prefixed));
}

void writeXls(const fs::path& folder) {
    using import_fixtures::xlsFile;
    save(folder, "text_and_numbers.xls",
         xlsFile({{0, 0, std::string("名单.txt")},
                  {1, 0, 3.5},
                  {2, 0, 12},
                  {3, 0, 45000.0, true},
                  {0, 1, std::string("b")}}));
    save(folder, "one_cell.xls", xlsFile({{0, 0, std::string("a")}}));
    save(folder, "encrypted.xls", xlsFile({{0, 0, std::string("a")}}, true));
    using import_fixtures::XlsBoolErr;
    using import_fixtures::XlsFormula;
    save(folder, "formulas.xls",
         import_fixtures::xlsSheetsFile({{{0, 0, std::string("a")}},
                                         {{0, 0, XlsFormula{std::string("/x/a"), -1, true}},
                                          {1, 0, XlsFormula{std::string("/x/b"), -1, false, 0}},
                                          {2, 0, XlsFormula{45356.0}, true},
                                          {3, 0, XlsFormula{true}},
                                          {4, 0, XlsFormula{0.0, 0x2A}},
                                          {5, 0, XlsBoolErr{1, false}},
                                          {6, 1, XlsBoolErr{0x07, true}}}},
                                        1));
}

void writeText(const fs::path& root) {
    const fs::path csv = root / "csv";
    save(csv, "plain.csv", "name,size\r\na.txt,1\r\n\"b,c.txt\",2\r\n");
    save(csv, "quoted.csv", "\"x\"\"y\",\"line\nbreak\"\n,,\n\"open");
    save(csv, "bom.csv", "\xEF\xBB\xBF名单,2\n文件.txt,3\n");
    save(csv, "gbk.csv", gbk("\xC3\xFB\xB5\xA5,1\n\xCE\xC4\xBC\xFE,2\n"));
    save(csv, "tabs.csv", "a\tb\tc\n1\t2\t3\n");

    const fs::path list = root / "text_list";
    save(list, "utf8.txt", "a.txt\n名单.txt\n  spaced  \n\nlast");
    save(list, "bom_crlf.txt",
         "\xEF\xBB\xBF"
         "一\r\n二\t2\t不同\r\n");
    save(list, "gbk.txt", gbk("\xC3\xFB\xB5\xA5.txt\r\n\xCE\xC4\xBC\xFE\r\n"));
    save(list, "gb18030.txt", gbk("\x81\x30\x81\x30\n\x95\x32\x82\x36\n\xFF\n"));

    const fs::path ini = root / "ini";
    save(ini, "plain.ini",
         iniInput("[set]\r\nmd=1\r\n; note\r\n[other]\r\nk = \"v \"\r\n", "set", "md", "2"));
    save(ini, "new_section.ini", iniInput("[a]\nx=1", "新", "键", "值 "));
    save(ini, "bom.ini", iniInput("\xEF\xBB\xBF[路径]\nsource=/tmp\n", "路径", "source", "'q'"));
    save(ini, "gbk.ini",
         iniInput(gbk("[\xC2\xB7\xBE\xB6]\nsource=\xCE\xC4\n"), "路径", "source", "line\nbreak"));
    save(ini, "odd_lines.ini", iniInput("[open\n=no key\n#c\n[ a ]\n k=\n", "a", "K", ""));

    const fs::path conversion = root / "gbk_conversion";
    save(conversion, "utf8.bin", "名单 a.txt 😀 €");
    save(conversion, "gbk.bin", gbk("\xC3\xFB\xB5\xA5 \x80 \xA2\xE3"));
    save(conversion, "gb18030.bin", gbk("\x81\x30\x81\x30\x95\x32\x82\x36\x84\x31\xA4\x39"));
    save(conversion, "broken.bin", gbk("\xE5\x90\xFF\xC0\xAF\xED\xA0\x80\x81"));

    const fs::path position = root / "gbk_positions";
    save(position, "mixed.bin", positions(2, 3, 1, "单", "名单a😀b"));
    save(position, "ascii.bin", positions(1, -1, 2, "b", "abcabc"));
    save(position, "invalid.bin", positions(0, 4, 0, "\xFF", "a\xFF名\x80"));
    save(position, "extreme.bin", positions(INT64_MAX, INT64_MAX, INT64_MIN, "", "名"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    try {
        writeXlsx(root / "xlsx");
        writeXls(root / "xls");
        writeText(root);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
