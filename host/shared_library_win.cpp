#include "host/shared_library.h"
#include "host/windows_internal.h"

namespace host {

void* librarySymbol(const std::string& path, const char* symbol, std::string* reason) noexcept {
    try {
        // The library's own DLLs (Qt's) are looked up in its folder first.
        const HMODULE library = ::LoadLibraryExW(windows::systemPath(path).c_str(), nullptr,
                                                 LOAD_WITH_ALTERED_SEARCH_PATH);
        FARPROC address = library ? ::GetProcAddress(library, symbol) : nullptr;
        if (!address && reason) *reason = windows::systemMessage(::GetLastError());
        return reinterpret_cast<void*>(address);
    } catch (...) {
        if (reason) reason->clear();
        return nullptr;
    }
}

}  // namespace host
