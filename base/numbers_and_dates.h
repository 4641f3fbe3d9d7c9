// Numbers, dates and times as the lists and expressions write them.
#pragma once

#include <string>
#include <string_view>

namespace base {

// True when `text`, trimmed, is a decimal number ("12", "-3", "+4.5", "1e3").
bool isNumber(std::string_view text) noexcept;
// The integer `text` holds (trimmed, optional sign, digits); 0 when it is not a
// number. A decimal number is cut towards zero.
long long toInteger(std::string_view text) noexcept;
// "yyyy-mm-dd" (also "yyyy-m-d") naming a real calendar date.
bool isDate(std::string_view text) noexcept;
// "hh:mm:ss" (also "h:m:s", or "hh:mm") naming a real time of day.
bool isTime(std::string_view text) noexcept;
// `value` written with a digit pattern: "0000" pads to four digits, "00" to two.
std::string formatNumber(long long value, std::string_view pattern);
// `value` rounded to `decimals` places, written without trailing zeros after
// the point ("1.5", "1.53", "0", "4194304").
std::string formatDecimal(double value, int decimals);

}  // namespace base
