// Stored paths (shows made on any system keep '\' separators and drive
// letters) mapped to native paths when the file system is touched.
#pragma once

#include <map>
#include <string>

namespace orvex {

// Folders that drive letters stand for, keyed by upper-case letter.
using DriveMap = std::map<char, std::string>;

// '\' becomes '/'; a leading "X:" is replaced by the folder the map gives
// for X (left as it is when the map has none). When the resulting path does
// not exist, each component is looked up without regard to letter case and
// the first existing spelling is used; a path that still cannot be found is
// returned with the components that were found.
std::string NativePath(const std::string& stored, const DriveMap& drives);

// Case-insensitive comparison of two UTF-8 names (ASCII, Latin-1, Greek,
// Cyrillic and full-width Latin letters).
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace orvex
