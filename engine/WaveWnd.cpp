#include "engine/WaveWnd.h"

#include <algorithm>
#include <cstdio>

#include "engine/FadeMask.h"
#include "show/Messages.h"

namespace orvex {
namespace {

uint32_t WholeBlocks(uint64_t bytes, uint32_t blockAlign) {
  uint64_t blocks = std::max<uint64_t>(bytes / blockAlign, 1);
  return static_cast<uint32_t>(std::min<uint64_t>(blocks * blockAlign, 0x7FFFFFFFu));
}

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
    : channel_(channel), timers_(timers), poster_(poster), source_(channel) {
  // Channels CH1..CH6 have tone control; the continuous-play player has none.
  if (channel >= 1) xaudio_.InitEffects();
}

CWaveWnd::~CWaveWnd() {
  Unload();
}

void CWaveWnd::SetEndOfFileHandler(std::function<void(int)> handler) {
  onEndOfFile_ = std::move(handler);
}

void CWaveWnd::SetEngines(const std::array<xaudio::VoiceEngine*, kOutputCount>& engines) {
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

bool CWaveWnd::LoadFile(const std::string& nativePath) {
  path_ = nativePath;
  return Prepare();
}

bool CWaveWnd::Prepare() {
  Close();
  wasapi_.SetStream(&m_stream);
  xaudio_.SetStream(&m_stream);

  if (!source_.OpenWaveFile(path_)) return false;
  const uint32_t bps = source_.BytesPerSecond();
  const uint32_t align = source_.BlockAlign();
  if (bps == 0 || align == 0 || !xaudio::IsPlayableFormat(source_.Format())) {
    // Nothing could be timed or played from such a header (12-bit samples, a
    // frame size that does not match the channels): refused here, before any
    // output is opened for it.
    ReportMessage(kWaveNoFormat);
    source_.CloseWaveFile();
    return false;
  }
  firstSize_ = WholeBlocks(uint64_t{bps} * static_cast<uint32_t>(firstSeconds_), align);
  secondSize_ = WholeBlocks(uint64_t{bps} * static_cast<uint32_t>(secondSeconds_), align);
  halfPeriod_ = static_cast<uint32_t>(std::min(firstSeconds_, secondSeconds_) / 2);
  dataSize_.store(source_.DataSize());
  bytesPerSecond_.store(bps);
  channels_.store(source_.Channels());
  position_.store(0);
  if (observer_) observer_->OnFileSelected(channel_, path_, bps, source_.DataSize());
  UpdatePositionDisplay();

  // The store holds the first block and two later ones: enough for the
  // outputs to play one block while the next waits, and no more, so memory
  // does not grow with the length of the file.
  m_stream.Allocate(uint64_t{firstSize_} + 2 * uint64_t{secondSize_}, align);
  storeOrigin_ = 0;
  const WaveFormat& format = source_.Format();
  wasapi_.OpenStreams(format, halfPeriod_);
  xaudio_.CreateVoices(format);
  xaudio_.AllocBuffers(secondSize_, firstSize_);
  ApplyRememberedLevels();

  ReadIntoStore(firstSize_, ReadKind::kFirst);
  endOfData_.store(false);
  xaudio_.SetEndFlag(false);
  wasapi_.Prefill();
  xaudio_.Prefill();
  loaded_.store(true);
  return true;
}

uint32_t CWaveWnd::ReadIntoStore(uint32_t capacity, ReadKind kind) {
  if (kind == ReadKind::kFill) return FillStore(capacity);
  if (kind == ReadKind::kSeek) {
    // The UI thread waits for one piece only; the first tick reads on.
    const uint64_t align = std::max<uint16_t>(source_.BlockAlign(), 1);
    const uint64_t piece = std::max<uint64_t>(source_.PieceBytes() / align, 1) * align;
    capacity = static_cast<uint32_t>(std::min<uint64_t>(capacity, piece));
  }
  uint32_t total = 0;
  for (const StreamStore::WriteSpan& span : m_stream.PrepareWrite(capacity)) {
    if (span.size == 0) continue;
    const auto size = static_cast<uint32_t>(span.size);
    const uint32_t n = kind == ReadKind::kFirst ? source_.ReadFirstBlock(span.data, size)
                                                : source_.ReadBlock(span.data, size);
    total += n;
    if (n < size) break;
  }
  m_stream.Commit(total);
  return total;
}

uint32_t CWaveWnd::FillStore(uint32_t capacity) {
  uint32_t total = 0;
  for (const StreamStore::WriteSpan& span : m_stream.PrepareWrite(capacity)) {
    if (span.size == 0) continue;
    const auto size = static_cast<uint32_t>(span.size);
    uint32_t committed = 0;
    const uint32_t n = source_.ReadBlock(span.data, size, [&](uint32_t readSoFar) {
      m_stream.Commit(readSoFar - committed);
      committed = readSoFar;
      // After a seek the outputs hold a single piece: hand them each new one
      // at once so a slow disk does not leave them dry.
      wasapi_.Refill();
      xaudio_.Refill();
      if (betweenPieces_) betweenPieces_();
      return !cancelRead_.load();
    });
    m_stream.Commit(n - committed);
    total += n;
    if (n < size || cancelRead_.load()) break;
  }
  return total;
}

void CWaveWnd::StartOutputs() {
  wasapi_.Start();
  xaudio_.Start();
}

void CWaveWnd::StartTimer() {
  if (timer_ != 0) return;
  ticks_ = 0;
  ticksSinceFill_ = 0;
  endOfData_.store(false);
  xaudio_.SetEndFlag(false);
  clockStart_ = timers_.timeGetTime();
  positionStart_ = position_.load();
  timer_ = timers_.timeSetEvent(100, 10, &CWaveWnd::TickThunk, this);
}

void CWaveWnd::KillTimer() {
  if (timer_ == 0) return;
  cancelRead_.store(true);
  timers_.timeKillEvent(timer_);
  timer_ = 0;
  cancelRead_.store(false);
}

uint32_t CWaveWnd::PositionAfter(uint32_t elapsedMs) const {
  const uint64_t p = positionStart_ + uint64_t{elapsedMs} * bytesPerSecond_.load() / 1000;
  return static_cast<uint32_t>(std::min<uint64_t>(p, UINT32_MAX));
}

bool CWaveWnd::Play() {
  if (!loaded_.load()) return false;
  StartOutputs();
  UpdatePositionDisplay();
  playing_.store(true);
  StartTimer();
  return true;
}

void CWaveWnd::Pause() {
  if (!loaded_.load()) return;
  if (timer_ != 0) {
    KillTimer();
    // Counted up to the pause itself, not only up to the last tick.
    position_.store(PositionAfter(timers_.timeGetTime() - clockStart_));
    // Outputs that lost their place in the store come back where the clock is.
    const uint32_t played = position_.load();
    m_stream.SetLivePos(played > storeOrigin_ ? played - storeOrigin_ : 0);
    m_stream.RejoinWaiting();
  }
  wasapi_.Stop();
  xaudio_.Stop();
}

void CWaveWnd::Resume() {
  if (!loaded_.load()) return;
  StartOutputs();
  StartTimer();
}

void CWaveWnd::Seek(uint32_t offset) {
  if (!loaded_.load()) return;
  Pause();
  const uint32_t align = source_.BlockAlign();
  offset = align * (offset / align);
  source_.SeekData(offset);
  position_.store(offset);
  // The outputs let go of every queued byte before the store is refilled.
  wasapi_.Flush();
  xaudio_.Flush();
  m_stream.Reset();
  storeOrigin_ = offset;
  if (ReadIntoStore(secondSize_, ReadKind::kSeek) == 0) {
    ReportMessage(kWaveReadFailed);
    UpdatePositionDisplay();
    return;
  }
  seekBlockOpen_.store(true);
  wasapi_.Prefill();
  xaudio_.Prefill();
  UpdatePositionDisplay();
  if (playing_.load() && !paused_.load()) Resume();
}

void CWaveWnd::Unload() {
  Close();
  channelData_[6] = 0;
  channelData_[7] = 0;
}

void CWaveWnd::Close() {
  KillTimer();
  seekBlockOpen_.store(false);
  wasapi_.Close();
  xaudio_.Silence();
  source_.CloseWaveFile();
  playing_.store(false);
  loaded_.store(false);
  endOfData_.store(false);
  xaudio_.ReleaseVoices();
  m_stream.Release();
}

void CWaveWnd::TickThunk(TimerService::TimerId, void* user) {
  static_cast<CWaveWnd*>(user)->OnTick();
}

void CWaveWnd::OnTick() {
  wasapi_.Refill();
  xaudio_.Refill();
  if (ticks_ == 0 || ticksSinceFill_ * 100 > halfPeriod_ * 1000) {
    ticksSinceFill_ = FillNextBlock() ? 0 : ticksSinceFill_ + 1;
  } else {
    ++ticksSinceFill_;
  }
  ++ticks_;
  // From the clock, not a count of ticks: ticks may come late or be dropped.
  position_.store(PositionAfter(timers_.timeGetTime() - clockStart_));
  // Outputs that lost their place in the store come back where the clock is.
  const uint32_t played = position_.load();
  m_stream.SetLivePos(played > storeOrigin_ ? played - storeOrigin_ : 0);
  m_stream.RejoinWaiting();
  if (endOfData_.load() && position_.load() >= dataSize_.load()) {
    // Posted again on every tick until the owner closes the player.
    const int channel = channel_;
    poster_.Post([handler = onEndOfFile_, channel] {
      if (handler) handler(channel);
    });
  }
  UpdatePositionDisplay();
}

bool CWaveWnd::FillNextBlock() {
  // Fades with reading blocked come first; the fill waits for the next turn.
  // Not the block a seek began, though: the outputs hold one piece of it.
  if (g_fadeMask.load() != 0 && !seekBlockOpen_.load()) return true;
  if (fillRunning_.exchange(true)) return true;
  const uint32_t remaining = source_.Remaining();
  const uint32_t need = std::min(secondSize_, remaining);
  if (remaining > 0 && m_stream.FreeSpace() < need) {
    // An output more than a block behind the clock has stopped pulling: it
    // loses its place rather than hold every other output back.
    const uint64_t slack = bytesPerSecond_.load() / 2;
    m_stream.DropLaggingReaders(need, std::max(firstSize_, secondSize_) + slack);
  }
  if (remaining > 0 && m_stream.FreeSpace() < need) {
    // The outputs still hold the bytes this block would overwrite.
    fillRunning_.store(false);
    return false;
  }
  // A read cut short by the UI thread has at least its first piece, so only
  // the end of the data reads nothing.
  if (ReadIntoStore(secondSize_, ReadKind::kFill) == 0) {
    endOfData_.store(true);
    xaudio_.SetEndFlag(true);
  }
  if (!cancelRead_.load()) seekBlockOpen_.store(false);
  fillRunning_.store(false);
  return true;
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
