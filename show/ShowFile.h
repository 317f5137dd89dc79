// The show file: the sound folder line and one line per cue record, in code
// page 932 with CR LF line ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "show/CueStore.h"

namespace orvex {

inline constexpr const char* kShowReadFailed = "Ｑシートの読み込みに失敗しました";
inline constexpr const char* kShowSaveFailed = "Ｑシートの保存に失敗しました";

struct ShowLoadResult {
  bool ok = false;
  // 1-based numbers of record lines set aside: a Q number of 0 or less or a
  // channel outside 1..8.
  std::vector<int> skippedLines;
};

// Reads the show at path (a native path) into store. On a failure the
// message is reported; when the file could not be opened the store is left
// as it was, otherwise the records read so far stay.
ShowLoadResult LoadShowFile(const std::string& path, CueStore& store);
// The same on text already in memory (code page 932 bytes).
ShowLoadResult ParseShowText(std::string_view cp932, CueStore& store);

// Writes the store to path, interleaving the channels by Q number. Either the
// whole show is written or the file is left untouched and the failure is
// reported. Records with a Q number of 0 or less are not show content and
// are left out; skippedRecords (when given) receives how many.
bool SaveShowFile(const std::string& path, const CueStore& store, int* skippedRecords = nullptr);
// The file's bytes, or false (nothing reported) when a text cannot be
// written: a character outside code page 932, a line break, or a sound
// folder that would read back as a comment.
bool FormatShowText(const CueStore& store, std::string* cp932, int* skippedRecords = nullptr);

// Doubles each double quote; encloses a non-empty value holding a comma or
// a double quote in double quotes.
std::string QuoteField(const std::string& value);

}  // namespace orvex
