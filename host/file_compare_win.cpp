// Comparing the bytes of two files through the wide-character Win32 API.
#include <algorithm>
#include <cstring>
#include <memory>

#include "host/fs.h"
#include "host/progress.h"
#include "host/windows_internal.h"

namespace host {

namespace {

constexpr DWORD kBlock = 256 * 1024;

class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const std::string& path)
        : handle_(::CreateFileW(windows::systemPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)),
          openError_(::GetLastError()) {}
    ~ReadOnlyFile() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    HANDLE get() const noexcept { return handle_; }
    // Why it could not be opened (read before the other file is opened).
    DWORD openError() const noexcept { return openError_; }

  private:
    HANDLE handle_;
    DWORD openError_;
};

// Reads up to `size` bytes; fewer only at the end of the file.
bool readUpTo(HANDLE file, char* buffer, DWORD size, DWORD& got) noexcept {
    got = 0;
    while (got < size) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer + got, size - got, &read, nullptr)) return false;
        if (read == 0) break;
        got += read;
        markProgress();
    }
    return true;
}

}  // namespace

ContentComparer::ContentComparer() = default;
ContentComparer::~ContentComparer() = default;

// Windows opens no file relative to an open folder: each file by its path.
Result<ContentComparison> ContentComparer::compare(const std::string& first,
                                                   const std::string& second) noexcept {
    using windows::fail;
    try {
        const std::string* paths[2] = {&first, &second};
        const ReadOnlyFile files[2] = {ReadOnlyFile(first), ReadOnlyFile(second)};
        LARGE_INTEGER length[2];
        for (int i = 0; i < 2; ++i) {
            if (files[i].get() == INVALID_HANDLE_VALUE)
                return fail("cannot open", *paths[i], files[i].openError());
            if (::GetFileType(files[i].get()) != FILE_TYPE_DISK)
                return fail("cannot compare", *paths[i], ERROR_INVALID_FUNCTION);
            if (!::GetFileSizeEx(files[i].get(), &length[i]))
                return fail("cannot read the status of", *paths[i], ::GetLastError());
        }
        if (length[0].QuadPart != length[1].QuadPart) return ContentComparison::Different;
        if (!blocks_) blocks_ = std::make_unique<char[]>(2 * kBlock);
        long long remaining = length[0].QuadPart;
        while (remaining > 0) {
            const DWORD want = static_cast<DWORD>(std::min<long long>(remaining, kBlock));
            char* block[2] = {blocks_.get(), blocks_.get() + kBlock};
            DWORD got[2] = {0, 0};
            for (int i = 0; i < 2; ++i) {
                if (!readUpTo(files[i].get(), block[i], want, got[i]))
                    return fail("cannot read", *paths[i], ::GetLastError());
            }
            if (got[0] != got[1] || std::memcmp(block[0], block[1], got[0]) != 0)
                return ContentComparison::Different;
            if (got[0] < want) break;
            remaining -= got[0];
        }
        return ContentComparison::Same;
    } catch (...) {
        return fail("out of memory comparing", first, ERROR_NOT_ENOUGH_MEMORY);
    }
}

}  // namespace host
