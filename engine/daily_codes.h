// The codes of the daily engine: where a presence comes from, what a classified stretch of the
// day means (and the status stored for it in TimeTab), why a day stopped, and the kinds of
// work group with a rule of their own. The integer values are the ones stored in and read
// from the database and carried by the calculation framework; ToInt and the From functions
// convert at those boundaries and nowhere else.
// Plain values and pure functions; any thread may use them.
#pragma once

#include "engine/calc.h"

namespace zel::engine {

// The source of an assembled presence (its SpecificType before validation).
enum class SourceType : int {
  kPresence = 1,           // a clock interval or a presence mark
  kLeave = 2,              // hourly or daily leave
  kMission = 3,            // hourly or daily mission
  kExtraWorkPermit = 4,    // extra-work permission
  kServiceLatePermit = 5,  // service-late permission
  kSuspension = 23,
};

// The meaning of a classified stretch (its SpecificType after validation), and the status
// stored for it in TimeTab. 16, 17, 20 and 21 are stored statuses only: a tolerated late
// arrival or early departure, and a stretch of a daily leave or mission.
enum class PresenceCode : int {
  kNone = 0,                 // no code assigned
  kPresent = 6,              // present inside the working time
  kNotCounted = 7,           // absent outside the working time, or time that does not count
  kLateArrival = 8,          // absence from the start of a working segment
  kEarlyDeparture = 9,       // absence up to the end of a working segment
  kAbsentNotPermitted = 10,  // absence inside a segment without permission
  kAbsent = 11,              // absence inside the working time, before classification
  kLeave = 12,
  kMission = 13,
  kExtraWork = 14,       // present outside the working time
  kServiceLate = 15,     // excused late start
  kLateTolerated = 16,   // stored status of a late arrival within tolerance
  kEarlyTolerated = 17,  // stored status of an early departure within tolerance
  kPresentInLeave = 18,
  kPresentInMission = 19,
  kDailyLeave = 20,    // stored status of a stretch of a daily leave
  kDailyMission = 21,  // stored status of a stretch of a daily mission
  kSuspended = 22,
};

// Why a day stopped (the manager's ErrorCode); the CSSLog texts are in DailyErrorMessage.
// 1-5: two records of one kind overlap; 6-11 and 18-29: records of kinds that may not come
// together overlap (named by the kinds: presence, leave, mission, service-late, extra work).
enum class DayError : int {
  kNone = 0,  // no code: an exception, reported with its message
  kPresenceOverlap = 1,
  kLeaveOverlap = 2,
  kMissionOverlap = 3,
  kServiceLateOverlap = 4,
  kExtraWorkOverlap = 5,
  kLeaveMission = 6,
  kLeaveServiceLate = 7,
  kMissionServiceLate = 8,
  kLeaveMissionServiceLate = 9,
  kDailyLeavePresence = 10,
  kMissionPresence = 11,
  kNoWorkGroup = 12,
  kNoCalendar = 13,
  kNoWorkingDay = 14,
  kIncompletePresence = 15,
  kNoMissionDay = 16,
  kLeaveServiceLatePresence = 18,
  kMissionServiceLatePresence = 19,
  kPresenceMissionLeaveServiceLate = 20,
  kPresenceLeaveExtraWork = 21,
  kLeaveMissionExtraWork = 22,
  kPresenceMissionLeaveExtraWork = 23,
  kPresenceServiceLateExtraWork = 24,
  kPresenceLeaveServiceLateExtraWork = 25,
  kMissionServiceLateExtraWork = 26,
  kLeaveMissionServiceLateExtraWork = 27,
  kEveryKind = 28,  // presence, leave, mission, service-late and extra work together
  kLeaveMissionPresence = 29,
  kCalendarOverlap = 30,  // the working time begins before the previous day ended
};

// The work group's GROUPTYPE. The types named here have rules of their own; any other stored
// value is kept as it is and follows the common rules.
enum class GroupType : int {
  kHourly = 2,            // the hours worked count; no absence or lateness is counted
  kNoAbsence = 3,         // absence in the working time counts as presence
  kNoNightWork = 4,       // no night work is counted
  kMonthlyBound = 5,      // the month's work is held against the group's bound
  kDistributedShift = 6,  // works by distributed shifts, may have no calendar
};

constexpr int ToInt(SourceType value) { return static_cast<int>(value); }
constexpr int ToInt(PresenceCode value) { return static_cast<int>(value); }
constexpr int ToInt(DayError value) { return static_cast<int>(value); }
constexpr int ToInt(GroupType value) { return static_cast<int>(value); }

constexpr PresenceCode PresenceCodeFrom(int value) { return static_cast<PresenceCode>(value); }
constexpr DayError DayErrorFrom(int value) { return static_cast<DayError>(value); }
constexpr GroupType GroupTypeFrom(int value) { return static_cast<GroupType>(value); }

// The code a presence carries in its SpecificType; kNone when it has none.
inline PresenceCode PresenceCodeOf(const TPresence& presence) {
  return presence.SpecificType.IsAssigned()
             ? PresenceCodeFrom(static_cast<int>(presence.SpecificType.AsInteger()))
             : PresenceCode::kNone;
}

}  // namespace zel::engine
