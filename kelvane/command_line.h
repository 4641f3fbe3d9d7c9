// kelvane without a window, for scheduled comparisons and backups:
//   kelvane check SOURCE TARGET [--option 1|2|3|4|5] [--no-hidden] [--copy] [--no-replace]
//                 [--update] [--verify] [--exclude GLOB]... [--exclude-from FILE]
//                 [--quiet] [--jobs N] [-z]
//   kelvane --version
// It drives the same engines as "开始核对" and "开始复制" and never creates a
// GUI object, so it runs with no display.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kelvane {

inline constexpr int kExitSuccess = 0;
// The check ran, but at least one copy failed or a sub-folder could not be
// read and was left out.
inline constexpr int kExitIncomplete = 1;
// bad arguments, missing folder, unreadable list file, output not written
inline constexpr int kExitBadInput = 2;

// What `kelvane --help` prints.
std::string commandLineHelp();

// Runs the command line `args` (without the program's name): the results go
// to `out`, messages to `err`. Returns the exit status. Does not throw.
int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kelvane
