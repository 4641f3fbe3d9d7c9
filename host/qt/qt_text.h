// Conversions between the program's byte strings and Qt's strings.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace host {

// For display: invalid UTF-8 shows as a replacement character.
QString toQString(std::string_view text);
std::string fromQString(const QString& text);
// A path chosen in a dialog, as bytes for the file system.
std::string pathFromQString(const QString& path);

}  // namespace host
