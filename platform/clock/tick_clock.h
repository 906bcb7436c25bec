// The tick of 55 ms in which the fax engine and the port service count time,
// and the conversions between seconds and ticks. The conversions are integer
// arithmetic exactly as the configuration stores them: 60 s is 1092 ticks,
// and 1092 ticks read back as 60 s.
#pragma once

#include <cstdint>

namespace tv {

inline constexpr int kTickMs = 55;

constexpr int64_t SecondsToTicks(int64_t seconds) { return seconds * 1675 / 92; }
constexpr int64_t TicksToSeconds(int64_t ticks) { return (ticks + 9) * 92 / 1675; }
constexpr int64_t TicksToMs(int64_t ticks) { return ticks * kTickMs; }
// Milliseconds to ticks, rounded up so that a wait is never shorter than asked.
constexpr int64_t MsToTicks(int64_t ms) { return (ms + kTickMs - 1) / kTickMs; }

}  // namespace tv
