#include "session/CueSheetEdit.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "session/SoundFolder.h"
#include "show/TextNumbers.h"

namespace orvex {

CueSheetEdit::CueSheetEdit(std::string folder, int sortMode)
    : m_folder(std::move(folder)), m_sortMode(sortMode == kByChannel ? kByChannel : kByQ) {}

void CueSheetEdit::AddWorking(const CRecord& record, int channel) {
  AddWorking(ValuesOfRecord(record), channel);
}

void CueSheetEdit::AddWorking(const RecordValues& values, int channel) {
  m_list.push_back({values, channel, m_nextSerial++});
}

void CueSheetEdit::AddAllOf(const CueStore& store) {
  size_t total = 0;
  for (int ch = 1; ch <= 8; ++ch) total += static_cast<size_t>(store.GetCount(ch));
  m_list.reserve(total);
  for (int ch = 1; ch <= 8; ++ch) {
    for (int i = 1; i <= store.GetCount(ch); ++i) AddWorking(*store.Find(ch, i), ch);
  }
}

bool CueSheetEdit::SetSortMode(int mode) {
  if (mode == m_sortMode || (mode != kByQ && mode != kByChannel)) return false;
  m_sortMode = mode;
  Sort();
  return true;
}

void CueSheetEdit::Sort() {
  // The same order as inserting each record before the first placed one it
  // must precede: a stable sort on the mode's keys.
  if (m_sortMode == kByQ) {
    std::stable_sort(m_list.begin(), m_list.end(), [](const auto& a, const auto& b) {
      if (a.values.qNumber != b.values.qNumber) return a.values.qNumber < b.values.qNumber;
      return a.channel < b.channel;
    });
  } else {
    std::stable_sort(m_list.begin(), m_list.end(), [](const auto& a, const auto& b) {
      if (a.channel != b.channel) return a.channel < b.channel;
      return a.values.qNumber < b.values.qNumber;
    });
  }
}

void CueSheetEdit::SetFolder(const std::string& folder) {
  if (folder == m_folder) return;
  m_folder = folder;
  m_changed = true;
}

double CueSheetEdit::LargestQ() const {
  double largest = 0;
  for (const WorkingRecord& r : m_list) largest = std::max(largest, r.values.qNumber);
  return largest;
}

RecordFields CueSheetEdit::ProposeAdd() const {
  RecordFields f;
  f.folder = m_folder;
  if (LargestQ() <= 0) {
    f.qNumber = "1";
    f.channel = "1";
    f.pre = "8";
    f.fadeIn = "0";
    f.fadeOut = "0";
    f.inSequence = true;
    f.timingText = TimingText(0);
    f.delay = "0";
    return f;
  }
  return ProposeFrom(m_list.back(), m_list.back().values.qNumber + 1);
}

RecordFields CueSheetEdit::ProposeInsert(int selected) const {
  if (selected < 0 || selected >= Count()) return ProposeAdd();
  const WorkingRecord& at = At(selected);
  const WorkingRecord& source = selected > 0 ? At(selected - 1) : at;
  const double q =
      selected > 0 ? (source.values.qNumber + at.values.qNumber) / 2 : at.values.qNumber / 2;
  return ProposeFrom(source, q);
}

RecordFields CueSheetEdit::ProposeFrom(const WorkingRecord& source, double q) const {
  // A new record like its neighbour: its channel, title, level, note,
  // sequence and timings, but no file, no fades and no routing of its own.
  RecordFields f;
  f.folder = m_folder;
  f.qNumber = FormatG(q);
  f.channel = ChannelText(source.channel);
  f.title = source.values.title;
  f.pre = FormatG(source.values.preLevel);
  f.fadeIn = "0";
  f.fadeOut = "0";
  f.description = source.values.description;
  f.inSequence = source.values.inSequence;
  f.timing = source.values.timing;
  f.timingText = TimingText(f.timing);
  f.delay = std::to_string(source.values.delay);
  return f;
}

RecordFields CueSheetEdit::FieldsOf(int i) const {
  return FieldsOfValues(At(i).values, At(i).channel, m_folder);
}

int CueSheetEdit::IndexOfSerial(int serial) const {
  for (int i = 0; i < Count(); ++i) {
    if (At(i).serial == serial) return i;
  }
  return -1;
}

int CueSheetEdit::Append(const RecordFields& fields) {
  const int serial = m_nextSerial;
  AddWorking(ValuesOfFields(fields), ChannelOfText(fields.channel, true));
  m_changed = true;
  Sort();
  return IndexOfSerial(serial);
}

int CueSheetEdit::Change(int i, const RecordFields& fields) {
  if (i < 0 || i >= Count()) return -1;
  WorkingRecord& r = m_list[static_cast<size_t>(i)];
  r.values = ValuesOfFields(fields);
  r.channel = ChannelOfText(fields.channel, false);
  const int serial = r.serial;
  m_changed = true;
  Sort();
  return IndexOfSerial(serial);
}

void CueSheetEdit::Delete(int i) {
  if (i < 0 || i >= Count()) return;
  m_list.erase(m_list.begin() + i);
  m_changed = true;
}

void CueSheetEdit::Renumber() {
  const int mode = m_sortMode;
  m_sortMode = kByQ;
  Sort();
  int counter = 0;
  double previous = 0;
  for (WorkingRecord& r : m_list) {
    const double old = r.values.qNumber;
    if (old > previous) ++counter;
    r.values.qNumber = counter;
    previous = old;
  }
  m_sortMode = mode;
  Sort();
  m_changed = true;
}

void CueSheetEdit::Drop(const std::vector<std::string>& paths) {
  const double largest = LargestQ();
  int k = 0;
  for (const std::string& path : paths) {
    const PlacedFile placed = PlaceInFolder(path, m_folder);
    m_folder = placed.folder;
    RecordValues v;
    v.qNumber = largest + ++k;
    v.title = FileTitle(path);
    v.fileOrCommand = placed.file;
    v.preLevel = 8.0;
    v.inSequence = true;
    AddWorking(v, 1);
  }
  if (paths.empty()) return;
  Sort();
  m_changed = true;
}

std::optional<std::string> CueSheetEdit::DuplicateMessage() const {
  // The first pair in list order is the one whose first record comes first:
  // the earliest record that has a twin later in the list.
  std::map<std::pair<double, int>, int> seen;
  int first = -1;
  for (int i = 0; i < Count(); ++i) {
    const auto key = std::make_pair(At(i).values.qNumber, At(i).channel);
    const auto [it, inserted] = seen.emplace(key, i);
    if (!inserted && (first < 0 || it->second < first)) first = it->second;
  }
  if (first < 0) return std::nullopt;
  const WorkingRecord& r = At(first);
  const std::string q = FormatG(r.values.qNumber);
  const std::string channel = ChannelLabel(r.channel);
  char text[512];
  std::snprintf(text, sizeof text,
                "異なるレコードにＱとチャネルが同一のものがあります。\nＱ番号%sの%s", q.c_str(),
                channel.c_str());
  return std::string(text);
}

void CueSheetEdit::TrimFolder() {
  while (!m_folder.empty() && m_folder.back() == '\\') m_folder.pop_back();
  // A native folder keeps its root.
  while (m_folder.size() > 1 && m_folder.back() == '/') m_folder.pop_back();
}

void CueSheetEdit::ApplyTo(CueStore& store) const {
  store.SetSoundFolder(m_folder);
  store.ClearCueStore();
  for (const WorkingRecord& r : m_list) store.AddRecord(r.channel, r.values);
  for (int ch = 1; ch <= 8; ++ch) store.MoveSmallerToFront(ch);
}

}  // namespace orvex
