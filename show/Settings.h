// Every console setting, held by the document from start-up to exit. The
// member defaults are the first-run values.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "show/PathMap.h"

namespace orvex {

class IniFile;

inline constexpr int kSettingsVersion = 710;

// The exclusive-mode stream format, stored as its 40 raw bytes.
struct StoredWaveFormat {
  uint16_t formatTag = 1;
  uint16_t channels = 2;
  uint32_t samplesPerSec = 44100;
  uint32_t avgBytesPerSec = 176400;
  uint16_t blockAlign = 4;
  uint16_t bitsPerSample = 16;
  uint16_t extraSize = 0;
  uint16_t validBits = 0;
  uint32_t channelMask = 3;
  std::array<uint8_t, 16> subFormat = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

  std::array<uint8_t, 40> ToBytes() const;
  static StoredWaveFormat FromBytes(const std::array<uint8_t, 40>& bytes);
  bool operator==(const StoredWaveFormat&) const = default;
};

struct Settings {
  // FILE
  std::string showPath;  // "QSHEET"
  int32_t sortMode = 0;  // "QSORT"
  std::string bgmList;   // "FILE"/"BGM"
  // FADER
  int32_t master = 65535;
  int32_t outputMaster = 1;  // "OUTPUTMA"
  double slowPoint = 1.0;
  double substVol = 0.5;
  int32_t bgmLevel = 65535;               // "FADER"/"BGM"
  double bgmFadeOut = 10;                 // "BGMFOUT"
  std::array<int32_t, 3> group{0, 0, 0};  // [1], [2] used: "GROUP%d"
  std::array<int32_t, 3> crossGroup{0, 0, 0};
  std::array<int32_t, 3> masterGroup{1, 1, 1};
  std::array<int32_t, 3> outputGroup{0, 0, 0};
  std::array<int32_t, 7> groupCh{};  // [1]..[6] used
  std::array<int32_t, 7> crossCh{};
  std::array<int32_t, 7> masterCh{1, 1, 1, 1, 1, 1, 1};
  std::array<int32_t, 7> panCh{};
  // OPTION
  int32_t autoNext = 1;
  int32_t block = 0;
  int32_t cueListFontSize = 80;
  int16_t wheel = 120;
  int32_t cueListCurFix = 0;
  int32_t cueListBackDisp = 5;
  std::array<int32_t, 7> bufSize{20, 20, 20, 20, 20, 20, 20};
  std::array<int32_t, 7> prepBufSize{10, 10, 10, 10, 10, 10, 10};
  // ASIO
  uint16_t asioChannels = 2;
  int32_t asioRate = 44100;
  uint16_t asioBits = 16;
  int32_t asioBufferFactor = 4;
  // WASAPI
  int32_t wasapiBufSize = 30;
  StoredWaveFormat wasapiFormat;
  // MIDI
  int32_t midiConnect = 0;
  std::string midiConfFile;
  // Output device slots 0..2
  std::array<std::string, 3> deviceType{"XAUDIO2", "XAUDIO2", "XAUDIO2"};
  std::array<std::string, 3> deviceName;  // UTF-8 here, UTF-16 in the store
  std::array<int32_t, 3> wasapiExclusive{0, 0, 0};
  // OSC remote control ("OSC"): off unless enabled; listens on the address
  // named (the machine itself unless another is given) and the UDP port.
  int32_t oscEnable = 0;
  int32_t oscPort = 9000;
  std::string oscAddress = "127.0.0.1";
  // JACK servers besides the default one, comma-separated ("JACK"/"SERVERS").
  std::string jackServers;
  // TONE: tone[channel 1..6][band 0..2]
  std::array<std::array<float, 3>, 7> tone{};

  // Folders that stored drive letters and network shares stand for:
  // "C" -> "/media/show", "\\\\SERVER\\SHARE" -> "/mnt/share". Kept in the
  // "DRIVES" section, which the operator edits by hand.
  DriveMap drives;

  // Reads the store with the version rule; returns true when the version was
  // accepted and the values were taken. Numbers are clamped to the range of
  // what they stand for (a fader 0..65535, a tone -15..15, ...).
  bool Load(const IniFile& store);
  // Writes every setting, version included.
  void Save(IniFile& store) const;

  bool operator==(const Settings&) const = default;
};

// $XDG_CONFIG_HOME/Tesselby/Orvex.ini, or ~/.config/Tesselby/Orvex.ini.
std::string DefaultSettingsPath();

}  // namespace orvex
