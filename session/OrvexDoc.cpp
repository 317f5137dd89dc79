#include "session/OrvexDoc.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "session/SoundFolder.h"
#include "show/AtomicFile.h"
#include "show/Messages.h"
#include "show/ShowFile.h"

namespace orvex {

COrvexDoc::COrvexDoc(std::string settingsPath)
    : m_settingsPath(settingsPath.empty() ? DefaultSettingsPath() : std::move(settingsPath)) {}

bool COrvexDoc::LoadSettings() {
  ClearCueStore();
  // An absent file reads as empty: first-run values stay. One that is there
  // but cannot be read, or is read-only, holds settings the operator wants
  // kept: it is never written, and the operator hears about it once.
  FileReadStatus status = FileReadStatus::kMissing;
  m_store.Load(m_settingsPath, &status);
  m_settings.Load(m_store);
  m_settingsKept = false;
  if (status == FileReadStatus::kUnreadable) {
    m_settingsKept = true;
    ConfirmYesNo(std::string(kSettingsUnreadable) + "\n" + m_settingsPath);
  } else if (status == FileReadStatus::kOk && IsReadOnlyFile(m_settingsPath)) {
    m_settingsKept = true;
    ConfirmYesNo(std::string(kSettingsReadOnly) + "\n" + m_settingsPath);
  }
  return true;
}

bool COrvexDoc::SaveSettings() {
  if (m_settingsKept) return true;
  m_settings.Save(m_store);
  return m_store.Save(m_settingsPath);
}

bool COrvexDoc::LoadShowFile() {
  m_skippedLines.clear();
  if (m_showPath.empty()) return true;
  ReadShowResult result = ReadShow(m_showPath);
  if (!result.ok) return false;
  TakeShow(*result.store, std::move(result.skippedLines));
  return true;
}

ReadShowResult ReadShow(const std::string& path) {
  ReadShowResult result;
  result.store = std::make_unique<CueStore>();
  ShowLoadResult read = orvex::LoadShowFile(path, *result.store);
  result.ok = read.ok;
  result.skippedLines = std::move(read.skippedLines);
  result.skippedText = std::move(read.skippedText);
  return result;
}

void COrvexDoc::TakeShow(CueStore& loaded, std::vector<int> skippedLines) {
  // Sheets move in and out whole, so this costs the same for any show size.
  for (int ch = 0; ch < kSheetCount; ++ch) std::swap(*Sheet(ch), *loaded.Sheet(ch));
  std::string folder = loaded.GetSoundFolder();
  loaded.SetSoundFolder(GetSoundFolder());
  SetSoundFolder(folder);
  m_skippedLines = std::move(skippedLines);
}

double COrvexDoc::MaxChannelQNumber() const {
  double maxQ = 0;
  for (int ch = 1; ch <= 6; ++ch) {
    if (GetCount(ch) > 0) maxQ = std::max(maxQ, GetMaxQNumber(ch));
  }
  return maxQ;
}

bool COrvexDoc::AddWaveCue(const std::string& path, int ch) {
  const PlacedFile placed = PlaceInFolder(path, GetSoundFolder());
  if (!FitsRecordPath(placed.folder, placed.file)) return false;
  if (placed.newFolder) SetSoundFolder(placed.folder);

  RecordValues v;
  v.qNumber = MaxChannelQNumber() + 1;
  v.title = FileTitle(path);
  v.fileOrCommand = placed.file;
  v.preLevel = 8.0;
  v.inSequence = true;
  return AddRecord(ch, v);
}

bool COrvexDoc::SaveShowFile() {
  if (m_showPath.empty()) return true;
  if (WriteShowFile(m_showPath, *this, nullptr, &m_saveProblem)) return true;
  // The operator needs to know which cue to change, not only that it failed.
  // Reporting may itself run out of memory; that must not escape a command.
  try {
    ConfirmYesNo(SaveFailureMessage(m_saveProblem));
  } catch (const std::exception&) {
  }
  return false;
}

std::string SaveFailureMessage(const ShowSaveProblem& problem) {
  std::string message = kShowSaveFailed;
  if (std::string note = SaveProblemNote(problem); !note.empty()) message += "\n" + note;
  return message;
}

void COrvexDoc::SetShowPath(const std::string& path) {
  m_showPath = path;
  m_settings.showPath = path;
}

std::string TakeSettingsOption(int& argc, char** argv) {
  std::string path;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--settings") == 0 && i + 1 < argc) {
      path = argv[++i];
    } else if (std::strncmp(arg, "--settings=", 11) == 0) {
      path = arg + 11;
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  argv[argc] = nullptr;
  return path;
}

}  // namespace orvex
