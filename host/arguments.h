// The program's arguments as the program's byte strings. On Windows `argv`
// holds them in the ANSI code page, where a name outside it is lost; there
// they are read again from the wide command line and given in UTF-8.
#pragma once

#include <string>
#include <vector>

namespace host {

// The arguments after the program name.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace host
