// Any bytes as a WAV file: the source must refuse or open it without a
// crash, never read past what it said it would, and read every sample byte
// the data chunk claims as far as the file holds them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SilentSink.h"
#include "engine/WaveSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvex::SilenceMessages();
  // The file in memory, opened by name as a player opens one.
  const int fd = memfd_create("wav", 0);
  if (fd < 0) return 0;
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += size_t(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  orvex::CWaveSource source(-1);
  if (source.OpenWaveFile(path)) {
    // Whether the format can be played is the outputs' decision; the reader
    // only has to find the samples where the file says they are.
    if (source.DataOffset() > size) std::abort();
    std::vector<uint8_t> block(4096);
    uint64_t total = 0;
    for (int guard = 0; guard < 1 << 16; ++guard) {  // bounded, never hangs
      const uint32_t before = source.Remaining();
      const uint32_t n = source.ReadBlock(block.data(), uint32_t(block.size()));
      if (n > block.size() || n > before) std::abort();
      if (n == 0) break;
      total += n;
    }
    if (total > size - source.DataOffset()) std::abort();
    // A seek anywhere, past the end included, then a read, must hold too.
    if (source.SeekData(source.DataSize() / 2)) source.ReadBlock(block.data(), 16);
    source.SeekData(UINT32_MAX);
  }
  close(fd);
  return 0;
}
