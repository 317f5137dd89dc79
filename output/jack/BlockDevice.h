// The driver layer under the host: a device that calls back once per block
// with two output buffers to fill. JACK is the real one; tests drive their own.
#pragma once

#include <cstdint>
#include <string>

#include "output/DeviceSamples.h"

namespace orvex::jack {

// The sample types of the block-driver convention (DeviceSamples.h).
using enum orvex::SampleType;

// What the device calls. OnBufferSwitch and OnXrun run on the device's
// real-time thread; OnDeviceLost on a thread of the device layer. None of
// them may block, allocate or log.
class BlockCallback {
 public:
  virtual ~BlockCallback() = default;
  // left and right hold `frames` samples of the device's sample type.
  virtual void OnBufferSwitch(void* left, void* right, uint32_t frames) = 0;
  virtual void OnXrun() = 0;
  virtual void OnDeviceLost() = 0;
};

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  // Connects to the device; false when it cannot (ErrorMessage says why).
  virtual bool Init() = 0;
  virtual std::string ErrorMessage() const = 0;
  virtual bool GetBufferSize(long& minimum, long& maximum, long& preferred) = 0;
  virtual uint32_t SampleRate() const = 0;
  // False when the device cannot run at that rate.
  virtual bool SetSampleRate(double rate) = 0;
  virtual int OutputSampleType() const = 0;
  // Two output channels of `frames` (the device may call back with fewer).
  virtual bool CreateBuffers(long frames, BlockCallback* callback) = 0;
  virtual bool Start() = 0;
  // After Stop returns no callback runs or starts.
  virtual void Stop() = 0;
  virtual void DisposeBuffers() = 0;
};

}  // namespace orvex::jack
