// The console runs at a raised priority, so a busy desktop does not delay
// GO, fades or the refill of the players.
#pragma once

namespace orvex {

// Brings the scheduling priority of every thread of this process up to nice
// value target, or as far as the process is allowed (RLIMIT_NICE) when it may
// not go that far. Never lowers a priority. A process that may not raise it
// at all keeps running as it was; a line on standard error says so. Returns
// true when the priority is at least as high as target or was raised.
bool RaiseProcessPriority(int target = -10);

}  // namespace orvex
