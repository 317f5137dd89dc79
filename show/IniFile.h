// A per-user settings file in INI form. The operator edits it by hand (the
// drive letters), so a load and save keeps everything that is not a value
// this program writes exactly where it stood: comments, blank lines, lines it
// cannot read, entries and sections it does not know, a byte-order mark.
//
// Rules: section and entry names compare without regard to ASCII case; of
// duplicated entries (also across repeated sections) the first in the file
// is the one read and the one written; a header without its "]" starts
// nothing readable, so the lines under it are kept but not read.
//
// Value forms: integers in decimal; strings as written, or in double quotes
// with C escapes when they would not survive plainly (leading or trailing
// blanks, a leading quote, control characters); binary values as "hex:" and
// two hex digits a byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "show/AtomicFile.h"

namespace orvex {

class IniFile {
 public:
  using Entry = std::pair<std::string, std::string>;  // name, raw value text

  // Reads the file. A missing or unreadable file leaves the store empty and
  // returns false; status (when given) tells which.
  bool Load(const std::string& path, FileReadStatus* status = nullptr);
  // Writes the store atomically (temporary file, then rename). Creates the
  // parent folder when needed.
  bool Save(const std::string& path) const;

  std::string Serialize() const;
  void Parse(const std::string& text);

  std::optional<int32_t> GetInt(const std::string& section, const std::string& name) const;
  std::optional<std::string> GetString(const std::string& section, const std::string& name) const;
  std::optional<std::vector<uint8_t>> GetBinary(const std::string& section,
                                                const std::string& name) const;
  // The raw text of a value, or nullptr when absent.
  const std::string* Find(const std::string& section, const std::string& name) const;
  void SetInt(const std::string& section, const std::string& name, int32_t value);
  void SetString(const std::string& section, const std::string& name, const std::string& value);
  void SetBinary(const std::string& section, const std::string& name,
                 const std::vector<uint8_t>& value);

  // The readable entries of one section in file order (empty when absent).
  std::vector<Entry> Entries(const std::string& section) const;
  bool Empty() const { return index_.empty(); }

 private:
  struct Line {
    std::string text;   // as it stands in the file
    std::string name;   // for an entry
    std::string value;  // for an entry: the raw value text
    bool entry = false;
  };
  // A header line and the lines under it; the first block holds what comes
  // before any header and has no header.
  struct Block {
    std::string key;  // upper-case section name; empty when nothing is readable
    std::vector<Line> lines;
  };
  struct Where {
    size_t block;
    size_t line;
  };

  void Clear();
  void SetRaw(const std::string& section, const std::string& name, std::string raw);
  size_t BlockFor(const std::string& section);

  std::vector<Block> blocks_;
  std::unordered_map<std::string, size_t> sections_;  // first block of a section
  std::unordered_map<std::string, Where> index_;      // first entry of a key
  bool bom_ = false;
};

}  // namespace orvex
