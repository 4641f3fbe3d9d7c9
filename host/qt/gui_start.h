// Starting a program's GUI application where a display may be missing: a
// program started from a terminal without one, or by a scheduler with the
// wrong arguments, says so in one line and ends with status 2, instead of
// the windowing library's abort and a core dump.
#pragma once

#include <QApplication>
#include <memory>
#include <string>

namespace host {

inline constexpr int kExitNoDisplay = 2;

// `program` names the program in the message; `hint` (may be empty) says what
// to run instead.
std::unique_ptr<QApplication> startApplication(int& argc, char** argv, const std::string& program,
                                               const std::string& hint);

}  // namespace host
