// List files built by the tests themselves: a minimal .xls (BIFF8 records in an
// OLE2 compound file, written byte by byte), .xlsx packages assembled part by
// part with libzip, and libxlsxwriter workbooks.
#pragma once

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace import_fixtures {

inline void put16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}
inline void put32(std::string& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}
inline void set32(std::string& out, std::size_t at, std::uint32_t value) {
    std::string bytes;
    put32(bytes, value);
    out.replace(at, 4, bytes);
}

// UTF-8 (BMP only) -> UTF-16LE, as BIFF8 stores wide strings.
inline std::string utf16le(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t code = c;
        int extra = 0;
        if (c >= 0xE0) {
            code = c & 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            code = c & 0x1F;
            extra = 1;
        }
        for (int k = 1; k <= extra; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += 1 + extra;
        put16(out, static_cast<std::uint16_t>(code));
    }
    return out;
}

inline std::string biffRecord(std::uint16_t type, const std::string& data) {
    std::string out;
    put16(out, type);
    put16(out, static_cast<std::uint16_t>(data.size()));
    return out + data;
}

// A formula cell and the result saved with it. The bytes follow the FORMULA,
// SHRFMLA and STRING record layouts of the BIFF8 format description.
struct XlsFormula {
    std::variant<std::string, double, bool> result;
    int error = -1;            // >= 0: an error code is the result instead
    bool sharesFirst = false;  // the top cell of a filled-down range: SHRFMLA follows
    int sharedRow = -1;        // >= 0: refers (PtgExp) to the shared formula of that row
};
// A BOOLERR constant: TRUE/FALSE or an error code.
struct XlsBoolErr {
    int value;
    bool isError;
};

struct XlsCell {
    int row;     // 0-based
    int column;  // 0-based
    std::variant<std::string, double, int, XlsFormula, XlsBoolErr> value;
    bool dateFormat = false;  // shown with the built-in date format 14
};

inline std::string biffDouble(double value) {
    char bytes[8];
    std::memcpy(bytes, &value, 8);
    return std::string(bytes, 8);
}

// FORMULA (and its SHRFMLA, STRING) for `formula` at `row`/`column`; `head`
// is rw, col and ixfe.
inline std::string xlsFormulaRecords(const std::string& head, const XlsFormula& formula, int row,
                                     int column) {
    std::string data = head;
    const auto* text = std::get_if<std::string>(&formula.result);
    if (formula.error >= 0 || !std::holds_alternative<double>(formula.result)) {
        // FormulaValue: type byte, reserved, value byte, three reserved, 0xFFFF.
        const int type = formula.error >= 0 ? 2 : text ? (text->empty() ? 3 : 0) : 1;
        const int value = formula.error >= 0 ? formula.error
                          : type == 1        ? (std::get<bool>(formula.result) ? 1 : 0)
                                             : 0;
        data += static_cast<char>(type);
        data += '\0';
        data += static_cast<char>(value);
        data.append(3, '\0');
        put16(data, 0xFFFF);
    } else {
        data += biffDouble(std::get<double>(formula.result));
    }
    const bool shared = formula.sharesFirst || formula.sharedRow >= 0;
    put16(data, shared ? 0x0008 : 0x0002);  // fShrFmla / fCalcOnLoad
    put32(data, 0);                         // chn
    std::string tokens;
    if (shared) {
        tokens += '\x01';  // PtgExp: the row and column of the shared formula's top cell
        put16(tokens, static_cast<std::uint16_t>(formula.sharesFirst ? row : formula.sharedRow));
        put16(tokens, static_cast<std::uint16_t>(column));
    } else {
        tokens = std::string("\x1E\x01\x00\x1E\x01\x00\x03", 7);  // PtgInt 1, PtgInt 1, PtgAdd
    }
    put16(data, static_cast<std::uint16_t>(tokens.size()));
    std::string out = biffRecord(0x0006, data + tokens);
    if (formula.sharesFirst) {
        std::string shrfmla;
        put16(shrfmla, static_cast<std::uint16_t>(row));  // rwFirst
        put16(shrfmla, 0xFFFF);                           // rwLast (the fixture's rows end sooner)
        shrfmla += static_cast<char>(column);
        shrfmla += static_cast<char>(column);
        shrfmla += '\0';                                      // reserved
        shrfmla += '\x10';                                    // cUse
        const std::string shared("\x24\x00\x00\x01\xC0", 5);  // PtgRef B1, relative
        put16(shrfmla, static_cast<std::uint16_t>(shared.size()));
        out += biffRecord(0x04BC, shrfmla + shared);
    }
    if (text && !text->empty()) {
        std::string string;  // XLUnicodeString, two-byte characters
        const std::string wide = utf16le(*text);
        put16(string, static_cast<std::uint16_t>(wide.size() / 2));
        string += '\x01';
        out += biffRecord(0x0207, string + wide);
    }
    return out;
}

template <typename Bof>
std::string xlsSheet(const std::vector<XlsCell>& cells, std::uint32_t& stringIndex, Bof bof);

// The SST record of `strings` as real writers store long tables: each piece
// of a string in one byte per character where all of its characters fit
// (option 0x00), else in two (0x01), and the table spread over CONTINUE
// records. Here every string of two characters or more is split in its
// middle: its second half starts a CONTINUE record with an option byte of
// its own, in the width that half needs, so a fixture's strings continue
// both in the same width and in a changed one. A shorter string starts a
// CONTINUE record whole, as a string whose head no longer fits does.
inline std::string xlsSharedStrings(const std::vector<std::string>& strings) {
    std::vector<std::string> records(1);
    put32(records[0], static_cast<std::uint32_t>(strings.size()));
    put32(records[0], static_cast<std::uint32_t>(strings.size()));
    const auto putPiece = [](std::string& out, const std::string& wide) {
        bool narrow = true;
        for (std::size_t i = 1; i < wide.size(); i += 2) narrow = narrow && wide[i] == '\0';
        out += narrow ? '\x00' : '\x01';
        for (std::size_t i = 0; i < wide.size(); i += narrow ? 2 : 1) out += wide[i];
    };
    for (const std::string& text : strings) {
        const std::string wide = utf16le(text);
        const std::size_t units = wide.size() / 2;
        if (units < 2) records.emplace_back();
        put16(records.back(), static_cast<std::uint16_t>(units));
        if (units < 2) {
            putPiece(records.back(), wide);
            continue;
        }
        putPiece(records.back(), wide.substr(0, units / 2 * 2));
        records.emplace_back();
        putPiece(records.back(), wide.substr(units / 2 * 2));
    }
    std::string out = biffRecord(0x00FC, records[0]);
    for (std::size_t i = 1; i < records.size(); ++i) out += biffRecord(0x003C, records[i]);
    return out;
}

// A BIFF8 workbook stream with `sheets` (each a list of cells), WINDOW1 naming
// `activeTab`. With `encrypted` the globals carry a FILEPASS record, as a
// password-protected file does.
inline std::string xlsWorkbookStream(const std::vector<std::vector<XlsCell>>& sheets, int activeTab,
                                     bool encrypted) {
    auto bof = [](std::uint16_t kind) {
        std::string data;
        put16(data, 0x0600);
        put16(data, kind);
        put16(data, 0x0DBB);
        put16(data, 0x07CC);
        put32(data, 0);
        put32(data, 0x06);
        return biffRecord(0x0809, data);
    };
    std::vector<std::string> strings;
    for (const auto& cells : sheets)
        for (const XlsCell& cell : cells)
            if (auto* text = std::get_if<std::string>(&cell.value)) strings.push_back(*text);

    std::string globals = bof(0x0005);
    if (encrypted) {
        std::string data;
        put16(data, 1);  // RC4
        put16(data, 1);
        put16(data, 1);
        data.append(48, '\x5A');
        globals += biffRecord(0x002F, data);
    }
    globals += biffRecord(0x0042, std::string("\xB0\x04", 2));  // code page: UTF-16
    std::string window1;
    for (int i = 0; i < 5; ++i) put16(window1, i == 4 ? 0x0038 : 0);  // position, size, grbit
    put16(window1, static_cast<std::uint16_t>(activeTab));            // itabCur
    put16(window1, 0);                                                // itabFirst
    put16(window1, 1);                                                // ctabSel
    put16(window1, 600);                                              // wTabRatio
    globals += biffRecord(0x003D, window1);
    for (int ifmt : {0, 14}) {  // XF 0 General, XF 1 a date
        std::string xf;
        put16(xf, 0);
        put16(xf, static_cast<std::uint16_t>(ifmt));
        xf.append(16, '\0');
        globals += biffRecord(0x00E0, xf);
    }
    // Large enough that the stream is kept in ordinary sectors (4096 bytes and
    // more), not in the compound file's mini stream.
    globals += biffRecord(0x00EB, std::string(4200, '\0'));
    globals += xlsSharedStrings(strings);
    std::vector<std::size_t> boundSheetAt;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        boundSheetAt.push_back(globals.size() + 4);
        std::string boundSheet;
        put32(boundSheet, 0);  // offset of the sheet's BOF, filled in below
        boundSheet += std::string("\0\0", 2);
        boundSheet += static_cast<char>(6);
        boundSheet += '\0';
        boundSheet += "Sheet" + std::to_string(i + 1);
        globals += biffRecord(0x0085, boundSheet);
    }
    globals += biffRecord(0x000A, "");
    std::string stream = globals;
    std::uint32_t stringIndex = 0;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        set32(stream, boundSheetAt[i], static_cast<std::uint32_t>(stream.size()));
        stream += xlsSheet(sheets[i], stringIndex, bof);
    }
    return stream;
}

template <typename Bof>
std::string xlsSheet(const std::vector<XlsCell>& cells, std::uint32_t& stringIndex, Bof bof) {
    std::string sheet = bof(0x0010);
    int lastRow = 0, lastColumn = 0;
    for (const XlsCell& cell : cells) {
        lastRow = std::max(lastRow, cell.row + 1);
        lastColumn = std::max(lastColumn, cell.column + 1);
    }
    std::string dimension;
    put32(dimension, 0);
    put32(dimension, static_cast<std::uint32_t>(lastRow));
    put16(dimension, 0);
    put16(dimension, static_cast<std::uint16_t>(lastColumn));
    put16(dimension, 0);
    sheet += biffRecord(0x0200, dimension);
    for (const XlsCell& cell : cells) {
        std::string data;
        put16(data, static_cast<std::uint16_t>(cell.row));
        put16(data, static_cast<std::uint16_t>(cell.column));
        put16(data, cell.dateFormat ? 1 : 0);
        if (std::holds_alternative<std::string>(cell.value)) {
            put32(data, stringIndex++);
            sheet += biffRecord(0x00FD, data);  // LABELSST
        } else if (auto* number = std::get_if<double>(&cell.value)) {
            sheet += biffRecord(0x0203, data + biffDouble(*number));  // NUMBER
        } else if (auto* formula = std::get_if<XlsFormula>(&cell.value)) {
            sheet += xlsFormulaRecords(data, *formula, cell.row, cell.column);
        } else if (auto* boolErr = std::get_if<XlsBoolErr>(&cell.value)) {
            data += static_cast<char>(boolErr->value);
            data += static_cast<char>(boolErr->isError ? 1 : 0);
            sheet += biffRecord(0x0205, data);  // BOOLERR
        } else {
            const std::int32_t whole = std::get<int>(cell.value);
            put32(data, static_cast<std::uint32_t>(whole * 4) | 2u);
            sheet += biffRecord(0x027E, data);  // RK holding an integer
        }
    }
    sheet += biffRecord(0x000A, "");
    return sheet;
}

// An OLE2 compound file (version 3 with 512-byte sectors, or with `shift` 12
// version 4 with 4096-byte ones) holding one stream of 4096 bytes or more:
// sector 0 the FAT, sector 1 the directory, then the stream.
inline std::string compoundFile(const std::string& streamName, std::string stream,
                                unsigned shift = 9) {
    const std::uint32_t sectorSize = 1u << shift;
    if (stream.size() < 4096) stream.resize(4096, '\0');
    const std::uint32_t streamSize = static_cast<std::uint32_t>(stream.size());
    const std::uint32_t streamSectors = (streamSize + sectorSize - 1) / sectorSize;
    if (streamSectors + 2 > sectorSize / 4)
        throw std::logic_error("stream too large for one FAT sector");
    constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSector = 0xFFFFFFFD;

    std::string header("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    header.append(16, '\0');
    put16(header, 0x003E);
    put16(header, shift == 12 ? 0x0004 : 0x0003);
    put16(header, 0xFFFE);
    put16(header, static_cast<std::uint16_t>(shift));  // sector size
    put16(header, 6);                                  // 64-byte mini sectors
    header.append(6, '\0');
    put32(header, shift == 12 ? 1 : 0);  // directory sectors (0 in version 3)
    put32(header, 1);                    // FAT sectors
    put32(header, 1);                    // first directory sector
    put32(header, 0);                    // transaction signature
    put32(header, 4096);                 // mini stream cutoff
    put32(header, kEnd);                 // first mini FAT sector
    put32(header, 0);                    // mini FAT sectors
    put32(header, kEnd);                 // first DIFAT sector
    put32(header, 0);                    // DIFAT sectors
    put32(header, 0);                    // DIFAT[0]: the FAT is sector 0
    while (header.size() < 512) put32(header, kFree);
    header.resize(sectorSize, '\0');  // version 4: the header fills its sector

    std::string fat;
    put32(fat, kFatSector);
    put32(fat, kEnd);
    for (std::uint32_t s = 0; s < streamSectors; ++s)
        put32(fat, s + 1 == streamSectors ? kEnd : s + 3);
    while (fat.size() < sectorSize) put32(fat, kFree);

    auto entry = [](const std::string& name, std::uint8_t type, std::uint32_t child,
                    std::uint32_t start, std::uint32_t size) {
        std::string out = utf16le(name);
        out.append(2, '\0');
        const std::uint16_t nameBytes = static_cast<std::uint16_t>(out.size());
        out.resize(64, '\0');
        put16(out, nameBytes);
        out += static_cast<char>(type);
        out += '\x01';  // black
        put32(out, kFree);
        put32(out, kFree);
        put32(out, child);
        out.append(16 + 4 + 16, '\0');
        put32(out, start);
        put32(out, size);
        put32(out, 0);
        return out;
    };
    std::string directory = entry("Root Entry", 5, 1, kEnd, 0);
    directory += entry(streamName, 2, kFree, 2, streamSize);
    while (directory.size() < sectorSize) directory += entry("", 0, kFree, 0, 0);

    stream.resize(streamSectors * sectorSize, '\0');
    return header + fat + directory + stream;
}

inline std::string xlsFile(const std::vector<XlsCell>& cells, bool encrypted = false) {
    return compoundFile("Workbook", xlsWorkbookStream({cells}, 0, encrypted));
}
inline std::string xlsSheetsFile(const std::vector<std::vector<XlsCell>>& sheets, int activeTab) {
    return compoundFile("Workbook", xlsWorkbookStream(sheets, activeTab, false));
}

// A zip package with the given parts, written to `path` with libzip.
inline void writePackage(const std::string& path, const std::map<std::string, std::string>& parts,
                         const char* password = nullptr) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) throw std::runtime_error("zip_open failed");
    for (const auto& [name, content] : parts) {
        zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
        const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE);
        if (index < 0) throw std::runtime_error("zip_file_add failed");
        if (password && zip_file_set_encryption(zip, static_cast<zip_uint64_t>(index),
                                                ZIP_EM_AES_256, password) != 0)
            throw std::runtime_error("zip_file_set_encryption failed");
    }
    if (zip_close(zip) != 0) throw std::runtime_error("zip_close failed");
}

// The parts of a minimal workbook whose first sheet is `sheetXml` (the
// worksheet element's content), with optional shared strings and styles.
inline std::map<std::string, std::string> minimalWorkbookParts(
    const std::string& sheetData, const std::string& sharedStrings = "",
    const std::string& workbookPr = "") {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::map<std::string, std::string> parts;
    parts["[Content_Types].xml"] =
        "<?xml version=\"1.0\"?><Types "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
    parts["_rels/.rels"] =
        "<?xml version=\"1.0\"?><Relationships "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel +
        "/officeDocument\" Target=\"/xl/workbook.xml\"/>"
        "</Relationships>";
    parts["xl/workbook.xml"] = "<?xml version=\"1.0\"?><workbook xmlns=\"" + main +
                               "\" xmlns:r=\"" + rel + "\">" + workbookPr +
                               "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
                               "</workbook>";
    std::string workbookRels =
        "<?xml version=\"1.0\"?><Relationships "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    if (!sharedStrings.empty()) {
        workbookRels += "<Relationship Id=\"rId2\" Type=\"" + rel +
                        "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
        parts["xl/sharedStrings.xml"] =
            "<?xml version=\"1.0\"?><sst xmlns=\"" + main + "\">" + sharedStrings + "</sst>";
    }
    parts["xl/_rels/workbook.xml.rels"] = workbookRels + "</Relationships>";
    parts["xl/worksheets/sheet1.xml"] = "<?xml version=\"1.0\"?><worksheet xmlns=\"" + main +
                                        "\"><sheetData>" + sheetData + "</sheetData></worksheet>";
    return parts;
}

}  // namespace import_fixtures
