#include "session/RecordEdit.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "session/SoundFolder.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

const std::vector<std::string> kGroupCommands = {"FOUT", "FUP", "FDOWN", "UP", "DOWN"};

bool IsAbsoluteStored(std::string_view file) {
  // A drive letter or any colon past the first character, as records read
  // it; a path from this system's root as well.
  const size_t colon = file.find(':');
  return (colon != std::string_view::npos && colon >= 1) || (!file.empty() && file[0] == '/');
}

// The leading number of at most `digits` characters of text.
int32_t LeadingDigits(std::string_view text, size_t digits) {
  return ParseLeadingInt(text.substr(0, std::min(digits, text.size())));
}

}  // namespace

std::string ChannelText(int ch) {
  if (ch == 7) return "G1";
  if (ch == 8) return "G2";
  return std::to_string(ch);
}

std::string ChannelLabel(int ch) {
  return ch >= 7 ? ChannelText(ch) : "CH" + std::to_string(ch);
}

int ChannelOfText(std::string_view text, bool bgmAllowed) {
  if (text == "G1") return 7;
  if (text == "G2") return 8;
  if (text == "BGM") return bgmAllowed ? 6 : 0;
  if (text.size() == 1 && text[0] >= '1' && text[0] <= '6') return text[0] - '0';
  return 0;
}

bool IsGroupText(std::string_view channelText) {
  return channelText == "G1" || channelText == "G2";
}

std::string TimingText(int32_t ms) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%1d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000 / 100);
  return text;
}

int32_t ParseTiming(std::string_view text) {
  uint16_t millis = 0;
  const size_t dot = text.rfind('.');
  if (dot != std::string_view::npos) {
    const std::string_view fraction = text.substr(dot + 1);
    static constexpr int kScale[] = {0, 100, 10, 1};
    if (!fraction.empty()) {
      const size_t used = std::min<size_t>(fraction.size(), 3);
      millis = static_cast<uint16_t>(LeadingDigits(fraction, used) * kScale[used]);
    }
    text = text.substr(0, dot);
  }
  // Seconds, then minutes, then hours, each the number after the last
  // colon of what is left; hours take whatever is left of the text.
  bool left = true;
  auto next = [&]() -> uint16_t {
    if (!left) return 0;
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
      left = false;
      return static_cast<uint16_t>(ParseLeadingInt(text));
    }
    const auto value = static_cast<uint16_t>(ParseLeadingInt(text.substr(colon + 1)));
    text = text.substr(0, colon);
    return value;
  };
  const int64_t seconds = next();
  const int64_t minutes = next();
  const int64_t hours = next();
  const int64_t total = (hours * 3600 + minutes * 60 + seconds) * 1000 + millis;
  return static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
}

std::vector<std::string> CommandListOnOpening(std::string_view channelText) {
  if (IsGroupText(channelText)) return kGroupCommands;
  return {"STOP", "FOUT", "FUP", "FDOWN", "UP", "DOWN", "PAUSE", "CONT"};
}

std::vector<std::string> CommandListAfterChange(std::string_view channelText) {
  if (IsGroupText(channelText)) return kGroupCommands;
  return {"STOP", "FOUT", "PAUSE", "CONT", "FUP", "FDOWN", "UP", "DOWN"};
}

std::array<bool, 6> OutputEnables(bool specified, std::string_view channelText) {
  if (!specified) return {};
  const bool group = IsGroupText(channelText);
  return {true, !group, !group, true, true, group};
}

RecordValues ValuesOfRecord(const CRecord& r) {
  RecordValues v;
  v.title = r.title;
  v.fileOrCommand = r.fileOrCommand;
  v.description = r.description;
  v.timing = r.timing;
  v.outputFlags = r.outputFlags;
  v.outputSpecified = r.outputSpecified;
  v.inSequence = r.inSequence;
  v.delay = r.delay;
  v.qNumber = r.qNumber;
  v.preLevel = r.preLevel;
  v.fadeIn = r.fadeIn;
  v.fadeOut = r.fadeOut;
  return v;
}

RecordFields FieldsOfValues(const RecordValues& v, int channel, const std::string& folder) {
  RecordFields f;
  f.qNumber = FormatG(v.qNumber);
  f.channel = ChannelText(channel);
  f.title = v.title;
  f.file = v.fileOrCommand;
  f.pre = FormatG(v.preLevel);
  f.fadeIn = FormatG(v.fadeIn);
  f.fadeOut = FormatG(v.fadeOut);
  f.description = v.description;
  f.inSequence = v.inSequence;
  f.timing = v.timing;
  f.timingText = TimingText(v.timing);
  f.delay = std::to_string(v.delay);
  f.outputFlags = v.outputFlags;
  f.outputSpecified = v.outputSpecified;
  f.folder = folder;
  return f;
}

RecordFields FieldsOfRecord(const CRecord& record, int channel, const std::string& folder) {
  return FieldsOfValues(ValuesOfRecord(record), channel, folder);
}

RecordValues ValuesOfFields(const RecordFields& f) {
  RecordValues v;
  v.qNumber = ParseLeadingReal(f.qNumber);
  v.preLevel = ParseLeadingReal(f.pre);
  v.fadeIn = ParseLeadingReal(f.fadeIn);
  v.fadeOut = ParseLeadingReal(f.fadeOut);
  v.title = f.title;
  v.fileOrCommand = f.file;
  v.description = f.description;
  v.inSequence = f.inSequence;
  v.timing = f.timing;
  v.delay = ParseLeadingInt(f.delay);
  v.outputFlags = f.outputFlags;
  v.outputSpecified = f.outputSpecified;
  return v;
}

BrowseProposal ProposeBrowse(const RecordFields& f) {
  BrowseProposal p;
  const std::string folderPart = f.folder.empty() ? std::string() : f.folder + "\\";
  if (IsAbsoluteStored(f.file)) {
    p.proposed = f.file;
  } else if (IsCommandWord(f.file)) {
    p.proposed = folderPart + "*.*";
  } else if (!f.file.empty()) {
    p.proposed = folderPart + f.file;
  } else {
    p.proposed = folderPart + "*.wav";
  }
  p.listFile = f.channel == "BGM";
  return p;
}

std::string BrowsedFile(const std::string& folder, const std::string& chosen) {
  // Only a path inside the folder loses its leading separators: the
  // absolute path of a file elsewhere stays absolute.
  if (folder.empty() || !StartsWithNoCase(chosen, folder)) return chosen;
  std::string file = chosen.substr(folder.size());
  file.erase(0, file.find_first_not_of("/\\"));
  return file;
}

std::optional<std::string> AcceptRecord(RecordFields& f, bool checkChannel, bool bgmAllowed) {
  if (ParseLeadingReal(f.qNumber) <= 0) return kQNumberRefused;
  if (f.file.empty()) return kFileRequired;
  if (!FitsRecordPath(f.folder, f.file)) return kFileTooLong;
  if (checkChannel && ChannelOfText(f.channel, bgmAllowed) == 0) {
    return bgmAllowed ? kChannelRefusedBgm : kChannelRefused;
  }
  // A group only fades and sets its level; a file or a channel's own
  // command there would be stored and never do anything.
  if (IsGroupText(f.channel) &&
      std::find(kGroupCommands.begin(), kGroupCommands.end(), f.file) == kGroupCommands.end()) {
    return kGroupCommandOnly;
  }

  if (f.title.empty()) {
    std::string_view name = f.file;
    const size_t sep = name.find_last_of("\\/");
    if (sep != std::string_view::npos) {
      name = name.substr(sep + 1);
    } else if (const size_t colon = name.find(':'); colon != std::string_view::npos) {
      name = name.substr(colon + 1);
    }
    f.title = std::string(name.substr(0, name.find('.')));
  }
  const double pre = ParseLeadingReal(f.pre);
  if (pre < 0) f.pre = "0.0";
  if (pre > 10) f.pre = "10.0";
  if (ParseLeadingReal(f.fadeIn) < 0) f.fadeIn = "0.0";
  if (ParseLeadingReal(f.fadeOut) < 0) f.fadeOut = "0.0";
  if (ParseLeadingInt(f.delay) < 0) f.delay = "0";
  f.timing = ParseTiming(f.timingText);
  return std::nullopt;
}

}  // namespace orvex
