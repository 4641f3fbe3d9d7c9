// A library of the program's own, loaded only when the part of the program
// that needs it starts: torrin's window lives in one, so that `torrin exit`
// never loads the windowing libraries.
#pragma once

#include <string>

namespace host {

// The address of `symbol` in the shared library at `path`, which stays loaded
// for the rest of the process (its own dependencies are looked up beside it
// on Windows); nullptr with the system's reason in `reason`.
void* librarySymbol(const std::string& path, const char* symbol, std::string* reason) noexcept;

}  // namespace host
