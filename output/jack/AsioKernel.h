// The block-device host of the program (one for the whole program): it opens
// one driver (a JACK server) on one output. Its process callback pulls the
// output's mix from the voice engine attached to EngineDevice() and writes it
// to the two output buffers in the driver's sample type.
//
// Threads: every public operation runs on the UI thread unless noted. The
// process callback never locks, allocates, frees or logs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "output/jack/BlockDevice.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex {

class CAsioKernel {
 public:
  // Makes the device behind a driver name; nullptr when there is none.
  using DeviceFactory = std::function<std::unique_ptr<jack::BlockDevice>(const std::string& name)>;

  // The default factory opens JACK servers by their listed names.
  CAsioKernel();
  explicit CAsioKernel(DeviceFactory factory);
  ~CAsioKernel();
  CAsioKernel(const CAsioKernel&) = delete;
  CAsioKernel& operator=(const CAsioKernel&) = delete;

  // --- driver list ---
  // The JACK servers that are running now: the default server as "JACK",
  // then each of extraServers as "JACK (NAME)". No server is ever started.
  static std::vector<std::string> ListDrivers(const std::vector<std::string>& extraServers);
  // The settings' comma-separated server names, blanks trimmed, empty dropped.
  static std::vector<std::string> ParseServerList(const std::string& setting);
  // The JACK server a listed name stands for ("" for the default server).
  static std::string ServerOfDriver(const std::string& name);
  // A name as the 32-byte name slots hold it: 32 characters or more become
  // the first 28 and "...".
  static std::string SlotName(const std::string& name);

  void SetDriverList(std::vector<std::string> names);
  const std::vector<std::string>& DriverList() const { return drivers_; }
  std::string GetDriverName(int index) const;
  // Makes the named driver current; on failure the one loaded before stays.
  bool LoadDriver(const std::string& name);
  void RemoveCurrentDriver();
  std::string CurrentDriver() const;

  // --- open and close ---
  // Opens the loaded driver with the stored buffer factor and rate; the
  // factor may be updated (BufferFactor()).
  bool OpenDriver();
  // LoadDriver(name), then OpenDriver() with these; factor is updated.
  bool OpenDriver(int& factor, int rate, const std::string& name);
  // Starts the process callback; false when the device refuses.
  bool Start();
  // After the server went away and is running again: a new client on the
  // same driver, at the same buffer size, started and connected as at the
  // first open. The engine attached to EngineDevice() stays, so what plays
  // goes on; its voices are told they fell behind. Fails while the server
  // is not there, or when it came back at another rate (the engine's
  // voices are bound to the old one: only a full reopen serves then).
  enum class Reopen { kDone, kNotThere, kOtherRate };
  Reopen ReopenDriver();
  // The rate a server that came back at another rate runs at.
  int ReturnedRate() const { return returnedRate_; }
  // Once the server went away: its dead client goes at once, so that the
  // server's return can be seen (a process holding a client of a server
  // that died cannot reach the next one) and the name is free for the new
  // client. The engine stays attached; ReopenDriver makes a new client.
  void LetGoOfLostDevice();
  // Stops the device before anything it reads is freed.
  void CloseDriver();
  bool IsDriverOpen() const;

  void SetBufferFactor(int factor) { factor_ = factor; }
  int BufferFactor() const { return factor_; }
  void SetRate(int rate) { rate_ = rate; }
  int Rate() const { return rate_; }
  // The output the host plays on (0..2; -1 none).
  void SetOutput(int output) { output_ = output; }
  int Output() const { return output_; }

  // Buffer sizes in frames for the settings dialog; 0 without a driver.
  struct BufferSizes {
    long minimum = 0;
    long maximum = 0;
    long preferred = 0;
  };
  BufferSizes DriverBufferSizes() const;
  long BufferSize() const { return bufferSize_; }
  void SetBufferSize(long frames) { bufferSize_ = frames; }
  // The rate the device runs at (0 while closed).
  uint32_t DeviceRate() const;

  // The device the output's voice engine renders into; it can take an
  // engine once the driver is open (its rate is then the driver's).
  mixer::AudioDevice& EngineDevice();

  // --- status ---
  // Runs on the host's watcher thread with an operator message when the
  // device went away (its output is then silent until it is reopened).
  void SetNoticeHandler(std::function<void(const std::string&)> handler);
  uint64_t XrunCount() const;
  // True once the device went away; cleared by the next successful open.
  bool DeviceLost() const;

  struct Impl;

 private:
  DeviceFactory factory_;
  std::vector<std::string> drivers_;
  int current_ = -1;
  std::unique_ptr<jack::BlockDevice> device_;
  int factor_ = 4;
  int rate_ = 44100;
  int returnedRate_ = 0;
  int output_ = -1;
  long bufferSize_ = 0;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex
