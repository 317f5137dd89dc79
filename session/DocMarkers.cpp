// The document's marker operations on the store the marker panel lends it.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/Console.h"
#include "session/OrvexDoc.h"
#include "show/AtomicFile.h"
#include "show/ListFile.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

bool IsWavExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot != std::string::npos && path.compare(dot + 1, std::string::npos, "wav") == 0;
}

// A key that names its own place: a drive or share path, or a path from the
// root. A folder put in front of it could only give a path that is nowhere.
bool IsRootedKey(const std::string& key) {
  return key.find(':') != std::string::npos ||
         (!key.empty() && (key.front() == '/' || key.front() == '\\'));
}

}  // namespace

std::string COrvexDoc::ShowFolder() const {
  if (m_showPath.empty()) return {};
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(m_showPath, ec);
  return ec ? std::string() : absolute.parent_path().string();
}

std::string COrvexDoc::NativeMarkerPath(const std::string& wavPath) const {
  const DriveMap& drives = m_settings.drives;
  const std::string marker = NativePath(MarkerFileName(wavPath), drives);
  // A relative path goes where the WAV file was found: from the working
  // folder, or else from the show's folder.
  const std::string showFolder = ShowFolder();
  if (marker.empty() || marker.front() == '/' || showFolder.empty()) return marker;
  const std::string wav = NativePath(wavPath, drives);
  if (ResolveSoundPath(wavPath, drives, showFolder) == wav) return marker;
  return NativePath(showFolder + "/" + marker, drives);
}

void COrvexDoc::LoadMarkerFile(const std::string& wavPath) {
  if (!m_markers) return;
  const std::optional<std::string> text = ReadWholeFile(NativeMarkerPath(wavPath));
  if (!text) return;
  std::shared_ptr<MarkerList> list = m_markers->Find(wavPath);
  if (!list) {
    list = std::make_shared<MarkerList>();
    m_markers->Put(wavPath, list);
  }
  MergeMarkerText(*text, *list);
}

void COrvexDoc::LoadMarkers() {
  if (!m_markers) return;
  const DriveMap& drives = m_settings.drives;
  const std::string showFolder = ShowFolder();
  for (int ch = 1; ch <= 6; ++ch) {
    for (int i = 1; i <= GetCount(ch); ++i) {
      const std::string path = GetWavPath(ch, i);
      // Letter case counts: "X.WAV" is read as a list file, and loads nothing.
      if (IsWavExtension(path)) {
        LoadMarkerFile(path);
        continue;
      }
      // A list file (or a command word, which names no file).
      const std::optional<std::string> bytes =
          ReadWholeFile(ResolveSoundPath(path, drives, showFolder));
      if (!bytes) continue;
      // Each item by the key the channel that plays it keeps its markers under.
      const ListFileContent list = ParseListFile(*bytes);
      const std::string folder(TrimBlanks(list.folder));
      for (const ListItem& item : list.items) LoadMarkerFile(ListItemPath(folder, item));
    }
  }
}

bool COrvexDoc::SaveMarkers() {
  if (!m_markers) return true;
  const std::string& folder = GetSoundFolder();
  for (const auto& [key, list] : *m_markers) {
    // A key without a folder (made while the show had none) stays beside
    // the WAV file it was made for, not at the root.
    const std::string wav = IsRootedKey(key) || folder.empty() ? key : folder + "\\" + key;
    const std::string native = NativeMarkerPath(wav);
    if (!WriteFileAtomically(native, MarkerFileText(*list))) {
      ConfirmYesNo(std::string(kMarkerSaveFailed) + "\n" + native);
      return false;
    }
  }
  return true;
}

void COrvexDoc::RekeyMarkers(const std::string& previousFolder) {
  if (!m_markers || previousFolder == GetSoundFolder()) return;
  for (int ch = 1; ch <= 6; ++ch) {
    for (int i = 1; i <= GetCount(ch); ++i) {
      const std::string file = GetFile(ch, i);
      // The key the file had under the old folder, made as GetWavPath made it.
      const std::string from = ResolveWavPath(previousFolder, file);
      const std::string to = GetWavPath(ch, i);
      // An absolute name keeps its key; moving it onto itself would lose it.
      if (from == to) continue;
      std::shared_ptr<MarkerList> list = m_markers->Find(from);
      if (!list) continue;
      m_markers->Put(to, std::move(list));
      m_markers->Remove(from);
    }
  }
}

MarkerStore ReadShowMarkers(CueStore& show, const std::string& showPath, const DriveMap& drives) {
  // A document of its own over the show's sheets (lent and given back), so
  // the markers are found exactly as the document finds them.
  MarkerStore found;
  COrvexDoc reader("/nonexistent/orvex-markers.ini");
  reader.GetSettings().drives = drives;
  reader.SetShowPath(showPath);
  reader.TakeShow(show, {});
  reader.SetMarkerStore(&found);
  reader.LoadMarkers();
  reader.TakeShow(show, {});
  return found;
}

void MergeMarkerStore(MarkerStore& into, const MarkerStore& from) {
  for (const auto& [path, list] : from) {
    std::shared_ptr<MarkerList> known = into.Find(path);
    if (!known) {
      into.Put(path, list);
      continue;
    }
    for (uint32_t p : *list) {
      if (std::find(known->begin(), known->end(), p) == known->end()) known->push_back(p);
    }
  }
}

}  // namespace orvex
