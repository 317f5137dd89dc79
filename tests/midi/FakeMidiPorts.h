// Ports the test plays the system for: it says which ports there are, and
// sends bytes as a port's input thread would.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"

namespace orvex::midi {

class FakePorts final : public MidiPortSystem {
 public:
  struct Open {
    std::string name;
    MidiReceive receive;
    void* user;
  };
  class Port final : public MidiInputPort {
   public:
    Port(FakePorts& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
    ~Port() override {
      std::lock_guard lock(owner_.mutex);
      std::erase_if(owner_.open, [&](const Open& o) { return o.name == name_; });
    }

   private:
    FakePorts& owner_;
    std::string name_;
  };

  std::vector<MidiPortInfo> ListInputPorts() override {
    std::lock_guard lock(mutex);
    ++listings;
    return ports;
  }
  std::unique_ptr<MidiInputPort> OpenInput(const MidiPortInfo& port, MidiReceive receive,
                                           void* user, std::string& error) override {
    std::lock_guard lock(mutex);
    ++opens;
    if (port.systemName.find("broken") != std::string::npos) {
      error = "refused";
      return nullptr;
    }
    open.push_back({port.systemName, receive, user});
    return std::make_unique<Port>(*this, port.systemName);
  }
  void SetChangeNotifier(std::function<void()> n) override {
    std::lock_guard lock(mutex);
    notify = std::move(n);
  }

  void Set(std::vector<std::string> names) {
    std::function<void()> n;
    {
      std::lock_guard lock(mutex);
      ports.clear();
      for (const std::string& name : names)
        ports.push_back({MidiApi::kJack, name, CapsOfPort(MidiApi::kJack, name)});
      n = notify;
    }
    if (n) n();
  }
  // Sends bytes as the port's input thread would; false when it is not open.
  bool Send(const std::string& name, std::vector<uint8_t> bytes) {
    std::lock_guard lock(mutex);
    for (const Open& o : open)
      if (o.name == name) {
        o.receive(bytes.data(), bytes.size(), o.user);
        return true;
      }
    return false;
  }
  bool IsOpen(const std::string& name) {
    std::lock_guard lock(mutex);
    for (const Open& o : open)
      if (o.name == name) return true;
    return false;
  }

  std::mutex mutex;
  std::vector<MidiPortInfo> ports;
  std::vector<Open> open;
  std::function<void()> notify;
  int listings = 0;
  int opens = 0;
};

}  // namespace orvex::midi
