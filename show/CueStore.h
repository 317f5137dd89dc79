// The cue store: nine sheets indexed by channel number and the sound folder.
// Channels 1..6 are CH1..CH6, 7 is G1, 8 is G2; sheet 0 belongs to no
// channel. Accessors take a channel and a 1-based position; out-of-range
// arguments give empty values (IsInSequence gives true) and set nothing.
#pragma once

#include <array>
#include <string>

#include "show/QSheet.h"

namespace orvex {

inline constexpr int kSheetCount = 9;
inline constexpr int kFirstChannel = 1;
inline constexpr int kLastChannel = 8;  // G2

class CueStore {
 public:
  virtual ~CueStore() = default;

  // The sheet of channel ch; nullptr for ch outside 0..8.
  CQSheet* Sheet(int ch);
  const CQSheet* Sheet(int ch) const;
  int GetCount(int ch) const;
  // Record (ch, i) or nullptr.
  const CRecord* Find(int ch, int i) const;

  double GetQNumber(int ch, int i) const;
  double GetPre(int ch, int i) const;
  double GetFadeIn(int ch, int i) const;
  double GetFadeOut(int ch, int i) const;
  std::string GetTitle(int ch, int i) const;
  std::string GetFile(int ch, int i) const;
  std::string GetDescription(int ch, int i) const;
  bool IsInSequence(int ch, int i) const;
  double GetMaxQNumber(int ch) const;

  // The command word of record (ch, i), kNone for a file or no record.
  CueCommand CommandOf(int ch, int i) const;
  bool IsStop(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kStop; }
  bool IsFout(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kFout; }
  bool IsFup(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kFup; }
  bool IsFdown(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kFdown; }
  bool IsUp(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kUp; }
  bool IsDown(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kDown; }
  bool IsPause(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kPause; }
  bool IsCont(int ch, int i) const { return CommandOf(ch, i) == CueCommand::kCont; }
  bool IsCommand(int ch, int i) const;

  // The stored path of the record's file: the file field when it holds a
  // ':' at its second character or later or begins with '/', otherwise the
  // sound folder, '\' and the field (just the field when the folder is empty).
  std::string GetWavPath(int ch, int i) const;

  // Appends to sheet ch; refused (returns false) for ch outside 0..8.
  bool AddRecord(int ch, const RecordValues& v);
  void SetRecord(int ch, int i, const RecordValues& v);
  void SetRecordBasic(int ch, int i, const std::string& title, const std::string& fileOrCommand,
                      const std::string& description, double qNumber, double preLevel,
                      double fadeIn, double fadeOut);
  ChannelData GetChannelData(int ch, int i) const;
  void SetChannelData(int ch, int i, const ChannelData& data);
  void MoveSmallerToFront(int ch);
  // Deletes all records of channels 1..8.
  void ClearCueStore();

  const std::string& GetSoundFolder() const { return m_soundFolder; }
  void SetSoundFolder(const std::string& folder) { m_soundFolder = folder; }

 private:
  std::array<CQSheet, kSheetCount> m_sheets;
  std::string m_soundFolder;
};

// GetWavPath's rule on its own: resolves a file field against a folder.
std::string ResolveWavPath(const std::string& soundFolder, const std::string& file);

}  // namespace orvex
