// Markers: remembered play positions of a WAV file, kept in memory by the
// file's full path and on disk in a small text file beside it (*.mrk: a
// count line, then one position per line).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Byte offsets into a WAV file's sample data, in insertion order. A list may
// hold a value twice (the operator sets markers without a check).
using MarkerList = std::vector<uint32_t>;

// WAV path (as stored: exact, letter case counts) to its markers. Lists are
// shared, so a channel row that shows a list keeps it alive when the store
// lets go of it (a re-keyed or replaced entry).
class MarkerStore {
 public:
  using Map = std::map<std::string, std::shared_ptr<MarkerList>>;

  // Null when the path has no entry.
  std::shared_ptr<MarkerList> Find(const std::string& path) const;
  // The path's list, created empty when there is none.
  std::shared_ptr<MarkerList> Obtain(const std::string& path);
  // Replaces (or creates) the path's entry.
  void Put(const std::string& path, std::shared_ptr<MarkerList> list);
  void Remove(const std::string& path) { map_.erase(path); }
  void Clear() { map_.clear(); }
  size_t Size() const { return map_.size(); }
  Map::const_iterator begin() const { return map_.begin(); }
  Map::const_iterator end() const { return map_.end(); }

 private:
  Map map_;
};

// The marker file of a WAV path: the path with its extension replaced by
// ".mrk", or ".mrk" appended when the file name has no "." (a "." in a
// folder name does not count). Both "\" and "/" separate folders.
std::string MarkerFileName(const std::string& wavPath);

// Merges a marker file's text (CR LF or LF line ends) into list: positions
// the list does not hold yet are appended in file order. A file shorter than
// its count line says adds position 0 (once) for the missing lines.
void MergeMarkerText(std::string_view text, MarkerList& list);

// The file text of a list: count and positions, each line ended by CR LF.
std::string MarkerFileText(const MarkerList& list);

// The lines of a text file as a reader with a 512-byte buffer sees them:
// each piece ends at a line feed or after 511 bytes, whichever comes first;
// trailing CR and LF are removed.
std::vector<std::string_view> TextPieces(std::string_view text);

}  // namespace orvex
