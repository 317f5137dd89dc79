#include "output/jack/AsioKernel.h"

#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "output/DeviceSamples.h"
#include "output/jack/AsioMessages.h"
#include "output/jack/JackDevice.h"
#include "output/mixer/RenderPort.h"

namespace orvex {
namespace {

// The largest piece the callback renders at once; a longer device block is
// rendered in pieces.
constexpr uint32_t kMaxPieceFrames = 1024;

// A gap between two calls of the process callback longer than this is a
// stall of the server, not a missed period: the voices have fallen that far
// behind their players' clocks and are brought back to them, and the
// operator is told. Shorter gaps are xruns the server reports itself.
constexpr int64_t kStallNs = 500'000'000;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);  // vDSO: no system call, no lock
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

struct CAsioKernel::Impl final : jack::BlockCallback {
  mixer::RenderPort port;
  int sampleType = kFloat32LSB;
  std::vector<float> mix;  // kMaxPieceFrames interleaved stereo frames

  std::atomic<bool> open{false};
  std::atomic<bool> lost{false};
  std::atomic<uint64_t> xruns{0};
  // Stalls the process callback saw, and the last one's length.
  std::atomic<uint64_t> stalls{0};
  std::atomic<int64_t> stallNs{0};
  // Audio thread only (reset while the device is stopped).
  int64_t lastSwitchNs = 0;

  // The device layer reports a loss from a thread where only async-safe
  // calls are allowed: it posts, and the watcher tells the operator.
  sem_t wake;
  std::thread watcher;
  std::atomic<bool> quit{false};
  std::mutex noticeMutex;
  std::function<void(const std::string&)> notice;

  Impl() { sem_init(&wake, 0, 0); }
  ~Impl() override {
    StopWatcher();
    sem_destroy(&wake);
  }

  void OnBufferSwitch(void* left, void* right, uint32_t frames) override;
  void OnXrun() override { xruns.fetch_add(1, std::memory_order_relaxed); }
  void OnDeviceLost() override {
    lost.store(true);
    sem_post(&wake);
  }

  void StartWatcher();
  void StopWatcher();
  void Notify(const std::string& message);
};

void CAsioKernel::Impl::OnBufferSwitch(void* left, void* right, uint32_t frames) {
  const int64_t now = MonotonicNs();
  if (lastSwitchNs != 0 && now - lastSwitchNs > kStallNs) {
    port.Resumed();
    stallNs.store(now - lastSwitchNs, std::memory_order_relaxed);
    stalls.fetch_add(1, std::memory_order_release);
    sem_post(&wake);  // async-signal-safe, never blocks
  }
  lastSwitchNs = now;
  const size_t width = SampleBytes(sampleType);
  auto* l = static_cast<uint8_t*>(left);
  auto* r = static_cast<uint8_t*>(right);
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(kMaxPieceFrames, frames - done);
    port.Render(mix.data(), n);
    WriteSamples(sampleType, mix.data(), 2, l + done * width, 1, n);
    WriteSamples(sampleType, mix.data() + 1, 2, r + done * width, 1, n);
    done += n;
  }
}

void CAsioKernel::Impl::StartWatcher() {
  quit.store(false);
  watcher = std::thread([this, reported = stalls.load()]() mutable {
    while (true) {
      sem_wait(&wake);
      if (quit.load()) return;
      if (const uint64_t seen = stalls.load(std::memory_order_acquire); seen != reported) {
        reported = seen;
        std::fprintf(stderr, "ASIO: the JACK server stalled for %lld ms and has resumed\n",
                     static_cast<long long>(stallNs.load(std::memory_order_relaxed) / 1'000'000));
        Notify(kAsioStalledAndResumed);
      }
      if (lost.load()) {
        std::fprintf(stderr, "ASIO: the JACK server went away; its output is silent\n");
        Notify(kAsioDeviceLost);
        return;  // one notice per open
      }
    }
  });
}

void CAsioKernel::Impl::StopWatcher() {
  if (!watcher.joinable()) return;
  quit.store(true);
  sem_post(&wake);
  watcher.join();
  while (sem_trywait(&wake) == 0) {
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

// ----------------------------------------------------------- the host

CAsioKernel::CAsioKernel()
    : CAsioKernel([](const std::string& name) -> std::unique_ptr<jack::BlockDevice> {
        return std::make_unique<jack::JackDevice>(ServerOfDriver(name));
      }) {}

CAsioKernel::CAsioKernel(DeviceFactory factory)
    : factory_(std::move(factory)), impl_(std::make_unique<Impl>()) {}

CAsioKernel::~CAsioKernel() {
  CloseDriver();
  RemoveCurrentDriver();
}

std::vector<std::string> CAsioKernel::ListDrivers(const std::vector<std::string>& extraServers) {
  std::vector<std::string> names;
  if (jack::JackDevice::ServerRunning("")) names.emplace_back("JACK");
  for (const std::string& server : extraServers) {
    const std::string name = "JACK (" + server + ")";
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (jack::JackDevice::ServerRunning(server)) names.push_back(name);
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
  k.lastSwitchNs = 0;  // before the device can call back
  if (!device_->CreateBuffers(bufferSize_, &k)) return fail("cannot create buffers");
  device_->SetSampleRate(rate_);  // a device that keeps its own rate is converted to

  k.sampleType = device_->OutputSampleType();
  k.mix.assign(size_t{kMaxPieceFrames} * 2, 0.0f);
  k.port.Configure(CurrentDriver(), CurrentDriver(), device_->SampleRate());
  // The server plays a period while the next is rendered.
  k.port.SetPlayOutFrames(static_cast<uint32_t>(2 * minimum));
  k.lost.store(false);
  k.open.store(true);
  k.StartWatcher();
  return true;
}

void CAsioKernel::LetGoOfLostDevice() {
  Impl& k = *impl_;
  if (!k.open.load() || !device_) return;
  device_->Stop();
  device_->DisposeBuffers();
  k.StopWatcher();
  device_.reset();
}

CAsioKernel::Reopen CAsioKernel::ReopenDriver() {
  Impl& k = *impl_;
  const std::string name = CurrentDriver();
  if (!k.open.load() || name.empty()) return Reopen::kNotThere;
  LetGoOfLostDevice();
  device_ = factory_ ? factory_(name) : nullptr;
  if (!device_) return Reopen::kNotThere;
  long minimum = 0, maximum = 0, preferred = 0;
  const auto fail = [&](const std::string& what) {
    std::fprintf(stderr, "ASIO: reopening %s: %s\n", name.c_str(), what.c_str());
    // Its client goes again: one held on a server that is later restarted
    // would keep this program from reaching the next one.
    LetGoOfLostDevice();
    return Reopen::kNotThere;
  };
  if (!device_->Init()) return fail(device_->ErrorMessage());
  if (!device_->GetBufferSize(minimum, maximum, preferred) || minimum <= 0)
    return fail("no buffer size");
  if (device_->SampleRate() != k.port.Rate()) {
    returnedRate_ = static_cast<int>(device_->SampleRate());
    fail("the server runs at another rate");
    return Reopen::kOtherRate;
  }
  k.lastSwitchNs = 0;  // the device is not running: the audio side is idle
  if (!device_->CreateBuffers(std::clamp(bufferSize_, minimum, maximum), &k))
    return fail("cannot create buffers");
  k.port.SetPlayOutFrames(static_cast<uint32_t>(2 * minimum));
  k.lost.store(false);
  k.StartWatcher();
  k.port.Resumed();  // before the device runs: its first block ramps in
  if (!device_->Start()) return fail("cannot start");
  return Reopen::kDone;
}

bool CAsioKernel::Start() {
  return IsDriverOpen() && device_ && device_->Start();
}

void CAsioKernel::CloseDriver() {
  Impl& k = *impl_;
  if (!k.open.load()) {
    // A failed open leaves nothing running; the driver is let go all the same.
    if (device_) device_->DisposeBuffers();
    RemoveCurrentDriver();
    return;
  }
  if (device_) {  // none while a lost server's client is gone
    device_->Stop();
    device_->DisposeBuffers();
  }
  // An engine still attached hears nothing more from this device.
  k.port.Close();
  k.port.Configure({}, {}, 0);
  k.StopWatcher();
  k.open.store(false);
  RemoveCurrentDriver();
}

bool CAsioKernel::IsDriverOpen() const {
  return impl_->open.load();
}

CAsioKernel::BufferSizes CAsioKernel::DriverBufferSizes() const {
  BufferSizes sizes;
  if (!IsDriverOpen() || !device_ ||
      !device_->GetBufferSize(sizes.minimum, sizes.maximum, sizes.preferred))
    return {};
  return sizes;
}

uint32_t CAsioKernel::DeviceRate() const {
  return IsDriverOpen() ? impl_->port.Rate() : 0;
}

mixer::AudioDevice& CAsioKernel::EngineDevice() {
  return impl_->port;
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

}  // namespace orvex
