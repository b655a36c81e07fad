// The one millisecond clock behind GetTickCount and timeGetTime.
// In the program it reads a monotonic source; tests and the offline renderer drive it by hand,
// so that a whole play runs deterministically.
#pragma once

#include <cstdint>

namespace gui {

class Clock {
public:
    // Milliseconds since an arbitrary origin, wrapping at 2^32 like the Windows counters.
    static uint32_t Now();

    // Switches to a hand-driven clock that reads `startMs` until it is advanced.
    static void UseManual(uint32_t startMs = 0);
    // Back to the monotonic source.
    static void UseSystem();
    static bool IsManual();
    static void Advance(uint32_t ms);
    static void Set(uint32_t ms);
};

// Nanoseconds of the monotonic source, for measuring intervals; never hand-driven.
int64_t SteadyNanoseconds();

inline uint32_t GetTickCount() { return Clock::Now(); }
inline uint32_t timeGetTime() { return Clock::Now(); }

// Waits `ms` milliseconds; under the hand-driven clock it advances the clock instead of waiting.
void Sleep(uint32_t ms);

}  // namespace gui
