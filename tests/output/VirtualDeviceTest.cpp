// The virtual device the engine tests run on, and a probe that proves the
// render path never allocates.
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/WavBytes.h"
#include "output/VoiceEngineRig.h"
#include "unit/TempDir.h"

// Counts heap allocations made on a thread while it sets gCountAllocations,
// to prove the render path never allocates. Sanitizers bring their own
// allocator, so the probe is only built without them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVEX_ALLOCATION_PROBE 0
#else
#define ORVEX_ALLOCATION_PROBE 1
namespace {
thread_local bool gCountAllocations = false;
std::atomic<int> gAllocations{0};
void CountAllocation() {
  if (gCountAllocations) ++gAllocations;
}
}  // namespace
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  return CountAllocation(), __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
  return CountAllocation(), __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  return CountAllocation(), __libc_realloc(p, n);
}
}
#endif

namespace orvex::mixer {
namespace {

using namespace test;

// ---------------------------------------------------------------------------
// Virtual device

TEST(VirtualDeviceTest, SilentWhenClosedAndNoRenderAfterClose) {
  struct Counting : RenderCallback {
    void Render(float* out, uint32_t frames) override {
      std::fill(out, out + frames * 2, 0.5f);
      calls.fetch_add(1);
    }
    std::atomic<int> calls{0};
  } cb;
  VirtualDevice device("v", "Virtual", 2, 48000);
  device.SetCapture(true);
  device.Pull(4);
  EXPECT_EQ(device.Captured(), std::vector<float>(8, 0.0f));

  ASSERT_TRUE(device.Open(&cb));
  EXPECT_FALSE(device.Open(&cb));
  ASSERT_TRUE(device.StartRealtimeThread(32));
  ASSERT_TRUE(WaitUntil([&] { return cb.calls.load() > 5; }));
  device.Close();
  const int calls = cb.calls.load();
  const uint64_t frames = device.RealtimeFramesPulled();
  ASSERT_TRUE(WaitUntil([&] { return device.RealtimeFramesPulled() > frames + 64; }));
  EXPECT_EQ(cb.calls.load(), calls);
  device.StopRealtimeThread();
  EXPECT_EQ(device.RealtimePeak(), 0.5f);
}

TEST(VirtualDeviceTest, WavFileHoldsFloatFramesFromItsStart) {
  TempDir dir;
  std::vector<float> expected;
  {
    Rig rig(3, 44100);
    SourceVoice* v = rig.Voice(Pcm(16, 1, 44100));
    ASSERT_TRUE(rig.Submit(v, Encode(Ramp(1, 1000), 16)));
    v->Start();
    rig.device.Pull(100);  // before the file: not in it
    ASSERT_TRUE(rig.device.StartWavFile(dir.File("out.wav")));
    rig.device.Pull(250);
    rig.device.Pull(50);
    expected.assign(rig.device.Captured().begin() + 300, rig.device.Captured().end());
  }  // the destructor finishes the file
  const std::string f = dir.Read("out.wav");
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, f.data() + at, 4);  // little-endian host
    return v;
  };
  const size_t fmt = f.find("fmt "), data = f.find("data");
  ASSERT_TRUE(fmt < data && data < f.size());
  EXPECT_EQ(f.substr(0, 4) + f.substr(8, 4), "RIFFWAVE");
  EXPECT_EQ(u32(4), f.size() - 8);
  EXPECT_EQ(f.substr(fmt + 8, 16), FmtBody(3, 44100, 32, kFormatFloat));
  ASSERT_EQ(u32(data + 4), 300u * 3 * 4);
  ASSERT_EQ(f.size(), data + 8 + 300 * 3 * 4);
  std::vector<float> samples(300 * 3);
  std::memcpy(samples.data(), f.data() + data + 8, samples.size() * 4);
  EXPECT_EQ(samples, expected);
  EXPECT_EQ(samples[0], Expected(101, 16));
}

// ---------------------------------------------------------------------------
// The render path never allocates

#if ORVEX_ALLOCATION_PROBE
TEST(VoiceEngineRealtime, RenderNeverAllocates) {
  const auto stereo = Encode(Sine(500, 44100, 3000, 0.3, 0.3, 2), 16);
  const auto mono = Encode(Sine(500, 22050, 1500, 0.3, 0, 1), 16);
  OffsetEffect fx;
  Rig rig;
  rig.device.SetCapture(false);
  rig.device.Pull(4096);  // sizes the device's own buffer
  std::vector<SourceVoice*> voices = {rig.Voice(Pcm(16, 2)), rig.Voice(Pcm(16, 2, 44100)),
                                      rig.Voice(Pcm(16, 1, 22050)), rig.Voice(Pcm(16, 1, 96000))};
  voices[1]->SetEffectChain(&fx);
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    for (SourceVoice* v : voices) {
      const auto& data = v->Format().channels == 2 ? stereo : mono;
      if (v->GetState().buffersQueued < 2 && rng() % 3 == 0)  // sometimes let it run dry
        v->SubmitSourceBuffer(data.data(), uint32_t(data.size()));
      if (rng() % 50 == 0) v->SetVolume(float(rng() % 100) / 100.0f);
      if (rng() % 40 == 0) v->Stop();
      if (rng() % 10 == 0) v->Start();
      if (rng() % 200 == 0) v->FlushSourceBuffers();
    }
    const uint32_t frames = 1 + rng() % 4096;
    gCountAllocations = true;
    rig.device.Pull(frames);
    gCountAllocations = false;
  }
  EXPECT_EQ(gAllocations.load(), 0);
  EXPECT_GT(fx.framesSeen, 0u);
}
#endif

}  // namespace
}  // namespace orvex::mixer
