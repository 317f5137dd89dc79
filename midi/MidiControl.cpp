#include "midi/MidiControl.h"

#include <algorithm>
#include <chrono>

#include "show/Messages.h"

namespace orvex::midi {
namespace {

constexpr auto kWatchPeriod = std::chrono::seconds(1);

bool SameListing(const std::vector<MidiPortInfo>& a, const std::vector<MidiPortInfo>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const MidiPortInfo& x, const MidiPortInfo& y) {
                      return x.api == y.api && x.systemName == y.systemName;
                    });
}

}  // namespace

std::string MidiOpenFailedMessage(const std::string& portName) {
  return "MIDIポート「" + portName + "」を開けませんでした。";
}

CMidiControl::CMidiControl(MidiPortSystem& ports, UiPoster& poster, Sink sink)
    : ports_(ports), poster_(poster), sink_(std::move(sink)) {
  ports_.SetChangeNotifier([this] {
    {
      std::lock_guard lock(watchMutex_);
      watchPoke_ = true;
    }
    watchWake_.notify_one();
  });
  dispatcher_ = std::thread([this] { Dispatch(); });
}

CMidiControl::~CMidiControl() {
  DisconnectMidi();
  quit_.store(true);
  pending_.release();
  dispatcher_.join();
  ports_.SetChangeNotifier(nullptr);
  *alive_ = false;
}

void CMidiControl::ReplaceDevices(CMidiDeviceList devices) {
  CloseAll();
  devices_ = std::move(devices);
}

MidiFileStatus CMidiControl::LoadSettings(const std::string& path) {
  CloseAll();
  return LoadMidiSettings(path, devices_);
}

void CMidiControl::EnumerateMidiDevices() {
  ReconcileMidiDevices(devices_, ports_.ListInputPorts());
}

void CMidiControl::ConnectMidi() {
  connected_ = true;
  StartWatch();
  for (auto& d : devices_)
    if (d->m_present && d->m_enabled && !d->m_opened) Open(*d);
}

void CMidiControl::DisconnectMidi() {
  StopWatch();
  connected_ = false;
  CloseAll();
}

bool CMidiControl::Open(CMidiDevice& device) {
  auto link = std::make_unique<Link>();
  link->owner = this;
  link->device = &device;
  link->portName = device.PortName();
  link->mapping = MappingOf(device);
  std::string error;
  const MidiPortInfo info{device.m_api, device.m_systemName, device.m_caps};
  link->port = ports_.OpenInput(info, &CMidiControl::Receive, link.get(), error);
  if (!link->port) {
    // Once per port: a port that keeps failing while watched says it once.
    if (failed_.insert(device.m_caps.Name()).second)
      ReportMessage(MidiOpenFailedMessage(link->portName));
    return false;
  }
  failed_.erase(device.m_caps.Name());
  device.m_opened = 1;
  link->started.store(true, std::memory_order_release);
  device.m_started = 1;
  std::lock_guard lock(linksMutex_);
  links_.push_back(std::move(link));
  return true;
}

void CMidiControl::Close(Link& link) {
  link.started.store(false, std::memory_order_release);
  link.device->m_started = 0;
  link.port.reset();  // no callback runs after this
  link.device->m_opened = 0;
  std::lock_guard lock(linksMutex_);
  std::erase_if(links_, [&](const std::unique_ptr<Link>& l) { return l.get() == &link; });
}

void CMidiControl::CloseAll() {
  std::vector<Link*> open;
  {
    std::lock_guard lock(linksMutex_);
    for (auto& l : links_) open.push_back(l.get());
  }
  for (Link* l : open) Close(*l);
}

void CMidiControl::Receive(const uint8_t* bytes, size_t size, void* user) {
  Link& link = *static_cast<Link*>(user);
  if (!link.started.load(std::memory_order_acquire)) return;
  const MidiCommands commands = DecodeMidiMessage(bytes, size, link.mapping);
  if (commands.empty()) return;
  const uint32_t head = link.head.load(std::memory_order_relaxed);
  if (head - link.tail.load(std::memory_order_acquire) >= Link::kRing) {
    link.owner->dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  Slot& slot = link.ring[head % Link::kRing];
  slot.size = static_cast<int>(std::min<size_t>(size, 3));
  for (size_t i = 0; i < slot.bytes.size(); ++i) slot.bytes[i] = i < size ? bytes[i] : 0;
  slot.commands = commands;
  link.head.store(head + 1, std::memory_order_release);
  link.owner->pending_.release();
}

void CMidiControl::Dispatch() {
  for (;;) {
    pending_.acquire();
    if (quit_.load()) return;
    std::lock_guard lock(linksMutex_);
    for (auto& link : links_) {
      uint32_t tail = link->tail.load(std::memory_order_relaxed);
      const uint32_t head = link->head.load(std::memory_order_acquire);
      for (; tail != head; ++tail) {
        const Slot& slot = link->ring[tail % Link::kRing];
        MidiEvent event{link->portName, slot.bytes, slot.size, slot.commands};
        received_.fetch_add(1, std::memory_order_relaxed);
        poster_.Post([this, alive = alive_, event = std::move(event)] {
          if (*alive && sink_) sink_(event);
        });
      }
      link->tail.store(tail, std::memory_order_release);
    }
  }
}

void CMidiControl::StartWatch() {
  if (watcher_.joinable()) return;
  ports_.KeepWatching(true);
  {
    std::lock_guard lock(watchMutex_);
    watchQuit_ = false;
    watchPoke_ = false;
  }
  watcher_ = std::thread([this] { Watch(); });
}

void CMidiControl::StopWatch() {
  if (!watcher_.joinable()) return;
  {
    std::lock_guard lock(watchMutex_);
    watchQuit_ = true;
  }
  watchWake_.notify_one();
  watcher_.join();
  ports_.KeepWatching(false);
}

void CMidiControl::Watch() {
  std::vector<MidiPortInfo> last;
  bool first = true;
  for (;;) {
    {
      std::unique_lock lock(watchMutex_);
      watchWake_.wait_for(lock, kWatchPeriod, [&] { return watchQuit_ || watchPoke_; });
      if (watchQuit_) return;
      watchPoke_ = false;
    }
    std::vector<MidiPortInfo> ports = ports_.ListInputPorts();
    if (!first && SameListing(ports, last)) continue;
    first = false;
    last = ports;
    poster_.Post([this, alive = alive_, ports = std::move(ports)] {
      if (*alive && connected_) OnPortsListed(ports);
    });
  }
}

void CMidiControl::OnPortsListed(const std::vector<MidiPortInfo>& ports) {
  const auto listed = [&](const CMidiDevice& d) {
    return std::any_of(ports.begin(), ports.end(),
                       [&](const MidiPortInfo& p) { return d.m_caps.SameIdentity(p.caps); });
  };
  for (auto& d : devices_) {
    if (listed(*d)) continue;
    d->m_present = 0;
    Link* gone = nullptr;
    {
      std::lock_guard lock(linksMutex_);
      for (auto& l : links_)
        if (l->device == d.get()) gone = l.get();
    }
    if (gone) Close(*gone);
  }
  const size_t known = devices_.size();
  ReconcileMidiDevices(devices_, ports);
  if (checkNew_) {
    for (size_t i = known; i < devices_.size(); ++i) {
      CMidiDevice& d = *devices_[i];
      d.m_enabled = checkNew_({d.m_api, d.m_systemName, d.m_caps}) ? 1 : 0;
    }
  }
  for (auto& d : devices_)
    if (d->m_present && d->m_enabled && !d->m_opened) Open(*d);
}

}  // namespace orvex::midi
