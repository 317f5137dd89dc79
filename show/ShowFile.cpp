#include "show/ShowFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "show/AtomicFile.h"
#include "show/Cp932.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

constexpr int kFieldCount = 13;

// Replaces two adjacent double quotes by one until none remain: every run of
// quotes becomes one quote. One pass, so a field of many quotes stays cheap.
void CollapseQuotes(std::string& s) {
  size_t out = 0;
  for (size_t in = 0; in < s.size(); ++in) {
    if (s[in] == '"' && out > 0 && s[out - 1] == '"') continue;
    s[out++] = s[in];
  }
  s.resize(out);
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

namespace {

// Reporting may itself need memory; a second failure must not escape either.
void ReportAfterFailure(const char* message) {
  try {
    ConfirmYesNo(message);
  } catch (const std::exception&) {
  }
}

ShowLoadResult ParseShowTextOrThrow(std::string_view bytes, CueStore& store) {
  ShowLoadResult result;
  store.ClearCueStore();
  bool haveFolder = false;
  int lineNo = 0;
  while (!bytes.empty()) {
    size_t end = bytes.find('\n');
    std::string_view raw = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    ++lineNo;
    // CR LF, LF, and a CR left before either (CR CR LF, or a last line that
    // ends in CR alone): no CR at the end of a line is content.
    while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
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
      if (result.skippedText.size() < kSkippedTextKept) result.skippedText.push_back(*line);
      continue;
    }
    store.AddRecord(r.channel, r.v);
  }
  for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) store.MoveSmallerToFront(ch);
  result.ok = true;
  return result;
}

}  // namespace

ShowLoadResult ParseShowText(std::string_view bytes, CueStore& store) {
  // Running out of memory is a read failure like any other; the records read
  // before it stay, as they do after an undecodable line.
  try {
    return ParseShowTextOrThrow(bytes, store);
  } catch (const std::exception&) {
    ReportAfterFailure(kShowReadFailed);
    return {};
  }
}

ShowLoadResult LoadShowFile(const std::string& path, CueStore& store) {
  // Anything but a regular file (a folder, a device) is not a show.
  FileRead read = ReadRegularFile(path);
  if (read.status != FileReadStatus::kOk) {
    ReportAfterFailure(kShowReadFailed);
    return {};
  }
  return ParseShowText(read.bytes, store);
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

// Encodes one quoted field onto line; records what stops it in problem.
bool AddField(std::string& line, const std::string& value, Cp932Use use, const char* field,
              ShowSaveProblem& problem) {
  if (HasLineBreak(value)) {
    problem.field = field;
    problem.character = value.find('\n') != std::string::npos ? "\n" : "\r";
    return false;
  }
  std::optional<std::string> bytes = Utf8ToCp932(QuoteField(value), use);
  if (!bytes) {
    problem.field = field;
    problem.character = FirstUnencodableCharacter(value, use);
    return false;
  }
  line += *bytes;
  line += ',';
  return true;
}

// The line of one record in code page 932, or false with problem filled.
bool FormatRecordLine(int ch, const CRecord& r, std::string& line, ShowSaveProblem& problem) {
  problem.channel = ch;
  problem.qNumber = r.qNumber;
  auto add = [&line](const std::string& ascii) {
    line += ascii;
    line += ',';
  };
  add(FormatG(r.qNumber));
  add(std::to_string(ch <= 6 ? ch : 6 - ch));
  if (!AddField(line, r.title, Cp932Use::kText, "title", problem) ||
      !AddField(line, r.fileOrCommand, Cp932Use::kName, "file", problem))
    return false;
  add(FormatG(r.preLevel, 2));
  add(FormatG(r.fadeIn));
  add(FormatG(r.fadeOut));
  if (!AddField(line, r.description, Cp932Use::kText, "description", problem)) return false;
  add(std::to_string(r.outputFlags));
  add(r.inSequence ? "1" : "0");
  add(std::to_string(r.timing));
  add(std::to_string(r.delay));
  add(r.outputSpecified ? "1" : "0");
  line += "\r\n";
  return true;
}

bool FormatShowTextOrThrow(const CueStore& store, std::string* out, int* skippedRecords,
                           ShowSaveProblem& problem) {
  std::string text;
  // The reader drops trailing backslashes and then trailing commas of the
  // folder line: the backslashes mean nothing, a comma would be lost.
  std::string folder = store.GetSoundFolder();
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  problem.field = "folder";
  if (!folder.empty() && folder[0] == '#') {
    problem.character = "#";
    return false;
  }
  if (!folder.empty() && folder.back() == ',') {
    problem.character = ",";
    return false;
  }
  if (HasLineBreak(folder)) {
    problem.character = "\n";
    return false;
  }
  std::optional<std::string> folderBytes = Utf8ToCp932(folder, Cp932Use::kName);
  if (!folderBytes) {
    problem.character = FirstUnencodableCharacter(folder, Cp932Use::kName);
    return false;
  }
  text += *folderBytes + ",\r\n";

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
    if (!FormatRecordLine(best, *store.Find(best, cursor[best]++), text, problem)) return false;
  }
  problem = {};
  *out = std::move(text);
  if (skippedRecords) *skippedRecords = skipped;
  return true;
}

}  // namespace

bool FormatShowText(const CueStore& store, std::string* out, int* skippedRecords,
                    ShowSaveProblem* problem) {
  ShowSaveProblem local;
  ShowSaveProblem& p = problem ? *problem : local;
  p = {};
  try {
    return FormatShowTextOrThrow(store, out, skippedRecords, p);
  } catch (const std::exception&) {
    p = {};
    p.field = "memory";
    return false;
  }
}

bool WriteShowFile(const std::string& path, const CueStore& store, int* skippedRecords,
                   ShowSaveProblem* problem) {
  ShowSaveProblem local;
  ShowSaveProblem& p = problem ? *problem : local;
  std::string bytes;
  // A read-only show is refused as the home platform refuses it.
  return FormatShowText(store, &bytes, skippedRecords, &p) && WriteFileAtomically(path, bytes);
}

bool SaveShowFile(const std::string& path, const CueStore& store, int* skippedRecords,
                  ShowSaveProblem* problem) {
  const bool ok = WriteShowFile(path, store, skippedRecords, problem);
  if (!ok) ReportAfterFailure(kShowSaveFailed);
  return ok;
}

std::string DescribeSaveProblem(const ShowSaveProblem& p) {
  if (p.field.empty()) return {};
  if (p.field == "memory") return "not enough memory";
  std::string where = p.field == "folder"
                          ? std::string("the sound folder")
                          : "the " + p.field + " of cue " + FormatG(p.qNumber) + " on " +
                                (p.channel <= 6 ? "CH" + std::to_string(p.channel)
                                                : "G" + std::to_string(p.channel - 6));
  if (p.character == "\n" || p.character == "\r") return where + " holds a line break";
  if (p.character == "#") return where + " begins with '#' and would read back as a comment";
  if (p.character == ",") return where + " ends with ',' and would not read back";
  return where + " holds '" + p.character + "', which code page 932 cannot keep as it is";
}

namespace {

// "U+301C" for a character given as UTF-8: look-alikes look alike, the
// number tells them apart.
std::string CodePointName(const std::string& utf8) {
  if (utf8.empty()) return {};
  const auto b = [&utf8](size_t i) { return static_cast<unsigned char>(utf8[i]); };
  uint32_t cp = b(0);
  size_t extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
  if (extra) cp &= 0x3Fu >> extra;
  for (size_t i = 1; i <= extra && i < utf8.size(); ++i) cp = (cp << 6) | (b(i) & 0x3Fu);
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
  return text;
}

}  // namespace

std::string SaveProblemNote(const ShowSaveProblem& p) {
  if (p.field.empty()) return {};
  if (p.field == "memory") return "メモリが足りません";
  const bool folder = p.field == "folder";
  if (folder && p.character == "#")
    return "サウンドフォルダが「#」で始まるため、読み込むとコメント行になります";
  if (folder && p.character == ",") return "サウンドフォルダが「,」で終わるため、読み戻せません";
  std::string where = "サウンドフォルダ";
  if (!folder) {
    const std::string channel =
        p.channel <= 6 ? "CH" + std::to_string(p.channel) : "G" + std::to_string(p.channel - 6);
    const char* field = p.field == "title" ? "タイトル" : p.field == "file" ? "ファイル名" : "説明";
    where = channel + " のＱ" + FormatG(p.qNumber) + " の" + field;
  }
  if (p.character == "\n" || p.character == "\r") return where + "に改行があります";
  const std::string character = "「" + p.character + "」(" + CodePointName(p.character) + ")";
  // Short enough for the message box to show without scrolling.
  if (folder || p.field == "file") return where + "の" + character + "は使えません";
  return where + "の" + character + "は保存できません";
}

}  // namespace orvex
