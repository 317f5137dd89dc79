#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "output/StreamStore.h"

namespace orvex {
namespace {

std::vector<uint8_t> Bytes(uint8_t from, size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(from + i);
  return v;
}

TEST(StreamStore, WrapsAndOnlyOverwritesWhatEveryReaderReleased) {
  StreamStore s;
  s.Allocate(10);
  const int a = s.OpenReader(), b = s.OpenReader();
  ASSERT_EQ(s.Append(Bytes(0, 7).data(), 7), 7u);
  uint8_t out[16] = {};
  ASSERT_EQ(s.Read(a, out, 5), 5u);
  // Reader b still needs all seven bytes.
  EXPECT_EQ(s.FreeSpace(), 3u);
  ASSERT_EQ(s.Read(b, out, 16), 7u);
  EXPECT_EQ(out[6], 6);
  EXPECT_EQ(s.FreeSpace(), 8u);
  // Eight more bytes wrap around the end of the ring.
  ASSERT_EQ(s.Append(Bytes(7, 9).data(), 9), 8u);
  auto spans = s.Region(5, 10);
  EXPECT_EQ(spans[0].size, 5u);
  EXPECT_EQ(spans[1].size, 5u);
  EXPECT_EQ(spans[0].data[0], 5);
  EXPECT_EQ(spans[1].data[0], 10);
  ASSERT_EQ(s.Read(a, out, 16), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 5 + i);
  // A closed reader holds nothing back; caught-up readers read nothing.
  s.CloseReader(b);
  EXPECT_EQ(s.FreeSpace(), 10u);
  EXPECT_EQ(s.Read(a, out, 16), 0u);
  s.Reset();
  EXPECT_EQ(s.WritePos(), 0u);
  EXPECT_EQ(s.ReaderPos(a), 0u);
}

TEST(StreamStore, ReaderSlotsRunOut) {
  StreamStore s;
  s.Allocate(4);
  for (int i = 0; i < StreamStore::kMaxReaders; ++i) EXPECT_EQ(s.OpenReader(), i);
  EXPECT_EQ(s.OpenReader(), -1);
  s.CloseReader(3);
  EXPECT_EQ(s.OpenReader(), 3);
}

// One writer and three readers at their own pace, all at once: every reader
// sees the whole sequence in order.
TEST(StreamStore, ConcurrentReadersSeeTheWholeStream) {
  StreamStore s;
  s.Allocate(257);  // not a power of two: wraps land anywhere
  constexpr uint64_t kTotal = 40000;
  std::vector<int> readers;
  for (int i = 0; i < 3; ++i) readers.push_back(s.OpenReader());
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, r = readers[static_cast<size_t>(i)], chunk = 13 + 7 * i] {
      uint64_t seen = 0;
      std::vector<uint8_t> buf(static_cast<size_t>(chunk));
      while (seen < kTotal) {
        size_t n = s.Read(r, buf.data(), buf.size());
        for (size_t k = 0; k < n; ++k)
          if (buf[k] != static_cast<uint8_t>((seen + k) % 251)) bad.fetch_add(1);
        seen += n;
        if (n == 0) std::this_thread::yield();
      }
    });
  }
  uint64_t written = 0;
  while (written < kTotal) {
    auto spans = s.PrepareWrite(static_cast<size_t>(std::min<uint64_t>(31, kTotal - written)));
    size_t n = 0;
    for (const auto& span : spans)
      for (size_t k = 0; k < span.size; ++k, ++n)
        span.data[k] = static_cast<uint8_t>((written + n) % 251);
    s.Commit(n);
    written += n;
    if (n == 0) std::this_thread::yield();
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
}

// A reader whose device stopped pulling: it loses its place only when the
// writer needs its bytes and it lags the clock, then comes back at the live
// position once it asks.
TEST(StreamStore, ALaggingReaderLosesItsPlaceAndRejoinsAtTheLivePosition) {
  struct Recorder : StreamStore::Holder {
    void LetGo(int reader) override { let.push_back(reader); }
    std::vector<int> let;
  } holder;
  StreamStore s;
  s.Allocate(100, 4);
  const int slow = s.OpenReader(&holder), fast = s.OpenReader();
  ASSERT_EQ(s.Append(Bytes(0, 100).data(), 100), 100u);
  uint8_t out[100];
  ASSERT_EQ(s.Read(fast, out, 90), 90u);
  // Normal back-pressure: the clock has not passed the slow reader by much.
  s.SetLivePos(30);
  EXPECT_EQ(s.DropLaggingReaders(40, 40), 0);
  EXPECT_EQ(s.FreeSpace(), 0u);
  // Far behind the clock: it goes, and the writer has its room.
  s.SetLivePos(61);
  EXPECT_EQ(s.DropLaggingReaders(40, 40), 1);
  EXPECT_EQ(holder.let, std::vector<int>{slow});
  EXPECT_TRUE(s.IsLost(slow));
  EXPECT_EQ(s.FreeSpace(), 90u);
  EXPECT_EQ(s.Append(Bytes(100, 40).data(), 40), 40u);
  EXPECT_EQ(s.Region(0, 10)[0].size, 0u);  // written over: never handed out
  // Lost: nothing to read until it asks and the writer lets it back in, on
  // a whole frame at the live position.
  s.RejoinWaiting();
  EXPECT_TRUE(s.IsLost(slow));
  EXPECT_EQ(s.Read(slow, out, 10), 0u);
  s.SetLivePos(71);
  s.RejoinWaiting();
  EXPECT_FALSE(s.IsLost(slow));
  EXPECT_EQ(s.ReaderPos(slow), 68u);
  ASSERT_EQ(s.Read(slow, out, 4), 4u);
  EXPECT_EQ(out[0], 68);
  // A live position past the ring's oldest byte or its end is kept inside.
  s.SetLivePos(500);
  EXPECT_EQ(s.DropLaggingReaders(100, 0), 2);  // both lag that far
  s.AskToRejoin(slow);
  s.RejoinWaiting();
  EXPECT_EQ(s.ReaderPos(slow), 140u);
}

// Bytes reserved for a file reader to fill are written over the oldest ones
// while the reader still works: a reader let back in then starts clear of
// them, and nobody sees them before the writer commits.
TEST(StreamStore, ReservedBytesAreFilledInPlaceAndKeptFromRejoiningReaders) {
  StreamStore s;
  s.Allocate(100, 4);
  const int r = s.OpenReader();
  ASSERT_EQ(s.Append(Bytes(0, 100).data(), 100), 100u);
  uint8_t out[100];
  ASSERT_EQ(s.Read(r, out, 30), 30u);
  s.SetLivePos(200);
  ASSERT_EQ(s.DropLaggingReaders(40, 0), 1);
  s.SetLivePos(10);
  // 40 bytes reserved: they go where stream bytes 0..39 were.
  s.Reserve(40);
  const auto spans = s.SpansAt(s.WritePos(), 40);
  EXPECT_EQ(spans[0].size + spans[1].size, 40u);
  std::memcpy(spans[0].data, Bytes(100, 40).data(), spans[0].size);
  // Without the reservation the reader would come back at 0 (the oldest
  // byte held) and read what is being overwritten.
  s.AskToRejoin(r);
  s.RejoinWaiting();
  EXPECT_EQ(s.ReaderPos(r), 40u);
  EXPECT_EQ(s.Region(100, 40)[0].size, 0u);  // not committed: not handed out
  s.Commit(40);
  const auto filled = s.Region(100, 40);
  ASSERT_EQ(filled[0].size + filled[1].size, 40u);
  EXPECT_EQ(filled[0].data[0], 100);
  ASSERT_EQ(s.Read(r, out, 20), 20u);
  EXPECT_EQ(out[0], 40);
  // The reservation is counted off by the commit: a reader let back in now
  // may start at the oldest byte the ring holds.
  s.SetLivePos(500);
  ASSERT_EQ(s.DropLaggingReaders(50, 0), 1);
  s.SetLivePos(0);
  s.AskToRejoin(r);
  s.RejoinWaiting();
  EXPECT_EQ(s.ReaderPos(r), 40u);
}

// A reader thread that keeps being dropped and let back in while the writer
// appends: every byte it gets is the right one (the writer never writes
// under a read in progress).
TEST(StreamStore, DroppingAReaderNeverWritesUnderItsRead) {
  StreamStore s;
  s.Allocate(64);
  const int r = s.OpenReader();
  constexpr uint64_t kTotal = 200000;
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    std::vector<uint8_t> buf(24);
    while (!done.load()) {
      if (!s.EnterRead(r)) {
        std::this_thread::yield();
        continue;
      }
      const uint64_t pos = s.ReaderPos(r);
      size_t n = 0;
      for (const auto& span : s.Region(pos, buf.size()))
        for (size_t k = 0; k < span.size; ++k, ++n)
          if (span.data[k] != static_cast<uint8_t>((pos + n) % 251)) bad.fetch_add(1);
      s.SetReaderPos(r, pos + n);
      s.LeaveRead(r);
    }
  });
  uint64_t written = 0;
  while (written < kTotal) {
    s.SetLivePos(written);
    s.RejoinWaiting();
    s.DropLaggingReaders(16, 8);
    auto spans = s.PrepareWrite(16);
    size_t n = 0;
    for (const auto& span : spans)
      for (size_t k = 0; k < span.size; ++k, ++n)
        span.data[k] = static_cast<uint8_t>((written + n) % 251);
    s.Commit(n);
    written += n;
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace orvex
