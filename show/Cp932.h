// Conversion between UTF-8 (the program's strings) and code page 932, the
// encoding of show, list and marker files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// nullopt when the bytes are not valid code page 932.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);
// nullopt when the text holds a character code page 932 cannot represent
// (or is not valid UTF-8).
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

}  // namespace orvex
