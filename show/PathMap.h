// Stored paths (shows made on any system keep '\' separators and drive
// letters) mapped to native paths when the file system is touched.
#pragma once

#include <map>
#include <string>

namespace orvex {

// Folders that stored path prefixes stand for: a drive letter by its
// upper-case letter ("C"), a network share by its upper-case
// "\\SERVER\SHARE" (see ShareKey).
using DriveMap = std::map<std::string, std::string>;

// '\' becomes '/'; a leading "X:" or "\\server\share" is replaced by the
// folder the map gives for it. An unmapped drive letter is left as it is; an
// unmapped share is returned exactly as stored, so it never names a local
// file. When the resulting path does not exist, each component is looked up
// without regard to letter case and the first existing spelling is used; a
// path that still cannot be found is returned with the components that were
// found.
std::string NativePath(const std::string& stored, const DriveMap& drives);

// The map key of a "\\server\share" name (either separator, any case):
// "\\SERVER\SHARE"; empty when name is not exactly a server and a share.
std::string ShareKey(const std::string& name);

// Case-insensitive comparison of two UTF-8 names (ASCII, Latin-1, Greek,
// Cyrillic and full-width Latin letters).
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace orvex
