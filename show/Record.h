// One cue record of a channel.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orvex {

// Output destination bits of CRecord::outputFlags.
inline constexpr int32_t OUT_M = 0x001;
inline constexpr int32_t OUT_G1 = 0x002;
inline constexpr int32_t OUT_G2 = 0x004;
inline constexpr int32_t OUT_X = 0x010;
inline constexpr int32_t OUT_Y = 0x020;
inline constexpr int32_t OUT_ON = 0x100;

// The player-owned block a record carries; the sheet never interprets it.
inline constexpr int kChannelDataWords = 139;
using ChannelData = std::array<uint32_t, kChannelDataWords>;

class CRecord {
 public:
  virtual ~CRecord() = default;

  double fadeOut = 0;
  double fadeIn = 0;
  int32_t outputFlags = 0;
  std::string fileOrCommand;
  double preLevel = 0;
  std::string description;
  std::string title;
  double qNumber = 0;
  int32_t timing = 0;  // ms
  int32_t delay = 0;   // ms
  ChannelData channelData{};
  int32_t editChannel = 0;
  bool inSequence = false;
  int32_t listIndex = 0;
  bool outputSpecified = false;
};

// The routing as shown in lists: "M,G2,ON"; empty when not specified.
std::string OutputNotation(int32_t outputFlags, bool outputSpecified);

// The eight channel command words a record's file field may hold instead of
// a file: STOP, FOUT, FUP, FDOWN, UP, DOWN, PAUSE, CONT.
enum class CueCommand { kNone, kStop, kFout, kFup, kFdown, kUp, kDown, kPause, kCont };
// The command word text is (exact match), kNone for a file or anything else.
CueCommand CueCommandOf(const std::string& text);
// True when text is one of the eight channel command words (exact match).
bool IsCommandWord(const std::string& text);

}  // namespace orvex
