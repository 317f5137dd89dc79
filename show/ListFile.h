// Continuous-play list files (*.lst): a sound folder line, then one line per
// item, "name,check". Code page 932 with CR LF line ends. Names and the
// folder keep their stored (Windows) form; only the caller maps them to
// native paths, and only when it touches the file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Shown when a list file cannot be read or written.
inline constexpr const char* kListReadFailed = "連続再生リストの読み込みに失敗しました";
inline constexpr const char* kListSaveFailed = "連続再生リストの保存に失敗しました";

// One entry as the list windows hold it: the display text is the name with
// one blank in front (" opening.wav"), which the writer strips again.
struct ListItem {
  std::string text;
  bool checked = true;
  bool operator==(const ListItem&) const = default;
};

struct ListFileContent {
  std::string folder;
  std::vector<ListItem> items;
};

// The item's name: its display text without leading white space.
std::string_view ListItemName(const ListItem& item);

// Where an item's sound file is, as stored: a name with a drive (":") or a
// root ("/") stands alone, any other follows the folder and a "\".
std::string ListItemPath(const std::string& folder, const ListItem& item);

// Reads the bytes of a list file. Lines starting with "#" and empty lines are
// skipped wherever they stand; a line longer than 511 characters is read as
// several lines; each line ends at its first CR or LF. The first remaining
// line is the folder, every later one an item, split at its first ",": no
// "," reads as checked, text after it as a whole number (0 or no number:
// unchecked). A line that is not valid code page 932 is left out.
ListFileContent ParseListFile(std::string_view bytes);

enum class ListReadStatus { kOk, kMissing, kUnreadable };
struct ListFileRead {
  ListReadStatus status = ListReadStatus::kMissing;
  ListFileContent content;
};
// Reads the list file at a native path.
ListFileRead ReadListFile(const std::string& nativePath);

// The file text: folder, then "name,check" per item, CR LF after each line.
// nullopt when the folder or a name holds a character code page 932 cannot
// hold as itself, or when a line would be longer than 511 characters (it
// would be read back as several).
std::optional<std::string> ListFileText(const std::string& folder,
                                        const std::vector<ListItem>& items);
// Writes beside the file and renames over it, so a failure leaves the old
// file whole. False when nothing was written.
bool WriteListFile(const std::string& nativePath, const std::string& folder,
                   const std::vector<ListItem>& items);

}  // namespace orvex
