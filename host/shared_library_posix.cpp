#include <dlfcn.h>

#include <cerrno>

#include "host/shared_library.h"

namespace host {

Result<void*> librarySymbol(const std::string& path, const char* symbol) noexcept {
    try {
        // Never closed: the library's own static objects live until the process ends.
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        void* address = library ? ::dlsym(library, symbol) : nullptr;
        if (address) return address;
        const char* reason = ::dlerror();
        return Failure{"cannot load", path, 0, reason ? reason : "unknown error"};
    } catch (...) {
        return Failure{"out of memory loading", path, ENOMEM, {}};
    }
}

}  // namespace host
