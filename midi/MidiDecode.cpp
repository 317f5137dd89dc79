#include "midi/MidiDecode.h"

#include <algorithm>

namespace orvex::midi {

MidiMapping MappingOf(const CMidiDevice& device) {
  return {device.m_mode, device.m_channels};
}

double FaderLevelOfController(int value) {
  return std::clamp(value, 0, 127) * 10.0 / 127.0;
}

int PanOfController(int value) {
  // Centre at 64; 1 and 0 both reach the left end.
  const double p = std::clamp((value - 64) / 63.0, -1.0, 1.0);
  return static_cast<int>(p * 10000);
}

MidiCommands DecodeMidiMessage(const uint8_t* bytes, size_t size, const MidiMapping& m) {
  MidiCommands out;
  if (size == 0) return out;
  const uint8_t s = bytes[0];
  const uint8_t d1 = size > 1 ? bytes[1] : 0;
  const uint8_t d2 = size > 2 ? bytes[2] : 0;
  const bool controller = (s & 0xF0) == 0xB0;

  if (m.mode == 1) {
    if (s == 0xFA) {
      out.Add(cmd::Go{});
      return out;
    }
    if (s == 0xFC) {
      out.Add(cmd::StopAll{});
      return out;
    }
    if (controller && d1 == 121) {
      out.Add(cmd::CallUpCue{0});
      return out;
    }
  } else if (m.mode == 2) {
    if (s == 0xFA) {
      out.Add(cmd::CallUpCue{0});
      out.Add(cmd::AutoRun{cmd::AutoRunAction::kZero});
      out.Add(cmd::AutoRun{cmd::AutoRunAction::kRun});
      return out;
    }
    if (s == 0xFB) {
      out.Add(cmd::AutoRun{cmd::AutoRunAction::kRun});
      return out;
    }
    if (s == 0xFC || (controller && d1 == 120)) {
      out.Add(cmd::StopAll{});
      return out;
    }
    if (controller && d1 == 121) {
      out.Add(cmd::CallUpCue{0});
      return out;
    }
  }

  // System messages carry no channel.
  if (s < 0x80 || s >= 0xF0) return out;
  const int c = s & 0x0F;
  const int t = s >> 4;
  for (int i = 0; i < kMidiTargets; ++i) {
    if (m.channels[static_cast<size_t>(i)] != c) continue;
    if (i == 0) {
      if (t == 0x9)
        out.Add(cmd::Go{});
      else if (t == 0xB && d1 == 120)
        out.Add(cmd::StopAll{});
      else if (t == 0xC)
        out.Add(cmd::CallUpCue{0});
      continue;
    }
    switch (t) {
      case 0x8:
        out.Add(cmd::Channel{d2 > 0 ? cmd::Transport::kFadeOut : cmd::Transport::kStop, i});
        break;
      case 0x9:  // velocity 0 included: a press of Play, not a release
        out.Add(cmd::Channel{cmd::Transport::kPlay, i});
        break;
      case 0xB:
        if (d1 == 7) out.Add(cmd::FaderLevel{i, FaderLevelOfController(d2)});
        if (d1 == 10) out.Add(cmd::Pan{i, PanOfController(d2)});
        break;
      case 0xC:
        out.Add(cmd::Channel{cmd::Transport::kNext, i});
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace orvex::midi
