#include <dlfcn.h>

#include "host/shared_library.h"

namespace host {

void* librarySymbol(const std::string& path, const char* symbol, std::string* reason) noexcept {
    const auto failed = [reason]() -> void* {
        try {
            const char* text = ::dlerror();
            if (reason) *reason = text ? text : "unknown error";
        } catch (...) {
        }
        return nullptr;
    };
    // Never closed: the library's own static objects live until the process ends.
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return failed();
    void* address = ::dlsym(library, symbol);
    return address ? address : failed();
}

}  // namespace host
