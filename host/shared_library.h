// A library of the program's own, loaded only when the part of the program
// that needs it starts: torrin's window lives in one, so that `torrin exit`
// never loads the windowing libraries.
#pragma once

#include <string>

#include "host/result.h"

namespace host {

// The address of `symbol` in the shared library at `path`, which stays loaded
// for the rest of the process (its own dependencies are looked up beside it
// on Windows).
Result<void*> librarySymbol(const std::string& path, const char* symbol) noexcept;

}  // namespace host
