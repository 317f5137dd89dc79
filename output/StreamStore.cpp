#include "output/StreamStore.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace orvex {

void StreamStore::Allocate(size_t capacityBytes, uint32_t frameBytes) {
  if (capacityBytes != capacity_ || !ring_) {
    // Left uninitialised: clearing a ring of many seconds costs more than a
    // block read, and every byte is written before any reader can see it.
    ring_ = capacityBytes ? std::make_unique_for_overwrite<uint8_t[]>(capacityBytes) : nullptr;
    capacity_ = capacityBytes;
  }
  frameBytes_ = std::max<uint32_t>(frameBytes, 1);
  Reset();
}

void StreamStore::Release() {
  ring_.reset();
  capacity_ = 0;
  Reset();
}

void StreamStore::Reset() {
  writePos_.store(0, std::memory_order_release);
  livePos_.store(0, std::memory_order_release);
  reserved_.store(0, std::memory_order_release);
  for (Slot& s : readers_) {
    s.pos.store(0, std::memory_order_release);
    s.wantsBack.store(false);
    s.lost.store(false, std::memory_order_release);
  }
}

uint64_t StreamStore::OldestNeeded() const {
  uint64_t oldest = writePos_.load(std::memory_order_relaxed);
  for (const Slot& s : readers_) {
    if (s.open.load(std::memory_order_acquire) && !s.lost.load(std::memory_order_acquire))
      oldest = std::min(oldest, s.pos.load(std::memory_order_acquire));
  }
  return oldest;
}

size_t StreamStore::FreeSpace() const {
  uint64_t used = writePos_.load(std::memory_order_relaxed) - OldestNeeded();
  return used >= capacity_ ? 0 : capacity_ - static_cast<size_t>(used);
}

std::array<StreamStore::WriteSpan, 2> StreamStore::PrepareWrite(size_t n) {
  return SpansAt(writePos_.load(std::memory_order_relaxed), std::min(n, FreeSpace()));
}

std::array<StreamStore::WriteSpan, 2> StreamStore::SpansAt(uint64_t pos, size_t n) {
  if (n == 0 || !ring_) return {};
  n = std::min(n, capacity_);
  const size_t at = static_cast<size_t>(pos % capacity_);
  const size_t first = std::min(n, capacity_ - at);
  return {WriteSpan{ring_.get() + at, first}, WriteSpan{ring_.get(), n - first}};
}

void StreamStore::Commit(size_t n) {
  const size_t reserved = reserved_.load(std::memory_order_relaxed);
  reserved_.store(reserved > n ? reserved - n : 0, std::memory_order_relaxed);
  // Release: readers that see the new position also see the bytes.
  writePos_.fetch_add(n, std::memory_order_release);
}

size_t StreamStore::Append(const uint8_t* data, size_t n) {
  auto spans = PrepareWrite(n);
  size_t total = 0;
  for (const WriteSpan& s : spans) {
    if (s.size == 0) continue;
    std::memcpy(s.data, data + total, s.size);
    total += s.size;
  }
  Commit(total);
  return total;
}

int StreamStore::OpenReader(Holder* holder) {
  for (int i = 0; i < kMaxReaders; ++i) {
    Slot& s = readers_[static_cast<size_t>(i)];
    bool expected = false;
    if (s.open.compare_exchange_strong(expected, true)) {
      s.holder = holder;
      s.wantsBack.store(false);
      s.lost.store(false);
      s.pos.store(0, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

int StreamStore::DropLaggingReaders(size_t n, uint64_t maxLag) {
  const uint64_t end = writePos_.load(std::memory_order_relaxed) + n;
  const uint64_t needFrom = end > capacity_ ? end - capacity_ : 0;
  const uint64_t live = livePos_.load(std::memory_order_relaxed);
  const uint64_t lagFrom = live > maxLag ? live - maxLag : 0;
  const uint64_t before = std::min(needFrom, lagFrom);
  int dropped = 0;
  for (int i = 0; i < kMaxReaders; ++i) {
    Slot& s = readers_[static_cast<size_t>(i)];
    if (!s.open.load() || s.lost.load() || s.pos.load() >= before) continue;
    // Marked first, then waited out: a reader inside EnterRead finishes its
    // read, and every later one sees the mark (both sequentially consistent).
    s.lost.store(true);
    while (s.busy.load()) std::this_thread::yield();
    if (s.holder) s.holder->LetGo(i);
    ++dropped;
  }
  return dropped;
}

void StreamStore::LosePlace(int reader) {
  if (reader < 0 || reader >= kMaxReaders) return;
  Slot& s = readers_[static_cast<size_t>(reader)];
  if (!s.open.load() || s.lost.load()) return;
  s.lost.store(true);
  while (s.busy.load()) std::this_thread::yield();
}

void StreamStore::RejoinWaiting() {
  const uint64_t end = writePos_.load(std::memory_order_relaxed);
  const uint64_t f = frameBytes_;
  // Whole frames, within what the ring still holds and clear of the bytes
  // being filled now (they overwrite the oldest ones).
  const uint64_t filled = end + reserved_.load(std::memory_order_acquire);
  const uint64_t oldest = filled > capacity_ ? (filled - capacity_ + f - 1) / f * f : 0;
  const uint64_t last = end / f * f;
  const uint64_t pos = std::clamp(livePos_.load() / f * f, std::min(oldest, last), last);
  for (Slot& s : readers_) {
    if (!s.open.load() || !s.lost.load() || !s.wantsBack.load()) continue;
    s.wantsBack.store(false);
    s.pos.store(pos);
    s.lost.store(false);
  }
}

bool StreamStore::EnterRead(int reader) {
  if (reader < 0 || reader >= kMaxReaders) return false;
  Slot& s = readers_[static_cast<size_t>(reader)];
  s.busy.store(true);
  if (!s.lost.load()) return true;
  s.busy.store(false);
  s.wantsBack.store(true);
  return false;
}

void StreamStore::LeaveRead(int reader) {
  if (reader >= 0 && reader < kMaxReaders)
    readers_[static_cast<size_t>(reader)].busy.store(false, std::memory_order_release);
}

bool StreamStore::IsLost(int reader) const {
  if (reader < 0 || reader >= kMaxReaders) return false;
  return readers_[static_cast<size_t>(reader)].lost.load();
}

void StreamStore::AskToRejoin(int reader) {
  if (reader >= 0 && reader < kMaxReaders)
    readers_[static_cast<size_t>(reader)].wantsBack.store(true);
}

void StreamStore::CloseReader(int reader) {
  if (reader >= 0 && reader < kMaxReaders)
    readers_[static_cast<size_t>(reader)].open.store(false, std::memory_order_release);
}

uint64_t StreamStore::ReaderPos(int reader) const {
  if (reader < 0 || reader >= kMaxReaders) return 0;
  return readers_[static_cast<size_t>(reader)].pos.load(std::memory_order_acquire);
}

void StreamStore::SetReaderPos(int reader, uint64_t pos) {
  if (reader >= 0 && reader < kMaxReaders)
    readers_[static_cast<size_t>(reader)].pos.store(pos, std::memory_order_release);
}

std::array<StreamStore::Span, 2> StreamStore::Region(uint64_t pos, size_t n) const {
  uint64_t end = writePos_.load(std::memory_order_acquire);
  // Bytes a full ring later have been written over: a reader that lost its
  // place never gets them.
  if (!ring_ || pos >= end || end - pos > capacity_) return {};
  n = static_cast<size_t>(std::min<uint64_t>(n, end - pos));
  size_t at = static_cast<size_t>(pos % capacity_);
  size_t first = std::min(n, capacity_ - at);
  return {Span{ring_.get() + at, first}, Span{ring_.get(), n - first}};
}

size_t StreamStore::Read(int reader, uint8_t* out, size_t n) {
  if (!EnterRead(reader)) return 0;
  uint64_t pos = ReaderPos(reader);
  size_t total = 0;
  for (const Span& s : Region(pos, n)) {
    if (s.size == 0) continue;
    std::memcpy(out + total, s.data, s.size);
    total += s.size;
  }
  SetReaderPos(reader, pos + total);
  LeaveRead(reader);
  return total;
}

}  // namespace orvex
