// Builders of RIFF WAV bytes for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

inline std::string Le16(uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

inline std::string Le32(uint32_t v) {
  return Le16(static_cast<uint16_t>(v & 0xFFFF)) + Le16(static_cast<uint16_t>(v >> 16));
}

// A chunk with its pad byte; sizeField overrides the stored size.
inline std::string Chunk(const std::string& id, const std::string& body,
                         std::optional<uint32_t> sizeField = std::nullopt) {
  std::string c = id + Le32(sizeField.value_or(static_cast<uint32_t>(body.size()))) + body;
  if (body.size() % 2 != 0) c += '\0';
  return c;
}

// The 16 bytes every fmt chunk starts with, for a consistent PCM layout.
inline std::string FmtBody(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
  const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
}

inline std::string Riff(const std::string& chunks,
                        std::optional<uint32_t> sizeField = std::nullopt) {
  return "RIFF" + Le32(sizeField.value_or(static_cast<uint32_t>(chunks.size() + 4))) + "WAVE" +
         chunks;
}

// Sample bytes that are never zero, so a test can see how far a buffer filled.
inline std::string Samples(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(1 + i % 250);
  return s;
}

// The plain 44-byte-header file most writers produce.
inline std::string Wav(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data) {
  return Riff(Chunk("fmt ", FmtBody(channels, rate, bits)) + Chunk("data", data));
}

// Little-endian sample bytes of the given width (8-bit samples are stored
// offset by 128, as WAV files hold them).
inline std::string SampleBytes(int32_t value, int bits) {
  std::string out;
  if (bits == 8) return std::string(1, static_cast<char>(value + 128));
  for (int b = 0; b < bits / 8; ++b)
    out += static_cast<char>((static_cast<uint32_t>(value) >> (8 * b)) & 0xFF);
  return out;
}

}  // namespace orvex
