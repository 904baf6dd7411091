// The attendance calculation framework: the day model, the presence records and the manager
// that turns one person's day into a gap-free, classified timeline through bound event handlers,
// plus the small month/day date and time functions the daily engine uses.
// A TAttendanceCalcManager belongs to one calculation worker and is used by one thread at a time;
// the free functions are pure and WriteRunLog may be called from any thread.
#pragma once

#include <bitset>
#include <concepts>
#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dates/calc_date.h"

namespace zel::engine {

// ---------------------------------------------------------------------------------------------
// Value records

// A day of the Jalali year, without the year (Month 1..12, Day 1..31).
using TDate = zel::dates::TDate;

struct TTime {
  uint8_t Hour = 0;
  uint8_t Minute = 0;
  friend bool operator==(const TTime&, const TTime&) = default;
};

struct TCalcDateTime {
  TDate dtDate;
  TTime dtTime;
  friend bool operator==(const TCalcDateTime&, const TCalcDateTime&) = default;
};

// A point of the day with its minutes from the reference point of the current run; the engine
// orders and measures by sdtRelativeTime only.
struct TTalvekDateTime {
  TCalcDateTime sdtDateTime;
  int32_t sdtRelativeTime = 0;
  friend bool operator==(const TTalvekDateTime&, const TTalvekDateTime&) = default;
};

struct TTalvekInterval {
  TTalvekDateTime iBegin;
  TTalvekDateTime iEnd;
  friend bool operator==(const TTalvekInterval&, const TTalvekInterval&) = default;
};

// The shape of one day: working time, the break inside it, the span in which extra work counts
// (enclosing the working time) and the point where the attendance day ends.
struct TWorkingDay {
  TTalvekInterval wdDay;
  TTalvekInterval wdBreak;
  TTalvekInterval wdExtra;
  TTalvekDateTime wdDayEnd;
  friend bool operator==(const TWorkingDay&, const TWorkingDay&) = default;
};

// ---------------------------------------------------------------------------------------------
// Enumerations (the ordinal values are stored in the database)

enum TWorkingIntervalType : uint8_t {
  wi_NonWork_Before = 0,
  wi_ExtraWork_Before = 1,
  wi_Work_First = 2,
  wi_Break = 3,
  wi_Work_Last = 4,
  wi_ExtraWork_After = 5,
  wi_NonWork_After = 6,
};

enum TIntervalType : uint8_t { it_NonWork = 0, it_Work = 1, it_ExtraWork = 2, it_Break = 3 };

enum TPresenceKind : uint8_t { pk_None = 0, pk_Present = 1, pk_Absent = 2 };

enum TDayType : uint8_t { dt_Yesterday = 0, dt_Today = 1, dt_Tomorrow = 2 };

enum TEDB : uint8_t { edb_Extra = 0, edb_Day = 1, edb_Break = 2 };

enum TEndPoint : uint8_t { ep_Begin = 0, ep_End = 1 };

// ---------------------------------------------------------------------------------------------
// Variant: the handlers' free value of a presence (an integer code, a data text, or nothing).

class Variant {
 public:
  Variant() = default;  // unassigned
  template <std::integral T>
  Variant(T number) : value_(static_cast<int64_t>(number)) {}    // NOLINT: implicit by design
  Variant(std::string text) : value_(std::move(text)) {}         // NOLINT
  Variant(std::string_view text) : value_(std::string(text)) {}  // NOLINT
  Variant(const char* text) : value_(std::string(text)) {}       // NOLINT

  bool IsAssigned() const { return value_.index() != 0; }
  bool IsNumber() const { return value_.index() == 1; }
  bool IsText() const { return value_.index() == 2; }

  // The number; a text is read as a decimal integer (raises zel::dates::EConvertError when it
  // is not one); unassigned gives 0.
  int64_t AsInteger() const;
  // The text; a number in decimal; unassigned gives "".
  std::string AsText() const;
  // The stored text, or nullptr when the value is not a text (no copy).
  const std::string* TextPtr() const { return std::get_if<std::string>(&value_); }

  void Clear() { value_ = std::monostate{}; }

  // Numbers compare as numbers and texts as texts (ordinal); unassigned equals 0, empty text
  // and another unassigned; a number equals a text only when the text is exactly that number
  // in decimal (optional blanks around it).
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  std::variant<std::monostate, int64_t, std::string> value_;
};

// ---------------------------------------------------------------------------------------------
// Presences

struct TPresence {
  TTalvekInterval Interval;
  TWorkingIntervalType WorkingIntervalType = wi_NonWork_Before;
  TIntervalType IntervalType = it_NonWork;
  bool Projected = false;
  TPresenceKind Kind = pk_None;
  bool DoProcess = false;
  bool IsOK = false;
  Variant SpecificType;  // integer code chosen by the handlers, or unassigned
  Variant Data;          // handler data, usually text, or unassigned
};

// The presences of one run, in timeline order once the day has been split.
class TPresenceList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // Raises std::out_of_range for an index outside 0..Count()-1.
  const TPresence& At(int index) const;
  TPresence& At(int index);
  void AddPresence(TPresence presence) { items_.push_back(std::move(presence)); }
  void InsertPresence(int index, TPresence presence);
  void DeletePresence(int index);
  // Empties the list; its storage is kept for the next run.
  void ClearPresences() { items_.clear(); }

  std::vector<TPresence>& Items() { return items_; }
  const std::vector<TPresence>& Items() const { return items_; }

 private:
  std::vector<TPresence> items_;
};

// The flags of FindPresence.
struct FindOptions {
  bool MatchKind = false;
  bool StrictSpecificType = false;
  bool StrictData = false;
};

// Indices 0..15 of a presence group that FindPresence passes over.
using PresenceIndexSet = std::bitset<16>;

// The silent abort: a handler sets ErrorCode (and ErrorInterval where it helps) and raises this
// to stop the day; Run writes no log line for it and the error handler reports the code.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Raises EAbort.
[[noreturn]] void SilentAbort();

class TAttendanceCalcManager;

using TNotifyEvent = std::function<void(TAttendanceCalcManager& Sender)>;
// Receives one group of presences with identical bounds and fills ReturnPresence; the result is
// not used by the manager.
using TOnValidateEvent =
    std::function<bool(TAttendanceCalcManager& Sender, std::span<const TPresence> Presences,
                       TPresence& ReturnPresence)>;
// Receives a copy of one presence to process; stored presences change only through SetVars,
// SetOK and SetKind.
using TOnProcessEvent = std::function<void(TAttendanceCalcManager& Sender, TPresence Presence)>;

// ---------------------------------------------------------------------------------------------
// The manager. The calculation worker sets PersonID, PersonName and CalcDate and calls Run once
// per person-day; the calculation data module binds the events. The manager is reused for every
// day of every person of one worker and keeps its buffers from run to run.

class TAttendanceCalcManager {
 public:
  TAttendanceCalcManager() = default;
  TAttendanceCalcManager(const TAttendanceCalcManager&) = delete;
  TAttendanceCalcManager& operator=(const TAttendanceCalcManager&) = delete;
  virtual ~TAttendanceCalcManager() = default;

  // Events, in the order of a run. OnGetWorkingDays, OnAddPresences, OnValidatePresence and
  // OnProcessPresence must be bound, or Run does nothing.
  TNotifyEvent OnInitialize;
  TNotifyEvent OnGetWorkingDays;
  TNotifyEvent OnAddPresences;
  TNotifyEvent OnBeforeValidate;
  TOnValidateEvent OnValidatePresence;
  TNotifyEvent OnBeforeProcess;
  TOnProcessEvent OnProcessPresence;
  TNotifyEvent OnFinalize;
  TNotifyEvent OnHandleError;

  // Calculates one person-day: initialise, day model, presences, split into the seven working
  // intervals, validate, process, finalise. Does nothing when a required event is unbound or
  // PersonID is empty. A std::exception from a step or handler ends the day and goes to
  // HandleError (logged as "Error In Run : ..." unless it is EAbort); it does not leave Run,
  // except one raised by the error handler itself. Presences, CalcDate and PrivateData are
  // cleared at the end, also after a failure.
  void Run();

  // Adds a presence from ABegin to AEnd; only while OnAddPresences runs (ignored otherwise).
  // A presence that ends before it begins, or an empty one whose specific type is neither 2
  // nor 3, is dropped without notice.
  void AddPresence(const TCalcDateTime& ABegin, const TCalcDateTime& AEnd, TPresenceKind AKind,
                   int ASpecificType, const Variant& AData);

  int PresenceCount() const { return FPresences.Count(); }
  // The presence at Index (valid until the list next changes); raises std::out_of_range.
  const TPresence& GetPresence(int Index) const { return FPresences.At(Index); }
  void SetVars(int Index, const Variant& ASpecificType, const Variant& AData);
  void SetOK(int Index, bool AIsOK);
  void SetKind(int Index, TPresenceKind AKind);

  // Index of the first element of Presences that passes every test, or -1: not in Exclude,
  // the kind (with MatchKind), the specific type and the data (equal to the given value, or,
  // without the strict flag, any value other than unassigned/0/empty).
  static int FindPresence(std::span<const TPresence> Presences, const FindOptions& Options,
                          TPresenceKind AKind, const Variant& ASpecificType, const Variant& AData,
                          const PresenceIndexSet& Exclude);

  // Moves one bound of one working day by ShiftValue minutes: its relative minutes and its
  // clock time (carried into the hour and the day).
  void Shift(TDayType WhichDay, TEDB EDB, TEndPoint EndPoint, int ShiftValue);

  // Calls OnHandleError if bound.
  virtual void HandleError();

  const std::string& PersonID() const { return FPersonID; }
  void SetPersonID(std::string Value) { FPersonID = std::move(Value); }
  const std::string& PersonName() const { return FPersonName; }
  void SetPersonName(std::string Value) { FPersonName = std::move(Value); }
  TDate CalcDate() const { return FCalcDate; }
  void SetCalcDate(TDate Value) { FCalcDate = Value; }

  // The day model; the setters take effect only while OnGetWorkingDays runs (ignored otherwise).
  // Relative minutes are recomputed after that event.
  const TWorkingDay& Yesterday() const { return FYesterday; }
  const TWorkingDay& Today() const { return FToday; }
  const TWorkingDay& Tomorrow() const { return FTomorrow; }
  void SetYesterday(const TWorkingDay& Value);
  void SetToday(const TWorkingDay& Value);
  void SetTomorrow(const TWorkingDay& Value);

  const Variant& PrivateData() const { return FPrivateData; }
  void SetPrivateData(Variant Value) { FPrivateData = std::move(Value); }

  int32_t ErrorCode() const { return FErrorCode; }
  void SetErrorCode(int32_t Value) { FErrorCode = Value; }
  const std::string& ErrorMsg() const { return FErrorMsg; }
  void SetErrorMsg(std::string Value) { FErrorMsg = std::move(Value); }
  const TTalvekInterval& ErrorInterval() const { return FErrorInterval; }
  void SetErrorInterval(const TTalvekInterval& Value) { FErrorInterval = Value; }

 private:
  void NormalizeWorkingDay(TWorkingDay& Day) const;
  TTalvekDateTime MakePoint(const TCalcDateTime& DateTime) const;
  void SplitIntoWorkingIntervals();
  void DeOverlap(std::vector<TPresence>& Bucket);
  void AttachPoints(std::vector<TPresence>& Bucket);
  void FillGaps(std::vector<TPresence>& Bucket, int J, const TTalvekInterval& Bounds);
  void ValidatePresences();
  void ProcessPresences();
  void ResetRun();

  std::string FPersonID;
  std::string FPersonName;
  TDate FCalcDate;
  TWorkingDay FYesterday;
  TWorkingDay FToday;
  TWorkingDay FTomorrow;
  TPresenceList FPresences;
  Variant FPrivateData;
  bool FInGetWorkingDays = false;
  bool FInAddPresences = false;
  int32_t FErrorCode = 0;
  std::string FErrorMsg;
  TTalvekInterval FErrorInterval;

  // The reference point of the run: Yesterday.wdExtra.iBegin as left by OnGetWorkingDays.
  TCalcDateTime FReference;
  // Working buffers kept across runs so that a day-run allocates as little as possible.
  std::vector<TPresence> FNext;
  std::vector<TPresence> FPieces;
  std::vector<TPresence> FBuckets[7];
  std::vector<int> FContainer;
  TPresence FReturnPresence;
};

// ---------------------------------------------------------------------------------------------
// Unit functions on month/day values without a year

TCalcDateTime EncodeCalcDateTime(int Month, int Day, int Hour, int Minute);

// A working day from the extra span, the working time and the break (begin/end each) and the
// day-end point; every relative time is 0.
TWorkingDay MakeWorkingDay(const TCalcDateTime& ExtraBegin, const TCalcDateTime& ExtraEnd,
                           const TCalcDateTime& WorkBegin, const TCalcDateTime& WorkEnd,
                           const TCalcDateTime& BreakBegin, const TCalcDateTime& BreakEnd,
                           const TCalcDateTime& DayEnd);

// Signed minutes from A to B within one year (months 1-6 of 31 days, 7-12 of 30); negative
// when A sorts after B.
int MinutesBetween(const TCalcDateTime& A, const TCalcDateTime& B);

// MinutesBetween of two points given as "MM/DD" and "HH:NN" texts; 0 when any text is empty.
// Raises zel::dates::EConvertError when a number cannot be read.
int MinutesBetweenText(std::string_view Date1, std::string_view Time1, std::string_view Date2,
                       std::string_view Time2);

// iEnd minus iBegin in relative minutes.
int IntervalMinutes(const TTalvekInterval& Interval);

// True when both ends have equal month, day, hour and minute.
bool IsEmptyInterval(const TTalvekInterval& Interval);

// Days of a month of the given Jalali year (12th month: 30 in a leap year of the calculation
// utilities' rule, else 29). Raises std::invalid_argument for a month outside 1..12, and, for
// month 12, the leap rule's exception for a year it does not accept (below 1300).
int MonthDays(int Year, int Month);

// Steps Date one day forward (back) inside Year; false, with Date unchanged, past the last day
// of month 12 (before 01/01).
bool IncCalcDate(int Year, TDate& Date);
bool DecCalcDate(int Year, TDate& Date);

// "MM/DD" and "HH:NN".
std::string CalcDateToStr(const TDate& Date);
std::string CalcTimeToStr(const TTime& Time);

// Appends "<Jalali date> <hh:mm:ss> : Text" to Logs/Log(YY-MM-DD).Log in the home folder;
// never raises.
void WriteRunLog(std::string_view Text);

}  // namespace zel::engine
