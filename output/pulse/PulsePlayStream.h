// One playback stream on a sink in a file's own sample format and rate (the
// server converts): the shared-mode client of one player on one output. The
// owner writes into it from an ordinary thread; nothing runs on the server
// thread but its bookkeeping. A stream is uncorked and closed on one thread
// (the UI thread), where a StartTogether holds its start.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "output/WaveFormat.h"
#include "output/pulse/PulseServer.h"

struct pa_stream;

namespace orvex::pulse {

class PulsePlayStream {
 public:
  // While one exists on a thread, the uncorks that thread asks for wait, and
  // go to the server together, in one pass under each server's lock, when
  // the outermost one ends: the streams of one GO then start in the same
  // moment of the server, not one after another as each player gets there.
  class StartTogether {
   public:
    StartTogether();
    ~StartTogether();
    StartTogether(const StartTogether&) = delete;
    StartTogether& operator=(const StartTogether&) = delete;
  };

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
  // When the listener heard the stream's first byte, in seconds of the
  // server's time stamps (a monotonic clock), from the server's own figures
  // (bytes read, sink latency) without smoothing; asked afresh.
  bool HeardFirstAt(double& seconds);
  // Uncorking waits for the end of a StartTogether on this thread.
  void Cork(bool corked);
  // Drops everything written and not yet played.
  void Flush();
  // Peaks of the stream (0..1) since the last read; filled by the writer.

 private:
  static void OnState(pa_stream* s, void* user);
  // Asks the server for fresh timing; with the lock held.
  bool UpdateTiming();
  // From the timing the server last reported; under the server lock.
  bool PlayedIndexLocked(int64_t& index);
  // With the lock held.
  void SendCork(bool corked);
  static void StartHeld(std::vector<PulsePlayStream*>& held);

  PulseServer* server_ = nullptr;
  pa_stream* stream_ = nullptr;
  size_t bufferBytes_ = 0;
  int64_t writeIndex_ = 0;
  std::atomic<bool> failed_{false};
};

}  // namespace orvex::pulse
