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

std::string NativePath(const std::string& stored, const DriveMap& drives) {
  std::string path = stored;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    char letter = static_cast<char>(path[0] & ~0x20);
    auto it = drives.find(letter);
    if (it != drives.end()) {
      std::string folder = it->second;
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      std::string rest = path.substr(2);
      if (!rest.empty() && rest[0] != '/') rest = '/' + rest;
      path = folder + rest;
    }
  }
  if (path.empty() || Exists(path)) return path;
  return ResolveIgnoringCase(path);
}

}  // namespace orvex
