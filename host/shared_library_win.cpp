#include "host/shared_library.h"
#include "host/windows_internal.h"

namespace host {

Result<void*> librarySymbol(const std::string& path, const char* symbol) noexcept {
    try {
        // The library's own DLLs (Qt's) are looked up in its folder first.
        const HMODULE library = ::LoadLibraryExW(windows::systemPath(path).c_str(), nullptr,
                                                 LOAD_WITH_ALTERED_SEARCH_PATH);
        FARPROC address = library ? ::GetProcAddress(library, symbol) : nullptr;
        if (address) return reinterpret_cast<void*>(address);
        return Failure{"cannot load", path, static_cast<int>(::GetLastError()), {}};
    } catch (...) {
        return Failure{"out of memory loading", path, ERROR_NOT_ENOUGH_MEMORY, {}};
    }
}

}  // namespace host
