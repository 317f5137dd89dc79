#include "show/ShowFile.h"

#include <cmath>

#include "show/AtomicFile.h"
#include "show/Cp932.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

constexpr int kFieldCount = 13;

// Replaces two adjacent double quotes by one until none remain.
void CollapseQuotes(std::string& s) {
  for (size_t p = s.find("\"\""); p != std::string::npos; p = s.find("\"\"")) s.erase(p, 1);
}

// Takes the next field off the front of rest. Returns true when it was the
// line's last field.
//
// A quoted field is read as the writer writes it: a doubled quote is one
// quote and the field ends at the first lone quote followed by a comma. So
// values that begin with a comma, end with a quote or hold adjacent quotes
// come back unchanged. A quote that never closes leaves the field unquoted.
bool TakeField(std::string_view& rest, std::string& field) {
  rest = TrimBlanks(rest);
  if (!rest.empty() && rest[0] == '"') {
    std::string value;
    for (size_t p = 1; p < rest.size(); ++p) {
      char c = rest[p];
      if (c == '"' && p + 1 < rest.size()) {
        if (rest[p + 1] == '"') {
          value += '"';
          ++p;
          continue;
        }
        if (rest[p + 1] == ',') {
          field = std::move(value);
          rest.remove_prefix(p + 2);
          return false;
        }
      }
      value += c;
    }
  }
  size_t comma = rest.find(',');
  bool last = comma == std::string_view::npos;
  field.assign(rest.substr(0, last ? rest.size() : comma));
  rest = last ? std::string_view() : rest.substr(comma + 1);
  CollapseQuotes(field);
  return last;
}

struct PendingRecord {
  int channel = 1;
  RecordValues v;
};

void StoreField(int k, const std::string& f, PendingRecord& r) {
  switch (k) {
    case 0:
      r.v.qNumber = ParseLeadingReal(f);
      break;
    case 1: {
      int n = f == "BGM" ? 6 : ParseLeadingInt(f);
      // G1 and G2 are stored as -1 and -2; other negatives fit no channel.
      r.channel = n >= 0 ? n : (n >= -2 ? 6 - n : -1);
      break;
    }
    case 2:
      r.v.title = f;
      break;
    case 3:
      r.v.fileOrCommand = f;
      break;
    case 4:
      r.v.preLevel = ParseLeadingReal(f);
      break;
    case 5:
      r.v.fadeIn = ParseLeadingReal(f);
      break;
    case 6:
      r.v.fadeOut = ParseLeadingReal(f);
      break;
    case 7:
      r.v.description = f;
      break;
    case 8:
      r.v.outputFlags = ParseLeadingInt(f);
      break;
    case 9:
      r.v.inSequence = ParseLeadingInt(f) != 0;
      break;
    case 10:
      r.v.timing = ParseLeadingInt(f);
      break;
    case 11:
      r.v.delay = ParseLeadingInt(f);
      break;
    case 12:
      r.v.outputSpecified = ParseLeadingInt(f) != 0;
      break;
    default:
      break;
  }
}

PendingRecord ParseRecordLine(std::string_view rest) {
  PendingRecord r;
  r.v.inSequence = true;
  std::string field;
  for (int k = 0; k < kFieldCount; ++k) {
    bool last = TakeField(rest, field);
    StoreField(k, field, r);
    if (last || (k == 1 && r.channel < 1)) break;
  }
  return r;
}

std::string FolderFromLine(std::string line) {
  while (!line.empty() && line.back() == ',') line.pop_back();
  while (!line.empty() && line.back() == '\\') line.pop_back();
  return line;
}

bool IsValidShowRecord(const CRecord& r) {
  return std::isfinite(r.qNumber) && r.qNumber > 0;
}

}  // namespace

ShowLoadResult ParseShowText(std::string_view bytes, CueStore& store) {
  ShowLoadResult result;
  store.ClearCueStore();
  bool haveFolder = false;
  int lineNo = 0;
  while (!bytes.empty()) {
    size_t end = bytes.find('\n');
    std::string_view raw = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    ++lineNo;
    if (end != std::string_view::npos && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    if (!raw.empty() && raw[0] == '#') continue;
    std::optional<std::string> line = Cp932ToUtf8(raw);
    if (!line) {
      ConfirmYesNo(kShowReadFailed);
      return result;
    }
    if (!haveFolder) {
      haveFolder = true;
      store.SetSoundFolder(FolderFromLine(std::move(*line)));
      continue;
    }
    if (TrimBlanks(*line).empty()) continue;
    PendingRecord r = ParseRecordLine(*line);
    bool valid = r.channel >= kFirstChannel && r.channel <= kLastChannel &&
                 std::isfinite(r.v.qNumber) && r.v.qNumber > 0;
    if (!valid) {
      result.skippedLines.push_back(lineNo);
      continue;
    }
    store.AddRecord(r.channel, r.v);
  }
  for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) store.MoveSmallerToFront(ch);
  result.ok = true;
  return result;
}

ShowLoadResult LoadShowFile(const std::string& path, CueStore& store) {
  std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) {
    ConfirmYesNo(kShowReadFailed);
    return {};
  }
  return ParseShowText(*bytes, store);
}

std::string QuoteField(const std::string& value) {
  std::string out;
  out.reserve(value.size() + 2);
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  if (!value.empty() && value.find_first_of(",\"") != std::string::npos) out = '"' + out + '"';
  return out;
}

namespace {

bool HasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

std::string FormatRecordLine(int ch, const CRecord& r) {
  std::string line;
  auto add = [&line](const std::string& field) {
    line += field;
    line += ',';
  };
  add(FormatG(r.qNumber));
  add(std::to_string(ch <= 6 ? ch : 6 - ch));
  add(QuoteField(r.title));
  add(QuoteField(r.fileOrCommand));
  add(FormatG(r.preLevel, 2));
  add(FormatG(r.fadeIn));
  add(FormatG(r.fadeOut));
  add(QuoteField(r.description));
  add(std::to_string(r.outputFlags));
  add(r.inSequence ? "1" : "0");
  add(std::to_string(r.timing));
  add(std::to_string(r.delay));
  add(r.outputSpecified ? "1" : "0");
  return line;
}

}  // namespace

bool FormatShowText(const CueStore& store, std::string* out, int* skippedRecords) {
  std::string text;
  const std::string& folder = store.GetSoundFolder();
  if (HasLineBreak(folder) || (!folder.empty() && folder[0] == '#')) return false;
  text += folder + ",\r\n";

  int skipped = 0;
  int cursor[kLastChannel + 1] = {};
  for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) cursor[ch] = 1;
  for (;;) {
    int best = 0;
    for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) {
      while (cursor[ch] <= store.GetCount(ch) && !IsValidShowRecord(*store.Find(ch, cursor[ch]))) {
        ++cursor[ch];
        ++skipped;
      }
      if (cursor[ch] > store.GetCount(ch)) continue;
      if (best == 0 || store.GetQNumber(ch, cursor[ch]) < store.GetQNumber(best, cursor[best]))
        best = ch;
    }
    if (best == 0) break;
    const CRecord& r = *store.Find(best, cursor[best]++);
    if (HasLineBreak(r.title) || HasLineBreak(r.fileOrCommand) || HasLineBreak(r.description))
      return false;
    text += FormatRecordLine(best, r) + "\r\n";
  }
  std::optional<std::string> encoded = Utf8ToCp932(text);
  if (!encoded) return false;
  *out = std::move(*encoded);
  if (skippedRecords) *skippedRecords = skipped;
  return true;
}

bool SaveShowFile(const std::string& path, const CueStore& store, int* skippedRecords) {
  std::string bytes;
  if (!FormatShowText(store, &bytes, skippedRecords) || !WriteFileAtomically(path, bytes)) {
    ConfirmYesNo(kShowSaveFailed);
    return false;
  }
  return true;
}

}  // namespace orvex
