// A JACK server as the host's block device: one client named "Orvex" with two
// output ports, connected to the first two physical playback ports when it
// starts. A server is never started on Orvex's behalf.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "output/jack/BlockDevice.h"

namespace orvex::jack {

class JackDevice final : public BlockDevice {
 public:
  // server: the server's name, "" for the default one.
  explicit JackDevice(std::string server);
  ~JackDevice() override;

  // True when the server answers (a client could connect).
  static bool ServerRunning(const std::string& server);

  bool Init() override;
  std::string ErrorMessage() const override { return error_; }
  bool GetBufferSize(long& minimum, long& maximum, long& preferred) override;
  uint32_t SampleRate() const override;
  bool SetSampleRate(double rate) override;
  int OutputSampleType() const override { return kFloat32LSB; }
  bool CreateBuffers(long frames, BlockCallback* callback) override;
  bool Start() override;
  void Stop() override;
  void DisposeBuffers() override;

  // Full names of the two output ports ("Orvex:out_1"...); empty before Init.
  std::vector<std::string> PortNames() const;

 private:
  static int Process(uint32_t frames, void* arg);
  static void Shutdown(int code, const char* reason, void* arg);  // code: jack_status_t
  static int Xrun(void* arg);
  void Close();

  std::string server_;
  std::string error_;
  void* client_ = nullptr;  // jack_client_t
  void* ports_[2] = {nullptr, nullptr};
  std::atomic<BlockCallback*> callback_{nullptr};
  std::atomic<bool> gone_{false};
  bool active_ = false;
};

}  // namespace orvex::jack
