// The buffer size the ASIO settings dialog takes from the operator's entry.
#pragma once

namespace orvex::jack {

struct BufferChoice {
  long size = 0;
  int factor = 0;
};

// With a driver minimum the entry is rounded down to a multiple of it, and
// that multiple becomes the factor; an entry below the minimum keeps the
// factor. Without a driver the entry stands and the factor goes back to 4.
inline BufferChoice ChooseBufferSize(long entered, long minimum, int factor) {
  if (minimum <= 0) return {entered, 4};
  const long size = minimum * (entered / minimum);
  if (size != 0) return {size, static_cast<int>(size / minimum)};
  return {minimum * factor, factor};
}

}  // namespace orvex::jack
