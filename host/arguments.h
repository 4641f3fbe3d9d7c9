// The program's arguments as the program's byte strings. On Windows `argv`
// holds them in the ANSI code page, where a name outside it is lost; there
// they are read again from the wide command line and given in UTF-8.
#pragma once

#include <string>
#include <vector>

namespace host {

// The arguments after the program name.
std::vector<std::string> programArguments(int argc, char** argv);

// A write to a closed pipe (the reader, "head -1" say, has gone) then fails
// with an error the program reports, instead of ending it on the spot.
void ignoreBrokenPipes() noexcept;

}  // namespace host
