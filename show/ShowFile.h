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
  // The text of the first kSkippedTextKept of them (UTF-8), to show the
  // operator what a save would drop.
  std::vector<std::string> skippedText;
};
inline constexpr size_t kSkippedTextKept = 5;

// Reads the show at path (a native path) into store. On a failure (the file
// cannot be read, is not a regular file, does not decode, memory runs out)
// the message is reported; when the file could not be read the store is left
// as it was, otherwise the records read so far stay. Never throws.
ShowLoadResult LoadShowFile(const std::string& path, CueStore& store);
// The same on text already in memory (code page 932 bytes).
ShowLoadResult ParseShowText(std::string_view cp932, CueStore& store);

// What stopped a save before any file was touched.
struct ShowSaveProblem {
  // "folder", "title", "file", "description"; "memory" when memory ran out;
  // empty when the text was fine (the file itself could not be written).
  std::string field;
  int channel = 0;  // the cue's channel (1..8), for a cue's field
  double qNumber = 0;
  // The character that cannot be written ("\n" for a line break, "#" for a
  // folder that would read as a comment).
  std::string character;
};

// Writes the store to path, interleaving the channels by Q number. Either the
// whole show is written or the file is left untouched and the failure is
// reported. Records with a Q number of 0 or less are not show content and
// are left out; skippedRecords (when given) receives how many. A read-only
// file, or anything but a regular file, is refused. problem (when given)
// tells which cue and character stopped the save.
bool SaveShowFile(const std::string& path, const CueStore& store, int* skippedRecords = nullptr,
                  ShowSaveProblem* problem = nullptr);
// SaveShowFile without the report, for callers that tell the operator more.
bool WriteShowFile(const std::string& path, const CueStore& store, int* skippedRecords = nullptr,
                   ShowSaveProblem* problem = nullptr);
// The file's bytes, or false (nothing reported) when a text cannot be
// written: a line break, a sound folder that would read back as a comment, a
// character outside code page 932 anywhere, or in the sound folder and file
// names a character that would not read back as itself (titles and
// descriptions store the code page's look-alike).
bool FormatShowText(const CueStore& store, std::string* cp932, int* skippedRecords = nullptr,
                    ShowSaveProblem* problem = nullptr);
// One line for the operator naming the cue and character; empty when problem
// names none.
std::string DescribeSaveProblem(const ShowSaveProblem& problem);
// The same for the operator, in the program's language; empty when problem
// names none.
std::string SaveProblemNote(const ShowSaveProblem& problem);

// Doubles each double quote; encloses a non-empty value holding a comma or
// a double quote in double quotes.
std::string QuoteField(const std::string& value);

}  // namespace orvex
