// One playback stream on a sink in a file's own sample format and rate (the
// server converts): the shared-mode client of one player on one output. The
// owner writes into it from an ordinary thread; nothing runs on the server
// thread but its bookkeeping.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "output/WaveFormat.h"
#include "output/pulse/PulseServer.h"

struct pa_stream;

namespace orvex::pulse {

class PulsePlayStream {
 public:
  PulsePlayStream() = default;
  ~PulsePlayStream() { Close(); }
  PulsePlayStream(const PulsePlayStream&) = delete;
  PulsePlayStream& operator=(const PulsePlayStream&) = delete;

  // Opens corked with a buffer of about bufferMs. False when the format has
  // no server sample format or the sink refuses the stream.
  bool Open(PulseServer& server, const std::string& sink, const WaveFormat& format,
            uint32_t bufferMs);
  void Close();
  bool IsOpen() const { return stream_ != nullptr; }
  // False once the server dropped the stream.
  bool Healthy() const { return stream_ != nullptr && !failed_.load(); }

  // The stream's buffer in bytes, and how many of them may be written now.
  size_t BufferBytes() const { return bufferBytes_; }
  size_t Writable();
  // Appends at the write index, or writes at `index` (bytes since the
  // stream began), replacing what was written there before.
  bool Write(const void* data, size_t bytes, int64_t index = -1);
  // Where the next append goes, and how far the server has read (asked
  // afresh); both in bytes since the stream began.
  int64_t WriteIndex() const { return writeIndex_; }
  bool ReadIndex(int64_t& index);
  // How far the listener has heard, in the same bytes (the read index less
  // what the sink holds); asked afresh.
  bool PlayedIndex(int64_t& index);
  // The same from the server's last timing report carried forward by the
  // clock: no round trip, a few milliseconds less exact.
  bool PlayedIndexNow(int64_t& index);
  void Cork(bool corked);
  // Drops everything written and not yet played.
  void Flush();
  // Peaks of the stream (0..1) since the last read; filled by the writer.

 private:
  static void OnState(pa_stream* s, void* user);
  // Asks the server for fresh timing; with the lock held.
  bool UpdateTiming();

  PulseServer* server_ = nullptr;
  pa_stream* stream_ = nullptr;
  size_t bufferBytes_ = 0;
  int64_t writeIndex_ = 0;
  std::atomic<bool> failed_{false};
};

}  // namespace orvex::pulse
