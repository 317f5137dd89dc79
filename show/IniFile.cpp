#include "show/IniFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>

#include "show/AtomicFile.h"

namespace orvex {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return out;
}

std::string Key(const std::string& section, const std::string& name) {
  return Upper(section) + '\n' + Upper(name);
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

void IniFile::Clear() {
  blocks_.clear();
  sections_.clear();
  index_.clear();
  bom_ = false;
}

bool IniFile::Load(const std::string& path, FileReadStatus* status) {
  Clear();
  FileRead read = ReadRegularFile(path);
  if (status) *status = read.status;
  if (read.status != FileReadStatus::kOk) return false;
  try {
    Parse(read.bytes);
  } catch (const std::exception&) {
    Clear();
    if (status) *status = FileReadStatus::kUnreadable;
    return false;
  }
  return true;
}

void IniFile::Parse(const std::string& input) {
  Clear();
  std::string_view text = input;
  // Editors on the home platform put a byte-order mark before "[VERSION]".
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    bom_ = true;
    text.remove_prefix(3);
  }
  blocks_.push_back({});
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    // CR LF ends, and no CR at the end of a line is worth keeping: one kept
    // there would turn into a line end of its own at the next save.
    while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    Line line{std::string(raw), {}, {}, false};
    std::string_view trimmed = Trim(raw);
    if (!trimmed.empty() && trimmed.front() == '[') {
      size_t close = trimmed.find(']');
      std::string name = close == std::string_view::npos
                             ? std::string()
                             : std::string(Trim(trimmed.substr(1, close - 1)));
      Block block{Upper(name), {}};
      block.lines.push_back(std::move(line));
      blocks_.push_back(std::move(block));
      if (!blocks_.back().key.empty())
        sections_.try_emplace(blocks_.back().key, blocks_.size() - 1);
      continue;
    }
    Block& block = blocks_.back();
    const size_t eq = trimmed.find('=');
    const bool comment = !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
    if (!block.key.empty() && !comment && eq != std::string_view::npos) {
      std::string name(Trim(trimmed.substr(0, eq)));
      if (!name.empty()) {
        line.entry = true;
        line.value = std::string(Trim(trimmed.substr(eq + 1)));
        index_.try_emplace(block.key + '\n' + Upper(name),
                           Where{blocks_.size() - 1, block.lines.size()});
        line.name = std::move(name);
      }
    }
    block.lines.push_back(std::move(line));
  }
}

std::string IniFile::Serialize() const {
  std::string out = bom_ ? "\xEF\xBB\xBF" : "";
  for (const Block& b : blocks_) {
    for (const Line& l : b.lines) {
      out += l.text;
      out += '\n';
    }
  }
  return out;
}

bool IniFile::Save(const std::string& path) const {
  EnsureParentFolder(path);
  try {
    return WriteFileAtomically(path, Serialize());
  } catch (const std::exception&) {
    return false;
  }
}

const std::string* IniFile::Find(const std::string& section, const std::string& name) const {
  auto it = index_.find(Key(section, name));
  if (it == index_.end()) return nullptr;
  return &blocks_[it->second.block].lines[it->second.line].value;
}

size_t IniFile::BlockFor(const std::string& section) {
  const std::string key = Upper(section);
  if (auto it = sections_.find(key); it != sections_.end()) return it->second;
  if (blocks_.empty()) {
    blocks_.push_back({});
    blocks_[0].lines.push_back(
        {"; Orvex settings. Values: numbers, texts, or hex: bytes.", {}, {}, false});
  }
  Block& last = blocks_.back();
  if (!last.lines.empty() && !Trim(last.lines.back().text).empty()) last.lines.push_back({});
  blocks_.push_back({key, {}});
  blocks_.back().lines.push_back({"[" + section + "]", {}, {}, false});
  sections_.emplace(key, blocks_.size() - 1);
  return blocks_.size() - 1;
}

void IniFile::SetRaw(const std::string& section, const std::string& name, std::string raw) {
  const std::string key = Key(section, name);
  if (auto it = index_.find(key); it != index_.end()) {
    Line& line = blocks_[it->second.block].lines[it->second.line];
    if (line.value != raw) {
      line.value = std::move(raw);
      line.text = line.name + "=" + line.value;
    }
    return;
  }
  const size_t b = BlockFor(section);
  std::vector<Line>& lines = blocks_[b].lines;
  // New entries go after the section's last non-blank line, so the blank
  // line that separates it from the next section stays where it is. Only
  // blank lines move, and no entry indexes them.
  size_t at = lines.size();
  while (at > 1 && Trim(lines[at - 1].text).empty()) --at;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
               Line{name + "=" + raw, name, raw, true});
  index_.emplace(key, Where{b, at});
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
  std::vector<Entry> out;
  const std::string key = Upper(section);
  for (size_t b = 0; b < blocks_.size(); ++b) {
    if (blocks_[b].key != key) continue;
    const std::vector<Line>& lines = blocks_[b].lines;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!lines[i].entry) continue;
      auto it = index_.find(key + '\n' + Upper(lines[i].name));
      if (it != index_.end() && it->second.block == b && it->second.line == i)
        out.emplace_back(lines[i].name, lines[i].value);
    }
  }
  return out;
}

}  // namespace orvex
