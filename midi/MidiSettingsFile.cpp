#include "midi/MidiSettingsFile.h"

#include "show/AtomicFile.h"

namespace orvex::midi {
namespace {

constexpr size_t kHeaderBytes = 16;

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

}  // namespace

std::string MidiSettingsBytes(const CMidiDeviceList& devices) {
  std::string out;
  Put32(out, 1);
  Put32(out, static_cast<uint32_t>(devices.size()));
  Put32(out, 16);
  Put32(out, kMidiTargets);
  for (const auto& d : devices) {
    const auto caps = d->m_caps.ToBytes();
    out.append(reinterpret_cast<const char*>(caps.data()), caps.size());
    out += static_cast<char>(d->m_enabled);
    out += static_cast<char>(d->m_mode & 0xFF);
    for (int c : d->m_channels) out += static_cast<char>(c & 0xFF);
  }
  return out;
}

MidiFileStatus ParseMidiSettings(const std::string& bytes, CMidiDeviceList& devices) {
  if (bytes.size() < kHeaderBytes) return MidiFileStatus::kDamaged;
  const uint32_t n = Le32(bytes, 4);
  const uint32_t l = Le32(bytes, 12);
  if (n > kMaxMidiRecords || l > kMaxChannelTable) return MidiFileStatus::kDamaged;
  const size_t record = kCapsBytes + 2 + l;
  // Both are bounded above, so this cannot overflow.
  if (bytes.size() < kHeaderBytes + size_t(n) * record) return MidiFileStatus::kDamaged;

  CMidiDeviceList read;
  read.reserve(n);
  size_t at = kHeaderBytes;
  for (uint32_t r = 0; r < n; ++r, at += record) {
    auto d = std::make_unique<CMidiDevice>();
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    d->m_caps = CMidiCaps::FromBytes(p);
    d->m_enabled = p[kCapsBytes];
    d->m_mode = p[kCapsBytes + 1];
    for (size_t j = 0; j < kMidiTargets; ++j)
      d->m_channels[j] = j < l ? static_cast<int8_t>(p[kCapsBytes + 2 + j]) : -1;
    read.push_back(std::move(d));
  }
  devices = std::move(read);
  return MidiFileStatus::kOk;
}

MidiFileStatus LoadMidiSettings(const std::string& path, CMidiDeviceList& devices) {
  const std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) return MidiFileStatus::kUnreadable;
  return ParseMidiSettings(*bytes, devices);
}

bool SaveMidiSettings(const std::string& path, const CMidiDeviceList& devices) {
  return WriteFileAtomically(path, MidiSettingsBytes(devices));
}

}  // namespace orvex::midi
