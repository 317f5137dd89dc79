#include "engine/WaveSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "show/Messages.h"

namespace orvex {
namespace {

// The formats the players last opened. Written by OpenWaveFile or
// SetPlayerFormat and read by the output set-up, all on the UI thread only,
// so no lock.
std::array<WaveFormat, kWavePlayerCount> g_playerFormats;

// The part of the "fmt " chunk this program reads: the WAVEFORMATEX fields
// up to and including the extra size; anything after it is skipped.
constexpr uint32_t kFormatRecordBytes = 18;
// Without the bits-per-sample field a PCM format cannot be played.
constexpr uint32_t kMinFormatChunkBytes = 16;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Chunk {
  char id[4];
  uint32_t size;
  uint64_t dataPos;  // file offset just after the 8-byte header

  bool Is(const char* fourcc) const { return std::memcmp(id, fourcc, 4) == 0; }
  // Chunk data is padded to an even size.
  uint64_t Next() const { return dataPos + size + (size & 1u); }
};

bool SeekTo(std::FILE* f, uint64_t pos) {
  return ::fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
}

// Reads the chunk header at pos if the whole header lies before end. The
// chunk's size field is returned as stored; callers bound what they read.
std::optional<Chunk> ReadChunkHeader(std::FILE* f, uint64_t pos, uint64_t end) {
  if (end < 8 || pos > end - 8 || !SeekTo(f, pos)) return std::nullopt;
  uint8_t h[8];
  if (std::fread(h, 1, sizeof h, f) != sizeof h) return std::nullopt;
  Chunk c;
  std::memcpy(c.id, h, 4);
  c.size = Le32(h + 4);
  c.dataPos = pos + 8;
  return c;
}

// Walks the chunks from pos to end and returns the first one named fourcc.
std::optional<Chunk> FindChunk(std::FILE* f, uint64_t pos, uint64_t end, const char* fourcc) {
  while (std::optional<Chunk> c = ReadChunkHeader(f, pos, end)) {
    if (c->Is(fourcc)) return c;
    pos = c->Next();
  }
  return std::nullopt;
}

// Finds the top-level RIFF chunk whose form type is WAVE; a file may carry
// other top-level chunks before it.
std::optional<Chunk> FindRiffWave(std::FILE* f, uint64_t fileSize) {
  uint64_t pos = 0;
  while (std::optional<Chunk> c = ReadChunkHeader(f, pos, fileSize)) {
    if (c->Is("RIFF") && c->size >= 4) {
      char form[4];
      if (std::fread(form, 1, 4, f) == 4 && std::memcmp(form, "WAVE", 4) == 0) return c;
    }
    pos = c->Next();
  }
  return std::nullopt;
}

WaveFormat ParseFormat(const uint8_t* p, uint32_t size) {
  WaveFormat w;
  w.formatTag = Le16(p);
  w.channels = Le16(p + 2);
  w.samplesPerSec = Le32(p + 4);
  w.avgBytesPerSec = Le32(p + 8);
  w.blockAlign = Le16(p + 12);
  w.bitsPerSample = Le16(p + 14);
  if (size >= kFormatRecordBytes) w.extraSize = Le16(p + 16);
  return w;
}

}  // namespace

WaveFormat PlayerFormat(int index) {
  if (index < 0 || index >= kWavePlayerCount) return {};
  return g_playerFormats[static_cast<size_t>(index)];
}

void SetPlayerFormat(int index, const WaveFormat& format) {
  if (index >= 0 && index < kWavePlayerCount) g_playerFormats[static_cast<size_t>(index)] = format;
}

CWaveSource::CWaveSource(int playerIndex) : playerIndex_(playerIndex) {}

CWaveSource::~CWaveSource() {
  CloseWaveFile();
}

bool CWaveSource::OpenWaveFile(const std::string& nativePath) {
  CloseWaveFile();
  lastOpenError_ = WaveOpenError::kNone;
  openErrno_ = 0;
  refusalMessage_ = nullptr;
  path_ = nativePath;

  file_ = std::fopen(nativePath.c_str(), "rb");
  struct stat st {};
  if (file_ != nullptr && (::fstat(::fileno(file_), &st) != 0 || S_ISDIR(st.st_mode))) {
    // fopen succeeds on a directory on Linux; treat it like any other file
    // that cannot be opened rather than as a file with the wrong contents.
    int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    CloseWaveFile();
    errno = err;
  }
  if (file_ == nullptr) {
    openErrno_ = errno;
    lastOpenError_ = WaveOpenError::kCannotOpen;
    return false;
  }
  const uint64_t fileSize = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;

  std::optional<Chunk> riff = FindRiffWave(file_, fileSize);
  if (!riff) return Refuse(WaveOpenError::kNotRiffWave, kWaveNotRiffWave);
  // Writers that never went back to fix the RIFF size leave it too large.
  const uint64_t formStart = riff->dataPos + 4;
  const uint64_t formEnd = std::min<uint64_t>(riff->dataPos + riff->size, fileSize);

  std::optional<Chunk> fmt = FindChunk(file_, formStart, formEnd, "fmt ");
  if (!fmt) return Refuse(WaveOpenError::kNoFormat, kWaveNoFormat);
  formatChunkSize_ = fmt->size;
  if (fmt->size < kMinFormatChunkBytes || fmt->size > formEnd - fmt->dataPos) {
    return Refuse(WaveOpenError::kFormatReadFailed, kWaveFormatReadFailed);
  }
  uint8_t record[kFormatRecordBytes] = {};
  const uint32_t recordBytes = std::min(fmt->size, kFormatRecordBytes);
  if (!SeekTo(file_, fmt->dataPos) || std::fread(record, 1, recordBytes, file_) != recordBytes) {
    return Refuse(WaveOpenError::kFormatReadFailed, kWaveFormatReadFailed);
  }
  format_ = ParseFormat(record, recordBytes);
  if (format_.formatTag != kFormatPcm) return Refuse(WaveOpenError::kNotPcm, kWaveNotPcm);

  // Only chunks after "fmt " are searched: the format must be known before
  // the samples.
  std::optional<Chunk> data = FindChunk(file_, fmt->Next(), formEnd, "data");
  if (!data) return Refuse(WaveOpenError::kNoData, kWaveNoData);
  dataOffset_ = data->dataPos;
  dataSize_ = data->size;
  remaining_ = dataSize_;
  if (dataSize_ == 0) {
    CloseWaveFile();
    lastOpenError_ = WaveOpenError::kEmptyData;
    return false;
  }
  if (!SeekTo(file_, dataOffset_)) return Refuse(WaveOpenError::kNoData, kWaveNoData);

  bytesPerSecond_ = format_.avgBytesPerSec;
  tickBytes_ = bytesPerSecond_ / 10;
  channels_ = format_.channels;
  blockAlign_ = format_.blockAlign;
  SetPlayerFormat(playerIndex_, format_);
  return true;
}

uint64_t CWaveSource::PieceBytes() const {
  // 4 × tick bytes (400 ms) in 64 bits: a corrupt rate must not overflow it.
  // A rate below 10 bytes per second has no tick; read in one piece then.
  const uint64_t piece = 4ull * tickBytes_;
  return piece == 0 || piece > remaining_ ? remaining_ : piece;
}

uint32_t CWaveSource::ReadBlock(uint8_t* buf, uint32_t capacity) {
  lastReadCount_ = 0;
  if (file_ == nullptr || buf == nullptr || remaining_ == 0 || capacity == 0) return 0;
  if (pieceReadHook_) pieceReadHook_();
  const uint32_t want = std::min(capacity, remaining_);
  uint32_t total = 0;
  // fread stops short only at the end of the file or on an error.
  while (total < want) {
    const size_t got = std::fread(buf + total, 1, want - total, file_);
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  ConsumeRemaining(total);
  lastReadCount_ = total;
  return total;
}

bool CWaveSource::SeekData(uint32_t offset) {
  if (file_ == nullptr || !SeekTo(file_, dataOffset_ + offset)) return false;
  remaining_ = offset > dataSize_ ? 0 : dataSize_ - offset;
  return true;
}

void CWaveSource::CloseWaveFile() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  format_ = {};
  formatChunkSize_ = 0;
  dataOffset_ = 0;
  dataSize_ = 0;
  remaining_ = 0;
  bytesPerSecond_ = 0;
  tickBytes_ = 0;
  channels_ = 0;
  blockAlign_ = 0;
}

bool CWaveSource::Refuse(WaveOpenError error, const char* message) {
  // Closed before the message so the file is not held while a dialog waits.
  CloseWaveFile();
  lastOpenError_ = error;
  refusalMessage_ = message;
  if (reportsMessages_) ReportMessage(message);
  return false;
}

void CWaveSource::ConsumeRemaining(uint32_t count) {
  remaining_ = count >= remaining_ ? 0 : remaining_ - count;
}

}  // namespace orvex
