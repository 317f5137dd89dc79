// MIDI messages to console commands: the mapping table, the real-time modes
// and the edge cases an operator's controller produces.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/ConsoleCommandText.h"
#include "midi/MidiDecode.h"

namespace orvex::midi {
namespace {

// The commands as their text forms, joined with spaces.
std::string Decode(std::initializer_list<int> bytes, int mode = 1,
                   std::array<int, kMidiTargets> channels = kDefaultMidiChannels) {
  std::vector<uint8_t> b;
  for (int x : bytes) b.push_back(static_cast<uint8_t>(x));
  std::string out;
  for (const ConsoleCommand& c : DecodeMidiMessage(b.data(), b.size(), {mode, channels}))
    out += (out.empty() ? "" : " ") + FormatConsoleCommand(c);
  return out;
}

TEST(MidiDecode, ChannelTargetsFollowTheTable) {
  // Target i listens on MIDI channel i by default; the GO button on channel 1.
  EXPECT_EQ(Decode({0x90, 60, 100}), "go");
  EXPECT_EQ(Decode({0xB0, 120, 0}), "stopall");
  EXPECT_EQ(Decode({0xC0, 5}), "callup=0");
  EXPECT_EQ(Decode({0x80, 60, 64}), "");  // the GO button has no note off
  EXPECT_EQ(Decode({0x91, 60, 100}), "play:1");
  EXPECT_EQ(Decode({0x96, 60, 1}), "play:6");
  EXPECT_EQ(Decode({0x83, 60, 64}), "fo:3");
  EXPECT_EQ(Decode({0x83, 60, 0}), "stop:3");
  EXPECT_EQ(Decode({0xC2, 0}), "next:2");
  EXPECT_EQ(Decode({0xB4, 7, 127}), "level:4=10");
  EXPECT_EQ(Decode({0xB4, 7, 0}), "level:4=0");
  EXPECT_EQ(Decode({0xB4, 10, 64}), "pan:4=0");
  // Other controllers, aftertouch, pitch bend and channel 8..16 do nothing.
  EXPECT_EQ(Decode({0xB1, 11, 64}), "");
  EXPECT_EQ(Decode({0xA1, 60, 64}), "");
  EXPECT_EQ(Decode({0xE1, 0, 64}), "");
  EXPECT_EQ(Decode({0x97, 60, 100}), "");
  EXPECT_EQ(Decode({0x9F, 60, 100}), "");
}

TEST(MidiDecode, VelocityZeroNoteOnPlaysWhileNoteOffStops) {
  EXPECT_EQ(Decode({0x91, 60, 0}), "play:1");
  EXPECT_EQ(Decode({0x81, 60, 0}), "stop:1");
  EXPECT_EQ(Decode({0x81, 60, 64}), "fo:1");
  EXPECT_EQ(Decode({0x90, 60, 0}), "go");
}

TEST(MidiDecode, ControllerValuesGiveFaderTravelAndPan) {
  EXPECT_DOUBLE_EQ(FaderLevelOfController(127), 10);
  EXPECT_DOUBLE_EQ(FaderLevelOfController(0), 0);
  EXPECT_NEAR(FaderLevelOfController(64), 5.039, 1e-3);
  EXPECT_EQ(PanOfController(0), -10000);
  EXPECT_EQ(PanOfController(1), -10000);
  EXPECT_EQ(PanOfController(64), 0);
  EXPECT_EQ(PanOfController(127), 10000);
  EXPECT_EQ(PanOfController(96), 5079);   // truncated toward zero
  EXPECT_EQ(PanOfController(32), -5079);  // on both sides
  EXPECT_EQ(Decode({0xB6, 10, 0}), "pan:6=-10000");
  EXPECT_EQ(Decode({0xB6, 10, 127}), "pan:6=10000");
}

TEST(MidiDecode, TargetsSharingAChannelAllActInOrder) {
  // GO, CH2 and CH5 on MIDI channel 3; CH1 unassigned.
  const std::array<int, kMidiTargets> shared{2, -1, 2, 3, 4, 2, 6};
  EXPECT_EQ(Decode({0x92, 60, 90}, 1, shared), "go play:2 play:5");
  EXPECT_EQ(Decode({0xC2, 0}, 1, shared), "callup=0 next:2 next:5");
  EXPECT_EQ(Decode({0x82, 60, 0}, 1, shared), "stop:2 stop:5");
  EXPECT_EQ(Decode({0xB2, 7, 127}, 1, shared), "level:2=10 level:5=10");
  EXPECT_EQ(Decode({0xB2, 120, 0}, 1, shared), "stopall");
  // Unassigned targets never match, not even the channel -1's low bits.
  const std::array<int, kMidiTargets> none{-1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(Decode({0x9F, 60, 90}, 0, none), "");
}

TEST(MidiDecode, RealTimeModes) {
  // Mode 1: Start and Stop are GO and STOP ALL whatever the channels.
  const std::array<int, kMidiTargets> none{-1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(Decode({0xFA}, 1, none), "go");
  EXPECT_EQ(Decode({0xFC}, 1, none), "stopall");
  EXPECT_EQ(Decode({0xFB}, 1, none), "");
  EXPECT_EQ(Decode({0xBF, 121, 0}, 1, none), "callup=0");
  // ... and controller 121 is taken before the channel part.
  EXPECT_EQ(Decode({0xB0, 121, 0}, 1), "callup=0");
  // Mode 0: none of them act; controller 121 and 120 fall to the channels.
  EXPECT_EQ(Decode({0xFA}, 0), "");
  EXPECT_EQ(Decode({0xFC}, 0), "");
  EXPECT_EQ(Decode({0xB0, 121, 0}, 0), "");
  EXPECT_EQ(Decode({0xB0, 120, 0}, 0), "stopall");
  // Mode 2: the auto-run clock.
  EXPECT_EQ(Decode({0xFA}, 2, none), "callup=0 autorun=zero autorun=run");
  EXPECT_EQ(Decode({0xFB}, 2, none), "autorun=run");
  EXPECT_EQ(Decode({0xFC}, 2, none), "stopall");
  EXPECT_EQ(Decode({0xB5, 120, 0}, 2, none), "stopall");
  EXPECT_EQ(Decode({0xB5, 121, 0}, 2, none), "callup=0");
  // A mode a damaged file gives acts as mode 0.
  EXPECT_EQ(Decode({0xFA}, 255), "");
}

TEST(MidiDecode, ShortAndStrayBytesAreHarmless) {
  EXPECT_EQ(Decode({}), "");
  EXPECT_EQ(Decode({0x91}), "play:1");  // missing data bytes read 0
  EXPECT_EQ(Decode({0x81}), "stop:1");
  EXPECT_EQ(Decode({0x3C, 0x40}), "");  // running status without its status
  EXPECT_EQ(Decode({0xF0, 0x7E, 0xF7}), "");
  EXPECT_EQ(Decode({0xF8}), "");
  EXPECT_EQ(Decode({0xFF}), "");
}

}  // namespace
}  // namespace orvex::midi
