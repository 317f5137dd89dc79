#include "output/asio/AsioKernel.h"

#include <semaphore.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include "output/asio/AsioMessages.h"
#include "output/asio/AsioOutputFormat.h"
#include "output/asio/AsioSlot.h"
#include "output/asio/JackDevice.h"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;

// The largest block the callback mixes; a device asking for more gets
// silence beyond it.
constexpr uint32_t kMaxBlockFrames = 8192;
// How long the refill thread sleeps when nothing asks for it.
constexpr auto kRefillPoll = std::chrono::milliseconds(20);
// Longest wait of the UI thread for a slot to ramp out.
constexpr auto kRampWaitLimit = std::chrono::milliseconds(100);

constexpr int kFirstMixedSlot = 1;  // the continuous-play slot 0 is never heard here

// A = max(A, v) without a lock.
void StoreMax(std::atomic<float>& a, float v) {
  float old = a.load(std::memory_order_relaxed);
  while (v > old && !a.compare_exchange_weak(old, v, std::memory_order_relaxed)) {
  }
}

}  // namespace

struct CAsioKernel::Impl final : asio::BlockCallback {
  std::array<asio::AsioSlot, kSlots> slots;
  uint32_t halfFrames = 0;
  uint32_t rampFrames = 1;
  uint32_t deviceRate = 0;
  int sampleType = asio::kFloat32LSB;
  std::vector<float> mixLeft, mixRight;

  std::atomic<bool> open{false};
  std::atomic<bool> started{false};
  std::atomic<bool> lost{false};
  std::atomic<uint64_t> cycle{0};  // odd while the callback runs
  std::atomic<uint64_t> xruns{0};
  // A started device whose callback has not run for this long is stalled.
  std::atomic<int> stallLimitMs{1000};
  std::atomic<float> peakLeft{0}, peakRight{0};

  sem_t wake;
  std::thread refill;
  std::atomic<bool> quit{false};
  std::mutex noticeMutex;
  std::function<void(const std::string&)> notice;

  Impl() { sem_init(&wake, 0, 0); }
  ~Impl() override {
    StopRefill();
    sem_destroy(&wake);
  }

  // --- callback side ---
  void OnBufferSwitch(void* left, void* right, uint32_t frames) override;
  void OnXrun() override { xruns.fetch_add(1, std::memory_order_relaxed); }
  void OnDeviceLost() override {
    lost.store(true);
    sem_post(&wake);
  }
  bool MixSlot(asio::AsioSlot& s, uint32_t frames);

  // --- refill side ---
  void StartRefill();
  void StopRefill();
  void RefillLoop();
  void ServeWanted();
  void LetGoOfStores();
  void Notify(const std::string& message);

  // --- UI side ---
  // Waits until the callback no longer reads a slot it may still have seen
  // enabled.
  void AwaitCallback();
  void RampOut(asio::AsioSlot& s);
  void Disable(asio::AsioSlot& s);
};

// ---------------------------------------------------------------- callback

bool CAsioKernel::Impl::MixSlot(asio::AsioSlot& s, uint32_t frames) {
  return s.MixInto(mixLeft.data(), mixRight.data(), frames, rampFrames);
}

void CAsioKernel::Impl::OnBufferSwitch(void* left, void* right, uint32_t frames) {
  cycle.fetch_add(1);
  const uint32_t n = std::min(frames, kMaxBlockFrames);
  std::fill(mixLeft.begin(), mixLeft.begin() + n, 0.0f);
  std::fill(mixRight.begin(), mixRight.begin() + n, 0.0f);
  bool requested = false;
  for (int s = kFirstMixedSlot; s < kSlots; ++s) requested |= MixSlot(slots[s], n);
  if (n < frames) {
    std::fill(mixLeft.begin() + n, mixLeft.begin() + frames, 0.0f);
    std::fill(mixRight.begin() + n, mixRight.begin() + frames, 0.0f);
  }
  asio::WriteSamples(sampleType, mixLeft.data(), left, frames);
  asio::WriteSamples(sampleType, mixRight.data(), right, frames);
  if (asio::MixesInto(sampleType)) {
    float pl = 0, pr = 0;
    for (uint32_t i = 0; i < n; ++i) {
      pl = std::max(pl, std::fabs(mixLeft[i]));
      pr = std::max(pr, std::fabs(mixRight[i]));
    }
    StoreMax(peakLeft, std::min(pl, 1.0f));
    StoreMax(peakRight, std::min(pr, 1.0f));
  }
  if (requested) sem_post(&wake);
  cycle.fetch_add(1);
}

// ------------------------------------------------------------------ refill

void CAsioKernel::Impl::StartRefill() {
  quit.store(false);
  refill = std::thread([this] { RefillLoop(); });
}

void CAsioKernel::Impl::StopRefill() {
  if (!refill.joinable()) return;
  quit.store(true);
  sem_post(&wake);
  refill.join();
}

void CAsioKernel::Impl::RefillLoop() {
  uint64_t lastCycle = cycle.load();
  auto lastChange = Clock::now();
  bool lostSeen = false, stalled = false;
  while (!quit.load()) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += std::chrono::nanoseconds(kRefillPoll).count();
    if (until.tv_nsec >= 1000000000) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000;
    }
    sem_clockwait(&wake, CLOCK_MONOTONIC, &until);
    if (quit.load()) break;
    if (lost.load()) {
      if (!lostSeen) {
        lostSeen = true;
        LetGoOfStores();
        std::fprintf(stderr, "ASIO: the JACK server went away; its output is silent\n");
        Notify(kAsioDeviceLost);
      }
      continue;
    }
    ServeWanted();
    const uint64_t c = cycle.load();
    const auto now = Clock::now();
    if (c != lastCycle || !started.load()) {
      lastCycle = c;
      lastChange = now;
      stalled = false;
    } else if (!stalled && now - lastChange > std::chrono::milliseconds(stallLimitMs.load())) {
      // The device stopped calling: its slots must not hold the players'
      // stores, or every other output would run dry behind it.
      stalled = true;
      LetGoOfStores();
      std::fprintf(stderr, "ASIO: the JACK server stopped processing; its output is silent\n");
    }
  }
}

void CAsioKernel::Impl::ServeWanted() {
  for (asio::AsioSlot& s : slots) s.ServeWanted(halfFrames);
}

void CAsioKernel::Impl::LetGoOfStores() {
  for (asio::AsioSlot& s : slots) {
    Disable(s);
    std::lock_guard lock(s.mutex);
    s.CloseSource();
    for (int h = 0; h < 2; ++h) {
      s.wanted[h].store(false);
      s.filled[h].store(0);
    }
  }
}

void CAsioKernel::Impl::Notify(const std::string& message) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(noticeMutex);
    handler = notice;
  }
  if (handler) handler(message);
}

// --------------------------------------------------------------------- UI

void CAsioKernel::Impl::AwaitCallback() {
  const uint64_t c = cycle.load();
  if (c % 2 == 0) return;
  const auto deadline = Clock::now() + kRampWaitLimit;
  while (cycle.load() == c && Clock::now() < deadline) std::this_thread::yield();
}

void CAsioKernel::Impl::RampOut(asio::AsioSlot& s) {
  s.playing.store(false, std::memory_order_release);
  if (!s.enabled.load() || !started.load() || lost.load()) return;
  const auto deadline = Clock::now() + kRampWaitLimit;
  while (s.sounding.load(std::memory_order_acquire) && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

void CAsioKernel::Impl::Disable(asio::AsioSlot& s) {
  s.enabled.store(false);
  AwaitCallback();
}

// ----------------------------------------------------------- the host

CAsioKernel::CAsioKernel()
    : CAsioKernel([](const std::string& name) -> std::unique_ptr<asio::BlockDevice> {
        return std::make_unique<asio::JackDevice>(ServerOfDriver(name));
      }) {}

CAsioKernel::CAsioKernel(DeviceFactory factory)
    : factory_(std::move(factory)), impl_(std::make_unique<Impl>()) {}

CAsioKernel::~CAsioKernel() {
  CloseDriver();
  RemoveCurrentDriver();
}

std::vector<std::string> CAsioKernel::ListDrivers(const std::vector<std::string>& extraServers) {
  std::vector<std::string> names;
  if (asio::JackDevice::ServerRunning("")) names.emplace_back("JACK");
  for (const std::string& server : extraServers) {
    const std::string name = "JACK (" + server + ")";
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (asio::JackDevice::ServerRunning(server)) names.push_back(name);
  }
  return names;
}

std::vector<std::string> CAsioKernel::ParseServerList(const std::string& setting) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= setting.size()) {
    size_t end = setting.find(',', start);
    if (end == std::string::npos) end = setting.size();
    const std::string name = setting.substr(start, end - start);
    const size_t first = name.find_first_not_of(" \t");
    const size_t last = name.find_last_not_of(" \t");
    if (first != std::string::npos) names.push_back(name.substr(first, last - first + 1));
    start = end + 1;
  }
  return names;
}

std::string CAsioKernel::ServerOfDriver(const std::string& name) {
  if (name.size() > 7 && name.rfind("JACK (", 0) == 0 && name.back() == ')')
    return name.substr(6, name.size() - 7);
  return "";
}

std::string CAsioKernel::SlotName(const std::string& name) {
  return name.size() >= 32 ? name.substr(0, 28) + "..." : name;
}

void CAsioKernel::SetDriverList(std::vector<std::string> names) {
  CloseDriver();
  RemoveCurrentDriver();
  drivers_ = std::move(names);
}

std::string CAsioKernel::GetDriverName(int index) const {
  return index >= 0 && index < static_cast<int>(drivers_.size()) ? drivers_[index] : "";
}

bool CAsioKernel::LoadDriver(const std::string& name) {
  const auto it = std::find(drivers_.begin(), drivers_.end(), name);
  if (it == drivers_.end()) return false;
  if (IsDriverOpen()) CloseDriver();
  const std::string before = CurrentDriver();
  RemoveCurrentDriver();
  if (auto device = factory_ ? factory_(name) : nullptr) {
    device_ = std::move(device);
    current_ = static_cast<int>(it - drivers_.begin());
    return true;
  }
  if (!before.empty() && before != name) LoadDriver(before);
  return false;
}

void CAsioKernel::RemoveCurrentDriver() {
  device_.reset();
  current_ = -1;
}

std::string CAsioKernel::CurrentDriver() const {
  return GetDriverName(current_);
}

bool CAsioKernel::OpenDriver(int& factor, int rate, const std::string& name) {
  factor_ = factor;
  rate_ = rate;
  if (!LoadDriver(name)) return false;
  const bool ok = OpenDriver();
  factor = factor_;
  return ok;
}

bool CAsioKernel::OpenDriver() {
  if (IsDriverOpen()) CloseDriver();
  if (!device_) return false;
  Impl& k = *impl_;
  long minimum = 0, maximum = 0, preferred = 0;
  const auto fail = [&](const std::string& what) {
    std::fprintf(stderr, "ASIO: %s: %s\n", CurrentDriver().c_str(), what.c_str());
    CloseDriver();
    return false;
  };
  if (!device_->Init()) return fail(device_->ErrorMessage());
  if (!device_->GetBufferSize(minimum, maximum, preferred) || minimum <= 0)
    return fail("no buffer size");
  if (bufferSize_ == 0) {
    if (factor_ == 0) {
      bufferSize_ = preferred * 4;
      factor_ = static_cast<int>(bufferSize_ / minimum);
    } else {
      bufferSize_ = static_cast<long>(factor_) * minimum;
    }
  }
  bufferSize_ = std::clamp(bufferSize_, minimum, maximum);
  if (!device_->CreateBuffers(bufferSize_, &k)) return fail("cannot create buffers");
  device_->SetSampleRate(rate_);  // a device that keeps its own rate is converted to

  k.deviceRate = device_->SampleRate();
  k.sampleType = device_->OutputSampleType();
  k.rampFrames = std::max<uint32_t>(1, k.deviceRate / 200);  // 5 ms
  // Eight device blocks per half, and never less than 100 ms: the refill
  // thread shares the machine with everything else.
  k.halfFrames = std::max<uint32_t>(8 * static_cast<uint32_t>(bufferSize_), k.deviceRate / 10);
  k.mixLeft.assign(kMaxBlockFrames, 0.0f);
  k.mixRight.assign(kMaxBlockFrames, 0.0f);
  for (asio::AsioSlot& s : k.slots) {
    for (int h = 0; h < 2; ++h) {
      s.halves[h].assign(2 * size_t{k.halfFrames}, 0.0f);
      s.filled[h].store(0);
      s.wanted[h].store(false);
    }
    s.enabled.store(false);
    s.envelope = 0;
  }
  k.peakLeft.store(0);
  k.peakRight.store(0);
  k.lost.store(false);
  k.started.store(false);
  k.open.store(true);
  k.StartRefill();
  return true;
}

bool CAsioKernel::Start() {
  if (!IsDriverOpen() || !device_->Start()) return false;
  impl_->started.store(true);
  return true;
}

void CAsioKernel::CloseDriver() {
  Impl& k = *impl_;
  if (!k.open.load()) {
    // A failed open leaves nothing running; the driver is let go all the same.
    if (device_) device_->DisposeBuffers();
    RemoveCurrentDriver();
    return;
  }
  device_->Stop();
  device_->DisposeBuffers();
  k.started.store(false);
  k.StopRefill();
  for (asio::AsioSlot& s : k.slots) {
    s.enabled.store(false);
    s.sounding.store(false);
    std::lock_guard lock(s.mutex);
    s.CloseSource();
    for (int h = 0; h < 2; ++h) {
      s.halves[h].clear();
      s.halves[h].shrink_to_fit();
      s.filled[h].store(0);
      s.wanted[h].store(false);
    }
  }
  k.open.store(false);
  RemoveCurrentDriver();
}

bool CAsioKernel::IsDriverOpen() const {
  return impl_->open.load();
}

CAsioKernel::BufferSizes CAsioKernel::DriverBufferSizes() const {
  BufferSizes sizes;
  if (!IsDriverOpen() || !device_->GetBufferSize(sizes.minimum, sizes.maximum, sizes.preferred))
    return {};
  return sizes;
}

uint32_t CAsioKernel::DeviceRate() const {
  return IsDriverOpen() ? impl_->deviceRate : 0;
}

bool CAsioKernel::OutputPeak(float& left, float& right) {
  left = right = 0;
  if (!IsDriverOpen()) return false;
  left = impl_->peakLeft.exchange(0);
  right = impl_->peakRight.exchange(0);
  return true;
}

void CAsioKernel::SetNoticeHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(impl_->noticeMutex);
  impl_->notice = std::move(handler);
}

uint64_t CAsioKernel::XrunCount() const {
  return impl_->xruns.load();
}

bool CAsioKernel::DeviceLost() const {
  return impl_->lost.load();
}

void CAsioKernel::SetStallLimitMs(int ms) {
  impl_->stallLimitMs.store(ms);
}

bool CAsioKernel::RefillIdle() const {
  for (const asio::AsioSlot& s : impl_->slots)
    if (s.wanted[0].load() || s.wanted[1].load()) return false;
  return true;
}

// ------------------------------------------------------------------ slots

void CAsioKernel::SetSlotStream(int slot, StreamStore* stream) {
  if (slot < 0 || slot >= kSlots) return;
  asio::AsioSlot& s = impl_->slots[slot];
  if (s.stream == stream) return;  // only the UI thread writes it
  if (s.Reading()) DetachSlot(slot);
  std::lock_guard lock(s.mutex);
  s.stream = stream;
}

void CAsioKernel::SetSlotFormat(int slot, const WaveFormat& format) {
  if (slot < 0 || slot >= kSlots) return;
  std::lock_guard lock(impl_->slots[slot].mutex);
  impl_->slots[slot].format = format;
}

void CAsioKernel::AttachSlot(int slot) {
  if (slot < kFirstMixedSlot || slot >= kSlots) return;
  Impl& k = *impl_;
  if (!k.open.load() || k.lost.load()) return;
  asio::AsioSlot& s = k.slots[slot];
  const bool wasPlaying = s.playing.load();
  k.RampOut(s);
  k.Disable(s);
  std::lock_guard lock(s.mutex);
  if (!s.Prime(k.deviceRate, k.halfFrames)) return;
  s.playing.store(wasPlaying);
  s.enabled.store(true);
}

void CAsioKernel::DetachSlot(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  Impl& k = *impl_;
  asio::AsioSlot& s = k.slots[slot];
  k.RampOut(s);
  s.left.store(0);
  s.right.store(0);
  k.Disable(s);
  std::lock_guard lock(s.mutex);
  s.CloseSource();
  for (int h = 0; h < 2; ++h) {
    s.wanted[h].store(false);
    s.filled[h].store(0);
    std::fill(s.halves[h].begin(), s.halves[h].end(), 0.0f);
  }
}

void CAsioKernel::SetSlotPlaying(int slot, bool playing) {
  if (slot >= 0 && slot < kSlots) impl_->slots[slot].playing.store(playing);
}

void CAsioKernel::SetSlotGains(int slot, float left, float right) {
  if (slot < 0 || slot >= kSlots) return;
  impl_->slots[slot].left.store(left);
  impl_->slots[slot].right.store(right);
}

}  // namespace orvex
