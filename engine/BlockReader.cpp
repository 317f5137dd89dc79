#include "engine/BlockReader.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "output/mixer/WaveXAudio.h"

namespace orvex {

uint32_t BlockBytes(uint32_t bytesPerSecond, int seconds, uint32_t blockAlign) {
  const uint64_t align = std::max<uint32_t>(blockAlign, 1);
  const uint64_t bytes = uint64_t{bytesPerSecond} * static_cast<uint32_t>(std::max(seconds, 0));
  const uint64_t blocks = std::max<uint64_t>(bytes / align, 1);
  return static_cast<uint32_t>(std::min<uint64_t>(blocks * align, 0x7FFFFFFFu));
}

namespace {

// Pieces read ahead of the player's side at the most: the reader waits for
// room beyond them, so a block costs a few pieces of memory on top of the
// store and the same buffers go round instead of fresh ones per piece.
constexpr size_t kMaxInFlight = 8;
// Buffers kept for reuse: every piece in flight and the one being read.
constexpr size_t kMaxSpares = kMaxInFlight + 1;

struct Piece {
  uint64_t generation = 0;
  std::vector<uint8_t> bytes;  // a reused buffer: only `size` bytes count
  size_t size = 0;
  size_t taken = 0;  // already in the store
  bool last = false;
  bool end = false;
  bool failed = false;
};

struct Request {
  enum class Kind { kOpen, kSeek, kRead, kClose } kind = Kind::kRead;
  uint64_t generation = 0;
  std::string path;
  int firstSeconds = 0;
  uint32_t offset = 0;
  uint32_t bytes = 0;
};

}  // namespace

// Shared by the owner and every worker, also one the owner has abandoned, so
// a late worker finds it still there. The owner detaches itself by clearing
// onNews; from then on nothing a worker delivers reaches anyone.
struct BlockReader::Mailbox : std::enable_shared_from_this<Mailbox> {
  std::mutex mutex;
  std::atomic<uint64_t> generation{0};  // written under mutex
  std::optional<std::pair<uint64_t, Opened>> opened;
  std::deque<Piece> pieces;
  std::condition_variable room;  // pieces left the queue, or the generation moved on
  std::vector<std::vector<uint8_t>> spares;
  UiPoster* poster = nullptr;
  std::function<void()> onNews;  // UI thread; empty once the owner has gone
  std::function<void()> pieceHook;

  bool Current(uint64_t g) const { return generation.load(std::memory_order_acquire) == g; }

  // Posts the owner's news handler to the UI thread. Called under mutex, so
  // an owner that has detached itself is never reached.
  void NewsLocked() {
    if (!onNews || poster == nullptr) return;
    poster->Post([weak = weak_from_this()] {
      const std::shared_ptr<Mailbox> m = weak.lock();
      if (!m) return;
      // Looked up when the task runs: an owner gone meanwhile has cleared it.
      std::function<void()> handler;
      {
        std::lock_guard lock(m->mutex);
        handler = m->onNews;
      }
      if (handler) handler();
    });
  }
};

// One reader thread's state: its requests and the file it reads. The thread
// holds it (and the mailbox) for as long as it runs.
struct BlockReader::Worker {
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<Request> requests;
  bool busy = false;  // inside a request
  // Inside a request, waiting for the player's side to take pieces: as good
  // as idle to those who wait for the reader.
  bool waitingForRoom = false;
  bool stop = false;
  std::shared_ptr<Mailbox> mail;
  CWaveSource source{-1};

  void Run();
  void Execute(const Request& r);
  void ReadPieces(uint64_t generation, uint32_t bytes, bool announce);
  // Waits while kMaxInFlight pieces of this generation wait to be taken.
  void AwaitRoom(uint64_t generation);
  // Queues a finished piece if its generation is still current.
  void Deliver(Piece piece, bool news);
  std::vector<uint8_t> TakeSpare();
};

void BlockReader::Worker::Run() {
  source.SetReportsMessages(false);
  for (;;) {
    Request r;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [&] { return stop || !requests.empty(); });
      if (stop) break;
      r = std::move(requests.front());
      requests.pop_front();
      busy = true;
    }
    if (mail->Current(r.generation)) {
      {
        std::lock_guard lock(mail->mutex);
        source.SetPieceReadHook(mail->pieceHook);
      }
      Execute(r);
    }
    {
      std::lock_guard lock(mutex);
      busy = false;
    }
    idle.notify_all();
  }
  // The file closes here, on this thread: a close that hangs too holds no
  // one up.
  source.CloseWaveFile();
  std::lock_guard lock(mutex);
  busy = false;
  idle.notify_all();
}

void BlockReader::Worker::Execute(const Request& r) {
  switch (r.kind) {
    case Request::Kind::kClose:
      source.CloseWaveFile();
      return;
    case Request::Kind::kOpen: {
      Opened o;
      bool ok = source.OpenWaveFile(r.path);
      if (ok) {
        const uint32_t bps = source.BytesPerSecond();
        if (bps == 0 || source.BlockAlign() == 0 || !mixer::IsPlayableFormat(source.Format())) {
          // Nothing could be timed or played from such a header (12-bit
          // samples, a frame size that does not match the channels): refused
          // before any output is opened for it.
          source.CloseWaveFile();
          ok = false;
          o.error = WaveOpenError::kNoFormat;
          o.message = kWaveNoFormat;
        } else {
          o.format = source.Format();
          o.dataSize = source.DataSize();
        }
      } else {
        o.error = source.LastOpenError();
        o.message = source.RefusalMessage();
        o.openErrno = source.OpenErrno();
      }
      {
        std::lock_guard lock(mail->mutex);
        if (!mail->Current(r.generation)) return;
        mail->opened.emplace(r.generation, o);
        mail->NewsLocked();
      }
      if (ok) {
        ReadPieces(r.generation,
                   BlockBytes(source.BytesPerSecond(), r.firstSeconds, source.BlockAlign()), true);
      }
      return;
    }
    case Request::Kind::kSeek:
      if (!source.SeekData(r.offset)) {
        Deliver(Piece{r.generation, TakeSpare(), 0, 0, true, true, true}, true);
        return;
      }
      ReadPieces(r.generation, r.bytes, true);
      return;
    case Request::Kind::kRead:
      ReadPieces(r.generation, r.bytes, false);
      return;
  }
}

void BlockReader::Worker::ReadPieces(uint64_t generation, uint32_t bytes, bool announce) {
  const uint64_t align = std::max<uint16_t>(source.BlockAlign(), 1);
  // Whole frames per piece, so the first piece alone can start the outputs.
  const uint64_t piece = std::max<uint64_t>(source.PieceBytes() / align, 1) * align;
  uint32_t left = bytes;
  bool first = true;
  for (;;) {
    AwaitRoom(generation);
    // A newer request took over: what this one would read is not wanted.
    if (!mail->Current(generation)) return;
    std::vector<uint8_t> buf = TakeSpare();
    const auto want = static_cast<uint32_t>(std::min<uint64_t>(piece, left));
    if (buf.size() < want) buf.resize(want);
    const uint32_t got = want == 0 ? 0 : source.ReadBlock(buf.data(), want);
    left -= got;
    Piece p;
    p.generation = generation;
    p.bytes = std::move(buf);
    p.size = got;
    // Short: the file ended, possibly before the data chunk's size.
    p.end = got < want || source.Remaining() == 0;
    p.last = p.end || left == 0;
    // The first read of a block the outputs wait for found nothing.
    p.failed = announce && first && got == 0;
    const bool news = announce && (first || p.last);
    const bool last = p.last;
    Deliver(std::move(p), news);
    if (last) return;
    first = false;
  }
}

void BlockReader::Worker::AwaitRoom(uint64_t generation) {
  std::unique_lock lock(mail->mutex);
  const auto full = [&] {
    return mail->pieces.size() >= kMaxInFlight && mail->Current(generation);
  };
  while (full()) {
    {
      std::lock_guard state(mutex);
      waitingForRoom = true;
    }
    idle.notify_all();
    // The player's side takes pieces on its news while its tick is stopped.
    mail->NewsLocked();
    mail->room.wait(lock, [&] { return !full(); });
  }
  // Room made by the player's side was marked there, before this thread
  // woke, so nobody takes the reader for idle while it reads on. A newer
  // request is marked here: it finds this one ending, not idle.
  if (!mail->Current(generation)) {
    std::lock_guard state(mutex);
    waitingForRoom = false;
  }
}

void BlockReader::Worker::Deliver(Piece piece, bool news) {
  std::lock_guard lock(mail->mutex);
  if (!mail->Current(piece.generation)) {
    if (mail->spares.size() < kMaxSpares) mail->spares.push_back(std::move(piece.bytes));
    return;
  }
  mail->pieces.push_back(std::move(piece));
  if (news) mail->NewsLocked();
}

std::vector<uint8_t> BlockReader::Worker::TakeSpare() {
  std::lock_guard lock(mail->mutex);
  if (mail->spares.empty()) return {};
  std::vector<uint8_t> buf = std::move(mail->spares.back());
  mail->spares.pop_back();
  return buf;
}

BlockReader::BlockReader(UiPoster& poster, std::function<void()> onNews)
    : mail_(std::make_shared<Mailbox>()) {
  mail_->poster = &poster;
  mail_->onNews = std::move(onNews);
}

BlockReader::~BlockReader() {
  {
    std::lock_guard lock(mail_->mutex);
    mail_->generation.fetch_add(1, std::memory_order_acq_rel);
    mail_->room.notify_all();
    mail_->onNews = nullptr;
    mail_->poster = nullptr;
    mail_->pieces.clear();
    mail_->opened.reset();
  }
  AbandonWorker();
}

uint64_t BlockReader::NewGeneration() {
  std::lock_guard lock(mail_->mutex);
  const uint64_t g = mail_->generation.load(std::memory_order_relaxed) + 1;
  mail_->generation.store(g, std::memory_order_release);
  for (Piece& p : mail_->pieces)
    if (mail_->spares.size() < kMaxSpares) mail_->spares.push_back(std::move(p.bytes));
  mail_->pieces.clear();
  mail_->opened.reset();
  mail_->room.notify_all();
  return g;
}

void BlockReader::StartWorker() {
  worker_ = std::make_shared<Worker>();
  worker_->mail = mail_;
  thread_ = std::thread([w = worker_] { w->Run(); });
}

void BlockReader::AbandonWorker() {
  if (!worker_) return;
  bool busy = false;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->stop = true;
    worker_->requests.clear();
    busy = worker_->busy;
  }
  worker_->wake.notify_all();
  // An idle thread wakes, sees stop and ends at once: joined. One inside a
  // request may hang there for good (an open of a FIFO blocks until a writer
  // comes): detached, it keeps its state alive and ends when the call
  // returns, and the process may end while it hangs.
  if (busy) {
    thread_.detach();
  } else {
    thread_.join();
  }
  worker_.reset();
}

void BlockReader::Open(const std::string& path, int firstSeconds) {
  Request r;
  r.kind = Request::Kind::kOpen;
  r.generation = NewGeneration();
  r.path = path;
  r.firstSeconds = firstSeconds;
  if (worker_) {
    std::unique_lock lock(worker_->mutex);
    // One waiting for room has seen the new generation and is ending its read.
    if (!worker_->busy || worker_->waitingForRoom) {
      worker_->requests.clear();
      worker_->requests.push_back(std::move(r));
      lock.unlock();
      worker_->wake.notify_all();
      return;
    }
  }
  // The thread is still inside an earlier request and may hang there: the new
  // file does not wait behind it.
  AbandonWorker();
  StartWorker();
  {
    std::lock_guard lock(worker_->mutex);
    worker_->requests.push_back(std::move(r));
  }
  worker_->wake.notify_all();
}

void BlockReader::Seek(uint32_t offset, uint32_t bytes) {
  Request r;
  r.kind = Request::Kind::kSeek;
  r.generation = NewGeneration();
  r.offset = offset;
  r.bytes = bytes;
  if (!worker_) return;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->requests.clear();
    worker_->requests.push_back(std::move(r));
  }
  worker_->wake.notify_all();
}

void BlockReader::Read(uint32_t bytes) {
  if (!worker_) return;
  Request r;
  r.kind = Request::Kind::kRead;
  r.generation = mail_->generation.load(std::memory_order_acquire);
  r.bytes = bytes;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->requests.push_back(std::move(r));
  }
  worker_->wake.notify_all();
}

void BlockReader::Close() {
  Request r;
  r.kind = Request::Kind::kClose;
  r.generation = NewGeneration();
  if (!worker_) return;
  {
    std::lock_guard lock(worker_->mutex);
    worker_->requests.clear();
    worker_->requests.push_back(std::move(r));
  }
  worker_->wake.notify_all();
}

std::optional<BlockReader::Opened> BlockReader::TakeOpened() {
  std::lock_guard lock(mail_->mutex);
  if (!mail_->opened || !mail_->Current(mail_->opened->first)) return std::nullopt;
  Opened o = mail_->opened->second;
  mail_->opened.reset();
  return o;
}

BlockReader::Drained BlockReader::DrainInto(StreamStore& store) {
  Drained d;
  bool tookAny = false;
  for (;;) {
    Piece p;
    {
      std::lock_guard lock(mail_->mutex);
      if (mail_->pieces.empty()) break;
      p = std::move(mail_->pieces.front());
      mail_->pieces.pop_front();
    }
    // Copied outside the lock: the reader thread queues its next piece
    // meanwhile.
    const size_t put = std::min(p.size - p.taken, store.FreeSpace());
    size_t done = 0;
    for (const StreamStore::WriteSpan& span : store.PrepareWrite(put)) {
      if (span.size == 0) continue;
      std::memcpy(span.data, p.bytes.data() + p.taken + done, span.size);
      done += span.size;
    }
    store.Commit(done);
    p.taken += done;
    d.bytes += done;
    std::lock_guard lock(mail_->mutex);
    if (p.taken < p.size) {
      // No room yet: the rest goes in first next time.
      mail_->pieces.push_front(std::move(p));
      break;
    }
    d.lastOfRequest |= p.last;
    d.end |= p.end;
    d.failed |= p.failed;
    if (mail_->spares.size() < kMaxSpares) mail_->spares.push_back(std::move(p.bytes));
    tookAny = true;
  }
  if (tookAny) {
    // Marked before the reader wakes: see AwaitRoom.
    if (worker_) {
      std::lock_guard state(worker_->mutex);
      worker_->waitingForRoom = false;
    }
    mail_->room.notify_all();
  }
  return d;
}

bool BlockReader::WaitIdle(std::chrono::milliseconds timeout) {
  if (!worker_) return true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    bool waiting = false;
    {
      std::unique_lock lock(worker_->mutex);
      if (!worker_->idle.wait_until(lock, deadline, [&] {
            return (!worker_->busy || worker_->waitingForRoom) && worker_->requests.empty();
          }))
        return false;
      waiting = worker_->busy;
    }
    if (!waiting) return true;
    // Waiting for room counts only while the pieces it waits behind are
    // there: one just woken by a drain reads on.
    std::lock_guard lock(mail_->mutex);
    if (mail_->pieces.size() >= kMaxInFlight) return true;
    std::this_thread::yield();
  }
}

void BlockReader::SetPieceReadHook(std::function<void()> hook) {
  std::lock_guard lock(mail_->mutex);
  mail_->pieceHook = std::move(hook);
}

}  // namespace orvex
