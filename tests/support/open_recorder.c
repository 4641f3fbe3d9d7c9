/* A stand-in for the program a file type is associated with, for the Windows
 * tests: started as `open_recorder RECORD NAME`, it writes NAME in UTF-8 to
 * the file RECORD (through a temporary file renamed into place, so a reader
 * never sees half of it) and ends with status 0. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

int main(void) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3) return 2;
    static char name[32768];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, args[2], -1, name, (int)sizeof name, NULL, NULL);
    static wchar_t partial[32768];
    if (length <= 0 || lstrlenW(args[1]) + 9 >= 32768) return 2;
    lstrcpyW(partial, args[1]);
    lstrcatW(partial, L".partial");
    HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, name, (DWORD)(length - 1), &written, NULL);
    CloseHandle(file);
    if (!wrote || !MoveFileExW(partial, args[1], MOVEFILE_REPLACE_EXISTING)) return 2;
    return 0;
}
