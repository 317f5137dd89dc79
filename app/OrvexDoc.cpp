#include "app/OrvexDoc.h"

#include <cstring>

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
  ShowLoadResult result = orvex::LoadShowFile(m_showPath, *this);
  m_skippedLines = std::move(result.skippedLines);
  return result.ok;
}

bool COrvexDoc::SaveShowFile() {
  if (m_showPath.empty()) return true;
  return orvex::SaveShowFile(m_showPath, *this, nullptr, &m_saveProblem);
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
