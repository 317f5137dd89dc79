#include "show/ListFile.h"

#include <algorithm>

#include "show/AtomicFile.h"
#include "show/Cp932.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

// Lines are read in pieces of at most this many characters.
constexpr size_t kPieceChars = 511;

// Bytes of the UTF-8 character that starts with lead.
size_t CharBytes(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

// Cuts a decoded line (without its LF) into pieces of at most kPieceChars
// characters; every piece then ends at its first CR.
void AppendPieces(std::string_view line, std::vector<std::string>& pieces) {
  do {
    size_t at = 0, chars = 0;
    while (at < line.size() && chars < kPieceChars) {
      at += CharBytes(static_cast<unsigned char>(line[at]));
      ++chars;
    }
    at = std::min(at, line.size());
    std::string_view piece = line.substr(0, at);
    pieces.emplace_back(piece.substr(0, piece.find('\r')));
    line.remove_prefix(at);
  } while (!line.empty());
}

// Characters of a UTF-8 text: every byte that does not continue one.
size_t CharCount(std::string_view utf8) {
  return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::string_view ListItemName(const ListItem& item) {
  return TrimLeadingBlanks(item.text);
}

std::string ListItemPath(const std::string& folder, const ListItem& item) {
  const std::string name(ListItemName(item));
  if (name.find(':') != std::string::npos || (!name.empty() && name[0] == '/') || folder.empty())
    return name;
  return folder + "\\" + name;
}

ListFileContent ParseListFile(std::string_view bytes) {
  ListFileContent content;
  bool haveFolder = false;
  while (!bytes.empty()) {
    const size_t lf = bytes.find('\n');
    std::string_view raw = bytes.substr(0, lf);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    // The text mode of the home platform reads CR LF as one line end.
    if (lf != std::string_view::npos && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const std::optional<std::string> line = Cp932ToUtf8(raw);
    if (!line) {
      // Undecodable: names nothing, but a folder line still counts as one.
      if (!haveFolder && !raw.empty() && raw.front() != '#' && raw.front() != '\r')
        haveFolder = true;
      continue;
    }
    std::vector<std::string> pieces;
    AppendPieces(*line, pieces);
    for (const std::string& piece : pieces) {
      if (piece.empty() || piece.front() == '#') continue;
      if (!haveFolder) {
        content.folder = piece;
        haveFolder = true;
        continue;
      }
      const size_t comma = piece.find(',');
      ListItem item;
      item.text = " " + piece.substr(0, comma);
      item.checked =
          comma == std::string::npos || ParseLeadingInt(std::string_view(piece).substr(comma + 1));
      content.items.push_back(std::move(item));
    }
  }
  return content;
}

ListFileRead ReadListFile(const std::string& nativePath) {
  ListFileRead read;
  FileRead file = ReadRegularFile(nativePath);
  switch (file.status) {
    case FileReadStatus::kOk:
      read.status = ListReadStatus::kOk;
      read.content = ParseListFile(file.bytes);
      break;
    case FileReadStatus::kMissing:
      read.status = ListReadStatus::kMissing;
      break;
    case FileReadStatus::kUnreadable:
      read.status = ListReadStatus::kUnreadable;
      break;
  }
  return read;
}

namespace {

// A line the reader would pass over (blank, or a comment) would lose the
// folder, or an item, and make the next item the folder: a blank in front
// keeps it a line, and readers cut it off again.
std::string ReadableLine(std::string_view text) {
  if (text.empty() || text.front() == '#') return " " + std::string(text);
  return std::string(text);
}

}  // namespace

std::optional<std::string> ListFileText(const std::string& folder,
                                        const std::vector<ListItem>& items) {
  // A line longer than a reader's piece would come back as several lines:
  // the list read again would not be the list written.
  const std::string folderLine = ReadableLine(folder);
  if (CharCount(folderLine) > kPieceChars) return std::nullopt;
  std::optional<std::string> text = Utf8ToCp932(folderLine, Cp932Use::kName);
  if (!text) return std::nullopt;
  *text += "\r\n";
  for (const ListItem& item : items) {
    // An empty name still makes a line: its ",1" follows.
    const std::string_view bare = ListItemName(item);
    const std::string line = bare.starts_with('#') ? ReadableLine(bare) : std::string(bare);
    if (CharCount(line) + 2 > kPieceChars) return std::nullopt;  // and ",1"
    const std::optional<std::string> name = Utf8ToCp932(line, Cp932Use::kName);
    if (!name) return std::nullopt;
    *text += *name;
    *text += item.checked ? ",1\r\n" : ",0\r\n";
  }
  return text;
}

bool WriteListFile(const std::string& nativePath, const std::string& folder,
                   const std::vector<ListItem>& items) {
  const std::optional<std::string> text = ListFileText(folder, items);
  return text && WriteFileAtomically(nativePath, *text);
}

}  // namespace orvex
