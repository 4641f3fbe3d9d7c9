// What a command-line run needs to know about its standard error: whether a
// person is watching it (a terminal, not a pipe, file or log), and how wide
// the terminal is, so that a progress line stays on one line.
#pragma once

namespace host {

bool standardErrorIsTerminal() noexcept;
// Columns of the terminal on standard error; `fallback` when unknown.
int standardErrorColumns(int fallback) noexcept;

}  // namespace host
