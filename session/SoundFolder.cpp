#include "session/SoundFolder.h"

#include <algorithm>
#include <cctype>

#include "session/OrvexDoc.h"

namespace orvex {

bool IsPathSeparator(char c) {
  return c == '/' || c == '\\';
}

size_t CharCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    const auto a = static_cast<unsigned char>(text[i]);
    const auto b = static_cast<unsigned char>(prefix[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

PlacedFile PlaceInFolder(const std::string& path, const std::string& folder) {
  const auto cut = std::find_if(path.rbegin(), path.rend(), IsPathSeparator).base();
  const std::string name(cut, path.end());
  PlacedFile placed;
  placed.folder = folder;
  if (folder.empty()) {
    placed.newFolder = true;
    placed.folder.assign(path.begin(), cut);
    // "/" alone stays: it is a folder too.
    while (placed.folder.size() > 1 && IsPathSeparator(placed.folder.back())) {
      placed.folder.pop_back();
    }
    placed.file = name;
  } else if (StartsWithNoCase(path, folder)) {
    placed.file = path.substr(folder.size());
    placed.file.erase(0, placed.file.find_first_not_of("/\\"));
  } else {
    placed.file = name;
  }
  return placed;
}

std::string FileTitle(std::string_view path) {
  size_t start = path.size();
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
  const std::string_view name = path.substr(start);
  const size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

bool FitsRecordPath(std::string_view folder, std::string_view file) {
  return CharCount(folder) + 1 + CharCount(file) <= kMaxRecordPath;
}

}  // namespace orvex
