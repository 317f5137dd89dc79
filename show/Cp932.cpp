#include "show/Cp932.h"

#include <iconv.h>

#include <cerrno>

namespace orvex {
namespace {

// "CP932" rather than "SHIFT_JIS": the latter maps 0x5C to the yen sign,
// which would turn every path separator into something else.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  size_t used = 0;
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = out.data() + used;
    size_t outLeft = out.size() - used;
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    used = out.size() - outLeft;
    if (rc != static_cast<size_t>(-1)) {
      // Irreversible conversions count as failures: the text would change.
      if (rc > 0) ok = false;
      break;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ok = false;  // EILSEQ or EINVAL: not representable or truncated input
    break;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(used);
  return out;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
  return Convert("UTF-8", "CP932", cp932);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  return Convert("CP932", "UTF-8", utf8);
}

}  // namespace orvex
