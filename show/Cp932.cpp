#include "show/Cp932.h"

#include <iconv.h>

#include <cerrno>

namespace orvex {
namespace {

// One conversion descriptor per direction and thread, opened on first use:
// opening one per line would dominate the cost of reading a large show.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends the conversion of in to out; false when any of it fails.
  bool Append(std::string_view in, std::string& out) {
    if (!ok()) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    size_t used = out.size();
    out.resize(used + in.size() * 2 + 16);
    for (;;) {
      char* outPtr = out.data() + used;
      size_t outLeft = out.size() - used;
      size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      used = out.size() - outLeft;
      if (rc != static_cast<size_t>(-1)) {
        out.resize(used);
        // Irreversible conversions count as failures: the text would change.
        return rc == 0;
      }
      if (errno != E2BIG) {  // EILSEQ or EINVAL: not representable or truncated
        out.resize(used);
        return false;
      }
      out.resize(out.size() * 2);
    }
  }

 private:
  iconv_t cd_;
};

// "CP932" rather than "SHIFT_JIS": the latter maps 0x5C to the yen sign,
// which would turn every path separator into something else.
Converter& Decoder() {
  thread_local Converter c("UTF-8", "CP932");
  return c;
}
Converter& Encoder() {
  thread_local Converter c("CP932", "UTF-8");
  return c;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The single bytes glibc refuses and the home platform maps to code points.
char32_t SingleByteCodePoint(unsigned char c) {
  switch (c) {
    case 0x80:
      return 0x0080;
    case 0xA0:
      return 0xF8F0;
    case 0xFD:
      return 0xF8F1;
    case 0xFE:
      return 0xF8F2;
    case 0xFF:
      return 0xF8F3;
    default:
      return 0;
  }
}

int SingleByteFor(char32_t cp) {
  switch (cp) {
    case 0x0080:
      return 0x80;
    case 0xF8F0:
      return 0xA0;
    case 0xF8F1:
      return 0xFD;
    case 0xF8F2:
      return 0xFE;
    case 0xF8F3:
      return 0xFF;
    default:
      return -1;
  }
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
}

// Length of the UTF-8 sequence at s[i] and its code point (0 length when the
// sequence is malformed; iconv then reports it).
size_t Utf8At(std::string_view s, size_t i, char32_t* cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  char32_t v = len == 1 ? c : c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    v = (v << 6) | (t & 0x3F);
  }
  *cp = v;
  return len;
}

std::optional<std::string> EncodeLoosely(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t runStart = 0;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    size_t len = Utf8At(utf8, i, &cp);
    if (len == 0) return std::nullopt;
    if (int byte = SingleByteFor(cp); byte >= 0) {
      if (!Encoder().Append(utf8.substr(runStart, i - runStart), out)) return std::nullopt;
      out += static_cast<char>(byte);
      runStart = i + len;
    }
    i += len;
  }
  if (!Encoder().Append(utf8.substr(runStart), out)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view in) {
  if (IsAscii(in)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 3 / 2);
  size_t runStart = 0;
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (IsLeadByte(c)) {
      i += 2;  // a trail byte may be 0x80 or 0xA0: never a single byte here
      continue;
    }
    if (char32_t cp = SingleByteCodePoint(c)) {
      if (!Decoder().Append(in.substr(runStart, i - runStart), out)) return std::nullopt;
      AppendUtf8(cp, out);
      runStart = i + 1;
    }
    ++i;
  }
  if (!Decoder().Append(in.substr(runStart), out)) return std::nullopt;
  return out;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8, Cp932Use use) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::optional<std::string> bytes = EncodeLoosely(utf8);
  if (!bytes || use == Cp932Use::kText) return bytes;
  std::optional<std::string> back = Cp932ToUtf8(*bytes);
  if (!back || *back != utf8) return std::nullopt;
  return bytes;
}

std::string FirstUnencodableCharacter(std::string_view utf8, Cp932Use use) {
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    size_t len = Utf8At(utf8, i, &cp);
    if (len == 0) return std::string(utf8.substr(i, 1));
    std::string_view one = utf8.substr(i, len);
    if (!Utf8ToCp932(one, use)) return std::string(one);
    i += len;
  }
  return {};
}

}  // namespace orvex
