// The player of one channel: streams one WAV file into its stream store,
// feeds the outputs from it, counts the play position in 100 ms ticks and
// tells its owner when the file has played to its end.
//
// Threads: every operation runs on the UI thread except the tick, which runs
// on the timer service's thread, and SetOutputLevel, which fade steps call
// from the timer thread too.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "engine/FaderLaw.h"
#include "engine/TimerService.h"
#include "engine/UiPoster.h"
#include "engine/WaveSource.h"
#include "output/StreamStore.h"
#include "output/wasapi/WaveWASAPI.h"
#include "output/xaudio/WaveXAudio.h"
#include "show/Record.h"

namespace orvex {

// End-of-file notices: 260..265 for CH1..CH6, 226 for the background player.
inline constexpr int EndOfFileCommand(int channel) {
  return channel == 0 ? 226 : 259 + channel;
}

// What the slider panel and the progress pane show of a player.
struct PositionDisplay {
  uint32_t position = 0;     // bytes into the data, at most the data size
  uint32_t range = 0;        // the data size
  std::string longElapsed;   // "m:ss.mmm"
  std::string shortElapsed;  // "m:ss.t"
  std::string remaining;     // "m:ss.t"
};

// Formats position p of a file of dataSize bytes.
PositionDisplay MakePositionDisplay(uint32_t p, uint32_t dataSize, uint32_t bytesPerSecond);

class PlayerObserver {
 public:
  virtual ~PlayerObserver() = default;
  // UI or timer thread.
  virtual void OnPosition(int /*channel*/, const PositionDisplay& /*display*/) {}
  // UI thread: a file was prepared.
  virtual void OnFileSelected(int /*channel*/, const std::string& /*path*/,
                              uint32_t /*bytesPerSecond*/, uint32_t /*dataSize*/) {}
};

class CWaveWnd {
 public:
  CWaveWnd(int channel, TimerService& timers, UiPoster& poster);
  ~CWaveWnd();
  CWaveWnd(const CWaveWnd&) = delete;
  CWaveWnd& operator=(const CWaveWnd&) = delete;

  // --- wiring ---
  // Runs on the UI thread (through the poster) when the file has played out.
  void SetEndOfFileHandler(std::function<void(int channel)> handler);
  void SetObserver(PlayerObserver* observer) { observer_ = observer; }
  void SetEngines(const std::array<xaudio::VoiceEngine*, kOutputCount>& engines);
  CWaveWASAPI& Wasapi() { return wasapi_; }
  // Block sizes in seconds; they take effect at the next Prepare.
  void SetBufferSeconds(int firstSeconds, int secondSeconds);
  void SetKnee(const FaderKnee& knee);
  // Called between the pieces of a long block read (pending fade steps).
  void SetBetweenPieces(std::function<void()> hook) { betweenPieces_ = std::move(hook); }
  // Test hook: runs before every piece of a block read (a slow disk).
  void SetPieceReadHook(std::function<void()> hook) { source_.SetPieceReadHook(std::move(hook)); }

  // --- transport ---
  bool LoadFile(const std::string& nativePath);
  bool Prepare();
  bool Play();
  void Pause();
  void Resume();
  void Seek(uint32_t offset);
  void Unload();
  // The owner's pause mark.
  void SetPaused(bool paused) { paused_.store(paused); }

  // --- level ---
  void SetOutputLevel(uint32_t faderValue, int output, int pan);
  void SetAllOutputLevels(uint32_t faderValue);
  // Tone band 0..2 of the voice-engine outputs (x: -15..15).
  void SetToneGain(int band, float x) { xaudio_.SetToneGain(band, x); }

  void UpdatePositionDisplay();
  PositionDisplay GetPositionDisplay() const;

  // --- state ---
  int Channel() const { return channel_; }
  bool IsLoaded() const { return loaded_.load(); }
  bool IsPlaying() const { return playing_.load(); }
  bool IsPaused() const { return paused_.load(); }
  bool IsEndOfData() const { return endOfData_.load(); }
  uint32_t Position() const { return position_.load(); }
  uint32_t DataSize() const { return dataSize_.load(); }
  uint32_t BytesPerSecond() const { return bytesPerSecond_.load(); }
  uint32_t LastFaderValue() const { return lastFaderValue_.load(); }
  const std::string& FilePath() const { return path_; }
  const CWaveSource& Source() const { return source_; }
  const CWaveXAudio& XAudio() const { return xaudio_; }
  const StreamStore& Stream() const { return m_stream; }
  bool TimerRunning() const { return timer_ != 0; }

  const ChannelData& GetChannelData() const { return channelData_; }
  void SetChannelData(const ChannelData& data) { channelData_ = data; }

 private:
  static void TickThunk(TimerService::TimerId id, void* user);
  void OnTick();
  // False when the fill was put off because the store had no room yet.
  bool FillNextBlock();
  enum class ReadKind {
    kFirst,  // the first block, in one read
    kSeek,   // on the UI thread after a seek: one piece, the tick reads on
    kFill,   // a later block on the timer thread, in pieces
  };
  // Reads a block straight into the store; returns the bytes appended.
  uint32_t ReadIntoStore(uint32_t capacity, ReadKind kind);
  // Appends a block on the timer thread, making each piece playable as soon
  // as it is in and stopping between pieces when the UI thread kills the
  // timer.
  uint32_t FillStore(uint32_t capacity);
  void StartOutputs();
  void StartTimer();
  // Kills the tick; a tick in the middle of a block read stops at the end of
  // its current piece.
  void KillTimer();
  // The position elapsedMs after the timer started.
  uint32_t PositionAfter(uint32_t elapsedMs) const;
  void ApplyRememberedLevels();
  void ApplyLevelLocked(int output);
  // Unload without touching the channel data block.
  void Close();

  const int channel_;
  TimerService& timers_;
  UiPoster& poster_;
  std::function<void(int)> onEndOfFile_;
  PlayerObserver* observer_ = nullptr;
  std::function<void()> betweenPieces_;

  CWaveSource source_;
  std::string path_;
  StreamStore m_stream;
  CWaveWASAPI wasapi_;
  CWaveXAudio xaudio_;
  ChannelData channelData_{};

  int firstSeconds_ = 10;
  int secondSeconds_ = 10;
  uint32_t firstSize_ = 0;
  uint32_t secondSize_ = 0;
  uint32_t halfPeriod_ = 0;  // seconds

  std::atomic<bool> loaded_{false};
  std::atomic<bool> playing_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> endOfData_{false};
  std::atomic<bool> fillRunning_{false};
  std::atomic<bool> cancelRead_{false};  // set while the UI thread kills the tick
  // A seek read one piece of its block; the next fill reads the rest.
  std::atomic<bool> seekBlockOpen_{false};
  TimerService::TimerId timer_ = 0;  // UI thread only
  // Where and when the timer started: the position follows the clock from
  // there, so late or dropped ticks never leave it behind. Written on the UI
  // thread only while no timer runs.
  uint32_t clockStart_ = 0;
  uint32_t storeOrigin_ = 0;  // data offset of the store's byte 0 (timer killed to change)
  uint32_t positionStart_ = 0;
  uint32_t ticks_ = 0;  // timer thread while the timer runs
  uint32_t ticksSinceFill_ = 0;
  std::atomic<uint32_t> position_{0};
  std::atomic<uint32_t> dataSize_{0};
  std::atomic<uint32_t> bytesPerSecond_{0};
  std::atomic<uint32_t> lastFaderValue_{0};
  std::atomic<uint16_t> channels_{0};

  // Level and display state touched from both threads.
  mutable std::mutex levelMutex_;
  FaderKnee knee_;
  std::array<std::pair<uint32_t, int>, kOutputCount> levels_{};  // value, pan
  mutable std::mutex displayMutex_;
  PositionDisplay display_;
};

}  // namespace orvex
