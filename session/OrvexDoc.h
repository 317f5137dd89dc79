// The document: the cue store, the show path and the settings, with the
// settings file they are read from at start-up and written to at exit.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "show/CueStore.h"
#include "show/IniFile.h"
#include "show/MarkerFile.h"
#include "show/Settings.h"
#include "show/ShowFile.h"

namespace orvex {

class COrvexDoc : public CueStore {
 public:
  // settingsPath: the settings file; empty means DefaultSettingsPath().
  explicit COrvexDoc(std::string settingsPath = {});

  // Reads the settings file (absent or unreadable reads as empty, which keeps
  // the first-run values). Clears the cue store first. A file that exists but
  // cannot be read, or is read-only, is reported once and left alone.
  bool LoadSettings();
  // Writes every setting back; other lines of the file are kept. Returns
  // false when the file could not be written; a file LoadSettings left alone
  // is not written (and that is no failure).
  bool SaveSettings();
  // True when LoadSettings decided the settings file must be left alone.
  bool SettingsKept() const { return m_settingsKept; }

  // The show file: LoadShowFile/SaveShowFile on the document path. Both do
  // nothing and return true when the path is empty. A show that fails to
  // load leaves the cue store as it was, never half loaded.
  bool LoadShowFile();
  // A failed save is reported with SaveFailureMessage.
  bool SaveShowFile();
  // What stopped the last failed SaveShowFile before it touched the file.
  const ShowSaveProblem& LastSaveProblem() const { return m_saveProblem; }
  // Line numbers the last LoadShowFile set aside as invalid.
  const std::vector<int>& SkippedLines() const { return m_skippedLines; }

  // Puts a show read elsewhere (ReadShow) in place of the current one.
  void TakeShow(CueStore& loaded, std::vector<int> skippedLines);

  // Adds a WAV file (native path) as a new cue on channel ch (1..6): the
  // first one names the sound folder when there is none, the Q number
  // follows the largest of CH1..CH6. False when the folder and file name
  // together are too long for a record (nothing is added then).
  bool AddWaveCue(const std::string& path, int ch);
  // The largest Q number of CH1..CH6, 0 for none.
  double MaxChannelQNumber() const;

  void SetShowPath(const std::string& path);
  const std::string& GetShowPath() const { return m_showPath; }

  // The settings file's entries, for values other than the console's
  // settings (the window layout); written at exit with the rest.
  IniFile& Store() { return m_store; }

  // --- markers ---
  // The store belongs to the marker panel, which lends it here; without one
  // the marker operations do nothing.
  void SetMarkerStore(MarkerStore* store) { m_markers = store; }
  MarkerStore* GetMarkerStore() const { return m_markers; }
  // The marker files of every cue of CH1..CH6 (and of the entries of list
  // files those cues name) merged into the store.
  void LoadMarkers();
  // Merges the marker file of a WAV path (as stored) into its entry; a file
  // that cannot be read leaves the store as it was.
  void LoadMarkerFile(const std::string& wavPath);
  // Writes the marker file of every entry, also empty ones and those of
  // shows loaded earlier. The first failure is reported with
  // kMarkerSaveFailed and ends the save (false).
  bool SaveMarkers();
  // After the sound folder changed from previousFolder: markers of relative
  // file names move from their old full path to the new one, replacing
  // what the new path held.
  void RekeyMarkers(const std::string& previousFolder);
  // Where the marker file of a WAV path (as stored) is on this machine:
  // beside the WAV file as the players find it.
  std::string NativeMarkerPath(const std::string& wavPath) const;

  Settings& GetSettings() { return m_settings; }
  const Settings& GetSettings() const { return m_settings; }
  const std::string& GetSettingsPath() const { return m_settingsPath; }

 private:
  std::string m_settingsPath;
  IniFile m_store;
  Settings m_settings;
  std::string m_showPath;
  std::vector<int> m_skippedLines;
  ShowSaveProblem m_saveProblem;
  bool m_settingsKept = false;
  MarkerStore* m_markers = nullptr;

  std::string ShowFolder() const;
};

inline constexpr const char* kSettingsUnreadable =
    "設定ファイルを読み込めませんでした。既定の設定で起動します。設定ファイルは上書きしません。";
inline constexpr const char* kSettingsReadOnly =
    "設定ファイルが読み取り専用のため、終了時に設定を保存しません。";

// The markers of a show's cues (as LoadMarkers reads them) into a store of
// their own, for any thread: show is the show just read from showPath.
MarkerStore ReadShowMarkers(CueStore& show, const std::string& showPath, const DriveMap& drives);
// Adds what from holds to into as loading a marker file would: new paths
// come whole, known ones gain the positions they lack.
void MergeMarkerStore(MarkerStore& into, const MarkerStore& from);

inline constexpr const char* kMarkerSaveFailed = "マーカーファイルの保存に失敗しました";

inline constexpr const char* kPathTooLong = "パス名が長すぎです。127文字以下にしてください";
// Longest sound folder, separator and file name a record takes, in characters.
inline constexpr size_t kMaxRecordPath = 127;

// A show read on its own, for any thread: ok is false when the file could
// not be read (the failure has been reported then).
struct ReadShowResult {
  bool ok = false;
  std::unique_ptr<CueStore> store;
  std::vector<int> skippedLines;
  std::vector<std::string> skippedText;  // of the first few, as ShowLoadResult keeps
};
ReadShowResult ReadShow(const std::string& path);

// The save-failure message, with a second line naming the cue and the
// character when the show's text stopped the save.
std::string SaveFailureMessage(const ShowSaveProblem& problem);

// Removes "--settings FILE" (or "--settings=FILE") from argv and returns FILE,
// or an empty string when the option is absent.
std::string TakeSettingsOption(int& argc, char** argv);

}  // namespace orvex
