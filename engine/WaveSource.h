// The sample source of one channel player: a RIFF WAV file holding
// uncompressed PCM, read as raw bytes (no conversion) block by block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "output/WaveFormat.h"

namespace orvex {

// Messages shown when a file is refused.
inline constexpr const char* kWaveNotRiffWave = "Waveファイルでない";
inline constexpr const char* kWaveNoFormat = "フォーマットが正しくない";
inline constexpr const char* kWaveFormatReadFailed = "フォーマットの読み込み失敗";
inline constexpr const char* kWaveNotPcm = "PCMフォーマットでなかった";
inline constexpr const char* kWaveNoData = "ファイルにデータがない";
inline constexpr const char* kWaveReadFailed = "データの読み込みを失敗";

// Number of channel players; each owns one slot of the format table.
inline constexpr int kWavePlayerCount = 7;

// Why the last OpenWaveFile returned false. kCannotOpen and kEmptyData are
// the two refusals that show no message.
enum class WaveOpenError {
  kNone,
  kCannotOpen,
  kNotRiffWave,
  kNoFormat,
  kFormatReadFailed,
  kNotPcm,
  kNoData,
  kEmptyData,
};

// The format of the file the player at index last opened successfully; a
// cleared format for an index outside 0..kWavePlayerCount-1 or a player that
// never opened a file. UI thread only.
WaveFormat PlayerFormat(int index);
// Records the format of the file the player at index has opened; a player
// whose source runs on its reader thread records it here from the UI thread.
void SetPlayerFormat(int index, const WaveFormat& format);

class CWaveSource {
 public:
  // playerIndex selects the slot of the format table this source fills; an
  // index outside 0..kWavePlayerCount-1 fills none.
  explicit CWaveSource(int playerIndex);
  ~CWaveSource();
  CWaveSource(const CWaveSource&) = delete;
  CWaveSource& operator=(const CWaveSource&) = delete;

  // Opens nativePath, checks that it is a PCM WAV file and positions the
  // stream at the first sample byte. Every refusal except "cannot open" and
  // "no sample bytes" reports its reason through ReportMessage; on any refusal
  // the file is closed and the format cleared. Opening again first closes the
  // previous file. With a player index it writes the format table, so call
  // it on the UI thread then; a source of index -1 may run on any thread.
  bool OpenWaveFile(const std::string& nativePath);

  // Off, refusals keep their message (RefusalMessage) for the caller to
  // report instead of reporting it themselves: a source read on a worker
  // thread must not show anything from there.
  void SetReportsMessages(bool reports) { reportsMessages_ = reports; }
  // The message of the last refusal, nullptr when it had none.
  const char* RefusalMessage() const { return refusalMessage_; }

  // Reads up to min(capacity, Remaining()) bytes. Returns the bytes read;
  // 0 means the stream has ended (also when the data chunk claims more bytes
  // than the file holds). Reduces Remaining() by the count read and records
  // it as LastReadCount().
  uint32_t ReadBlock(uint8_t* buf, uint32_t capacity);

  // 400 ms of data, the whole rest when the rate has no 100 ms tick: how
  // much of a block a player waits for before it starts.
  uint64_t PieceBytes() const;

  // Test hook: runs before every ReadBlock, to model a slow disk.
  void SetPieceReadHook(std::function<void()> hook) { pieceReadHook_ = std::move(hook); }

  // Moves to offset bytes into the sample data; Remaining() becomes the bytes
  // after it (0 past the end). Returns false if no file is open or the seek
  // fails.
  bool SeekData(uint32_t offset);

  // Closes the file and clears the format and the data fields.
  void CloseWaveFile();

  bool IsOpen() const { return file_ != nullptr; }
  const std::string& FilePath() const { return path_; }
  const WaveFormat& Format() const { return format_; }
  uint32_t FormatChunkSize() const { return formatChunkSize_; }
  // File offset of the first sample byte.
  uint64_t DataOffset() const { return dataOffset_; }
  // The data chunk's size field, even if the file ends earlier.
  uint32_t DataSize() const { return dataSize_; }
  uint32_t Remaining() const { return remaining_; }
  // All timing derives from the format's average bytes per second.
  uint32_t BytesPerSecond() const { return bytesPerSecond_; }
  // Bytes in 100 ms.
  uint32_t TickBytes() const { return tickBytes_; }
  uint16_t Channels() const { return channels_; }
  uint16_t BlockAlign() const { return blockAlign_; }
  uint32_t LastReadCount() const { return lastReadCount_; }
  WaveOpenError LastOpenError() const { return lastOpenError_; }
  // errno of the failed open when LastOpenError() is kCannotOpen, else 0.
  int OpenErrno() const { return openErrno_; }

 private:
  bool Refuse(WaveOpenError error, const char* message);
  void ConsumeRemaining(uint32_t count);

  int playerIndex_;
  std::FILE* file_ = nullptr;
  std::string path_;
  WaveFormat format_;
  uint32_t formatChunkSize_ = 0;
  uint64_t dataOffset_ = 0;
  uint32_t dataSize_ = 0;
  uint32_t remaining_ = 0;
  uint32_t bytesPerSecond_ = 0;
  uint32_t tickBytes_ = 0;
  uint16_t channels_ = 0;
  uint16_t blockAlign_ = 0;
  uint32_t lastReadCount_ = 0;
  WaveOpenError lastOpenError_ = WaveOpenError::kNone;
  int openErrno_ = 0;
  bool reportsMessages_ = true;
  const char* refusalMessage_ = nullptr;
  std::function<void()> pieceReadHook_;
};

}  // namespace orvex
