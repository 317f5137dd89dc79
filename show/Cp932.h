// Conversion between UTF-8 (the program's strings) and code page 932, the
// encoding of show, list and marker files. Every file Orvex writes in code
// page 932 encodes through here, so the rules for names hold everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// What a text is used for decides how strictly it is encoded.
enum class Cp932Use {
  // Titles, descriptions: a character the code page only has a look-alike
  // for (U+301C WAVE DASH becomes the full-width tilde) is stored as that
  // look-alike, as input on the home platform would have produced it.
  kText,
  // Folders and file names: every character must read back as itself, or a
  // file found before the save would not be found after it.
  kName,
};

// nullopt when the bytes are not valid code page 932. The single bytes 0x80,
// 0xA0, 0xFD, 0xFE and 0xFF decode as the home platform decodes them
// (U+0080, U+F8F0 to U+F8F3).
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);
// nullopt when the text holds a character code page 932 cannot represent (or
// is not valid UTF-8), or for kName a character that would not read back as
// itself.
std::optional<std::string> Utf8ToCp932(std::string_view utf8, Cp932Use use = Cp932Use::kText);

// The first character (as UTF-8) that makes Utf8ToCp932(utf8, use) fail, or
// an empty string when it would succeed. For reports to the operator.
std::string FirstUnencodableCharacter(std::string_view utf8, Cp932Use use);

}  // namespace orvex
