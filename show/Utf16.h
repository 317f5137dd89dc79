// UTF-8 and UTF-16 both ways, for names stored as UTF-16 (device names in
// the settings, MIDI port names in their settings file). What is not valid in
// the one becomes U+FFFD in the other, so a garbled name still has an
// identity of its own.
#pragma once

#include <string>
#include <string_view>

namespace orvex {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace orvex
