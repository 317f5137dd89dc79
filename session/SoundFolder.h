// Where a chosen sound file goes in a record: its name relative to the show's
// sound folder when it lies inside it, else its bare name. Stored paths may
// use either separator.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvex {

bool IsPathSeparator(char c);
// Characters, not bytes: stored texts are UTF-8.
size_t CharCount(std::string_view text);
// ASCII letters compared without regard to case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

struct PlacedFile {
  std::string folder;      // the sound folder afterwards
  std::string file;        // the record's file field
  bool newFolder = false;  // the folder was empty and is the file's own now
};
// An empty folder becomes the file's folder (trailing separators removed)
// and the file its bare name; a path inside the folder keeps the rest of it,
// leading separators removed; any other path gives the bare name.
PlacedFile PlaceInFolder(const std::string& path, const std::string& folder);

// The file name without folder and extension.
std::string FileTitle(std::string_view path);

// True when folder, one separator and file fit a record (127 characters).
bool FitsRecordPath(std::string_view folder, std::string_view file);

}  // namespace orvex
