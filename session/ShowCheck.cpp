#include "session/ShowCheck.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "engine/WaveSource.h"
#include "output/OutputDevices.h"
#include "output/mixer/VoiceEngine.h"
#include "session/RecordEdit.h"
#include "show/AtomicFile.h"
#include "show/CueStore.h"
#include "show/ListFile.h"
#include "show/MarkerFile.h"
#include "show/PathMap.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

// What a stored path leads to on this machine.
struct FileState {
  std::string kind;  // empty when all is well
  std::string what;
  bool caseOnly = false;  // found, but only by ignoring letter case
  std::string found;      // the native path found
};

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// True when the names the stored path gives after its drive or share differ
// from the ones on disk in letter case only.
bool FoundByCase(const std::string& stored, const std::string& native) {
  const std::vector<std::string> want = Components(stored), have = Components(native);
  const size_t n = std::min(want.size(), have.size());
  for (size_t i = 1; i <= n; ++i) {
    const std::string& w = want[want.size() - i];
    if (w.size() == 2 && w[1] == ':') break;  // the drive: mapped, not looked up
    if (w != have[have.size() - i]) return true;
  }
  return false;
}

bool IsWavName(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = path.substr(dot + 1, 3);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == "wav";
}

class Checker {
 public:
  Checker(const Settings& settings, std::vector<CheckFinding>& out)
      : drives_(settings.drives), out_(out) {}

  void Cue(const CueStore& show, int ch, int i) {
    const CRecord& r = *show.Find(ch, i);
    CheckFinding base;
    base.channel = ch;
    base.q = r.qNumber;
    base.path = r.fileOrCommand;
    if (ch >= 7) {
      const std::vector<std::string> allowed = CommandListOnOpening(ch == 7 ? "G1" : "G2");
      if (std::find(allowed.begin(), allowed.end(), r.fileOrCommand) == allowed.end())
        Add(base, "error", "bad-command", kGroupCommandOnly);
      return;
    }
    if (r.fileOrCommand.empty() || IsCommandWord(r.fileOrCommand)) return;
    const std::string stored = show.GetWavPath(ch, i);
    base.path = stored;
    if (IsWavName(stored)) {
      Wave(base, stored, "missing-file");
    } else {
      List(base, stored);
    }
  }

  void Add(CheckFinding f, const char* severity, const std::string& kind, const std::string& what) {
    f.severity = severity;
    f.kind = kind;
    f.what = what;
    out_.push_back(std::move(f));
  }

 private:
  void Report(const CheckFinding& base, const FileState& s) {
    // A marker file belongs to the sound, not to the cue: said once.
    const bool told = s.kind == "unreadable-marker" && !markersTold_.insert(s.found).second;
    if (!s.kind.empty() && !told) Add(base, "error", s.kind, s.what);
    if (s.caseOnly)
      Add(base, "warning", "letter-case",
          "名前の大文字・小文字が違うファイルを使います: " + s.found);
  }

  void Wave(const CheckFinding& base, const std::string& stored, const char* missingKind) {
    FileState s = WaveState(stored, missingKind);
    // Per name: the same file may be named right in one cue and not in another.
    s.caseOnly = !s.found.empty() && FoundByCase(stored, s.found);
    Report(base, s);
  }

  const FileState& WaveState(const std::string& stored, const std::string& missingKind) {
    const std::string native = NativePath(stored, drives_);
    const std::string key = missingKind + '\n' + native;
    if (auto it = waves_.find(key); it != waves_.end()) return it->second;
    FileState s;
    std::error_code ec;
    if (!fs::exists(native, ec)) {
      s.kind = missingKind;
      s.what = "ファイルが見つかりません: " + native;
      return waves_[key] = s;
    }
    s.found = native;
    CWaveSource source(-1);
    source.SetReportsMessages(false);
    if (!source.OpenWaveFile(native)) {
      s.kind = "not-playable";
      const char* why = source.RefusalMessage();
      s.what = std::string(why ? why
                           : source.LastOpenError() == WaveOpenError::kEmptyData
                               ? "ファイルにデータがない"
                               : "ファイルを開けません") +
               ": " + native;
    } else if (!mixer::IsPlayableFormat(source.Format())) {
      const WaveFormat& f = source.Format();
      s.kind = "not-playable";
      s.what = "再生できない形式です（" + std::to_string(f.bitsPerSample) + " ビット、" +
               std::to_string(f.channels) + " チャネル）: " + native;
    } else {
      Marker(native, s);
    }
    return waves_[key] = s;
  }

  // A marker file beside the WAV file that is there but cannot be read.
  static void Marker(const std::string& wavNative, FileState& s) {
    const std::string path = MarkerFileName(wavNative);
    if (ReadRegularFile(path).status == FileReadStatus::kUnreadable) {
      s.kind = "unreadable-marker";
      s.what = "マーカーファイルを読めません: " + path;
    }
  }

  void List(const CheckFinding& base, const std::string& stored) {
    const std::string native = NativePath(stored, drives_);
    const FileRead read = ReadRegularFile(native);
    if (read.status != FileReadStatus::kOk) {
      Add(base, "error",
          read.status == FileReadStatus::kMissing ? "missing-list" : "unreadable-list",
          (read.status == FileReadStatus::kMissing ? "連続再生リストが見つかりません: "
                                                   : "連続再生リストを読めません: ") +
              native);
      return;
    }
    if (FoundByCase(stored, native))
      Add(base, "warning", "letter-case",
          "名前の大文字・小文字が違うファイルを使います: " + native);
    const ListFileContent list = ParseListFile(read.bytes);
    std::string folder = list.folder;
    // The folder as the players take it: trimmed of surrounding blanks.
    folder.erase(0, folder.find_first_not_of(" \t"));
    folder.erase(folder.find_last_not_of(" \t") + 1);
    for (const ListItem& entry : list.items) {
      if (ListItemName(entry).empty()) continue;
      CheckFinding item = base;
      item.item = std::string(ListItemName(entry));
      Wave(item, ListItemPath(folder, entry), "missing-item");
    }
  }

  const DriveMap& drives_;
  std::vector<CheckFinding>& out_;
  std::map<std::string, FileState> waves_;
  std::set<std::string> markersTold_;
};

void CheckDevices(const Settings& settings, Checker& checker) {
  bool named = false;
  for (const std::string& name : settings.deviceName) named = named || !name.empty();
  if (!named) return;
  OutputSettings outputs;
  outputs.deviceType = settings.deviceType;
  outputs.deviceName = settings.deviceName;
  outputs.jackServers = settings.jackServers;
  COutputDevices devices(outputs);
  devices.ListAllDevices();
  static const char* const kOutputs[] = {"Master", "Group1", "Group2"};
  for (int n = 0; n < kOutputCount; ++n) {
    const std::string& id = settings.deviceName[static_cast<size_t>(n)];
    const std::string& type = settings.deviceType[static_cast<size_t>(n)];
    if (id.empty()) continue;
    const DeviceKind kind = type == "WASAPI" ? DeviceKind::kWasapi
                            : type == "ASIO" ? DeviceKind::kAsio
                                             : DeviceKind::kXAudio;
    const CSoundDevice& d = devices.Device(n);
    bool present = false;
    for (int i = 0; i < d.Count() && !present; ++i)
      present = d.KindOf(i) == kind && d.GetDeviceId(i) == id;
    if (present) continue;
    CheckFinding f;
    f.path = id;
    checker.Add(f, "error", "missing-device",
                std::string(kOutputs[n]) + " の出力デバイスがありません: " + type + " " + id);
  }
}

}  // namespace

bool ShowCheckResult::HasErrors() const {
  return !readable || std::any_of(findings.begin(), findings.end(),
                                  [](const CheckFinding& f) { return f.severity == "error"; });
}

ShowCheckResult CheckShow(const std::string& showPath, const Settings& settings,
                          bool checkDevices) {
  ShowCheckResult result;
  Checker checker(settings, result.findings);
  const FileRead read = ReadRegularFile(showPath);
  CueStore show;
  ShowLoadResult loaded;
  if (read.status == FileReadStatus::kOk) loaded = ParseShowText(read.bytes, show);
  if (!loaded.ok) {
    CheckFinding f;
    f.path = showPath;
    checker.Add(f, "error", "unreadable-show", "Ｑシートを読み込めません: " + showPath);
    return result;
  }
  ShowCheckResult checked = CheckCues(show, loaded.skippedLines, settings, checkDevices);
  // What the lines held, for the operator to recognise them.
  for (CheckFinding& f : checked.findings) {
    if (f.line == 0) continue;
    const auto at = std::find(loaded.skippedLines.begin(), loaded.skippedLines.end(), f.line);
    const size_t k = static_cast<size_t>(at - loaded.skippedLines.begin());
    if (k < loaded.skippedText.size()) f.path = loaded.skippedText[k];
  }
  return checked;
}

ShowCheckResult CheckCues(const CueStore& show, const std::vector<int>& skippedLines,
                          const Settings& settings, bool checkDevices) {
  ShowCheckResult result;
  result.readable = true;
  Checker checker(settings, result.findings);
  for (int line : skippedLines) {
    CheckFinding f;
    f.line = line;
    checker.Add(f, "error", "not-a-cue",
                "Ｑ番号が 0 以下か、チャネルが正しくない行です（保存すると消えます）");
  }
  for (int ch = kFirstChannel; ch <= kLastChannel; ++ch)
    for (int i = 1; i <= show.GetCount(ch); ++i) checker.Cue(show, ch, i);
  if (checkDevices) CheckDevices(settings, checker);
  return result;
}

}  // namespace orvex
