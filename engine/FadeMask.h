// Bit n is set while fader n fades and the settings ask for file reading to
// hold back during fades (the BLOCK option): players ask their reader for no
// new block while any bit is set. Reads run on the players' reader threads,
// so without the option fades and reads go on side by side.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvex {

inline std::atomic<uint16_t> g_fadeMask{0};

}  // namespace orvex
