#include "engine/calc.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"
#include "dates/log_stamp.h"
#include "dates/zel_calc_utils.h"
#include "util/log_file.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::engine {

namespace {

// Month lengths of the engine's minute arithmetic: 31 for months 1-6, 30 for the rest.
int CalcMonthLength(int month) { return month <= 6 ? 31 : 30; }

int MinutesBetweenParts(int am, int ad, int ah, int an, int bm, int bd, int bh, int bn) {
  int sign = 1;
  if (std::tie(am, ad, ah, an) > std::tie(bm, bd, bh, bn)) {
    std::swap(am, bm);
    std::swap(ad, bd);
    std::swap(ah, bh);
    std::swap(an, bn);
    sign = -1;
  }
  int result = 0;
  // Whole months strictly between the two points.
  for (int m = am + 1; m < bm; ++m) result += 1440 * CalcMonthLength(m);
  // Whole days strictly between.
  if (am == bm) {
    if (bd - ad - 1 > 0) result += 1440 * (bd - ad - 1);
  } else {
    result += 1440 * (CalcMonthLength(am) - ad) + 1440 * (bd - 1);
  }
  // Whole hours strictly between.
  const bool same_day = am == bm && ad == bd;
  if (same_day) {
    if (bh - ah - 1 > 0) result += 60 * (bh - ah - 1);
  } else {
    result += 60 * (bh - ah) + 1380;
  }
  // The minutes of the two partial hours.
  if (same_day && ah == bh) {
    if (bn - an > 0) result += bn - an;
  } else {
    result += bn - an + 60;
  }
  return sign * result;
}

int Rel(const TTalvekDateTime& point) { return point.sdtRelativeTime; }

int Length(const TTalvekInterval& interval) { return Rel(interval.iEnd) - Rel(interval.iBegin); }

// True when, taking the interval that begins first, the other begins no later than it ends.
bool IntervalsTouch(const TTalvekInterval& i, const TTalvekInterval& p) {
  if (Rel(i.iBegin) <= Rel(p.iBegin)) return Rel(p.iBegin) <= Rel(i.iEnd);
  return Rel(i.iBegin) <= Rel(p.iEnd);
}

bool IntervalContains(const TTalvekInterval& i, const TTalvekInterval& p) {
  return Rel(i.iBegin) <= Rel(p.iBegin) && Rel(p.iEnd) <= Rel(i.iEnd);
}

// Cuts P at the bounds of I. Fills pieces (at most three, in timeline order) and returns their
// number; 0 when P is not cut. Intervals of zero or negative length neither cut nor are cut, so
// every piece has a positive length.
int SplitPresence(const TTalvekInterval& i, const TTalvekInterval& p, TTalvekInterval pieces[3]) {
  const int ib = Rel(i.iBegin), ie = Rel(i.iEnd), pb = Rel(p.iBegin), pe = Rel(p.iEnd);
  if (ie <= ib || pe <= pb) return 0;
  if (pb > ib && pb >= ie) return 0;
  if (pe <= ib && pe < ie) return 0;
  if (pb >= ib && pe <= ie) return 0;
  if (pb < ib && pe > ie) {
    pieces[0] = {p.iBegin, i.iBegin};
    pieces[1] = {i.iBegin, i.iEnd};
    pieces[2] = {i.iEnd, p.iEnd};
    return 3;
  }
  if (ib < pb && pb < ie) {
    pieces[0] = {p.iBegin, i.iEnd};
    pieces[1] = {i.iEnd, p.iEnd};
    return 2;
  }
  if (pb < ib && pe < ie) {
    pieces[0] = {p.iBegin, i.iBegin};
    pieces[1] = {i.iBegin, p.iEnd};
    return 2;
  }
  if (pb == ib && pe > ie) {
    pieces[0] = {p.iBegin, i.iEnd};
    pieces[1] = {i.iEnd, p.iEnd};
    return 2;
  }
  if (pb < ib && pe == ie) {
    pieces[0] = {p.iBegin, i.iBegin};
    pieces[1] = {i.iBegin, p.iEnd};
    return 2;
  }
  return 0;
}

// Appends the pieces of `source` (one per interval) to `out`; the last one takes the source.
void AppendPieces(TPresence&& source, const TTalvekInterval* pieces, int count,
                  std::vector<TPresence>& out) {
  for (int k = 0; k < count; ++k) {
    if (k + 1 < count) {
      out.push_back(source);
    } else {
      out.push_back(std::move(source));
    }
    out.back().Interval = pieces[k];
  }
}

// 1 when Y lies after X, -1 when Y lies before X, else 0.
int ComparePresences(const TPresence& x, const TPresence& y) {
  const auto& xi = x.Interval;
  const auto& yi = y.Interval;
  if (Rel(yi.iBegin) > Rel(xi.iBegin) && Rel(yi.iBegin) >= Rel(xi.iEnd)) return 1;
  if (Rel(yi.iEnd) <= Rel(xi.iBegin) && Rel(yi.iEnd) < Rel(xi.iEnd)) return -1;
  return 0;
}

constexpr TIntervalType kIntervalTypeOf[7] = {it_NonWork, it_ExtraWork, it_Work,   it_Break,
                                              it_Work,    it_ExtraWork, it_NonWork};

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.2d", value);
  return buffer;
}

// Reads a decimal integer with optional blanks around it; false when the text is not one.
std::optional<int64_t> ReadInteger(std::string_view text) {
  return util::ParseInt<int64_t>(util::TrimView(text, util::kBlank), util::PlusSign::kAccepted);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Variant

int64_t Variant::AsInteger() const {
  switch (value_.index()) {
    case 1:
      return std::get<int64_t>(value_);
    case 2: {
      const auto value = ReadInteger(std::get<std::string>(value_));
      if (!value) {
        throw dates::EConvertError("'" + std::get<std::string>(value_) +
                                   "' is not a valid integer value");
      }
      return *value;
    }
    default:
      return 0;
  }
}

std::string Variant::AsText() const {
  switch (value_.index()) {
    case 1:
      return std::to_string(std::get<int64_t>(value_));
    case 2:
      return std::get<std::string>(value_);
    default:
      return {};
  }
}

bool operator==(const Variant& a, const Variant& b) {
  const auto* an = std::get_if<int64_t>(&a.value_);
  const auto* bn = std::get_if<int64_t>(&b.value_);
  const auto* at = std::get_if<std::string>(&a.value_);
  const auto* bt = std::get_if<std::string>(&b.value_);
  if (!a.IsAssigned() && !b.IsAssigned()) return true;
  if (!a.IsAssigned()) return bn ? *bn == 0 : bt->empty();
  if (!b.IsAssigned()) return an ? *an == 0 : at->empty();
  if (an && bn) return *an == *bn;
  if (at && bt) return *at == *bt;
  const std::string& text = at ? *at : *bt;
  return ReadInteger(text) == (an ? *an : *bn);
}

// ---------------------------------------------------------------------------------------------
// TPresenceList

const TPresence& TPresenceList::At(int index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  return items_[static_cast<size_t>(index)];
}

TPresence& TPresenceList::At(int index) {
  return const_cast<TPresence&>(std::as_const(*this).At(index));
}

void TPresenceList::InsertPresence(int index, TPresence presence) {
  if (index < 0 || index > Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  items_.insert(items_.begin() + index, std::move(presence));
}

void TPresenceList::DeletePresence(int index) {
  At(index);  // range check
  items_.erase(items_.begin() + index);
}

// ---------------------------------------------------------------------------------------------
// TAttendanceCalcManager

void SilentAbort() { throw EAbort(); }

namespace {

// Sets a flag for the length of one event and clears it also when the event raises.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TAttendanceCalcManager::Run() {
  if (!OnGetWorkingDays || !OnAddPresences || !OnValidatePresence || !OnProcessPresence ||
      FPersonID.empty()) {
    return;
  }
  struct ResetGuard {
    TAttendanceCalcManager& manager;
    ~ResetGuard() { manager.ResetRun(); }
  } reset_guard{*this};

  try {
    if (OnInitialize) OnInitialize(*this);
    {
      FlagScope in_event(FInGetWorkingDays);
      OnGetWorkingDays(*this);
    }
    FReference = FYesterday.wdExtra.iBegin.sdtDateTime;
    NormalizeWorkingDay(FYesterday);
    NormalizeWorkingDay(FToday);
    NormalizeWorkingDay(FTomorrow);
    {
      FlagScope in_event(FInAddPresences);
      OnAddPresences(*this);
    }
    SplitIntoWorkingIntervals();
    if (OnBeforeValidate) OnBeforeValidate(*this);
    ValidatePresences();
    if (OnBeforeProcess) OnBeforeProcess(*this);
    ProcessPresences();
    if (OnFinalize) OnFinalize(*this);
  } catch (const std::exception& error) {
    if (dynamic_cast<const EAbort*>(&error) == nullptr) {
      WriteRunLog(std::string("Error In Run : ") + error.what());
    }
    if (FErrorCode == 0) FErrorMsg = error.what();
    HandleError();
  }
}

void TAttendanceCalcManager::HandleError() {
  if (OnHandleError) OnHandleError(*this);
}

void TAttendanceCalcManager::ResetRun() {
  FPresences.ClearPresences();
  FCalcDate = TDate{};
  FPrivateData.Clear();
}

TTalvekDateTime TAttendanceCalcManager::MakePoint(const TCalcDateTime& DateTime) const {
  return {DateTime, MinutesBetween(FReference, DateTime)};
}

void TAttendanceCalcManager::NormalizeWorkingDay(TWorkingDay& Day) const {
  for (TTalvekInterval* interval : {&Day.wdDay, &Day.wdExtra, &Day.wdBreak}) {
    interval->iBegin = MakePoint(interval->iBegin.sdtDateTime);
    interval->iEnd = MakePoint(interval->iEnd.sdtDateTime);
  }
  Day.wdDayEnd = MakePoint(Day.wdDayEnd.sdtDateTime);
}

void TAttendanceCalcManager::SetYesterday(const TWorkingDay& Value) {
  if (FInGetWorkingDays) FYesterday = Value;
}

void TAttendanceCalcManager::SetToday(const TWorkingDay& Value) {
  if (FInGetWorkingDays) FToday = Value;
}

void TAttendanceCalcManager::SetTomorrow(const TWorkingDay& Value) {
  if (FInGetWorkingDays) FTomorrow = Value;
}

void TAttendanceCalcManager::AddPresence(const TCalcDateTime& ABegin, const TCalcDateTime& AEnd,
                                         TPresenceKind AKind, int ASpecificType,
                                         const Variant& AData) {
  if (!FInAddPresences) return;
  const TTalvekInterval interval{MakePoint(ABegin), MakePoint(AEnd)};
  if (Rel(interval.iEnd) < Rel(interval.iBegin)) return;
  if (IsEmptyInterval(interval) && ASpecificType != 2 && ASpecificType != 3) return;
  TPresence presence;
  presence.Interval = interval;
  presence.Kind = AKind;
  presence.SpecificType = ASpecificType;
  presence.Data = AData;
  FPresences.AddPresence(std::move(presence));
}

void TAttendanceCalcManager::SetVars(int Index, const Variant& ASpecificType,
                                     const Variant& AData) {
  TPresence& presence = FPresences.At(Index);
  presence.SpecificType = ASpecificType;
  presence.Data = AData;
}

void TAttendanceCalcManager::SetOK(int Index, bool AIsOK) { FPresences.At(Index).IsOK = AIsOK; }

void TAttendanceCalcManager::SetKind(int Index, TPresenceKind AKind) {
  FPresences.At(Index).Kind = AKind;
}

void TAttendanceCalcManager::Shift(TDayType WhichDay, TEDB EDB, TEndPoint EndPoint,
                                   int ShiftValue) {
  TWorkingDay& day = WhichDay == dt_Yesterday ? FYesterday
                     : WhichDay == dt_Today   ? FToday
                                              : FTomorrow;
  TTalvekInterval& interval = EDB == edb_Extra ? day.wdExtra
                              : EDB == edb_Day ? day.wdDay
                                               : day.wdBreak;
  TTalvekDateTime& bound = EndPoint == ep_Begin ? interval.iBegin : interval.iEnd;
  bound.sdtRelativeTime += ShiftValue;

  // The clock time follows with a full carry into the hour and the day, so it keeps matching
  // the relative minutes whatever the size or sign of the shift.
  TCalcDateTime& clock = bound.sdtDateTime;
  int64_t minutes = int64_t{clock.dtTime.Hour} * 60 + clock.dtTime.Minute + ShiftValue;
  int64_t days = minutes / 1440;
  minutes %= 1440;
  if (minutes < 0) {
    minutes += 1440;
    --days;
  }
  clock.dtTime.Hour = static_cast<uint8_t>(minutes / 60);
  clock.dtTime.Minute = static_cast<uint8_t>(minutes % 60);
  int month = clock.dtDate.Month;
  int day_of_month = clock.dtDate.Day;
  for (; days > 0; --days) {
    if (day_of_month >= CalcMonthLength(month)) {
      day_of_month = 1;
      month = month >= 12 ? 1 : month + 1;
    } else {
      ++day_of_month;
    }
  }
  for (; days < 0; ++days) {
    if (day_of_month <= 1) {
      month = month <= 1 ? 12 : month - 1;
      day_of_month = CalcMonthLength(month);
    } else {
      --day_of_month;
    }
  }
  clock.dtDate.Month = static_cast<uint8_t>(month);
  clock.dtDate.Day = static_cast<uint8_t>(day_of_month);
}

int TAttendanceCalcManager::FindPresence(std::span<const TPresence> Presences,
                                         const FindOptions& Options, TPresenceKind AKind,
                                         const Variant& ASpecificType, const Variant& AData,
                                         const PresenceIndexSet& Exclude) {
  static const Variant kUnassigned;
  for (size_t i = 0; i < Presences.size(); ++i) {
    if (i < Exclude.size() && Exclude.test(i)) continue;
    const TPresence& presence = Presences[i];
    if (Options.MatchKind && presence.Kind != AKind) continue;
    const bool type_ok = (!Options.StrictSpecificType && !(presence.SpecificType == kUnassigned)) ||
                         presence.SpecificType == ASpecificType;
    if (!type_ok) continue;
    const bool data_ok =
        (!Options.StrictData && !(presence.Data == kUnassigned)) || presence.Data == AData;
    if (!data_ok) continue;
    return static_cast<int>(i);
  }
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Splitting the day

void TAttendanceCalcManager::SplitIntoWorkingIntervals() {
  const TWorkingDay& y = FYesterday;
  const TWorkingDay& t = FToday;
  // The seven working intervals of this run, numbered by TWorkingIntervalType.
  const TTalvekInterval bounds[7] = {
      {y.wdDayEnd, t.wdExtra.iBegin},     {t.wdExtra.iBegin, t.wdDay.iBegin},
      {t.wdDay.iBegin, t.wdBreak.iBegin}, {t.wdBreak.iBegin, t.wdBreak.iEnd},
      {t.wdBreak.iEnd, t.wdDay.iEnd},     {t.wdDay.iEnd, t.wdExtra.iEnd},
      {t.wdExtra.iEnd, t.wdDayEnd}};

  std::vector<TPresence>& items = FPresences.Items();

  // 1. Cut every presence at the bounds of each interval in turn; the pieces of one pass go to
  //    the end of the list, after the presences that stayed whole.
  for (const TTalvekInterval& interval : bounds) {
    FNext.clear();
    FPieces.clear();
    for (TPresence& presence : items) {
      TTalvekInterval pieces[3];
      const int count = IntervalsTouch(interval, presence.Interval)
                            ? SplitPresence(interval, presence.Interval, pieces)
                            : 0;
      if (count == 0) {
        FNext.push_back(std::move(presence));
      } else {
        AppendPieces(std::move(presence), pieces, count, FPieces);
      }
    }
    for (TPresence& piece : FPieces) FNext.push_back(std::move(piece));
    items.swap(FNext);
  }

  // 2. Assign each presence to the lowest interval that contains it; the rest lie outside the
  //    day and are dropped.
  for (auto& bucket : FBuckets) bucket.clear();
  for (TPresence& presence : items) {
    for (int j = 0; j < 7; ++j) {
      if (IntervalContains(bounds[j], presence.Interval)) {
        presence.WorkingIntervalType = static_cast<TWorkingIntervalType>(j);
        FBuckets[j].push_back(std::move(presence));
        break;
      }
    }
  }

  for (int j = 0; j < 7; ++j) {
    std::vector<TPresence>& bucket = FBuckets[j];
    // 3. De-overlap.
    DeOverlap(bucket);
    // 4. Exchange sort into timeline order.
    const size_t count = bucket.size();
    for (size_t a = 0; a < count; ++a) {
      for (size_t b = a + 1; b < count; ++b) {
        if (ComparePresences(bucket[a], bucket[b]) == -1) std::swap(bucket[a], bucket[b]);
      }
    }
    // Zero-length presences inside or at the end of a longer one follow it.
    AttachPoints(bucket);
    // 5. Absence fillers over the uncovered stretches.
    FillGaps(bucket, j, bounds[j]);
  }

  // 6. Interval types, and the list rebuilt from the buckets in interval order.
  items.clear();
  for (auto& bucket : FBuckets) {
    for (TPresence& presence : bucket) {
      presence.IntervalType = kIntervalTypeOf[presence.WorkingIntervalType];
      items.push_back(std::move(presence));
    }
    bucket.clear();
  }
}

void TAttendanceCalcManager::DeOverlap(std::vector<TPresence>& Bucket) {
  for (TPresence& presence : Bucket) presence.Projected = false;
  size_t k = 0;
  while (k < Bucket.size()) {
    bool cut = false;
    for (size_t i = 0; i < Bucket.size(); ++i) {
      if (i == k) continue;
      TTalvekInterval pieces[3];
      const int count = SplitPresence(Bucket[k].Interval, Bucket[i].Interval, pieces);
      if (count == 0) continue;
      TPresence source = std::move(Bucket[i]);
      Bucket.erase(Bucket.begin() + static_cast<std::ptrdiff_t>(i));
      AppendPieces(std::move(source), pieces, count, Bucket);
      cut = true;
      break;
    }
    if (!cut) Bucket[k].Projected = true;
    k = 0;
    while (k < Bucket.size() && Bucket[k].Projected) ++k;
  }
}

void TAttendanceCalcManager::AttachPoints(std::vector<TPresence>& Bucket) {
  // The exchange sort cannot order a zero-length presence against a longer one that contains it
  // or ends at it, so it may stay before that presence or between identical copies of it. That
  // would open a filler over the presence and split its validation group; such a point is
  // therefore moved right after the last presence (in list order) that contains it.
  const size_t count = Bucket.size();
  FContainer.assign(count, -1);
  bool any = false;
  for (size_t k = 0; k < count; ++k) {
    const int at = Rel(Bucket[k].Interval.iBegin);
    if (Rel(Bucket[k].Interval.iEnd) != at) continue;
    for (size_t j = 0; j < count; ++j) {
      const int b = Rel(Bucket[j].Interval.iBegin);
      const int e = Rel(Bucket[j].Interval.iEnd);
      if (b < at && at <= e) FContainer[k] = static_cast<int>(j);
    }
    any = any || FContainer[k] >= 0;
  }
  if (!any) return;
  FNext.clear();
  for (size_t j = 0; j < count; ++j) {
    if (FContainer[j] >= 0) continue;
    FNext.push_back(std::move(Bucket[j]));
    for (size_t k = 0; k < count; ++k) {
      if (FContainer[k] == static_cast<int>(j)) FNext.push_back(std::move(Bucket[k]));
    }
  }
  Bucket.swap(FNext);
}

void TAttendanceCalcManager::FillGaps(std::vector<TPresence>& Bucket, int J,
                                      const TTalvekInterval& Bounds) {
  auto filler = [J](const TTalvekDateTime& begin, const TTalvekDateTime& end) {
    TPresence presence;
    presence.Interval = {begin, end};
    presence.Kind = pk_Absent;
    presence.WorkingIntervalType = static_cast<TWorkingIntervalType>(J);
    return presence;
  };
  if (Bucket.empty()) {
    Bucket.push_back(filler(Bounds.iBegin, Bounds.iEnd));
    return;
  }
  FNext.clear();
  TTalvekDateTime cursor = Bounds.iBegin;
  for (TPresence& presence : Bucket) {
    const int begin = Rel(presence.Interval.iBegin);
    if (begin == Rel(cursor)) {
      cursor = presence.Interval.iEnd;
    } else if (begin > Rel(cursor)) {
      FNext.push_back(filler(cursor, presence.Interval.iBegin));
      cursor = presence.Interval.iEnd;
    }
    FNext.push_back(std::move(presence));
  }
  // The cursor is the furthest covered point; a zero-length presence at the end of the bucket
  // may lie before it.
  if (Rel(cursor) < Rel(Bounds.iEnd)) FNext.push_back(filler(cursor, Bounds.iEnd));
  Bucket.swap(FNext);
}

// ---------------------------------------------------------------------------------------------
// Validation and processing

void TAttendanceCalcManager::ValidatePresences() {
  std::vector<TPresence>& items = FPresences.Items();
  FReturnPresence = TPresence{};
  size_t i = 0;
  while (i < items.size()) {
    const int begin = Rel(items[i].Interval.iBegin);
    const int end = Rel(items[i].Interval.iEnd);
    size_t j = i + 1;
    while (j < items.size() && Rel(items[j].Interval.iBegin) == begin &&
           Rel(items[j].Interval.iEnd) == end) {
      ++j;
    }
    OnValidatePresence(*this, std::span<const TPresence>(items.data() + i, j - i), FReturnPresence);
    TPresence& kept = items[i];
    kept.Projected = FReturnPresence.Projected;
    kept.Kind = FReturnPresence.Kind;
    kept.DoProcess = FReturnPresence.DoProcess;
    kept.IsOK = FReturnPresence.IsOK;
    kept.SpecificType = FReturnPresence.SpecificType;
    kept.Data = FReturnPresence.Data;
    if (j - i > 1) {
      items.erase(items.begin() + static_cast<std::ptrdiff_t>(i + 1),
                  items.begin() + static_cast<std::ptrdiff_t>(j));
    }
    ++i;
  }
}

void TAttendanceCalcManager::ProcessPresences() {
  static const Variant kLeaveCode = 12;
  static const Variant kMissionCode = 13;
  const std::vector<TPresence>& items = FPresences.Items();
  for (size_t i = 0; i < items.size(); ++i) {
    const TPresence& presence = items[i];
    if (!presence.DoProcess) continue;
    if (!IsEmptyInterval(presence.Interval) || presence.SpecificType == kLeaveCode ||
        presence.SpecificType == kMissionCode) {
      OnProcessPresence(*this, presence);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Unit functions

TCalcDateTime EncodeCalcDateTime(int Month, int Day, int Hour, int Minute) {
  return {{static_cast<uint8_t>(Month), static_cast<uint8_t>(Day)},
          {static_cast<uint8_t>(Hour), static_cast<uint8_t>(Minute)}};
}

TWorkingDay MakeWorkingDay(const TCalcDateTime& ExtraBegin, const TCalcDateTime& ExtraEnd,
                           const TCalcDateTime& WorkBegin, const TCalcDateTime& WorkEnd,
                           const TCalcDateTime& BreakBegin, const TCalcDateTime& BreakEnd,
                           const TCalcDateTime& DayEnd) {
  TWorkingDay day;
  day.wdExtra = {{ExtraBegin, 0}, {ExtraEnd, 0}};
  day.wdDay = {{WorkBegin, 0}, {WorkEnd, 0}};
  day.wdBreak = {{BreakBegin, 0}, {BreakEnd, 0}};
  day.wdDayEnd = {DayEnd, 0};
  return day;
}

int MinutesBetween(const TCalcDateTime& A, const TCalcDateTime& B) {
  return MinutesBetweenParts(A.dtDate.Month, A.dtDate.Day, A.dtTime.Hour, A.dtTime.Minute,
                             B.dtDate.Month, B.dtDate.Day, B.dtTime.Hour, B.dtTime.Minute);
}

int MinutesBetweenText(std::string_view Date1, std::string_view Time1, std::string_view Date2,
                       std::string_view Time2) {
  if (Date1.empty() || Time1.empty() || Date2.empty() || Time2.empty()) return 0;
  auto part = [](std::string_view text, int index) {
    return dates::StrToInt(dates::Copy(text, index, 2));
  };
  return MinutesBetweenParts(part(Date1, 1), part(Date1, 4), part(Time1, 1), part(Time1, 4),
                             part(Date2, 1), part(Date2, 4), part(Time2, 1), part(Time2, 4));
}

int IntervalMinutes(const TTalvekInterval& Interval) { return Length(Interval); }

bool IsEmptyInterval(const TTalvekInterval& Interval) {
  return Interval.iBegin.sdtDateTime == Interval.iEnd.sdtDateTime;
}

int MonthDays(int Year, int Month) {
  if (Month < 1 || Month > 12) {
    throw std::invalid_argument("MonthDays: month " + std::to_string(Month) + " is outside 1..12");
  }
  return dates::CalcDay::MonthDays(Year, Month);
}

bool IncCalcDate(int Year, TDate& Date) {
  if (Date.Day >= MonthDays(Year, Date.Month)) {
    if (Date.Month == 12) return false;
    ++Date.Month;
    Date.Day = 1;
  } else {
    ++Date.Day;
  }
  return true;
}

bool DecCalcDate(int Year, TDate& Date) {
  if (Date.Day <= 1) {
    if (Date.Month == 1) return false;
    const int previous = Date.Month - 1;
    Date.Day = static_cast<uint8_t>(MonthDays(Year, previous));
    Date.Month = static_cast<uint8_t>(previous);
  } else {
    --Date.Day;
  }
  return true;
}

std::string CalcDateToStr(const TDate& Date) {
  return TwoDigits(Date.Month) + "/" + TwoDigits(Date.Day);
}

std::string CalcTimeToStr(const TTime& Time) {
  return TwoDigits(Time.Hour) + ":" + TwoDigits(Time.Minute);
}

void WriteRunLog(std::string_view Text) {
  try {
    std::string file_name = "Log.Log";
    try {
      const std::string today = dates::JalaliToday();
      if (today.size() >= 10) {
        file_name = "Log(" + today.substr(2, 2) + "-" + today.substr(5, 2) + "-" +
                    today.substr(8, 2) + ").Log";
      }
    } catch (...) {
      // errors ignored here: without today's date the line goes to Log.Log
    }
    std::string folder = util::LogFolder();
    if (!util::EnsureFolder(folder)) folder = util::HomeFolder();
    util::AppendLogLine(folder, file_name, dates::StampedLine(Text));
  } catch (...) {
    // Writing a log line never stops the calculation.
  }
}

}  // namespace zel::engine
