// A player's in-memory PCM stream (m_stream): the player appends the bytes of
// its WAV file, and every output reads them from its own position.
//
// One writer, up to kMaxReaders readers, all concurrent: readers never lock
// or allocate, so audio threads may read. The bytes live in a ring allocated
// when a file is prepared; bytes every reader has released are overwritten by
// later appends, so memory stays the same however long the file is.
//
// Positions are 64-bit byte offsets since the last Reset. A reader position
// is the point up to which that reader no longer needs the bytes: a reader
// that hands out pointers into the ring (Region) releases them only when its
// consumer has finished with them.
//
// A reader that falls behind (its device stopped pulling) never holds the
// writer back for long: when an append needs its bytes and it lags the
// writer's live position (where playback is by the clock) by more than the
// writer allows, it loses its place. A lost reader holds nothing and reads
// nothing; once it asks to come back, the writer puts it at the live
// position. Readers on other threads bracket their reads with EnterRead and
// LeaveRead so the writer never takes bytes from under them; a reader that
// keeps pieces of the ring past one call (queued buffers) gives a Holder
// that lets go of them when asked.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvex {

class StreamStore {
 public:
  static constexpr int kMaxReaders = 8;

  struct Span {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  struct WriteSpan {
    uint8_t* data = nullptr;
    size_t size = 0;
  };

  // Lets go of every piece of the ring a reader still uses. Called on the
  // writer's thread, never while the reader is inside EnterRead.
  class Holder {
   public:
    virtual ~Holder() = default;
    virtual void LetGo(int reader) = 0;
  };

  StreamStore() = default;
  StreamStore(const StreamStore&) = delete;
  StreamStore& operator=(const StreamStore&) = delete;

  // (Re)allocates the ring and resets every position. Only while no reader
  // or writer runs. The bytes are not cleared: nothing is read before it is
  // written. frameBytes: positions the store picks itself (a rejoin) are
  // whole frames.
  void Allocate(size_t capacityBytes, uint32_t frameBytes = 1);
  // Frees the ring. Only while no reader or writer runs.
  void Release();
  // Empties the stream: the write position and every reader go back to 0.
  // Only while no reader or writer runs.
  void Reset();
  size_t Capacity() const { return capacity_; }

  // --- writer ---
  uint64_t WritePos() const { return writePos_.load(std::memory_order_acquire); }
  // Bytes that can be appended now without touching unreleased bytes.
  size_t FreeSpace() const;
  // Where the next n (≤ FreeSpace) bytes go: up to two pieces when they wrap.
  // Fill them, then Commit.
  std::array<WriteSpan, 2> PrepareWrite(size_t n);
  void Commit(size_t n);
  // Hands the next n bytes past the write position to another thread to
  // fill (a file reader) before the writer commits them. Readers that come
  // back stay clear of them. Commit counts them off.
  void Reserve(size_t n) { reserved_.store(n, std::memory_order_release); }
  // Where the bytes [pos, pos + n) of the stream lie in the ring: for the
  // thread filling reserved bytes, which the writer orders against its own
  // moves (Reset, Release).
  std::array<WriteSpan, 2> SpansAt(uint64_t pos, size_t n);
  // Copies what fits; returns the count appended.
  size_t Append(const uint8_t* data, size_t n);
  // Where playback is by the clock; readers come back here.
  void SetLivePos(uint64_t pos) { livePos_.store(pos, std::memory_order_release); }
  uint64_t LivePos() const { return livePos_.load(std::memory_order_acquire); }
  // Before appending n bytes: every reader that holds bytes the append needs
  // and lags the live position by more than maxLag loses its place. Returns
  // how many did.
  int DropLaggingReaders(size_t n, uint64_t maxLag);
  // The reader's place is no longer where it should play from (its device
  // stalled and went on late): it loses its place as a lagging reader does,
  // but its holder is not called; the caller lets go itself.
  void LosePlace(int reader);
  // Puts every lost reader that asked to come back at the live position
  // (within the bytes the ring still holds).
  void RejoinWaiting();

  // --- readers ---
  // Claims a reader slot positioned at 0; -1 when all are taken.
  int OpenReader(Holder* holder = nullptr);
  void CloseReader(int reader);
  uint64_t ReaderPos(int reader) const;
  // Marks bytes before pos as no longer needed by this reader.
  void SetReaderPos(int reader, uint64_t pos);
  // Up to n bytes from pos as at most two pieces (they wrap), not past the
  // write position. The pieces stay valid until the reader releases them.
  std::array<Span, 2> Region(uint64_t pos, size_t n) const;
  // Copies up to n bytes from the reader's position and advances it.
  // 0 means the reader has caught up with the writer or lost its place.
  size_t Read(int reader, uint8_t* out, size_t n);
  // A reader on another thread than the writer's calls EnterRead before it
  // uses Region or its position and LeaveRead after. False (no LeaveRead
  // then) when it has lost its place: it plays silence, and has asked to
  // come back.
  bool EnterRead(int reader);
  void LeaveRead(int reader);
  // The writer's thread, or inside EnterRead.
  bool IsLost(int reader) const;
  // Asks for a lost reader to come back at the live position.
  void AskToRejoin(int reader);

 private:
  uint64_t OldestNeeded() const;

  std::unique_ptr<uint8_t[]> ring_;
  size_t capacity_ = 0;
  uint32_t frameBytes_ = 1;
  std::atomic<uint64_t> writePos_{0};
  std::atomic<uint64_t> livePos_{0};
  std::atomic<size_t> reserved_{0};
  struct Slot {
    std::atomic<bool> open{false};
    std::atomic<uint64_t> pos{0};
    std::atomic<bool> lost{false};
    std::atomic<bool> wantsBack{false};
    std::atomic<bool> busy{false};  // inside EnterRead
    Holder* holder = nullptr;       // set while opening, before others see the slot
  };
  std::array<Slot, kMaxReaders> readers_;
};

}  // namespace orvex
