#include "show/TextNumbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace orvex {
namespace {

// Length of a blank at the start of s, 0 when there is none.
size_t BlankAt(std::string_view s) {
  if (s.empty()) return 0;
  char c = s[0];
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  if (s.size() >= 3 && s.substr(0, 3) == "\xE3\x80\x80") return 3;  // U+3000
  return 0;
}

bool BlankEndsAt(std::string_view s, size_t* len) {
  if (s.empty()) return false;
  char c = s.back();
  if (c == ' ' || (c >= '\t' && c <= '\r')) {
    *len = 1;
    return true;
  }
  if (s.size() >= 3 && s.substr(s.size() - 3) == "\xE3\x80\x80") {
    *len = 3;
    return true;
  }
  return false;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string_view TrimLeadingBlanks(std::string_view s) {
  while (size_t n = BlankAt(s)) s.remove_prefix(n);
  return s;
}

std::string_view TrimBlanks(std::string_view s) {
  s = TrimLeadingBlanks(s);
  size_t n = 0;
  while (BlankEndsAt(s, &n)) s.remove_suffix(n);
  return s;
}

double ParseLeadingReal(std::string_view text) {
  text = TrimLeadingBlanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  // Only plain decimal forms count: no "inf", "nan" or hexadecimal.
  if (text.empty() ||
      !(IsDigit(text[0]) || (text[0] == '.' && text.size() > 1 && IsDigit(text[1]))))
    return 0;
  double value = 0;
  auto [ptr, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Too small underflows to zero; too large has no sensible reading.
    return 0;
  }
  if (ec != std::errc()) return 0;
  return negative ? -value : value;
}

int32_t ParseLeadingInt(std::string_view text) {
  text = TrimLeadingBlanks(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
    if (value > int64_t{1} << 32) break;  // saturates below
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

std::string FormatG(double value, int precision) {
  char buf[64];
  auto [ptr, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
  if (ec != std::errc()) return "0";
  return std::string(buf, ptr);
}

std::string FormatExact(double value) {
  if (!std::isfinite(value)) return "0";
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) return "0";
  return std::string(buf, ptr);
}

}  // namespace orvex
