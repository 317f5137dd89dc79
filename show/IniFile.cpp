#include "show/IniFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>

#include "show/AtomicFile.h"

namespace orvex {
namespace {

bool SameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 0x20);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 0x20);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool NeedsQuotes(const std::string& v) {
  if (v.empty()) return false;
  if (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t') return true;
  if (v.front() == '"') return true;
  for (unsigned char c : v) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::string Quote(const std::string& v) {
  static const char* kHex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : v) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unquote(std::string_view raw) {
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return std::string(raw);
  raw = raw.substr(1, raw.size() - 2);
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out += raw[i];
      continue;
    }
    char e = raw[++i];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x':
        if (i + 2 < raw.size() && HexDigit(raw[i + 1]) >= 0 && HexDigit(raw[i + 2]) >= 0) {
          out += static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
          i += 2;
        } else {
          out += 'x';
        }
        break;
      default:
        out += e;
    }
  }
  return out;
}

void EnsureParentFolder(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return;
  }
}

}  // namespace

bool IniFile::Load(const std::string& path) {
  sections_.clear();
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return false;
  Parse(*text);
  return true;
}

void IniFile::Parse(const std::string& text) {
  sections_.clear();
  std::string current;
  bool inSection = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      current = std::string(Trim(line.substr(1, close - 1)));
      inSection = true;
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos) continue;
    std::string name(Trim(line.substr(0, eq)));
    if (name.empty()) continue;
    SetRaw(current, name, std::string(Trim(line.substr(eq + 1))));
  }
}

std::string IniFile::Serialize() const {
  std::string out = "; Orvex settings. Values: numbers, texts, or hex: bytes.\n";
  for (const Section& s : sections_) {
    out += "\n[" + s.name + "]\n";
    for (const Entry& e : s.entries) out += e.first + "=" + e.second + "\n";
  }
  return out;
}

bool IniFile::Save(const std::string& path) const {
  EnsureParentFolder(path);
  return WriteFileAtomically(path, Serialize());
}

const std::string* IniFile::Find(const std::string& section, const std::string& name) const {
  for (const Section& s : sections_) {
    if (!SameKey(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (SameKey(e.first, name)) return &e.second;
    }
  }
  return nullptr;
}

void IniFile::SetRaw(const std::string& section, const std::string& name, std::string raw) {
  Section* target = nullptr;
  for (Section& s : sections_) {
    if (SameKey(s.name, section)) target = &s;
  }
  if (!target) {
    sections_.push_back({section, {}});
    target = &sections_.back();
  }
  for (Entry& e : target->entries) {
    if (SameKey(e.first, name)) {
      e.second = std::move(raw);
      return;
    }
  }
  target->entries.emplace_back(name, std::move(raw));
}

std::optional<int32_t> IniFile::GetInt(const std::string& section, const std::string& name) const {
  const std::string* raw = Find(section, name);
  if (!raw || raw->empty()) return std::nullopt;
  std::string_view text = *raw;
  if (text[0] == '+') text.remove_prefix(1);
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  // A 32-bit value: unsigned spellings of it wrap into the signed range.
  if (value < INT32_MIN || value > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::optional<std::string> IniFile::GetString(const std::string& section,
                                              const std::string& name) const {
  const std::string* raw = Find(section, name);
  if (!raw) return std::nullopt;
  return Unquote(*raw);
}

std::optional<std::vector<uint8_t>> IniFile::GetBinary(const std::string& section,
                                                       const std::string& name) const {
  const std::string* raw = Find(section, name);
  if (!raw || raw->rfind("hex:", 0) != 0) return std::nullopt;
  std::string_view hex = std::string_view(*raw).substr(4);
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return bytes;
}

void IniFile::SetInt(const std::string& section, const std::string& name, int32_t value) {
  SetRaw(section, name, std::to_string(value));
}

void IniFile::SetString(const std::string& section, const std::string& name,
                        const std::string& value) {
  SetRaw(section, name, NeedsQuotes(value) ? Quote(value) : value);
}

void IniFile::SetBinary(const std::string& section, const std::string& name,
                        const std::vector<uint8_t>& value) {
  static const char* kHex = "0123456789abcdef";
  std::string raw = "hex:";
  for (uint8_t b : value) {
    raw += kHex[b >> 4];
    raw += kHex[b & 15];
  }
  SetRaw(section, name, std::move(raw));
}

std::vector<IniFile::Entry> IniFile::Entries(const std::string& section) const {
  for (const Section& s : sections_) {
    if (SameKey(s.name, section)) return s.entries;
  }
  return {};
}

}  // namespace orvex
