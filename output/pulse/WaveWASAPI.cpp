#include "output/pulse/WaveWASAPI.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace orvex {
namespace {
// Room left for a rewrite to reach the server before it plays there.
constexpr uint32_t kFadeMarginMs = 20;
// A pause's fade gets more: a busy machine may hold the write back some
// 20 ms, and a fade that arrives late is cut off mid-wave, where a fader
// glide that arrives late only steps a little.
constexpr uint32_t kPauseMarginMs = 40;
// A stream that has caught up while more data is to follow keeps a fifth of
// its buffer (60 ms) queued, with silence if need be.
constexpr size_t kFollowKeepDivisor = 5;
constexpr uint32_t kFadeMs = 10;
// A start is only moved while the server is this far before its sound.
constexpr uint32_t kMoveMarginMs = 5;
// A queue that ends this close to where the server plays may already have
// run dry: nothing is cut in after it.
constexpr uint32_t kDryMarginMs = 5;

// The players whose streams began in this thread's StartTogether.
thread_local int t_togetherDepth = 0;
thread_local std::vector<CWaveWASAPI*> t_startedTogether;
}  // namespace

CWaveWASAPI::StartTogether::StartTogether() {
  uncorks_.emplace();
  ++t_togetherDepth;
}

CWaveWASAPI::StartTogether::~StartTogether() {
  --t_togetherDepth;
  uncorks_.reset();  // the outermost one sends every uncork
  if (t_togetherDepth > 0) return;
  std::vector<CWaveWASAPI*> players;
  players.swap(t_startedTogether);
  AlignStarts(players);
}

CWaveWASAPI::~CWaveWASAPI() {
  Close();
  std::erase(t_startedTogether, this);
}

void CWaveWASAPI::AlignStarts(const std::vector<CWaveWASAPI*>& players) {
  std::vector<Started> started;
  for (CWaveWASAPI* p : players) p->MeasureStarted(started);
  // On each sink the others wait for the stream that started last.
  for (const Started& s : started) {
    double last = s.heardFirstAt;
    for (const Started& t : started)
      if (t.sink == s.sink) last = std::max(last, t.heardFirstAt);
    const auto frames = static_cast<int64_t>(std::lround((last - s.heardFirstAt) * s.rate));
    if (frames > 0) s.owner->DelayStart(s.output, frames);
  }
}

void CWaveWASAPI::MeasureStarted(std::vector<Started>& into) {
  std::lock_guard lock(mutex_);
  for (int n = 0; n < kOutputs; ++n) {
    Out& o = outs_[static_cast<size_t>(n)];
    double first = 0;
    if (!o.startHeld || !o.client || !o.client->HeardFirstAt(first)) continue;
    into.push_back({this, n, o.endpoint->id, first, format_.samplesPerSec});
  }
}

bool CWaveWASAPI::DelayStart(int output, int64_t frames) {
  std::lock_guard lock(mutex_);
  Out& o = outs_[static_cast<size_t>(output)];
  if (!o.startHeld) return false;
  o.startHeld = false;
  // Only a fresh start: the lead-in, then what followed it.
  if (!o.client || o.stopped || o.segments.size() < 2) return false;
  const Segment lead = o.segments[0], first = o.segments[1];
  if (lead.index != 0 || !lead.silence || first.index != static_cast<int64_t>(lead.bytes))
    return false;
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  const int64_t bytesPerMs = int64_t{format_.samplesPerSec} * align / 1000;
  const auto shift = static_cast<size_t>(frames) * align;
  int64_t played = 0;
  if (shift > scratch_.size() || !o.client->PlayedIndex(played) ||
      played + kMoveMarginMs * bytesPerMs > first.index)
    return false;
  const int64_t end = o.client->WriteIndex();
  // Silence where the sound began, and the sound again from there on, as
  // it was written the first time (the fade-in from its first frame).
  std::memset(scratch_.data(), format_.bitsPerSample == 8 ? 0x80 : 0, shift);
  if (!o.client->Write(scratch_.data(), shift, first.index)) return false;
  o.segments.clear();
  o.segments.push_back(lead);
  o.segments.push_back({first.index, first.pos, shift, true, {}, {}});
  o.readPos = first.pos;
  o.gain.left = first.left;
  o.gain.right = first.right;
  o.resumeAt = first.index + static_cast<int64_t>(shift);
  WriteFrom(o, static_cast<size_t>(end - first.index));
  return true;
}

void CWaveWASAPI::SetStream(StreamStore* stream) {
  std::lock_guard lock(mutex_);
  stream_ = stream;
}

void CWaveWASAPI::SetDevice(int output, const WasapiEndpoint* endpoint) {
  if (output < 0 || output >= kOutputs) return;
  std::lock_guard lock(mutex_);
  Out& o = outs_[static_cast<size_t>(output)];
  if (!endpoint) CloseOutput(o);
  o.endpoint = endpoint;
}

bool CWaveWASAPI::OpenStreams(const WaveFormat& format, uint32_t bufferSeconds) {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) CloseOutput(o);
  format_ = format;
  started_ = paused_ = false;
  opened_ = true;
  const uint32_t bufferMs =
      bufferSeconds > 0 ? std::min(kBufferMs, bufferSeconds * 1000) : kBufferMs;
  bufferMs_ = bufferMs;
  size_t biggest = 0;
  bool all = true;
  for (int n = 0; n < kOutputs; ++n) {
    Out& o = outs_[static_cast<size_t>(n)];
    if (!o.endpoint || !o.endpoint->server) continue;
    auto client = std::make_unique<pulse::PulsePlayStream>();
    if (!client->Open(*o.endpoint->server, o.endpoint->id, format, bufferMs)) {
      all = false;  // this output stays silent for the file
      continue;
    }
    biggest = std::max(biggest, client->BufferBytes());
    TakeClient(o, std::move(client));
  }
  // Room for a rewrite of all a stream holds: its buffer, and what the
  // server has taken from it and not yet played.
  scratch_.assign(2 * biggest + format.blockAlign, 0);
  return all;
}

void CWaveWASAPI::TakeClient(Out& o, std::unique_ptr<pulse::PulsePlayStream> client) {
  o.client = std::move(client);
  o.reader = stream_ ? stream_->OpenReader() : -1;
  o.readPos = 0;
  o.lost = false;
  o.gain.rampFrames = std::max<uint32_t>(format_.samplesPerSec / 100, 1);
  o.gain.Silence();  // every start fades in from silence
  o.stopped = false;
  o.resumeAt = -1;
  o.startHeld = false;
  o.segments.clear();
}

bool CWaveWASAPI::Reopen(int output) {
  if (output < 0 || output >= kOutputs) return false;
  std::lock_guard lock(mutex_);
  Out& o = outs_[static_cast<size_t>(output)];
  if (!opened_ || o.client || !o.endpoint || !o.endpoint->server) return false;
  auto client = std::make_unique<pulse::PulsePlayStream>();
  if (!client->Open(*o.endpoint->server, o.endpoint->id, format_, bufferMs_)) return false;
  const size_t room = 2 * client->BufferBytes() + format_.blockAlign;
  if (scratch_.size() < room) scratch_.assign(room, 0);
  TakeClient(o, std::move(client));
  if (!started_) {
    // Waiting for its start: filled from the beginning, as at the load.
    WriteLeadIn(o);
    WriteFrom(o, o.client->BufferBytes());
    return true;
  }
  // The player's clock went on meanwhile: the store puts this reader back
  // where it is, and the stream plays silence until then.
  if (stream_ && o.reader >= 0) stream_->LosePlace(o.reader);
  WriteLeadIn(o);
  WriteFrom(o, o.client->BufferBytes());
  o.stopped = paused_;  // a paused player's resume writes from where it is
  o.client->Cork(false);
  return true;
}

void CWaveWASAPI::CloseOutput(Out& o) {
  if (o.client) {
    o.client->Cork(true);
    o.client->Flush();
    o.client->Close();
    o.client.reset();
  }
  if (stream_ && o.reader >= 0) stream_->CloseReader(o.reader);
  o.reader = -1;
  o.readPos = 0;
  o.lost = false;
  o.startHeld = false;
}

void CWaveWASAPI::WriteFrom(Out& o, size_t bytes) {
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  bytes = std::min(bytes, scratch_.size()) / align * align;
  if (bytes == 0) return;
  size_t got = 0;
  uint64_t startPos = o.readPos;
  if (stream_ && o.reader >= 0 && stream_->IsLost(o.reader)) {
    // Fell behind while the server did not pull: silence until the player
    // puts the stream back at the live position.
    stream_->AskToRejoin(o.reader);
    o.lost = true;
  } else if (stream_ && o.reader >= 0) {
    if (o.lost) {
      o.readPos = stream_->ReaderPos(o.reader);
      o.lost = false;
      startPos = o.readPos;
    }
    for (const StreamStore::Span& s : stream_->Region(o.readPos, bytes)) {
      if (s.size == 0) continue;
      std::memcpy(scratch_.data() + got, s.data, s.size);
      got += s.size;
    }
    got = got / align * align;
    o.readPos += got;
    // Bytes the server has not played may still be faded out on a stop.
    const uint64_t hold = 2 * o.client->BufferBytes();
    stream_->SetReaderPos(o.reader, o.readPos > hold ? o.readPos - hold : 0);
  }
  const bool silence = got == 0;
  if (got == 0) {
    // Caught up with the player: keep the stream fed with silence. With
    // more to follow at once (the next file of a list), no more than keeps
    // the server from running dry, so that it is heard on time.
    if (!endFlag_.load() && !o.lost) {
      const size_t queued = o.client->BufferBytes() - std::min(bytes, o.client->BufferBytes());
      const size_t keep = o.client->BufferBytes() / kFollowKeepDivisor;
      if (queued >= keep) return;
      bytes = std::max<size_t>((keep - queued) / align, 1) * align;
    }
    std::memset(scratch_.data(), format_.bitsPerSample == 8 ? 0x80 : 0, bytes);
    got = bytes;
  }
  o.gain.Retarget();
  const GainRamp left = o.gain.left, right = o.gain.right;
  o.gain.Scale(scratch_.data(), got / align, format_);
  // Back at the live position later, the sound must fade in, not jump in.
  if (o.lost) o.gain.Silence();
  // Appends go where the server expects them; only a resume after a fade
  // writes at a given place.
  const int64_t at = o.resumeAt >= 0 ? o.resumeAt : o.client->WriteIndex();
  const bool placed = o.resumeAt >= 0;
  o.resumeAt = -1;
  if (!o.client->Write(scratch_.data(), got, placed ? at : -1)) return;
  AddSegment(o, {at, startPos, got, silence, left, right});
}

void CWaveWASAPI::AddSegment(Out& o, const Segment& seg) {
  std::vector<Segment>& list = o.segments;
  while (!list.empty() && list.back().index >= seg.index) list.pop_back();
  if (!list.empty()) {
    Segment& last = list.back();
    last.bytes = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(last.bytes), seg.index - last.index));
  }
  // What lies a few buffers back has long been played.
  if (list.size() >= 32) list.erase(list.begin(), list.begin() + 16);
  list.push_back(seg);
}

const CWaveWASAPI::Segment* CWaveWASAPI::SegmentAt(const Out& o, int64_t at) {
  for (const Segment& s : o.segments)
    if (s.bytes > 0 && at >= s.index && at < s.index + static_cast<int64_t>(s.bytes)) return &s;
  return nullptr;
}

void CWaveWASAPI::RampsAt(const Segment& seg, int64_t at, GainRamp& left, GainRamp& right) const {
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  left = seg.left;
  right = seg.right;
  for (int64_t f = (at - seg.index) / align; f > 0 && (left.Ramping() || right.Ramping()); --f) {
    left.Next();
    right.Next();
  }
  if (!left.Ramping()) left.current = left.target;
  if (!right.Ramping()) right.current = right.target;
}

void CWaveWASAPI::Regain(Out& o) {
  if (!o.client || o.stopped || !stream_ || o.reader < 0 || o.lost) return;
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  const int64_t end = o.client->WriteIndex();
  int64_t read = 0;
  if (!o.client->PlayedIndexNow(read) || end < 0) return;
  const int64_t bytesPerMs = int64_t{format_.samplesPerSec} * align / 1000;
  const int64_t margin = kFadeMarginMs * bytesPerMs;
  // The clock carried forward runs ahead of a server that fell behind: ask
  // it afresh before taking the queue for played.
  if (read + margin >= end && !o.client->PlayedIndex(read)) return;
  int64_t from = std::max<int64_t>(read, 0) + margin;
  from -= from % align;
  // Nothing queued past the margin: the next write takes the new gains.
  const Segment* first = SegmentAt(o, from);
  if (from >= end || !first || static_cast<size_t>(end - from) > scratch_.size()) return;
  StreamGain g;
  RampsAt(*first, from, g.left, g.right);
  g.rampFrames = o.gain.rampFrames;
  g.targetLeft.store(o.gain.targetLeft.load());
  g.targetRight.store(o.gain.targetRight.load());
  g.Retarget();
  std::vector<Segment> rewritten;
  size_t filled = 0;
  for (const Segment& seg : o.segments) {
    const int64_t segEnd = seg.index + static_cast<int64_t>(seg.bytes);
    const int64_t a = std::max(seg.index, from), b = std::min(segEnd, end);
    if (b <= a) continue;
    const auto n = static_cast<size_t>(b - a);
    // A resume soon after a pause: its fade stays as it was written.
    if (seg.fixed) return;
    const uint64_t pos = seg.pos + static_cast<uint64_t>(a - seg.index);
    rewritten.push_back({a, pos, n, seg.silence, g.left, g.right});
    uint8_t* out = scratch_.data() + filled;
    if (seg.silence) {
      std::memset(out, format_.bitsPerSample == 8 ? 0x80 : 0, n);
    } else {
      size_t got = 0;
      for (const StreamStore::Span& sp : stream_->Region(pos, n)) {
        if (sp.size == 0) continue;
        std::memcpy(out + got, sp.data, sp.size);
        got += sp.size;
      }
      // The store no longer holds these bytes: leave the queue as it is.
      if (got < n) return;
    }
    g.Scale(out, n / align, format_);
    filled += n;
  }
  // Only the whole queue, so what follows stays in step with the notes.
  if (filled != static_cast<size_t>(end - from)) return;
  if (!o.client->Write(scratch_.data(), filled, from)) return;
  for (const Segment& seg : rewritten) AddSegment(o, seg);
  // Appends go on from where the rewrite left the ramps.
  o.gain.left = g.left;
  o.gain.right = g.right;
}

void CWaveWASAPI::FadeOut(Out& o) {
  o.stopped = true;
  int64_t read = 0;
  const int64_t end = o.client->WriteIndex();
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  if (!o.client->PlayedIndex(read) || end < 0) return;
  const int64_t bytesPerMs = int64_t{format_.samplesPerSec} * align / 1000;
  int64_t from = read + kPauseMarginMs * bytesPerMs;
  from -= from % align;
  const size_t fadeBytes = size_t(kFadeMs * bytesPerMs) / align * align;
  // The queue ends within the margin (a refill is due): what it holds plays
  // out and the fade follows it, from the gains the appends left, instead of
  // the stream running dry mid-wave.
  const bool after = from >= end;
  if (after) from = end;
  if (after && end < read + kDryMarginMs * bytesPerMs) {
    // The server may be past the end before a fade arrives, and a fade cut
    // in after silence would click: the stream runs dry, and a resume
    // fades in from silence.
    o.resumeAt = end;
    o.gain.Silence();
    return;
  }
  const Segment* seg = after ? nullptr : SegmentAt(o, from);
  const size_t total = std::min<size_t>(
      after ? fadeBytes + kFadeMarginMs * bytesPerMs : static_cast<size_t>(end - from),
      scratch_.size());
  const size_t fade = std::min(total, fadeBytes);
  std::memset(scratch_.data(), format_.bitsPerSample == 8 ? 0x80 : 0, total);
  uint64_t resumePos = o.readPos;
  const Segment* last = o.segments.empty() ? nullptr : &o.segments.back();
  const bool sounding = after ? last && !last->silence && !o.lost : seg && !seg->silence;
  if (sounding && stream_) {
    const uint64_t pos = after ? o.readPos : seg->pos + static_cast<uint64_t>(from - seg->index);
    size_t got = 0;
    for (const StreamStore::Span& sp : stream_->Region(pos, fade)) {
      if (sp.size == 0) continue;
      std::memcpy(scratch_.data() + got, sp.data, sp.size);
      got += sp.size;
    }
    // From the gain the server plays at `from`, which the newest writes may
    // have left behind: the segment's ramps followed up to there.
    GainRamp left = o.gain.left, right = o.gain.right;
    if (!after) RampsAt(*seg, from, left, right);
    StreamGain down;  // to silence
    down.left.Set(left.current);
    down.right.Set(right.current);
    down.rampFrames = static_cast<uint32_t>(std::max<size_t>(fade / align, 1));
    down.Apply(scratch_.data(), got / align, format_);
    resumePos = pos + got;
  }
  if (o.client->Write(scratch_.data(), total, from))
    AddSegment(o, {from, resumePos, total, true, {}, {}, true});
  o.resumeAt = from + static_cast<int64_t>(fade);
  // Playing on starts where the fade left off, fading in again.
  o.readPos = resumePos;
  o.gain.Silence();
}

void CWaveWASAPI::PrepareResume(Out& o) {
  if (!o.stopped) return;
  o.stopped = false;
  int64_t read = 0;
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  const int64_t margin = int64_t{format_.samplesPerSec} * align * kFadeMarginMs / 1000;
  if (o.resumeAt >= 0 && o.client->PlayedIndex(read) && o.resumeAt >= read + margin) return;
  // The server has played past the fade: what it holds is silence.
  o.client->Flush();
  o.resumeAt = -1;
}

void CWaveWASAPI::WriteLeadIn(Out& o) {
  // The server may skip the first moments of what is written where it
  // plays now (a stream it starts, or one flushed on a resume); let them be
  // silence so the fade-in is heard whole.
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  const size_t lead = std::min(scratch_.size(), size_t{format_.samplesPerSec} / 50 * align);
  std::memset(scratch_.data(), format_.bitsPerSample == 8 ? 0x80 : 0, lead);
  if (o.client->Write(scratch_.data(), lead, -1))
    AddSegment(
        o, {o.client->WriteIndex() - static_cast<int64_t>(lead), o.readPos, lead, true, {}, {}});
}

void CWaveWASAPI::Prefill() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    PrepareResume(o);
    if (o.resumeAt < 0) WriteLeadIn(o);
    WriteFrom(o, o.client->BufferBytes());
  }
}

void CWaveWASAPI::Refill() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    if (o.stopped) continue;
    if (!o.client->Healthy()) {
      // A vanished server: stop holding the player's store.
      if (stream_ && o.reader >= 0) stream_->CloseReader(o.reader);
      o.reader = -1;
      continue;
    }
    // Topped up at every tick, not only once half of it has played: with
    // the server's room reported late, waiting for half let the queue run
    // down to some 20 ms, a late tick away from running dry.
    const size_t free = o.client->Writable();
    if (free > o.client->BufferBytes() / 8) WriteFrom(o, free);
  }
}

void CWaveWASAPI::Start() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    if (o.stopped) {
      PrepareResume(o);
      if (o.resumeAt < 0) WriteLeadIn(o);
      WriteFrom(o, o.client->BufferBytes());
    }
    if (!started_) {
      o.client->Cork(false);
      if (t_togetherDepth > 0) {
        o.startHeld = true;
        if (std::find(t_startedTogether.begin(), t_startedTogether.end(), this) ==
            t_startedTogether.end())
          t_startedTogether.push_back(this);
      }
    }
  }
  started_ = true;
  paused_ = false;
}

void CWaveWASAPI::Stop() {
  std::lock_guard lock(mutex_);
  // The stream keeps running: it fades out and then plays silence, so a
  // pause never cuts the sound off mid-wave.
  paused_ = started_;
  for (Out& o : outs_) {
    if (!o.client || o.stopped) continue;
    if (started_) {
      FadeOut(o);
    } else {
      o.client->Flush();  // nothing has sounded yet
      o.stopped = true;
      o.gain.Silence();
    }
  }
}

void CWaveWASAPI::Flush() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    // A stopped stream holds only its fade and silence, which stay.
    if (!o.stopped) o.client->Flush();
    o.readPos = 0;
    o.lost = false;
    o.segments.clear();
    o.gain.Silence();  // the new position fades in
    if (stream_ && o.reader >= 0) stream_->SetReaderPos(o.reader, 0);
  }
}

void CWaveWASAPI::Close() {
  std::lock_guard lock(mutex_);
  // A sounding stream fades out before it goes, so a stop never clicks. The
  // server closes it once the fade has played; nobody here waits for that.
  for (Out& o : outs_) {
    if (!o.client || !started_ || o.stopped || !o.client->Healthy()) continue;
    FadeOut(o);
    o.endpoint->server->CloseLater(std::move(o.client),
                                   std::chrono::milliseconds(kPauseMarginMs + kFadeMs + 10));
  }
  started_ = paused_ = opened_ = false;
  for (Out& o : outs_) CloseOutput(o);
}

void CWaveWASAPI::SetOutputLevel(int output, float left, float right) {
  if (output < 0 || output >= kOutputs) return;
  std::lock_guard lock(mutex_);
  Out& o = outs_[static_cast<size_t>(output)];
  if (o.gain.targetLeft.load() == left && o.gain.targetRight.load() == right) return;
  o.gain.targetLeft.store(left);
  o.gain.targetRight.store(right);
  if (started_) Regain(o);
}

bool CWaveWASAPI::HasStream(int output) const {
  if (output < 0 || output >= kOutputs) return false;
  std::lock_guard lock(mutex_);
  return outs_[static_cast<size_t>(output)].client != nullptr;
}

bool CWaveWASAPI::AnyStream() const {
  std::lock_guard lock(mutex_);
  return std::any_of(outs_.begin(), outs_.end(), [](const Out& o) { return o.client != nullptr; });
}

}  // namespace orvex
