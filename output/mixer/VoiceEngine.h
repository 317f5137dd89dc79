// The in-process voice engine: per output one engine with a mastering voice
// bound to a device, and source voices that play queued PCM buffers.
//
// Threads: voices are created, fed and controlled from ordinary threads (UI,
// timer); the device calls Render on its audio thread (or on the caller's
// thread for a virtual device). The audio side never locks, allocates, frees
// or logs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output/PeakSource.h"
#include "output/WaveFormat.h"

namespace orvex::mixer {

// The engine's side of a device: fills interleaved float frames.
class RenderCallback {
 public:
  virtual ~RenderCallback() = default;
  virtual void Render(float* interleaved, uint32_t frames) = 0;
  // The device stopped calling for so long that what the voices hold has
  // fallen behind the players' clocks, and now calls again (audio thread).
  virtual void OnDeviceResumed() {}
};

// An output device the engine renders into.
class AudioDevice {
 public:
  virtual ~AudioDevice() = default;
  virtual std::string Id() const = 0;
  virtual std::string Name() const = 0;
  virtual uint32_t Channels() const = 0;
  virtual uint32_t Rate() const = 0;
  // Starts calling callback->Render; false when the device cannot be opened.
  virtual bool Open(RenderCallback* callback) = 0;
  // After Close returns no Render call runs or starts.
  virtual void Close() = 0;
  // Frames between a render and the moment it is heard (the device's and the
  // server's buffers): a fade rendered just before a close must be followed
  // by this much before the device may go, or the close cuts it off.
  virtual uint32_t PlayOutFrames() const { return 0; }
  // Whether an audio thread of the device's own pulls the frames. A device
  // its owner pulls by hand (offline renders) is never waited for.
  virtual bool PullsByItself() const { return true; }
};

// An effect in a voice's chain (the tone control fills it). Process runs on
// the audio thread over one quantum of float frames in place.
class Effect {
 public:
  virtual ~Effect() = default;
  // Called before the effect goes live (not on the audio thread).
  virtual void Prepare(uint32_t channels, uint32_t rate) = 0;
  virtual void Process(float* interleaved, uint32_t frames, uint32_t channels) = 0;
  // On the audio thread: Process would leave the frames as they are, so the
  // voice may skip it. An effect that has state only says so once that
  // state has died away, so skipping never cuts anything off.
  virtual bool Bypassed() const { return false; }
};

struct VoiceState {
  uint32_t buffersQueued = 0;  // submitted and not yet finished, the playing one included
  uint64_t samplesPlayed = 0;  // source frames consumed since creation
};

class SourceVoice {
 public:
  virtual ~SourceVoice() = default;
  // Queues a caller-owned buffer; the caller keeps it unchanged until the
  // voice has finished it (buffersQueued drops). False when the queue is full.
  virtual bool SubmitSourceBuffer(const uint8_t* data, uint32_t bytes) = 0;
  virtual void Start() = 0;
  // Stops consuming; queued buffers stay so Start resumes where it stopped.
  virtual void Stop() = 0;
  // Drops every queued buffer (the one playing too when the voice is stopped).
  // A running voice drops the playing one as well and plays silence until the
  // next submit.
  virtual void FlushSourceBuffers() = 0;
  virtual VoiceState GetState() const = 0;
  virtual void SetVolume(float volume) = 0;
  // One volume per source channel; count must equal the source's channels.
  virtual bool SetChannelVolumes(uint32_t count, const float* volumes) = 0;
  // nullptr clears the chain. Returns after the audio side uses the new one.
  // The effect gets the voice's stereo frames at the device rate.
  virtual void SetEffectChain(Effect* effect) = 0;
  virtual const WaveFormat& Format() const = 0;
  virtual float MaxFrequencyRatio() const = 0;
};

// Whether the engine plays samples of this format at all: PCM of 8, 16, 24
// or 32 bits whose frames are exactly channels × bits / 8 bytes.
bool IsPlayableFormat(const WaveFormat& format);

class VoiceEngine {
 public:
  virtual ~VoiceEngine() = default;
  // Binds the engine to a device and opens it. One mastering voice at a time.
  // The device must outlive the mastering voice.
  virtual bool CreateMasteringVoice(AudioDevice& device) = 0;
  // Closes the device; source voices still alive are destroyed with it. A
  // device that is still sounding first fades to silence over one processing
  // quantum, and closes once that fade has been heard (a few tens of ms at
  // most; a device that stopped pulling is not waited for).
  virtual void DestroyMasteringVoice() = 0;
  // Starts that fade without waiting for it, so the outputs closing together
  // fade at once and each close waits only for what is left of its fade.
  virtual void FadeOut() = 0;
  virtual bool HasMasteringVoice() const = 0;
  virtual uint32_t DeviceChannels() const = 0;
  virtual uint32_t DeviceRate() const = 0;
  // nullptr when the format is not 8/16/24/32-bit PCM (plain or extensible),
  // or there is no mastering voice. Not for the audio thread. Voices are
  // summed in the order of their places: `place` (when free) puts the voice
  // where its owner always has it, so the sum does not depend on which
  // voice happened to be made first (renders stay identical run to run).
  virtual SourceVoice* CreateSourceVoice(const WaveFormat& format, float maxFrequencyRatio = 2.0f,
                                         int place = -1) = 0;
  // Returns once the audio side no longer touches the voice.
  virtual void DestroyVoice(SourceVoice* voice) = 0;
  // The peaks of what the engine rendered (clamped to full scale), live
  // while it has a mastering voice: what the level meter reads.
  virtual PeakSource& Peaks() = 0;
  // How often the device went on after such a stall; whoever feeds the
  // voices compares it with what it saw before and puts voices that fell
  // behind back at their player's clock. Any thread.
  virtual uint64_t DeviceResumes() const = 0;
};

// processingQuantumFrames: frames over which a volume change ramps; 0 means
// 10 ms at the device rate.
std::unique_ptr<VoiceEngine> CreateVoiceEngine(uint32_t processingQuantumFrames = 0);

}  // namespace orvex::mixer
