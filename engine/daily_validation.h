// The overlap rules of presence validation: which sources of one stretch of the day may come
// together (a clock presence, a leave, a mission, a service-late and an extra-work
// permission), what they count as, and the error code of a forbidden combination.
// Pure functions; any thread may call them.
#pragma once

#include "engine/daily_codes.h"

namespace zel::engine {

// Bits of the found-set mask of a stretch, one per source.
inline constexpr int kFoundPresence = 1;     // clock presence or presence mark (type 1)
inline constexpr int kFoundLeave = 2;        // leave (type 2)
inline constexpr int kFoundMission = 4;      // mission (type 3)
inline constexpr int kFoundServiceLate = 8;  // service-late permission (type 5)
inline constexpr int kFoundExtraWork = 16;   // extra-work permission (type 4)

// The overlap code of a found-set mask 0..31. The code is itself a mask of the sources
// that count; raises std::out_of_range for another mask.
int OverlapCode(int mask);

// The error that an overlap code stops the day with, or kNone when it is allowed.
DayError OverlapErrorCode(int overlap_code);

}  // namespace zel::engine
