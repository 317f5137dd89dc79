// The cue sheet editor's working list, apart from its window: copies of
// every record with its channel, both sort orders, the proposals of Add and
// Insert, Change, Delete, Renumber, dropped files, the duplicate check of OK,
// and putting the result in place of the cue store.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session/RecordEdit.h"
#include "show/CueStore.h"

namespace orvex {

struct WorkingRecord {
  RecordValues values;
  int channel = 0;  // 1..8
  int serial = 0;   // follows the record through sorts
};

class CueSheetEdit {
 public:
  enum SortMode { kByQ = 0, kByChannel = 1 };

  CueSheetEdit(std::string folder, int sortMode);

  // A copy of a record and its channel, at the end of the list.
  void AddWorking(const CRecord& record, int channel);
  void AddWorking(const RecordValues& values, int channel);
  // Every record of channels 1..8, channel by channel in sheet order.
  void AddAllOf(const CueStore& store);

  const std::vector<WorkingRecord>& Working() const { return m_list; }
  int Count() const { return static_cast<int>(m_list.size()); }
  const WorkingRecord& At(int i) const { return m_list[static_cast<size_t>(i)]; }

  int GetSortMode() const { return m_sortMode; }
  // False when the mode already was this one (nothing to do).
  bool SetSortMode(int mode);
  // Stable: records with equal keys keep their order.
  void Sort();

  const std::string& Folder() const { return m_folder; }
  // The folder field as typed; a different text counts as a change.
  void SetFolder(const std::string& folder);
  bool Changed() const { return m_changed; }

  // The record editor's fields for Add, for Insert at row `selected` (Add
  // without one), and for Change of row i.
  RecordFields ProposeAdd() const;
  RecordFields ProposeInsert(int selected) const;
  RecordFields FieldsOf(int i) const;

  // The record editor's accepted fields: appended (Add, Insert) or written
  // into row i (Change); the list is sorted again. The index the record
  // has afterwards.
  int Append(const RecordFields& fields);
  int Change(int i, const RecordFields& fields);
  void Delete(int i);
  // Q numbers made whole in Q order: 1, 2, 3..., equal numbers on different
  // channels staying equal.
  void Renumber();
  // Dropped files (native or stored paths), each a cue on channel 1 after
  // the largest Q number.
  void Drop(const std::vector<std::string>& paths);

  // The message OK shows for the first two records with the same Q number
  // on the same channel, if any.
  std::optional<std::string> DuplicateMessage() const;
  // OK's last step: trailing separators leave the folder.
  void TrimFolder();

  // The cue store takes the list: the folder, every record on its channel
  // in list order, each sheet's ordering pass.
  void ApplyTo(CueStore& store) const;

 private:
  double LargestQ() const;
  RecordFields ProposeFrom(const WorkingRecord& source, double q) const;
  static int ChannelOfFields(const RecordFields& fields, bool bgmAllowed);
  int IndexOfSerial(int serial) const;

  std::vector<WorkingRecord> m_list;
  std::string m_folder;
  int m_sortMode = kByQ;
  bool m_changed = false;
  int m_nextSerial = 0;
};

}  // namespace orvex
