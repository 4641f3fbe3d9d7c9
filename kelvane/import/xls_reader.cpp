// .xls (BIFF inside an OLE2 compound file) through libfreexl. libfreexl does
// not read the workbook's window settings, so the first sheet is the one read.
#include <freexl.h>

#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane::sheet {

namespace {

// The encrypted form of the newer formats is also an OLE2 file, holding this
// stream instead of a workbook.
bool holdsEncryptedPackage(const std::string& path) {
    const std::string bytes = readWholeFile(path);
    const std::string_view name("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    return bytes.find(name) != std::string::npos;
}

std::string freexlReason(const std::string& path, int code) {
    switch (code) {
        case FREEXL_FILE_NOT_FOUND:
            return "无法打开文件";
        case FREEXL_INSUFFICIENT_MEMORY:
            return "内存不足";
        case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
            return holdsEncryptedPackage(path) ? "工作簿受密码保护或已加密"
                                               : "不是Excel工作簿（复合文档中没有工作簿）";
        case FREEXL_UNSUPPORTED_CHARSET:
        case FREEXL_INVALID_CHARACTER:
            return "文件已损坏（文字编码无法转换）";
        default:
            return "文件已损坏（freexl 错误 " + std::to_string(code) + "）";
    }
}

class XlsHandle {
  public:
    explicit XlsHandle(const std::string& path) {
        const int code = freexl_open(path.c_str(), &handle_);
        if (code != FREEXL_OK) {
            if (handle_) freexl_close(handle_);
            handle_ = nullptr;
            throw ListFileError(path, freexlReason(path, code));
        }
    }
    ~XlsHandle() { freexl_close(handle_); }
    XlsHandle(const XlsHandle&) = delete;
    XlsHandle& operator=(const XlsHandle&) = delete;
    const void* get() const { return handle_; }

  private:
    const void* handle_ = nullptr;
};

}  // namespace

std::vector<std::string> readXlsColumn(const std::string& path, int column) {
    XlsHandle xls(path);
    unsigned int info = 0;
    if (freexl_get_info(xls.get(), FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED)
        throw ListFileError(path, "工作簿受密码保护或已加密");
    unsigned int sheets = 0;
    if (freexl_get_info(xls.get(), FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0)
        throw ListFileError(path, "工作簿中没有工作表");
    int code = freexl_select_active_worksheet(xls.get(), 0);
    if (code != FREEXL_OK) throw ListFileError(path, freexlReason(path, code));
    unsigned int rows = 0;
    unsigned short columns = 0;
    code = freexl_worksheet_dimensions(xls.get(), &rows, &columns);
    if (code != FREEXL_OK) throw ListFileError(path, freexlReason(path, code));

    std::vector<std::string> cells;
    if (static_cast<unsigned>(column) > columns) return cells;
    std::size_t lastWithValue = 0;
    cells.reserve(rows);
    for (unsigned int row = 0; row < rows; ++row) {
        FreeXL_CellValue value;
        code =
            freexl_get_cell_value(xls.get(), row, static_cast<unsigned short>(column - 1), &value);
        if (code != FREEXL_OK) throw ListFileError(path, freexlReason(path, code));
        std::string text;
        switch (value.type) {
            case FREEXL_CELL_INT:
                text = std::to_string(value.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                text = numberText(value.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (value.value.text_value) text = value.value.text_value;
                break;
            default:
                break;
        }
        cells.push_back(std::move(text));
        if (!cells.back().empty()) lastWithValue = cells.size();
    }
    cells.resize(lastWithValue);
    return cells;
}

}  // namespace kelvane::sheet
