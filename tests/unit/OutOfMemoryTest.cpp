// Running out of memory while reading or writing a show is a failure like any
// other: reported with the operation's message, never an exception that ends
// the program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "MessageRecorder.h"
#include "TempDir.h"
#include "show/IniFile.h"
#include "show/ShowFile.h"

namespace {

// Allocations of at least this many bytes fail.
std::atomic<size_t> g_failFrom{SIZE_MAX};
// Counts allocations down; the one that brings it to 0 fails.
std::atomic<long> g_failIn{-1};

void* Allocate(size_t size) {
  if (size >= g_failFrom.load() || g_failIn.fetch_sub(1) == 1) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace orvex {
namespace {

struct FailFrom {
  explicit FailFrom(size_t bytes) { g_failFrom = bytes; }
  ~FailFrom() { g_failFrom = SIZE_MAX; }
};

std::string BigShow(int cues) {
  std::string text = "C:\\snd,\r\n";
  for (int i = 1; i <= cues; ++i)
    text += std::to_string(i) + ",1,title " + std::to_string(i) + ",cue.wav,8,0,0,,0,1,0,0,0,\r\n";
  return text;
}

TEST(OutOfMemory, LoadingAHugeShowReportsTheReadFailure) {
  TempDir dir;
  dir.Write("big.csv", BigShow(60000));  // about 3 MiB
  MessageRecorder messages;
  messages.messages.reserve(8);
  CueStore store;
  ShowLoadResult result;
  {
    FailFrom limit(1 << 20);
    EXPECT_NO_THROW(result = LoadShowFile(dir.File("big.csv"), store));
  }
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowReadFailed});
}

TEST(OutOfMemory, AFailureAnywhereInTheParseIsReported) {
  const std::string text = BigShow(40);
  for (long n = 1; n < 400; n += 3) {
    MessageRecorder messages;
    messages.messages.reserve(8);
    CueStore store;
    ShowLoadResult result;
    g_failIn = n;
    EXPECT_NO_THROW(result = ParseShowText(text, store)) << n;
    g_failIn = -1;
    if (!result.ok) {
      EXPECT_EQ(messages.messages, std::vector<std::string>{kShowReadFailed}) << n;
    }
  }
}

TEST(OutOfMemory, SavingAndSettingsFailCleanly) {
  TempDir dir;
  CueStore store;
  RecordValues v;
  v.qNumber = 1;
  v.title.assign(300000, 'x');
  v.fileOrCommand = "a.wav";
  for (int i = 0; i < 10; ++i) store.AddRecord(1, v);
  MessageRecorder messages;
  messages.messages.reserve(8);
  bool saved = true;
  {
    FailFrom limit(2 << 20);
    EXPECT_NO_THROW(saved = SaveShowFile(dir.File("show.csv"), store));
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowSaveFailed});
  EXPECT_FALSE(std::filesystem::exists(dir.File("show.csv")));

  dir.Write("Orvex.ini", "[BIG]\nX=" + std::string(3 << 20, 'y') + "\n");
  IniFile ini;
  bool loaded = true;
  {
    FailFrom limit(1 << 20);
    EXPECT_NO_THROW(loaded = ini.Load(dir.File("Orvex.ini")));
  }
  EXPECT_FALSE(loaded);
}

}  // namespace
}  // namespace orvex
