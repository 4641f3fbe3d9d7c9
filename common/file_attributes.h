// What the lists need to know about single files: their times as time text,
// their length, the length as text with a unit, and the folders a target path
// needs. Paths are byte strings, used unchanged. None of these throws on a
// missing or unreadable file; each gives the fixed result documented below.
#pragma once

#include <string>
#include <string_view>

namespace common {

// A time of `filename` as local "yyyy-mm-dd hh:mm:ss": the modification time
// for `type` 3, the creation time for any other type. The creation time is the
// birth time where the file system keeps one, else the status-change time.
// A file whose status cannot be read gives the zero file time (1601-01-01
// 00:00:00 UTC) moved by the current UTC offset when that offset is positive
// ("1601-01-01 08:00:00" at UTC+8), else "1601-01-01 00:00:00".
std::string getft(const std::string& filename, int type);

// The length of `filen` in bytes, exact beyond 4 GiB; 4294967295 when it
// cannot be read.
double filel(const std::string& filen);

// The length of `filen` with a unit chosen by `ctdwszf`: "1" whole bytes
// ("1536字节"); "3" megabytes to 2 places ("0MB"); "2" and anything else
// kilobytes to 2 places ("1.5KB").
std::string filelzf(const std::string& filen, std::string_view ctdwszf);

// Creates every missing folder of the target file path `filenp` that lies
// below `targetFolder`; neither the target folder itself nor the file name
// after the last separator is created. On Windows "/" separates as the
// backslash does. Failures are left to the copy.
void cr_d(const std::string& filenp, const std::string& targetFolder);

}  // namespace common
