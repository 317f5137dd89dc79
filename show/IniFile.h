// A per-user settings file in INI form: sections of named values, kept in the
// order they were first seen, so that entries this program does not know
// survive a load and save unchanged.
//
// Value forms: integers in decimal; strings as written, or in double quotes
// with C escapes when they would not survive plainly (leading or trailing
// blanks, a leading quote, control characters); binary values as "hex:" and
// two hex digits a byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvex {

class IniFile {
 public:
  using Entry = std::pair<std::string, std::string>;  // name, raw value text

  // Reads the file. A missing or unreadable file leaves the store empty and
  // returns false; malformed lines are ignored.
  bool Load(const std::string& path);
  // Writes the store atomically (temporary file, then rename). Creates the
  // parent folder when needed.
  bool Save(const std::string& path) const;

  std::string Serialize() const;
  void Parse(const std::string& text);

  std::optional<int32_t> GetInt(const std::string& section, const std::string& name) const;
  std::optional<std::string> GetString(const std::string& section, const std::string& name) const;
  std::optional<std::vector<uint8_t>> GetBinary(const std::string& section,
                                                const std::string& name) const;
  void SetInt(const std::string& section, const std::string& name, int32_t value);
  void SetString(const std::string& section, const std::string& name, const std::string& value);
  void SetBinary(const std::string& section, const std::string& name,
                 const std::vector<uint8_t>& value);

  // The raw entries of one section in file order (empty when absent).
  std::vector<Entry> Entries(const std::string& section) const;
  bool Empty() const { return sections_.empty(); }

 private:
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const std::string* Find(const std::string& section, const std::string& name) const;
  void SetRaw(const std::string& section, const std::string& name, std::string raw);

  std::vector<Section> sections_;
};

}  // namespace orvex
