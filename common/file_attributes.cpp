#include "common/file_attributes.h"

#include <cstdint>

#include "base/numbers_and_dates.h"
#include "host/clock.h"
#include "host/fs.h"
#include "host/paths.h"

namespace common {

namespace {

// What the size query gives for a file it cannot read.
constexpr double kUnreadableLength = 4294967295.0;

// The zero file time shown in local time. West of UTC the conversion would go
// before the zero time and fails, which leaves the zero time itself.
std::string zeroTimeText() {
    long offset = host::utcOffsetSeconds();
    if (offset <= 0) return "1601-01-01 00:00:00";
    offset %= 86400;
    return "1601-01-01 " + base::formatNumber(offset / 3600, "00") + ":" +
           base::formatNumber(offset / 60 % 60, "00") + ":" + base::formatNumber(offset % 60, "00");
}

double lengthOf(const std::string& filen) {
    const host::Result<std::int64_t> length = host::fileLength(filen);
    return length ? static_cast<double>(*length) : kUnreadableLength;
}

}  // namespace

std::string getft(const std::string& filename, int type) {
    const auto times = host::fileTimes(filename);
    if (!times) return zeroTimeText();
    return host::localTimeText(type == 3 ? times->modified : times->created);
}

double filel(const std::string& filen) {
    return lengthOf(filen);
}

std::string filelzf(const std::string& filen, std::string_view ctdwszf) {
    const double length = lengthOf(filen);
    if (ctdwszf == "1") return base::formatDecimal(length, 0) + "字节";
    if (ctdwszf == "3") return base::formatDecimal(length * 0.0009765625 * 0.0009765625, 2) + "MB";
    return base::formatDecimal(length * 0.0009765625, 2) + "KB";
}

void cr_d(const std::string& filenp, const std::string& targetFolder) {
    // The separator after the target folder stands right after its text; the
    // search starts past it, so the target itself is never taken for a missing
    // folder. Separators are single bytes in UTF-8 names, never part of a
    // character, so the bytes can be searched directly.
    for (std::size_t p = targetFolder.size() + 1; p < filenp.size(); ++p) {
        if (!host::isSeparator(filenp[p])) continue;
        const std::string folder = filenp.substr(0, p);
        // One that cannot be made fails the copy into it, which says why.
        if (!host::folderExists(folder)) static_cast<void>(host::createFolder(folder));
    }
}

}  // namespace common
