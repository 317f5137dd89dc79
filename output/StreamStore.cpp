#include "output/StreamStore.h"

#include <algorithm>
#include <cstring>

namespace orvex {

void StreamStore::Allocate(size_t capacityBytes) {
  if (capacityBytes != capacity_ || !ring_) {
    ring_ = capacityBytes ? std::make_unique<uint8_t[]>(capacityBytes) : nullptr;
    capacity_ = capacityBytes;
  }
  Reset();
}

void StreamStore::Release() {
  ring_.reset();
  capacity_ = 0;
  Reset();
}

void StreamStore::Reset() {
  writePos_.store(0, std::memory_order_release);
  for (Slot& s : readers_) s.pos.store(0, std::memory_order_release);
}

uint64_t StreamStore::OldestNeeded() const {
  uint64_t oldest = writePos_.load(std::memory_order_relaxed);
  for (const Slot& s : readers_) {
    if (s.open.load(std::memory_order_acquire))
      oldest = std::min(oldest, s.pos.load(std::memory_order_acquire));
  }
  return oldest;
}

size_t StreamStore::FreeSpace() const {
  uint64_t used = writePos_.load(std::memory_order_relaxed) - OldestNeeded();
  return used >= capacity_ ? 0 : capacity_ - static_cast<size_t>(used);
}

std::array<StreamStore::WriteSpan, 2> StreamStore::PrepareWrite(size_t n) {
  n = std::min(n, FreeSpace());
  if (n == 0) return {};
  size_t at = static_cast<size_t>(writePos_.load(std::memory_order_relaxed) % capacity_);
  size_t first = std::min(n, capacity_ - at);
  return {WriteSpan{ring_.get() + at, first}, WriteSpan{ring_.get(), n - first}};
}

void StreamStore::Commit(size_t n) {
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

int StreamStore::OpenReader() {
  for (int i = 0; i < kMaxReaders; ++i) {
    bool expected = false;
    if (readers_[i].open.compare_exchange_strong(expected, true)) {
      readers_[i].pos.store(0, std::memory_order_release);
      return i;
    }
  }
  return -1;
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
  if (!ring_ || pos >= end) return {};
  n = static_cast<size_t>(std::min<uint64_t>(n, end - pos));
  size_t at = static_cast<size_t>(pos % capacity_);
  size_t first = std::min(n, capacity_ - at);
  return {Span{ring_.get() + at, first}, Span{ring_.get(), n - first}};
}

size_t StreamStore::Read(int reader, uint8_t* out, size_t n) {
  uint64_t pos = ReaderPos(reader);
  size_t total = 0;
  for (const Span& s : Region(pos, n)) {
    if (s.size == 0) continue;
    std::memcpy(out + total, s.data, s.size);
    total += s.size;
  }
  SetReaderPos(reader, pos + total);
  return total;
}

}  // namespace orvex
