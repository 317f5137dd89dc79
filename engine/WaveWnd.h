// The player of one channel: streams one WAV file into its stream store,
// feeds the outputs from it, counts the play position in 100 ms ticks and
// tells its owner when the file has played to its end.
//
// Threads: every operation runs on the UI thread except the tick, which runs
// on the timer service's thread, and SetOutputLevel, which fade steps call
// from the timer thread too. The file is opened and read on the player's
// reader thread (BlockReader): no operation waits for the disk. A file is
// "loaded" from LoadFile on, and "ready" once its first frames are in the
// store; Play before that starts the outputs as soon as they are.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/BlockReader.h"
#include "engine/FaderLaw.h"
#include "engine/TimerService.h"
#include "engine/UiPoster.h"
#include "engine/UiTimer.h"
#include "engine/WaveSource.h"
#include "output/StreamStore.h"
#include "output/mixer/WaveXAudio.h"
#include "output/pulse/WaveWASAPI.h"
#include "show/Record.h"

namespace orvex {

// End-of-file notices: 260..265 for CH1..CH6, 226 for the background player.
inline constexpr int EndOfFileCommand(int channel) {
  return channel == 0 ? 226 : 259 + channel;
}

// How long before the end of a file the player asks for the one to follow it
// on the same stream: time to open it and read its first block while the
// outputs still have this one's last second to play.
inline constexpr uint32_t kFollowLeadMs = 2000;
// When its data goes into the stream after this one's. From then on it plays:
// the outputs may have taken it already.
inline constexpr uint32_t kFollowCommitMs = 800;

// Shown when a started file still has no frames to play after kLateStartMs.
inline constexpr const char* kWaveLate = "ファイルの準備が遅れています";
inline constexpr uint32_t kLateStartMs = 20;

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
  // UI thread: the player was started but its file has not delivered its
  // first frames in kLateStartMs; it starts when they come.
  virtual void OnFileLate(int /*channel*/, const std::string& /*path*/) {}
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
  // Asked on the UI thread kFollowLeadMs before a playing file ends: the
  // native path of the file to follow it, or empty for none. One of the
  // same format starts on the sample after this one's last, in the same
  // stream; any other lets this one end as it would without it. Set while
  // no file is loaded.
  void SetNextFileProvider(std::function<std::string()> provider);
  // Runs on the UI thread once the stream has gone on into the file the
  // provider named: FilePath() and the position are that file's now. No
  // end-of-file notice comes for the one before.
  void SetFileChangedHandler(std::function<void(int channel)> handler);
  // UI thread: what the provider would name now may differ (a check was
  // changed): it is asked again, unless the next file's data is in the
  // stream already (kFollowCommitMs before the end).
  void ReconsiderNext();
  void SetObserver(PlayerObserver* observer) { observer_ = observer; }
  void SetEngines(const std::array<mixer::VoiceEngine*, kOutputCount>& engines);
  CWaveWASAPI& Wasapi() { return wasapi_; }
  // Block sizes in seconds; they take effect at the next Prepare.
  void SetBufferSeconds(int firstSeconds, int secondSeconds);
  int FirstSeconds() const { return firstSeconds_; }
  int SecondSeconds() const { return secondSeconds_; }
  void SetKnee(const FaderKnee& knee);
  FaderKnee Knee() const;
  // Test hook: runs on the reader thread before every piece it reads (a
  // slow disk).
  void SetPieceReadHook(std::function<void()> hook) { reader_.SetPieceReadHook(std::move(hook)); }

  // --- transport ---
  // Both return at once; the reader thread opens the file. A refusal reports
  // its message on the UI thread later (unless `explain` is false: a list
  // that loops has had it said already), then calls onRefused (if given).
  using RefusedHandler = std::function<void(WaveOpenError)>;
  void LoadFile(const std::string& nativePath, RefusedHandler onRefused = {}, bool explain = true);
  void Prepare(RefusedHandler onRefused = {}, bool explain = true);
  // False when no file is loaded; a file not ready yet starts when it is.
  bool Play();
  void Pause();
  void Resume();
  // A byte offset into the data; one past the end goes to the end.
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

  // For offline rendering and tests: waits until the reader thread has done
  // every request so far (its news is then posted to the UI thread). False
  // when timeout passed first.
  bool WaitForReader(std::chrono::milliseconds timeout) { return reader_.WaitIdle(timeout); }

  // --- state ---
  int Channel() const { return channel_; }
  // A file is loaded from LoadFile until it is refused or unloaded.
  bool IsLoaded() const { return loaded_.load(); }
  // Its first frames are in the store.
  bool IsReady() const { return ready_.load(); }
  bool IsPlaying() const { return playing_.load(); }
  bool IsPaused() const { return paused_.load(); }
  bool IsEndOfData() const { return endOfData_.load(); }
  uint32_t Position() const { return position_.load(); }
  uint32_t DataSize() const { return dataSize_.load(); }
  uint32_t BytesPerSecond() const { return bytesPerSecond_.load(); }
  uint32_t LastFaderValue() const { return lastFaderValue_.load(); }
  const std::string& FilePath() const { return path_; }
  // The loaded file's format once its header has been read. UI thread.
  const WaveFormat& Format() const { return format_; }
  // Why the last file was refused. UI thread.
  WaveOpenError LastOpenError() const { return lastOpenError_; }
  const CWaveXAudio& XAudio() const { return xaudio_; }
  const StreamStore& Stream() const { return m_stream; }
  bool TimerRunning() const { return timer_ != 0; }

  const ChannelData& GetChannelData() const { return channelData_; }
  void SetChannelData(const ChannelData& data) { channelData_ = data; }

 private:
  static void TickThunk(TimerService::TimerId id, void* user);
  void OnTick();
  // The end falls between two ticks: a timer of its own tells it on time,
  // so the next item of a list does not wait for the next tick.
  void ArmEndTimer();
  static void EndThunk(TimerService::TimerId id, void* user);
  void OnEnd();
  void PostEndOfFile();
  // The tick, or the UI thread with the timer killed.
  void RejoinAtClock();
  enum class Fill {
    kDone,    // asked for the next block, or none is to be asked for now
    kNoRoom,  // the outputs still hold the bytes the block would overwrite
    kBusy,    // the last block is still coming in
  };
  Fill FillNextBlock();
  // What a file that may have another follow it does as its end comes near.
  // The tick, or the UI thread while no tick runs.
  void StepFollow();
  void AskForNext(uint32_t epoch);
  void OnNextOpened(const BlockReader::Opened& opened);
  void CommitNext();
  // Nothing follows: the outputs may play past the data's end.
  void EndData();
  // The clock has reached the end of the file followed on: the next one is
  // current.
  void EnterNextFile();
  // UI thread: takes on the file the stream went on into, once.
  void AdoptEnteredFile();
  // UI thread: what the reader has sent.
  void OnReaderNews();
  void OnOpened(const BlockReader::Opened& opened);
  // Moves what has arrived into the store; UI thread while no tick runs, or
  // the tick.
  BlockReader::Drained Drain();
  void DrainOnUi();
  void BecomeReady(bool failed);
  // Play or Resume on a file not ready yet.
  void StartWhenReady();
  void OnLate();
  void StartOutputs();
  void StartTimer();
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
  std::function<std::string()> nextProvider_;
  std::function<void(int)> onFileChanged_;
  // Tasks the timer thread posts to the UI thread find the player gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  PlayerObserver* observer_ = nullptr;
  RefusedHandler onRefused_;
  bool explainRefusal_ = true;

  std::string path_;
  WaveFormat format_;  // UI thread; set before the tick runs
  WaveOpenError lastOpenError_ = WaveOpenError::kNone;
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
  std::atomic<bool> ready_{false};
  std::atomic<bool> playing_{false};
  std::atomic<bool> paused_{false};
  // No data comes after what is in the store: nothing follows the file.
  std::atomic<bool> endOfData_{false};
  // The file being read has been read to its end (same threads as below).
  std::atomic<bool> readDone_{false};
  enum class Follow : uint8_t {
    kIdle,       // not asked yet
    kAsked,      // the UI thread is asked for the next file, and opens it
    kOpening,    // the reader opens it
    kOpened,     // it can follow; its data goes in at kFollowCommitMs
    kFollowing,  // its data follows this file's in the store
    kNone,       // nothing follows (endOfData_)
  };
  std::atomic<Follow> follow_{Follow::kIdle};
  // Changes at every Close and Seek: a question or news from before is stale.
  std::atomic<uint32_t> epoch_{0};
  std::mutex nextMutex_;
  std::string nextPath_;                 // guarded by nextMutex_
  std::string enteredPath_;              // guarded by nextMutex_: gone on into, not adopted yet
  std::atomic<uint32_t> nextSerial_{0};  // of the last OpenNext
  // Data size of the file to follow; written before follow_ says kOpened.
  std::atomic<uint32_t> nextSize_{0};
  std::atomic<uint32_t> readSize_{0};  // data size of the file being read
  // A block asked for has not all reached the store yet. The UI thread
  // writes it while no tick runs, the tick while it runs.
  std::atomic<bool> blockPending_{false};
  // Data offset up to which blocks have been asked for (same threads).
  std::atomic<uint32_t> readEnd_{0};
  bool opened_ = false;              // UI thread: the header is known
  bool seeking_ = false;             // UI thread: waiting for a seek's first piece
  bool startPending_ = false;        // UI thread: start once ready
  TimerService::TimerId timer_ = 0;  // UI thread only
  // Set by the tick, killed by the UI thread after the tick's timer.
  std::atomic<TimerService::TimerId> endTimer_{0};
  // Where and when the timer started: the position follows the clock from
  // there, so late or dropped ticks never leave it behind. Written on the UI
  // thread only while no timer runs.
  uint32_t clockStart_ = 0;
  // Data offset of the store's byte 0, below 0 once the stream has gone on
  // into a following file (changed by the UI thread with the timer killed,
  // or by the tick).
  int64_t storeOrigin_ = 0;
  int64_t positionStart_ = 0;
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

  UiTimer lateTimer_;
  // Last: destroyed first, so no news reaches a half-destroyed player.
  BlockReader reader_;
};

}  // namespace orvex
