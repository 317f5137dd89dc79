// The record editor's fields and rules, apart from its window: what the
// lists hold, which output toggles may be used, what Browse proposes and
// takes back, and the checks and normalisation of OK.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "show/QSheet.h"

namespace orvex {

inline constexpr const char* kQNumberRefused = "Ｑ番号は０番より大きな数を使ってください";
inline constexpr const char* kFileRequired = "WAVファイル名は必須項目です";
inline constexpr const char* kFileTooLong =
    "WAVファイル名が長すぎです。パスと合わせて127文字以下にしてください";
inline constexpr const char* kChannelRefused = "Chには 1～6、G1、G2 のどれかを指定してください";
inline constexpr const char* kChannelRefusedBgm =
    "Chには 1～6、G1、G2、BGM のどれかを指定してください";
inline constexpr const char* kGroupCommandOnly =
    "G1・G2 のレコードには FOUT、FUP、FDOWN、UP、DOWN のどれかを指定してください";

// "G1" for 7, "G2" for 8, else the number.
std::string ChannelText(int ch);
// "G1", "G2" or "CH<n>", as messages name a channel.
std::string ChannelLabel(int ch);
// The channel a text names: "1".."6", "G1", "G2", and "BGM" (6) where
// allowed; 0 for anything else.
int ChannelOfText(std::string_view text, bool bgmAllowed);
bool IsGroupText(std::string_view channelText);

// Hours:minutes:seconds.tenths, "%02d:%02d:%02d.%1d".
std::string TimingText(int32_t ms);
// The typed timing read from the right: [[hours:]minutes:]seconds[.fraction],
// each part held in 16 bits; a result beyond 32 bits is the largest timing.
int32_t ParseTiming(std::string_view text);

// The command words the file list offers on a channel: on opening (before
// any channel change) and after one.
std::vector<std::string> CommandListOnOpening(std::string_view channelText);
std::vector<std::string> CommandListAfterChange(std::string_view channelText);

// The six output toggles in the order M, G1, G2, X, Y, ON.
inline constexpr std::array<int32_t, 6> kOutputBits = {OUT_M, OUT_G1, OUT_G2, OUT_X, OUT_Y, OUT_ON};
// Which toggles may be used: all off unless the output is specified; then
// M, X, Y always, ON only on a group, G1 and G2 only on a channel.
std::array<bool, 6> OutputEnables(bool specified, std::string_view channelText);

// The editor's members, as texts and check states.
struct RecordFields {
  std::string qNumber;
  std::string title;
  std::string file;
  std::string fadeIn;
  std::string fadeOut;
  std::string pre;
  std::string description;
  std::string folder;
  std::string channel;
  bool inSequence = true;
  std::string timingText;
  int32_t timing = 0;
  bool qChannelEditable = true;
  std::string delay;
  int32_t outputFlags = 0;
  bool outputSpecified = false;
};

// The fields a record's values stand for.
RecordValues ValuesOfRecord(const CRecord& record);
// Fields of a record as the editor shows them (the channel as its text).
RecordFields FieldsOfValues(const RecordValues& values, int channel, const std::string& folder);
RecordFields FieldsOfRecord(const CRecord& record, int channel, const std::string& folder);
// The record the fields stand for (numbers as their leading value).
RecordValues ValuesOfFields(const RecordFields& fields);

// Browse: the file proposed, and the filter and extension of the dialog.
struct BrowseProposal {
  std::string proposed;   // folder and file, with '\' or '/' as stored
  bool listFile = false;  // "BGM": the continuous-play list filter
};
BrowseProposal ProposeBrowse(const RecordFields& fields);
// The file field for a chosen path: relative to the folder when inside it.
std::string BrowsedFile(const std::string& folder, const std::string& chosen);

// The checks of OK, in order, and the normalisation after them. On a
// refusal the fields are left as they were and the message is returned.
// checkChannel: the channel text is typed (Add, Insert, Change) and must
// name a channel; bgmAllowed: "BGM" counts as channel 6 (Add and Insert).
std::optional<std::string> AcceptRecord(RecordFields& fields, bool checkChannel, bool bgmAllowed);

}  // namespace orvex
