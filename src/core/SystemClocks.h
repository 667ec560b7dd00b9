#pragma once
// A system clock read in microseconds: CLOCK_REALTIME (the wall clock) or CLOCK_MONOTONIC
// (the one the sound server's timing and the recording's time base are measured on).
#include <cstdint>
#include <time.h>

namespace core {

inline std::int64_t clockUs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return std::int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

}  // namespace core
