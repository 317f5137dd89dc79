#include "engine/BlockReader.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "output/mixer/WaveXAudio.h"

namespace orvex {

uint32_t BlockBytes(uint32_t bytesPerSecond, int seconds, uint32_t blockAlign) {
  const uint64_t align = std::max<uint32_t>(blockAlign, 1);
  const uint64_t bytes = uint64_t{bytesPerSecond} * static_cast<uint32_t>(std::max(seconds, 0));
  const uint64_t blocks = std::max<uint64_t>(bytes / align, 1);
  return static_cast<uint32_t>(std::min<uint64_t>(blocks * align, 0x7FFFFFFFu));
}

uint64_t StoreBytes(uint32_t bytesPerSecond, uint32_t blockAlign, int firstSeconds,
                    int secondSeconds) {
  return uint64_t{BlockBytes(bytesPerSecond, firstSeconds, blockAlign)} +
         2 * uint64_t{BlockBytes(bytesPerSecond, secondSeconds, blockAlign)};
}

namespace {

// The most read at a time: small, so a player costs little beside its
// store and a newer request is noticed soon.
constexpr uint64_t kPieceLimit = 8 * 1024;

}  // namespace

struct BlockReader::Request {
  enum class Kind { kOpen, kSeek, kRead, kClose, kOpenNext, kReadNext } kind = Kind::kRead;
  uint64_t generation = 0;
  std::string path;
  int firstSeconds = 0;
  int secondSeconds = 0;
  uint32_t offset = 0;
  uint32_t bytes = 0;
  uint32_t serial = 0;
};

// Shared by the owner and every worker, also one the owner has abandoned, so
// a late worker finds it still there. The owner detaches itself by clearing
// onNews; from then on nothing a worker delivers reaches anyone.
struct BlockReader::Mailbox : std::enable_shared_from_this<Mailbox> {
  std::mutex mutex;
  std::atomic<uint64_t> generation{0};  // written under mutex
  std::optional<std::pair<uint64_t, Opened>> opened;
  std::optional<std::pair<uint64_t, Opened>> nextOpened;
  StreamStore* store = nullptr;  // touched by workers only under mutex
  // The current request: its bytes go to the store from base on.
  uint64_t base = 0;
  size_t filled = 0;     // copied into the store
  size_t committed = 0;  // of those, committed by the owner
  bool last = false;
  bool end = false;
  bool failed = false;
  UiPoster* poster = nullptr;
  std::function<void()> onNews;  // UI thread; empty once the owner has gone
  std::function<void()> pieceHook;

  bool Current(uint64_t g) const { return generation.load(std::memory_order_acquire) == g; }

  void StartRequestLocked() {
    base = store->WritePos();
    filled = committed = 0;
    last = end = failed = false;
  }

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
  bool stop = false;
  std::shared_ptr<Mailbox> mail;
  // The file read now, and the one to follow it, opened ahead.
  std::unique_ptr<CWaveSource> source = std::make_unique<CWaveSource>(-1);
  std::unique_ptr<CWaveSource> next;
  std::string path;  // source's
  std::string nextPath;
  std::vector<uint8_t> piece;

  void Run();
  void Execute(const Request& r);
  void OpenFile(const Request& r);
  void OpenNext(const Request& r);
  bool ReopenFor(const Request& r);
  void ReadPieces(uint64_t generation, uint32_t bytes, bool announce);
};

void BlockReader::Worker::Run() {
  source->SetReportsMessages(false);
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
        source->SetPieceReadHook(mail->pieceHook);
      }
      Execute(r);
    }
    {
      std::lock_guard lock(mutex);
      busy = false;
    }
    idle.notify_all();
  }
  // The files close here, on this thread: a close that hangs too holds no
  // one up.
  source.reset();
  next.reset();
  std::lock_guard lock(mutex);
  busy = false;
  idle.notify_all();
}

void BlockReader::Worker::Execute(const Request& r) {
  switch (r.kind) {
    case Request::Kind::kClose:
      source->CloseWaveFile();
      next.reset();
      return;
    case Request::Kind::kOpen:
      OpenFile(r);
      return;
    case Request::Kind::kOpenNext:
      OpenNext(r);
      return;
    case Request::Kind::kReadNext:
      if (next) {
        source = std::move(next);
        path = std::move(nextPath);
        std::lock_guard lock(mail->mutex);
        source->SetPieceReadHook(mail->pieceHook);
      }
      ReadPieces(r.generation, r.bytes, false);
      return;
    case Request::Kind::kSeek:
      if (!ReopenFor(r) || !source->SeekData(r.offset)) {
        std::lock_guard lock(mail->mutex);
        if (!mail->Current(r.generation)) return;
        mail->last = mail->end = mail->failed = true;
        mail->NewsLocked();
        return;
      }
      ReadPieces(r.generation, r.bytes, true);
      return;
    case Request::Kind::kRead:
      ReadPieces(r.generation, r.bytes, false);
      return;
  }
}

namespace {

// Opens path in source and checks it can be timed and played.
BlockReader::Opened OpenChecked(CWaveSource& source, const std::string& path) {
  BlockReader::Opened o;
  const bool ok = source.OpenWaveFile(path);
  const uint32_t bps = source.BytesPerSecond(), align = source.BlockAlign();
  if (ok && (bps == 0 || align == 0 || !mixer::IsPlayableFormat(source.Format()))) {
    // Nothing could be timed or played from such a header (12-bit samples,
    // a frame size that does not match the channels): refused before any
    // output is opened for it.
    source.CloseWaveFile();
    o.error = WaveOpenError::kNoFormat;
    o.message = kWaveNoFormat;
  } else if (ok) {
    o.format = source.Format();
    o.dataSize = source.DataSize();
  } else {
    o.error = source.LastOpenError();
    o.message = source.RefusalMessage();
    o.openErrno = source.OpenErrno();
  }
  return o;
}

}  // namespace

void BlockReader::Worker::OpenFile(const Request& r) {
  next.reset();
  path = r.path;
  const Opened o = OpenChecked(*source, r.path);
  const bool ok = o.error == WaveOpenError::kNone;
  const uint32_t bps = source->BytesPerSecond(), align = source->BlockAlign();
  const uint32_t first = ok ? BlockBytes(bps, r.firstSeconds, align) : 0;
  {
    std::lock_guard lock(mail->mutex);
    if (!mail->Current(r.generation)) return;
    if (ok) {
      // Sized here, off the UI thread; the owner touches the store again
      // only once it has taken this news.
      mail->store->Allocate(StoreBytes(bps, align, r.firstSeconds, r.secondSeconds), align);
      mail->StartRequestLocked();
      mail->store->Reserve(first);
    }
    mail->opened.emplace(r.generation, o);
    mail->NewsLocked();
  }
  if (ok) ReadPieces(r.generation, first, true);
}

void BlockReader::Worker::OpenNext(const Request& r) {
  next = std::make_unique<CWaveSource>(-1);
  next->SetReportsMessages(false);
  nextPath = r.path;
  Opened o = OpenChecked(*next, r.path);
  o.serial = r.serial;
  if (o.error != WaveOpenError::kNone) next.reset();
  std::lock_guard lock(mail->mutex);
  if (!mail->Current(r.generation)) return;
  mail->nextOpened.emplace(r.generation, o);
  mail->NewsLocked();
}

bool BlockReader::Worker::ReopenFor(const Request& r) {
  // A seek back into the file before the one that follows it on.
  if (r.path.empty() || r.path == path) return true;
  next.reset();
  path = r.path;
  return OpenChecked(*source, r.path).error == WaveOpenError::kNone;
}

void BlockReader::Worker::ReadPieces(uint64_t generation, uint32_t bytes, bool announce) {
  CWaveSource& source = *this->source;
  const uint64_t align = std::max<uint16_t>(source.BlockAlign(), 1);
  // Whole frames per piece; the owner hears of a block once enough of it to
  // start on has come (one piece of the file's own size, 400 ms).
  const uint64_t size = std::max<uint64_t>(std::min(source.PieceBytes(), kPieceLimit) / align, 1);
  const uint64_t startBytes = std::max<uint64_t>(source.PieceBytes() / align, 1) * align;
  piece.resize(size * align);
  uint32_t left = bytes;
  bool told = false;
  // A seek to the data's end finds nothing to read, and that is no failure:
  // the player is at the end, as one that has played there.
  const bool nothingLeft = source.Remaining() == 0;
  for (;;) {
    // A newer request took over: what this one would read is not wanted.
    if (!mail->Current(generation)) return;
    const auto want = static_cast<uint32_t>(std::min<uint64_t>(piece.size(), left));
    const uint32_t got = want == 0 ? 0 : source.ReadBlock(piece.data(), want);
    left -= got;
    // Short: the file ended, possibly before the data chunk's size.
    const bool end = got < want || source.Remaining() == 0;
    const bool last = end || left == 0;
    std::lock_guard lock(mail->mutex);
    if (!mail->Current(generation)) return;
    size_t done = 0;
    for (const StreamStore::WriteSpan& span :
         mail->store->SpansAt(mail->base + mail->filled, got)) {
      if (span.size == 0) continue;
      std::memcpy(span.data, piece.data() + done, span.size);
      done += span.size;
    }
    // The first read of a block the outputs wait for found nothing.
    mail->failed |= announce && !told && mail->filled == 0 && got == 0 && !nothingLeft;
    mail->filled += done;
    mail->last |= last;
    mail->end |= end;
    if (announce && ((!told && mail->filled >= startBytes) || last)) {
      told = true;
      mail->NewsLocked();
    }
    if (last) return;
  }
}

BlockReader::BlockReader(UiPoster& poster, StreamStore& store, std::function<void()> onNews)
    : store_(store), mail_(std::make_shared<Mailbox>()) {
  mail_->poster = &poster;
  mail_->store = &store;
  mail_->onNews = std::move(onNews);
}

BlockReader::~BlockReader() {
  {
    std::lock_guard lock(mail_->mutex);
    mail_->generation.fetch_add(1, std::memory_order_acq_rel);
    mail_->onNews = nullptr;
    mail_->poster = nullptr;
    mail_->opened.reset();
    mail_->nextOpened.reset();
  }
  AbandonWorker();
}

uint64_t BlockReader::NewGeneration() {
  std::lock_guard lock(mail_->mutex);
  const uint64_t g = mail_->generation.load(std::memory_order_relaxed) + 1;
  mail_->generation.store(g, std::memory_order_release);
  mail_->opened.reset();
  mail_->nextOpened.reset();
  mail_->StartRequestLocked();
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

void BlockReader::Send(Request r, bool replace) {
  {
    std::lock_guard lock(worker_->mutex);
    if (replace) worker_->requests.clear();
    worker_->requests.push_back(std::move(r));
  }
  worker_->wake.notify_all();
}

void BlockReader::Open(const std::string& path, int firstSeconds, int secondSeconds) {
  Request r;
  r.kind = Request::Kind::kOpen;
  r.generation = NewGeneration();
  r.path = path;
  r.firstSeconds = firstSeconds;
  r.secondSeconds = secondSeconds;
  bool busy = false;
  if (worker_) {
    std::lock_guard lock(worker_->mutex);
    busy = worker_->busy;
  }
  // A thread still inside an earlier request may hang there: the new file
  // does not wait behind it.
  if (busy) AbandonWorker();
  if (!worker_) StartWorker();
  Send(std::move(r), true);
}

void BlockReader::Seek(uint32_t offset, uint32_t bytes, const std::string& path) {
  Request r;
  r.kind = Request::Kind::kSeek;
  r.generation = NewGeneration();
  r.path = path;
  r.offset = offset;
  r.bytes = bytes;
  store_.Reserve(bytes);
  if (worker_) Send(std::move(r), true);
}

void BlockReader::OpenNext(const std::string& path, uint32_t serial) {
  if (!worker_) return;
  Request r;
  r.kind = Request::Kind::kOpenNext;
  {
    std::lock_guard lock(mail_->mutex);
    r.generation = mail_->generation.load(std::memory_order_relaxed);
    mail_->nextOpened.reset();
  }
  r.path = path;
  r.serial = serial;
  Send(std::move(r), false);
}

void BlockReader::ReadNext(uint32_t bytes) {
  Read(bytes, true);
}

void BlockReader::Read(uint32_t bytes, bool next) {
  if (!worker_) return;
  Request r;
  r.kind = next ? Request::Kind::kReadNext : Request::Kind::kRead;
  {
    std::lock_guard lock(mail_->mutex);
    r.generation = mail_->generation.load(std::memory_order_relaxed);
    mail_->StartRequestLocked();
  }
  r.bytes = bytes;
  store_.Reserve(bytes);
  Send(std::move(r), false);
}

void BlockReader::Close() {
  Request r;
  r.kind = Request::Kind::kClose;
  r.generation = NewGeneration();
  if (worker_) Send(std::move(r), true);
}

std::optional<BlockReader::Opened> BlockReader::Take(
    std::optional<std::pair<uint64_t, Opened>> Mailbox::*news) {
  std::lock_guard lock(mail_->mutex);
  std::optional<std::pair<uint64_t, Opened>>& slot = (*mail_).*news;
  if (!slot || !mail_->Current(slot->first)) return std::nullopt;
  Opened o = slot->second;
  slot.reset();
  return o;
}

std::optional<BlockReader::Opened> BlockReader::TakeNextOpened() {
  return Take(&Mailbox::nextOpened);
}

std::optional<BlockReader::Opened> BlockReader::TakeOpened() {
  return Take(&Mailbox::opened);
}

BlockReader::Drained BlockReader::Collect() {
  Drained d;
  {
    std::lock_guard lock(mail_->mutex);
    d.bytes = mail_->filled - mail_->committed;
    mail_->committed = mail_->filled;
    d.lastOfRequest = std::exchange(mail_->last, false);
    d.end = std::exchange(mail_->end, false);
    d.failed = std::exchange(mail_->failed, false);
  }
  // The copies were made under the lock taken above, so they are seen; the
  // reader goes on with the bytes after these meanwhile.
  if (d.bytes > 0) store_.Commit(d.bytes);
  return d;
}

bool BlockReader::WaitIdle(std::chrono::milliseconds timeout) {
  if (!worker_) return true;
  std::unique_lock lock(worker_->mutex);
  return worker_->idle.wait_for(lock, timeout,
                                [&] { return !worker_->busy && worker_->requests.empty(); });
}

void BlockReader::SetPieceReadHook(std::function<void()> hook) {
  std::lock_guard lock(mail_->mutex);
  mail_->pieceHook = std::move(hook);
}

}  // namespace orvex
