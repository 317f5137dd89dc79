#include "show/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "show/IniFile.h"
#include "show/PathMap.h"
#include "show/TextNumbers.h"
#include "show/Utf16.h"

namespace orvex {
namespace {

std::string Numbered(const char* stem, int n) {
  return stem + std::to_string(n);
}

template <typename T>
T Clamp(int64_t v, int64_t lo, int64_t hi) {
  return static_cast<T>(v < lo ? lo : v > hi ? hi : v);
}

// Reals outside the range (and NaN) come back inside it, so that no
// conversion downstream meets a value its type cannot hold.
double ClampReal(double v, double lo, double hi, double otherwise) {
  if (std::isnan(v)) return otherwise;
  return v < lo ? lo : v > hi ? hi : v;
}

// Reads of one accepted store, each with its missing-entry value and clamped
// to the range of what it stands for.
struct Reader {
  const IniFile& store;
  int32_t Int(const char* sec, const std::string& name, int32_t missing, int32_t lo = INT32_MIN,
              int32_t hi = INT32_MAX) const {
    return Clamp<int32_t>(store.GetInt(sec, name).value_or(missing), lo, hi);
  }
  int32_t Flag(const char* sec, const std::string& name, int32_t missing = 0) const {
    return store.GetInt(sec, name).value_or(missing) != 0 ? 1 : 0;
  }
  std::string Str(const char* sec, const std::string& name, const char* missing = "") const {
    return store.GetString(sec, name).value_or(missing);
  }
  double Real(const char* sec, const std::string& name, const char* missing, double lo,
              double hi) const {
    return ClampReal(ParseLeadingReal(Str(sec, name, missing)), lo, hi, ParseLeadingReal(missing));
  }
  // An absent or malformed value leaves the current one.
  void Double(const char* sec, const char* name, double& value, double lo, double hi) const {
    std::optional<std::vector<uint8_t>> bytes = store.GetBinary(sec, name);
    if (!bytes || bytes->size() != sizeof(double)) return;
    double stored = 0;
    std::memcpy(&stored, bytes->data(), sizeof stored);
    value = ClampReal(stored, lo, hi, value);
  }
};

// "C" for a drive letter, "\\SERVER\SHARE" for a network share; empty for
// a name that is neither.
std::string DriveKey(const std::string& name) {
  if (name.size() == 1 && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'))
    return std::string(1, static_cast<char>(name[0] & ~0x20));
  return ShareKey(name);
}

std::vector<uint8_t> DoubleBytes(double v) {
  std::vector<uint8_t> bytes(sizeof v);
  std::memcpy(bytes.data(), &v, sizeof v);
  return bytes;
}

// Device names are kept as UTF-16 code units with a terminating zero unit.
std::string DeviceNameFromUtf16(const std::vector<uint8_t>& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto u = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return Utf16ToUtf8(units);
}

std::vector<uint8_t> DeviceNameToUtf16(const std::string& name) {
  std::vector<uint8_t> bytes;
  for (char16_t u : Utf8ToUtf16(name) + u'\0') {
    bytes.push_back(static_cast<uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  return bytes;
}

}  // namespace

std::array<uint8_t, 40> StoredWaveFormat::ToBytes() const {
  std::array<uint8_t, 40> b{};
  size_t at = 0;
  auto put = [&b, &at](uint32_t v, size_t size) {
    for (size_t k = 0; k < size; ++k) b[at++] = static_cast<uint8_t>(v >> (8 * k));
  };
  put(formatTag, 2);
  put(channels, 2);
  put(samplesPerSec, 4);
  put(avgBytesPerSec, 4);
  put(blockAlign, 2);
  put(bitsPerSample, 2);
  put(extraSize, 2);
  put(validBits, 2);
  put(channelMask, 4);
  for (uint8_t x : subFormat) b[at++] = x;
  return b;
}

StoredWaveFormat StoredWaveFormat::FromBytes(const std::array<uint8_t, 40>& b) {
  size_t at = 0;
  auto get = [&b, &at](size_t size) {
    uint32_t v = 0;
    for (size_t k = 0; k < size; ++k) v |= static_cast<uint32_t>(b[at++]) << (8 * k);
    return v;
  };
  StoredWaveFormat f;
  f.formatTag = static_cast<uint16_t>(get(2));
  f.channels = static_cast<uint16_t>(get(2));
  f.samplesPerSec = get(4);
  f.avgBytesPerSec = get(4);
  f.blockAlign = static_cast<uint16_t>(get(2));
  f.bitsPerSample = static_cast<uint16_t>(get(2));
  f.extraSize = static_cast<uint16_t>(get(2));
  f.validBits = static_cast<uint16_t>(get(2));
  f.channelMask = get(4);
  for (uint8_t& x : f.subFormat) x = b[at++];
  return f;
}

bool Settings::Load(const IniFile& store) {
  // Drive letters are this system's own addition, edited by hand: always read.
  drives.clear();
  for (const auto& [name, raw] : store.Entries("DRIVES")) {
    std::string key = DriveKey(name);
    if (!key.empty()) drives.try_emplace(key, store.GetString("DRIVES", name).value_or(""));
  }

  const Reader r{store};
  if (r.Int("VERSION", "VERSION", 0) < kSettingsVersion) return false;

  constexpr int32_t kFaderMax = 65535;
  showPath = r.Str("FILE", "QSHEET");
  sortMode = r.Int("FILE", "QSORT", 0, 0, 1);  // by Q number, by channel
  master = r.Int("FADER", "MASTER", kFaderMax, 0, kFaderMax);
  outputMaster = r.Flag("FADER", "OUTPUTMA", 1);
  autoNext = r.Flag("OPTION", "AUTONEXT", 1);
  bgmList = r.Str("FILE", "BGM");
  bgmLevel = r.Int("FADER", "BGM", kFaderMax, 0, kFaderMax);
  bgmFadeOut = r.Real("FADER", "BGMFOUT", "10", 0, 86400);
  block = r.Flag("OPTION", "BLOCK", 1);
  cueListFontSize = r.Int("OPTION", "QLIST_FONT_SIZE", 80, 10, 1000);
  // Held as 16 bits; the unsigned spelling of a negative speed reads back.
  wheel = static_cast<int16_t>(r.Int("OPTION", "WHEEL", 120, INT16_MIN, UINT16_MAX));
  cueListCurFix = r.Flag("OPTION", "QLIST_CURFIX");
  cueListBackDisp = r.Int("OPTION", "QLIST_BACKDISP", 5, 0, 1000);
  asioChannels = Clamp<uint16_t>(r.Int("ASIO", "CHANNEL", 2), 1, 2);
  asioRate = r.Int("ASIO", "RATE", 44100, 8000, 384000);
  asioBits = Clamp<uint16_t>(r.Int("ASIO", "BIT", 16), 8, 32);
  asioBufferFactor = r.Int("ASIO", "BUFFER_FACTOR", 4, 0, 1024);
  wasapiBufSize = r.Int("WASAPI", "BUFSIZE", 200, 1, 10000);
  if (auto bytes = store.GetBinary("WASAPI", "FORMAT"); bytes && bytes->size() == 40) {
    std::array<uint8_t, 40> raw{};
    std::copy(bytes->begin(), bytes->end(), raw.begin());
    wasapiFormat = StoredWaveFormat::FromBytes(raw);
  }
  midiConnect = r.Flag("MIDI", "CONNECT");
  midiConfFile = r.Str("MIDI", "CONF_FILE");
  for (int n = 1; n <= 2; ++n) {
    group[n] = r.Int("FADER", Numbered("GROUP", n), 0, 0, kFaderMax);
    crossGroup[n] = r.Int("FADER", Numbered("CROSSGR", n), 0, 0, 2);
    masterGroup[n] = r.Flag("FADER", Numbered("MASTERGR", n), 1);
    outputGroup[n] = r.Flag("FADER", Numbered("OUTPUTGR", n));
  }
  for (int n = 0; n <= 6; ++n) {
    bufSize[n] = r.Int("OPTION", Numbered("BUFSIZE", n), 20, 1, 30);
    prepBufSize[n] = r.Int("OPTION", Numbered("PREPBFSZ", n), 10, 1, 10);
  }
  for (int n = 1; n <= 6; ++n) {
    groupCh[n] = r.Int("FADER", Numbered("GROUPCH", n), 0, 0, 3);  // bit 0 G1, bit 1 G2
    crossCh[n] = r.Int("FADER", Numbered("CROSSCH", n), 0, 0, 2);
    // A channel assigned to a group is off the master unless stored otherwise.
    const int32_t stored = r.Int("FADER", Numbered("MASTERCH", n), -1);
    masterCh[n] = stored == -1 ? (groupCh[n] <= 0 ? 1 : 0) : (stored != 0 ? 1 : 0);
  }
  r.Double("FADER", "SLOWPOINT", slowPoint, 0, 10);
  r.Double("FADER", "SUBSTVOL", substVol, 0, 10);
  for (int n = 0; n <= 2; ++n) {
    deviceType[n] = r.Str("DEVICE_TYPE", Numbered("GROUP", n), "XAUDIO2");
    auto bytes = store.GetBinary("DEVICE", Numbered("GROUP", n));
    deviceName[n] = bytes ? DeviceNameFromUtf16(*bytes) : std::string();
    wasapiExclusive[n] = r.Flag("WASAPI_MODE", Numbered("GROUP", n));
  }
  for (int n = 1; n <= 6; ++n) panCh[n] = r.Int("FADER", Numbered("PANCH", n), 0, -10000, 10000);
  jackServers = r.Str("JACK", "SERVERS", "");
  oscEnable = r.Flag("OSC", "ENABLE");
  oscPort = r.Int("OSC", "PORT", 9000, 1, 65535);
  oscAddress = r.Str("OSC", "ADDRESS", "127.0.0.1");
  for (int c = 1; c <= 6; ++c) {
    for (int b = 0; b <= 2; ++b) {
      tone[c][b] = static_cast<float>(
          r.Real("TONE", "TONE" + std::to_string(b) + "CH" + std::to_string(c), "0", -15, 15));
    }
  }
  return true;
}

void Settings::Save(IniFile& s) const {
  s.SetInt("VERSION", "VERSION", kSettingsVersion);
  s.SetString("FILE", "QSHEET", showPath);
  s.SetInt("FILE", "QSORT", sortMode);
  s.SetInt("FADER", "MASTER", master);
  s.SetInt("FADER", "OUTPUTMA", outputMaster);
  s.SetBinary("FADER", "SLOWPOINT", DoubleBytes(slowPoint));
  s.SetBinary("FADER", "SUBSTVOL", DoubleBytes(substVol));
  s.SetInt("OPTION", "AUTONEXT", autoNext);
  s.SetString("FILE", "BGM", bgmList);
  s.SetInt("FADER", "BGM", bgmLevel);
  s.SetInt("OPTION", "BLOCK", block);
  s.SetInt("OPTION", "QLIST_FONT_SIZE", cueListFontSize);
  s.SetInt("OPTION", "WHEEL", wheel);
  s.SetInt("OPTION", "QLIST_CURFIX", cueListCurFix);
  s.SetInt("OPTION", "QLIST_BACKDISP", cueListBackDisp);
  s.SetInt("ASIO", "CHANNEL", asioChannels);
  s.SetInt("ASIO", "RATE", asioRate);
  s.SetInt("ASIO", "BIT", asioBits);
  s.SetInt("ASIO", "BUFFER_FACTOR", asioBufferFactor);
  s.SetInt("WASAPI", "BUFSIZE", wasapiBufSize);
  s.SetInt("MIDI", "CONNECT", midiConnect);
  s.SetString("MIDI", "CONF_FILE", midiConfFile);
  s.SetString("FADER", "BGMFOUT", FormatG(bgmFadeOut));
  for (int n = 1; n <= 2; ++n) {
    s.SetInt("FADER", Numbered("GROUP", n), group[n]);
    s.SetInt("FADER", Numbered("CROSSGR", n), crossGroup[n]);
    s.SetInt("FADER", Numbered("MASTERGR", n), masterGroup[n]);
    s.SetInt("FADER", Numbered("OUTPUTGR", n), outputGroup[n]);
  }
  for (int n = 0; n <= 6; ++n) {
    s.SetInt("OPTION", Numbered("BUFSIZE", n), bufSize[n]);
    s.SetInt("OPTION", Numbered("PREPBFSZ", n), prepBufSize[n]);
  }
  for (int n = 1; n <= 6; ++n) {
    s.SetInt("FADER", Numbered("MASTERCH", n), masterCh[n]);
    s.SetInt("FADER", Numbered("GROUPCH", n), groupCh[n]);
    s.SetInt("FADER", Numbered("CROSSCH", n), crossCh[n]);
  }
  for (int n = 0; n <= 2; ++n) s.SetString("DEVICE_TYPE", Numbered("GROUP", n), deviceType[n]);
  for (int n = 0; n <= 2; ++n) {
    s.SetBinary("DEVICE", Numbered("GROUP", n), DeviceNameToUtf16(deviceName[n]));
    s.SetInt("WASAPI_MODE", Numbered("GROUP", n), wasapiExclusive[n]);
  }
  auto format = wasapiFormat.ToBytes();
  s.SetBinary("WASAPI", "FORMAT", std::vector<uint8_t>(format.begin(), format.end()));
  for (int n = 1; n <= 6; ++n) s.SetInt("FADER", Numbered("PANCH", n), panCh[n]);
  s.SetString("JACK", "SERVERS", jackServers);
  s.SetInt("OSC", "ENABLE", oscEnable);
  s.SetInt("OSC", "PORT", oscPort);
  s.SetString("OSC", "ADDRESS", oscAddress);
  for (int c = 1; c <= 6; ++c) {
    for (int b = 0; b <= 2; ++b) {
      s.SetString("TONE", "TONE" + std::to_string(b) + "CH" + std::to_string(c),
                  FormatG(tone[c][b]));
    }
  }
  for (const auto& [name, folder] : drives) s.SetString("DRIVES", name, folder);
}

std::string DefaultSettingsPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = ::getpwuid(::getuid());
      home = pw ? pw->pw_dir : "/tmp";
    }
    base = std::string(home) + "/.config";
  }
  return base + "/Tesselby/Orvex.ini";
}

}  // namespace orvex
