#include "engine/WaveWnd.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/FadeMask.h"
#include "show/Messages.h"

namespace orvex {
namespace {

std::string MinutesSeconds(uint64_t seconds, uint64_t fraction, int digits) {
  char text[48];
  if (digits == 3) {
    std::snprintf(text, sizeof text, "%u:%02u.%03u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60), static_cast<unsigned>(fraction));
  } else {
    std::snprintf(text, sizeof text, "%u:%02u.%01u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60), static_cast<unsigned>(fraction));
  }
  return text;
}

}  // namespace

PositionDisplay MakePositionDisplay(uint32_t position, uint32_t dataSize, uint32_t bytesPerSecond) {
  PositionDisplay d;
  d.range = dataSize;
  d.position = std::min(position, dataSize);
  if (bytesPerSecond == 0) return d;
  const uint64_t p = d.position, rest = dataSize - d.position;
  d.longElapsed = MinutesSeconds(p / bytesPerSecond, p * 1000 / bytesPerSecond % 1000, 3);
  d.shortElapsed = MinutesSeconds(p / bytesPerSecond, p * 1000 / bytesPerSecond % 1000 / 100, 1);
  d.remaining = MinutesSeconds(rest / bytesPerSecond, rest * 1000 / bytesPerSecond % 1000 / 100, 1);
  return d;
}

CWaveWnd::CWaveWnd(int channel, TimerService& timers, UiPoster& poster)
    : channel_(channel),
      timers_(timers),
      poster_(poster),
      lateTimer_(timers, poster),
      reader_(poster, m_stream, [this] { OnReaderNews(); }) {
  // Channels CH1..CH6 have tone control; the continuous-play player has none.
  if (channel >= 1) xaudio_.InitEffects();
  xaudio_.SetMixPlace(channel);
}

CWaveWnd::~CWaveWnd() {
  Unload();
  *alive_ = false;
}

void CWaveWnd::SetEndOfFileHandler(std::function<void(int)> handler) {
  onEndOfFile_ = std::move(handler);
}

void CWaveWnd::SetNextFileProvider(std::function<std::string()> provider) {
  nextProvider_ = std::move(provider);
}

void CWaveWnd::SetFileChangedHandler(std::function<void(int)> handler) {
  onFileChanged_ = std::move(handler);
}

void CWaveWnd::SetEngines(const std::array<mixer::VoiceEngine*, kOutputCount>& engines) {
  xaudio_.SetEngines(engines);
}

void CWaveWnd::SetBufferSeconds(int firstSeconds, int secondSeconds) {
  firstSeconds_ = std::clamp(firstSeconds, 1, 30);
  secondSeconds_ = std::clamp(secondSeconds, 1, 30);
}

void CWaveWnd::SetKnee(const FaderKnee& knee) {
  std::lock_guard lock(levelMutex_);
  knee_ = knee;
}

FaderKnee CWaveWnd::Knee() const {
  std::lock_guard lock(levelMutex_);
  return knee_;
}

void CWaveWnd::LoadFile(const std::string& nativePath, RefusedHandler onRefused, bool explain) {
  path_ = nativePath;
  Prepare(std::move(onRefused), explain);
}

void CWaveWnd::Prepare(RefusedHandler onRefused, bool explain) {
  Close();
  wasapi_.SetStream(&m_stream);
  xaudio_.SetStream(&m_stream);
  onRefused_ = std::move(onRefused);
  explainRefusal_ = explain;
  lastOpenError_ = WaveOpenError::kNone;
  loaded_.store(true);
  reader_.Open(path_, firstSeconds_, secondSeconds_);
}

void CWaveWnd::OnReaderNews() {
  if (!loaded_.load()) return;
  if (std::optional<BlockReader::Opened> opened = reader_.TakeOpened()) {
    OnOpened(*opened);
    if (!loaded_.load()) return;
  }
  // While the tick runs it moves what arrives itself (news of a following
  // file too).
  if (opened_ && timer_ == 0) {
    DrainOnUi();
  } else if (std::optional<BlockReader::Opened> next = reader_.TakeNextOpened()) {
    // The tick would take it too, but only at its next turn.
    OnNextOpened(*next);
  }
}

void CWaveWnd::OnOpened(const BlockReader::Opened& opened) {
  if (opened.error != WaveOpenError::kNone) {
    lastOpenError_ = opened.error;
    loaded_.store(false);
    playing_.store(false);
    startPending_ = false;
    lateTimer_.Stop();
    // After the operation that asked for the file has returned, never from
    // inside it: the UI shows the message when it is free to.
    if (opened.message != nullptr && explainRefusal_) ReportMessage(opened.message);
    // Last: the owner may load another file from here.
    if (RefusedHandler handler = std::exchange(onRefused_, nullptr)) handler(opened.error);
    return;
  }
  format_ = opened.format;
  SetPlayerFormat(channel_, format_);
  opened_ = true;
  const uint32_t bps = format_.avgBytesPerSec;
  const uint32_t align = format_.blockAlign;
  firstSize_ = BlockBytes(bps, firstSeconds_, align);
  secondSize_ = BlockBytes(bps, secondSeconds_, align);
  halfPeriod_ = static_cast<uint32_t>(std::min(firstSeconds_, secondSeconds_) / 2);
  dataSize_.store(opened.dataSize);
  bytesPerSecond_.store(bps);
  channels_.store(format_.channels);
  position_.store(0);
  if (observer_) observer_->OnFileSelected(channel_, path_, bps, opened.dataSize);
  UpdatePositionDisplay();

  // The reader has sized the store (StoreBytes) and fills the first block.
  storeOrigin_ = 0;
  readEnd_.store(firstSize_);
  readSize_.store(opened.dataSize);
  blockPending_.store(true);
  endOfData_.store(false);
  readDone_.store(false);
  follow_.store(Follow::kIdle);
  xaudio_.SetEndFlag(false);
  wasapi_.SetEndFlag(false);
  wasapi_.OpenStreams(format_, halfPeriod_);
  xaudio_.CreateVoices(format_);
  xaudio_.AllocBuffers(secondSize_, firstSize_);
  ApplyRememberedLevels();
}

BlockReader::Drained CWaveWnd::Drain() {
  if (std::optional<BlockReader::Opened> next = reader_.TakeNextOpened()) OnNextOpened(*next);
  const BlockReader::Drained d = reader_.Collect();
  if (d.lastOfRequest) blockPending_.store(false);
  if (d.end) {
    readDone_.store(true);
    // Without anyone to name a next file, the end is known now.
    if (!nextProvider_) EndData();
  }
  return d;
}

void CWaveWnd::DrainOnUi() {
  const BlockReader::Drained d = Drain();
  if (!ready_.load()) {
    if (m_stream.WritePos() > 0 || d.end || d.failed) BecomeReady(d.failed);
  } else if (d.bytes > 0) {
    wasapi_.Refill();
    xaudio_.Refill();
  }
}

void CWaveWnd::BecomeReady(bool failed) {
  wasapi_.Prefill();
  xaudio_.Prefill();
  ready_.store(true);
  lateTimer_.Stop();
  const bool seek = std::exchange(seeking_, false);
  if (failed) {
    ReportMessage(kWaveReadFailed);
    // A seek that found nothing leaves the player paused where it was told.
    if (seek) startPending_ = false;
  }
  UpdatePositionDisplay();
  if (std::exchange(startPending_, false)) {
    StartOutputs();
    StartTimer();
  }
}

void CWaveWnd::StartWhenReady() {
  if (startPending_) return;
  startPending_ = true;
  // Reported once the start is late by more than a period, not before: a
  // file on a good disk is there long before anyone would notice.
  lateTimer_.Start(kLateStartMs, [this] { OnLate(); });
}

void CWaveWnd::OnLate() {
  lateTimer_.Stop();
  if (!startPending_ || ready_.load()) return;
  std::fprintf(stderr, "CH%d: %s: %s\n", channel_, kWaveLate, path_.c_str());
  if (observer_) observer_->OnFileLate(channel_, path_);
}

void CWaveWnd::StartOutputs() {
  wasapi_.Start();
  xaudio_.Start();
}

void CWaveWnd::StartTimer() {
  if (timer_ != 0) return;
  ticks_ = 0;
  ticksSinceFill_ = 0;
  clockStart_ = timers_.timeGetTime();
  positionStart_ = position_.load();
  timer_ = timers_.timeSetEvent(100, 10, &CWaveWnd::TickThunk, this);
}

void CWaveWnd::KillTimer() {
  if (timer_ == 0) return;
  timers_.timeKillEvent(timer_);
  timer_ = 0;
  // After the tick's timer: no tick can arm it again now.
  if (const TimerService::TimerId id = endTimer_.exchange(0)) timers_.timeKillEvent(id);
}

uint32_t CWaveWnd::PositionAfter(uint32_t elapsedMs) const {
  const int64_t p =
      positionStart_ + static_cast<int64_t>(uint64_t{elapsedMs} * bytesPerSecond_.load() / 1000);
  return static_cast<uint32_t>(std::clamp<int64_t>(p, 0, UINT32_MAX));
}

bool CWaveWnd::Play() {
  if (!loaded_.load()) return false;
  playing_.store(true);
  if (!ready_.load()) {
    StartWhenReady();
    return true;
  }
  // The rest of the first block, if it came in after the first piece.
  DrainOnUi();
  StartOutputs();
  UpdatePositionDisplay();
  StartTimer();
  return true;
}

void CWaveWnd::Pause() {
  if (!loaded_.load()) return;
  startPending_ = false;
  lateTimer_.Stop();
  if (timer_ != 0) {
    KillTimer();
    // Counted up to the pause itself, not only up to the last tick.
    position_.store(PositionAfter(timers_.timeGetTime() - clockStart_));
    if (follow_.load() == Follow::kFollowing && position_.load() >= dataSize_.load())
      EnterNextFile();
    RejoinAtClock();
  }
  wasapi_.Stop();
  xaudio_.Stop();
}

void CWaveWnd::Resume() {
  if (!loaded_.load()) return;
  if (!ready_.load()) {
    StartWhenReady();
    return;
  }
  if (timer_ == 0) DrainOnUi();
  StartOutputs();
  StartTimer();
}

void CWaveWnd::Seek(uint32_t offset) {
  // Before the header is known there is no position to go to.
  if (!loaded_.load() || !opened_) return;
  Pause();
  // A file the stream went on into is this player's from here on, before
  // the seek reads in it.
  AdoptEnteredFile();
  // A typed marker time may lie past the end: the seek goes to the end,
  // where the file ends as if played out, and the position never runs past
  // what the slider can show.
  offset = std::min(offset, dataSize_.load());
  const uint32_t align = std::max<uint32_t>(format_.blockAlign, 1);
  offset = align * (offset / align);
  position_.store(offset);
  // The outputs let go of every queued byte before the store is refilled.
  wasapi_.Flush();
  xaudio_.Flush();
  m_stream.Reset();
  storeOrigin_ = offset;
  ready_.store(false);
  seeking_ = true;
  endOfData_.store(false);
  readDone_.store(false);
  // A file begun to follow this one is let go; it is asked for again.
  follow_.store(Follow::kIdle);
  epoch_.fetch_add(1);
  readSize_.store(dataSize_.load());
  xaudio_.SetEndFlag(false);
  wasapi_.SetEndFlag(false);
  readEnd_.store(offset + std::min(secondSize_, UINT32_MAX - offset));
  blockPending_.store(true);
  // With the path: the reader may be in the following file by now.
  reader_.Seek(offset, secondSize_, path_);
  UpdatePositionDisplay();
  if (playing_.load() && !paused_.load()) StartWhenReady();
}

void CWaveWnd::Unload() {
  Close();
  channelData_[6] = 0;
  channelData_[7] = 0;
}

void CWaveWnd::Close() {
  KillTimer();
  lateTimer_.Stop();
  startPending_ = false;
  seeking_ = false;
  opened_ = false;
  format_ = {};
  onRefused_ = nullptr;
  {
    std::lock_guard lock(nextMutex_);
    enteredPath_.clear();
  }
  // Drops every read asked so far; one still in flight is abandoned, and
  // what it brings back later goes nowhere. First: from here on no read
  // touches the store, which is released below.
  reader_.Close();
  wasapi_.Close();
  xaudio_.Silence();
  playing_.store(false);
  loaded_.store(false);
  ready_.store(false);
  endOfData_.store(false);
  readDone_.store(false);
  follow_.store(Follow::kIdle);
  epoch_.fetch_add(1);
  blockPending_.store(false);
  xaudio_.ReleaseVoices();
  m_stream.Release();
}

void CWaveWnd::TickThunk(TimerService::TimerId, void* user) {
  static_cast<CWaveWnd*>(user)->OnTick();
}

void CWaveWnd::OnTick() {
  // What the reader brought since the last tick; the disk itself is never
  // touched here.
  Drain();
  wasapi_.Refill();
  xaudio_.Refill();
  if (ticks_ == 0 || ticksSinceFill_ * 100 > halfPeriod_ * 1000) {
    switch (FillNextBlock()) {
      case Fill::kDone:
        ticksSinceFill_ = 0;
        break;
      case Fill::kNoRoom:
        ++ticksSinceFill_;
        break;
      case Fill::kBusy:
        // Asked again on the next tick, not a half period later.
        ticksSinceFill_ = std::max(ticksSinceFill_ + 1, halfPeriod_ * 10 + 1);
        break;
    }
  } else {
    ++ticksSinceFill_;
  }
  ++ticks_;
  // From the clock, not a count of ticks: ticks may come late or be dropped.
  position_.store(PositionAfter(timers_.timeGetTime() - clockStart_));
  StepFollow();
  RejoinAtClock();
  if (endOfData_.load() && position_.load() >= dataSize_.load()) {
    // Posted again on every tick until the owner closes the player.
    PostEndOfFile();
  } else if (endOfData_.load() || readDone_.load() || follow_.load() == Follow::kFollowing) {
    // The end is told on time, and a next file takes over on time too.
    ArmEndTimer();
  }
  UpdatePositionDisplay();
}

void CWaveWnd::RejoinAtClock() {
  // Outputs that lost their place in the store come back where the clock is.
  m_stream.SetLivePos(static_cast<uint64_t>(std::max<int64_t>(position_.load() - storeOrigin_, 0)));
  m_stream.RejoinWaiting();
}

void CWaveWnd::PostEndOfFile() {
  const int channel = channel_;
  poster_.Post([handler = onEndOfFile_, channel] {
    if (handler) handler(channel);
  });
}

void CWaveWnd::ArmEndTimer() {
  const uint32_t bps = bytesPerSecond_.load();
  if (bps == 0 || endTimer_.load() != 0) return;
  // When the clock reaches the end of the data, rounded up to the millisecond.
  const auto bytes =
      static_cast<uint64_t>(std::max<int64_t>(int64_t{dataSize_.load()} - positionStart_, 0));
  const uint64_t endMs = (bytes * 1000 + bps - 1) / bps;
  const uint32_t elapsed = timers_.timeGetTime() - clockStart_;
  if (endMs <= elapsed || endMs - elapsed >= 100) return;  // the next tick is on time
  endTimer_.store(
      timers_.timeSetEvent(static_cast<uint32_t>(endMs - elapsed), 1, &CWaveWnd::EndThunk, this));
}

void CWaveWnd::EndThunk(TimerService::TimerId, void* user) {
  static_cast<CWaveWnd*>(user)->OnEnd();
}

void CWaveWnd::OnEnd() {
  // A kill that got here first leaves nothing.
  const TimerService::TimerId id = endTimer_.load();
  if (id == 0) return;
  position_.store(PositionAfter(timers_.timeGetTime() - clockStart_));
  if (position_.load() >= dataSize_.load()) {
    if (follow_.load() == Follow::kFollowing) {
      EnterNextFile();
    } else {
      // A next file not settled by now comes too late to follow on.
      if (!endOfData_.load() && readDone_.load()) EndData();
      if (endOfData_.load()) PostEndOfFile();
    }
  }
  UpdatePositionDisplay();
  // Once: the timer ends itself, last, so that a kill from the UI thread
  // (a pause) waits for all of the above.
  TimerService::TimerId self = id;
  if (endTimer_.compare_exchange_strong(self, 0)) timers_.timeKillEvent(id);
}

CWaveWnd::Fill CWaveWnd::FillNextBlock() {
  // With the option to hold reading back while faders fade, no block is
  // asked for until they end; the fill waits for the next turn. A block
  // already asked for (a seek's) still comes in: the outputs wait for it.
  if (g_fadeMask.load() != 0) return Fill::kDone;
  if (blockPending_.load()) return Fill::kBusy;
  if (readDone_.load()) return Fill::kDone;
  const uint32_t dataSize = readSize_.load(), readEnd = readEnd_.load();
  const uint32_t remaining = dataSize > readEnd ? dataSize - readEnd : 0;
  if (remaining == 0) return Fill::kDone;
  const uint32_t need = std::min(secondSize_, remaining);
  if (m_stream.FreeSpace() < need) {
    // An output more than a block behind the clock has stopped pulling: it
    // loses its place rather than hold every other output back.
    const uint64_t slack = bytesPerSecond_.load() / 2;
    m_stream.DropLaggingReaders(need, std::max(firstSize_, secondSize_) + slack);
  }
  // The outputs still hold the bytes this block would overwrite.
  if (m_stream.FreeSpace() < need) return Fill::kNoRoom;
  readEnd_.store(readEnd + need);
  blockPending_.store(true);
  reader_.Read(need);
  return Fill::kDone;
}

void CWaveWnd::StepFollow() {
  const uint32_t position = position_.load(), dataSize = dataSize_.load();
  const uint32_t left = dataSize > position ? dataSize - position : 0;
  switch (follow_.load()) {
    case Follow::kIdle: {
      if (!readDone_.load() || endOfData_.load()) return;
      if (left == 0) {
        EndData();
        return;
      }
      const uint64_t lead = uint64_t{bytesPerSecond_.load()} * kFollowLeadMs / 1000;
      if (left > lead) return;
      Follow idle = Follow::kIdle;
      if (!follow_.compare_exchange_strong(idle, Follow::kAsked)) return;
      poster_.Post([this, alive = std::weak_ptr<bool>(alive_), epoch = epoch_.load()] {
        if (alive.lock()) AskForNext(epoch);
      });
      return;
    }
    case Follow::kOpened: {
      const uint64_t commit = uint64_t{bytesPerSecond_.load()} * kFollowCommitMs / 1000;
      if (left == 0) {
        EndData();
      } else if (left <= commit) {
        CommitNext();
      }
      return;
    }
    case Follow::kAsked:
    case Follow::kOpening:
      // Too late to follow on: this file ends, and its owner goes on as it
      // would without a next file named.
      if (left == 0) EndData();
      return;
    case Follow::kFollowing:
      if (left == 0) EnterNextFile();
      return;
    case Follow::kNone:
      return;
  }
}

void CWaveWnd::AskForNext(uint32_t epoch) {
  if (epoch != epoch_.load() || follow_.load() != Follow::kAsked) return;
  std::string path = nextProvider_ ? nextProvider_() : std::string();
  Follow asked = Follow::kAsked;
  if (path.empty()) {
    if (follow_.compare_exchange_strong(asked, Follow::kNone)) EndData();
    return;
  }
  {
    std::lock_guard lock(nextMutex_);
    nextPath_ = path;
  }
  // Opened now, not at the next tick: a short file leaves little time.
  // Only the reader's queue is touched, never the store.
  const uint32_t serial = nextSerial_.fetch_add(1) + 1;
  if (follow_.compare_exchange_strong(asked, Follow::kOpening)) reader_.OpenNext(path, serial);
}

void CWaveWnd::ReconsiderNext() {
  for (Follow f = follow_.load();
       f == Follow::kAsked || f == Follow::kOpening || f == Follow::kOpened;) {
    if (follow_.compare_exchange_weak(f, Follow::kIdle)) return;
  }
}

void CWaveWnd::OnNextOpened(const BlockReader::Opened& opened) {
  if (opened.serial != nextSerial_.load() || follow_.load() != Follow::kOpening) return;
  // The outputs play on from the same store: only the very same format can
  // follow there. Another one starts as a file of its own.
  if (opened.error != WaveOpenError::kNone || !(opened.format == format_) || opened.dataSize == 0) {
    EndData();
    return;
  }
  nextSize_.store(opened.dataSize);
  Follow opening = Follow::kOpening;
  follow_.compare_exchange_strong(opening, Follow::kOpened);
}

void CWaveWnd::CommitNext() {
  const uint32_t align = std::max<uint32_t>(format_.blockAlign, 1);
  const auto room = static_cast<uint32_t>(std::min<size_t>(m_stream.FreeSpace(), UINT32_MAX));
  const uint32_t next = nextSize_.load();
  const uint32_t want = std::min({secondSize_, next, room}) / align * align;
  if (want == 0) {
    EndData();
    return;
  }
  // Against a change of mind on the UI thread in the same instant.
  Follow opened = Follow::kOpened;
  if (!follow_.compare_exchange_strong(opened, Follow::kFollowing)) return;
  readSize_.store(next);
  readEnd_.store(want);
  readDone_.store(false);
  blockPending_.store(true);
  reader_.ReadNext(want);
}

void CWaveWnd::EndData() {
  follow_.store(Follow::kNone);
  endOfData_.store(true);
  xaudio_.SetEndFlag(true);
  wasapi_.SetEndFlag(true);
}

void CWaveWnd::EnterNextFile() {
  const uint32_t ended = dataSize_.load();
  storeOrigin_ -= ended;
  positionStart_ -= ended;
  dataSize_.store(nextSize_.load());
  follow_.store(Follow::kIdle);
  // The caller has just set the position from the clock.
  position_.store(position_.load() - std::min(position_.load(), ended));
  {
    std::lock_guard lock(nextMutex_);
    enteredPath_ = nextPath_;
  }
  poster_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) AdoptEnteredFile();
  });
}

void CWaveWnd::AdoptEnteredFile() {
  std::string path;
  {
    std::lock_guard lock(nextMutex_);
    path = std::exchange(enteredPath_, std::string());
  }
  if (path.empty() || !loaded_.load()) return;
  path_ = std::move(path);
  // The owner first: it keeps what the file is known by (its markers' key).
  if (onFileChanged_) onFileChanged_(channel_);
  if (observer_)
    observer_->OnFileSelected(channel_, path_, bytesPerSecond_.load(), dataSize_.load());
  UpdatePositionDisplay();
}

void CWaveWnd::SetOutputLevel(uint32_t faderValue, int output, int pan) {
  lastFaderValue_.store(faderValue);
  if (output < 0 || output >= kOutputCount) return;
  std::lock_guard lock(levelMutex_);
  levels_[output] = {faderValue, pan};
  // Also while a file is being prepared: a level that arrives after the
  // outputs were opened but before the file counts as loaded must not be
  // lost. The outputs keep it for voices they create later.
  ApplyLevelLocked(output);
}

void CWaveWnd::SetAllOutputLevels(uint32_t faderValue) {
  for (int n = 0; n < kOutputCount; ++n) SetOutputLevel(faderValue, n, 0);
}

void CWaveWnd::ApplyRememberedLevels() {
  // A new file starts at the level the console last set, never at full.
  std::lock_guard lock(levelMutex_);
  for (int n = 0; n < kOutputCount; ++n) ApplyLevelLocked(n);
}

void CWaveWnd::ApplyLevelLocked(int output) {
  const auto [faderValue, pan] = levels_[output];
  const float g = static_cast<float>(FaderGain(faderValue, knee_));
  float left = g, right = g;
  // Pan splits only a two-channel file; mono and multichannel ignore it.
  if (channels_.load() == 2) {
    const double p = std::clamp(pan, -10000, 10000);
    if (p > 0) left = static_cast<float>(g * (1 - p / 10000));
    if (p < 0) right = static_cast<float>(g * (1 + p / 10000));
  }
  wasapi_.SetOutputLevel(output, left, right);
  xaudio_.SetOutputLevel(output, left, right);
}

void CWaveWnd::UpdatePositionDisplay() {
  PositionDisplay d =
      MakePositionDisplay(position_.load(), dataSize_.load(), bytesPerSecond_.load());
  {
    std::lock_guard lock(displayMutex_);
    display_ = d;
  }
  if (observer_) observer_->OnPosition(channel_, d);
}

PositionDisplay CWaveWnd::GetPositionDisplay() const {
  std::lock_guard lock(displayMutex_);
  return display_;
}

}  // namespace orvex
