// Number and blank handling of the program's text files, independent of the
// process locale (the desktop toolkit may set one with a decimal comma).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

// White space as the text files see it: ASCII blanks and the ideographic
// space U+3000.
std::string_view TrimBlanks(std::string_view utf8);
std::string_view TrimLeadingBlanks(std::string_view utf8);

// Leading blanks, optional sign, digits, optional fraction and exponent; the
// rest is ignored. No number, or one too large for a double, gives 0.
double ParseLeadingReal(std::string_view text);
// Leading blanks, optional sign, digits; the rest is ignored. No number gives
// 0; values beyond 32 bits saturate.
int32_t ParseLeadingInt(std::string_view text);

// printf "%.<precision>g" in the C locale.
std::string FormatG(double value, int precision = 6);
// The shortest text that reads back as exactly the same double.
std::string FormatExact(double value);

}  // namespace orvex
