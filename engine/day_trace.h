// The observer of one calculated person-day: the daily engine tells it, as it decides, what
// the day looks like, which records it assembled, how every stretch was classified and by
// which setting or permission, what each stretch and each closing step added to the totals,
// and what the day reports. Nothing is called when no observer is set (the normal run).
// Called on the thread of the engine that owns the data module; the observer is the caller's.
#pragma once

#include <span>
#include <string>

#include "engine/daily_codes.h"

namespace zel::engine {

class TAttendanceCalcManager;
struct TDailyWorkRec;
struct TExtraData;
struct TPresence;

// The rule a decision followed and the setting or permission that decided it, in words
// ("late arrival", "LATE_IN 10: 8 minutes, tolerated").
struct TraceReason {
  std::string rule;
  std::string setting;
};

class DayTrace {
 public:
  virtual ~DayTrace() = default;

  // The work group's settings and the day's shape are known; `shape` says where the shape
  // came from (calendar item, shift, whole day). The day model of `manager` gets its
  // relative minutes only after this call.
  virtual void OnDayShape(const TAttendanceCalcManager& manager, const TExtraData& settings,
                          const std::string& shape) = 0;
  // The presences as assembled from the records, before the day is cut into stretches.
  virtual void Sources(const TAttendanceCalcManager& manager) = 0;
  // One stretch (a group of presences with identical bounds, in timeline order) and the
  // classified presence validation made of it.
  virtual void Classified(std::span<const TPresence> group, const TPresence& result,
                          TraceReason reason) = 0;
  // The stretch at `index` got another result before processing (late arrival, early
  // departure, absence without permission, the group type's rule).
  virtual void Reclassified(int index, TraceReason reason) = 0;
  // A decision about the whole day (whole-day absence and the like).
  virtual void DayNote(TraceReason reason) = 0;
  // The classified stretches of the day, as processing is about to see them.
  virtual void Stretches(const TAttendanceCalcManager& manager) = 0;
  // One stretch processed: its code after the break rule, the stored status and minutes,
  // what changed it on the way (break, meal, holiday length), and the totals before and after.
  virtual void Processed(const TPresence& presence, PresenceCode code, PresenceCode status,
                         int minutes, TraceReason reason, const TDailyWorkRec& before,
                         const TDailyWorkRec& after) = 0;
  // A closing step of the day (compensation, meals, transport, ...) and the totals it left.
  virtual void Step(TraceReason reason, const TDailyWorkRec& before,
                    const TDailyWorkRec& after) = 0;
  // The day's result record as it is (or would be) stored.
  virtual void DayWork(const TDailyWorkRec& record, const TExtraData& settings) = 0;
  // A CSSLog comment of the day; written to CSSLog only when results are written.
  virtual void Report(const std::string& comment) = 0;
  // The day stopped with an error code (kNone: an exception) and message.
  virtual void Failed(DayError code, const std::string& message) = 0;
};

}  // namespace zel::engine
