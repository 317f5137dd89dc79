// Bit n is set while fader n fades with file reading blocked: players skip
// their block fills while any bit is set, so a fade is never held up by disk.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvex {

inline std::atomic<uint16_t> g_fadeMask{0};

}  // namespace orvex
