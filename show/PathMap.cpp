#include "show/PathMap.h"

#include <dirent.h>
#include <sys/stat.h>

#include <vector>

namespace orvex {
namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Decodes one UTF-8 code point at s[i], advancing i; invalid bytes decode
// as themselves so that comparison still works byte by byte.
char32_t NextCodePoint(const std::string& s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  bool complete = i + extra < s.size();
  for (size_t k = 1; complete && k <= extra; ++k)
    complete = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  if (extra == 0 || !complete) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += extra + 1;
  return cp;
}

char32_t FoldCase(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;     // Latin-1
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // full-width Latin
  return c;
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return {};
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (SameNameIgnoringCase(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

std::string ResolveIgnoringCase(const std::string& path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::string resolved = absolute ? "/" : "";
  std::vector<std::string> parts = SplitComponents(path);
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::string& part = parts[k];
    std::string candidate = resolved + part;
    if (part != "." && part != ".." && !Exists(candidate)) {
      std::string match = FindIgnoringCase(resolved, part);
      if (!match.empty()) candidate = resolved + match;
    }
    resolved = candidate;
    if (k + 1 < parts.size()) resolved += '/';
  }
  return resolved;
}

}  // namespace

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Where the "\\server\\share" prefix of path ends, or 0 when it has none.
size_t ShareEnd(const std::string& path) {
  if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2]))
    return 0;
  size_t server = 2;
  while (server < path.size() && !IsSeparator(path[server])) ++server;
  size_t share = server + 1;
  if (share >= path.size() || IsSeparator(path[share])) return 0;
  while (share < path.size() && !IsSeparator(path[share])) ++share;
  return share;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return s;
}

// folder followed by rest (which begins with a separator or is empty).
std::string Join(std::string folder, std::string rest) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (!rest.empty() && rest[0] != '/') rest = '/' + rest;
  return folder + rest;
}

}  // namespace

std::string ShareKey(const std::string& name) {
  const size_t end = ShareEnd(name);
  if (end == 0 || end != name.size()) return {};
  std::string key = Upper(name);
  for (char& c : key) {
    if (c == '/') c = '\\';
  }
  return key;
}

std::string NativePath(const std::string& stored, const DriveMap& drives) {
  std::string path = stored;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (const size_t end = ShareEnd(stored)) {
    auto it = drives.find(ShareKey(stored.substr(0, end)));
    if (it == drives.end()) return stored;
    path = Join(it->second, path.substr(end));
  } else if (path.size() >= 2 && path[1] == ':' &&
             ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    auto it = drives.find(std::string(1, static_cast<char>(path[0] & ~0x20)));
    if (it != drives.end()) path = Join(it->second, path.substr(2));
  }
  if (path.empty() || Exists(path)) return path;
  return ResolveIgnoringCase(path);
}

}  // namespace orvex
