#include "clockrec/dm_set_clock_rec.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <optional>

#include "dates/clock.h"
#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/jalali_day.h"
#include "db/ado_utils.h"
#include "db/css_log.h"
#include "util/text.h"

namespace zel::clockrec {

namespace {

using dates::Copy;
using dates::TZelCalcUtils;
using db::TADOUtils;

std::string Q(const std::string& text) { return TADOUtils::QuotedStr(text); }

std::string PadPerno(const std::string& perno) {
  return TZelCalcUtils::SLPadC(util::TrimControls(perno), 10, ' ');
}

// A text as the server compares it: trailing blanks and case ignored. NULL is "".
std::string TextKey(std::string_view text) { return util::LowerAscii(util::TrimRight(text, " ")); }
std::string ValueKey(const db::Value& value) {
  return value.IsNull() ? std::string() : TextKey(value.AsString());
}

bool Digits(const std::string& s, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i)
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  return true;
}

int Number(const std::string& s, size_t from, size_t count) {
  return std::atoi(s.substr(from, count).c_str());
}

// Minutes between two "MM/DDHH:NN" moments; -1 when either is missing.
int MinutesBetween(const std::string& a, const std::string& b) {
  if (util::TrimControls(a).size() != 10 || util::TrimControls(b).size() != 10) return -1;
  return TZelCalcUtils::SubtractDateTime(a.substr(0, 5), a.substr(5, 5), b.substr(0, 5),
                                         b.substr(5, 5));
}

// The year is compared as text: a punch whose date does not begin with four digits is
// not of the year, and must not make the whole query fail on a number conversion.
const char* const kPunchQuery[] = {
    "Declare @CurrentYear as char(4) , @FromDate as char(5) , @ToDate as char(5) , "
    "@Perno as varchar(10) ,@Rec as int, @UserCode As Char(3)",
    "set @CurrentYear = :CurrentYear",
    "set @FromDate = :FromDate",
    "set @ToDate = :ToDate",
    "set @Perno = :Perno",
    "set @Rec = :Rec",
    "Set @UserCode = :UserCode",
    "select cl.*, LTrim(RTrim(p.LastName)) + ' - ' + LTrim(RTrim(p.FirstName)) As FlName, "
    "LTrim(RTrim(p.LastName)) As LName",
    "from ClockDmp cl",
    "left outer join Person p on p.Perno = cl.Perno",
    "where cl.transfered = 0 and",
    "substring(cl.ClockDate,1,4) = @CurrentYear and",
    "substring(cl.ClockDate,6,5) >= @FromDate and substring(cl.ClockDate,6,5) <= @ToDate and",
    "(@perno = '' or ltrim(cl.perno) = ltrim(@Perno) ) and",
    "(@Rec = 0 or cl.Rec = @Rec ) and",
    "(  (not exists (Select Perno from dbo.##TmpTableName)) or (cl.Perno IN (Select Perno "
    "from dbo.##TmpTableName)) ) and",
    "((@UserCode = '000') Or (Not Exists (Select * From PerUser Where Code = @UserCode)) Or "
    "(cl.PerNo In (Select PerNo From PerUser Where Code = @UserCode)))",
};

// The untransferred punches that no labelling or transfer will ever take: without a person
// number; of a person not in Person whom the run's person list leaves out (persons are
// listed from Person); and those of the run's persons whose date no year's walk reads (none,
// a day outside 01/01..12/30, or a year without a year database). "##YearDatabasePrefix"
// is the base database name + "_".
const char* const kUnreadablePunchQuery[] = {
    "Declare @CurrentYear as char(4)",
    "set @CurrentYear = :CurrentYear",
    "select cl.REC, cl.KartNo, cl.Perno, cl.ClockDate, cl.ClockTime, p.Perno As PersonNo",
    "from ClockDmp cl",
    "left outer join Person p on p.Perno = cl.Perno",
    "where cl.transfered = 0 and",
    "( cl.Perno is null or ltrim(rtrim(cl.Perno)) = '' or",
    "( p.Perno is null and exists (Select Perno from dbo.##TmpTableName) and not (cl.Perno IN "
    "(Select Perno from dbo.##TmpTableName)) ) or",
    "( ( (not exists (Select Perno from dbo.##TmpTableName)) or (cl.Perno IN (Select Perno "
    "from dbo.##TmpTableName)) ) and",
    "( cl.ClockDate is null or",
    "(substring(cl.ClockDate,1,4) = @CurrentYear and (substring(cl.ClockDate,6,5) < '01/01' or "
    "substring(cl.ClockDate,6,5) > '12/30')) or",
    "(substring(cl.ClockDate,1,4) <> @CurrentYear and DB_ID('##YearDatabasePrefix' + "
    "substring(cl.ClockDate,1,4)) is null) ) ) )",
};

// A punch's label, written by its key.
const char* const kSetLabel = "Update ClockDmp Set IO_TYPE = ?, UNCERTAIN = ? Where REC = ?";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A date or time text of a report as stored: quoted, or NULL.
std::string Shown(const db::Value& value) {
  return value.IsNull() ? std::string("NULL") : "'" + util::TrimControls(value.AsString()) + "'";
}

}  // namespace

bool IsPunchDateTime(const std::string& ClockDate, const std::string& ClockTime) {
  if (ClockDate.size() != 10 || ClockDate[4] != '/' || ClockDate[7] != '/' ||
      !Digits(ClockDate, 0, 4) || !Digits(ClockDate, 5, 2) || !Digits(ClockDate, 8, 2))
    return false;
  // A real day of the year: months 7-11 have 30 days, month 12 has 29 or 30.
  if (!dates::CalcDay(Number(ClockDate, 0, 4), Number(ClockDate, 5, 2), Number(ClockDate, 8, 2))
           .ok())
    return false;
  if (ClockTime.size() != 5 || ClockTime[2] != ':' || !Digits(ClockTime, 0, 2) ||
      !Digits(ClockTime, 3, 2))
    return false;
  return Number(ClockTime, 0, 2) <= 23 && Number(ClockTime, 3, 2) <= 59;
}

TDmSetClockRec::TDmSetClockRec(std::string data_dir, std::string odbc_driver)
    : data_dir_(std::move(data_dir)), odbc_driver_(std::move(odbc_driver)) {}

TDmSetClockRec::~TDmSetClockRec() = default;

std::unique_ptr<db::Connection> TDmSetClockRec::Open(const std::string& connection_string) const {
  db::ConnectionSettings settings = db::ParseConnectionString(connection_string);
  if (!data_dir_.empty()) settings.data_dir = data_dir_;
  if (!odbc_driver_.empty()) settings.odbc_driver = odbc_driver_;
  return db::Connect(settings);
}

void TDmSetClockRec::InitialValues(const std::string& newCurrentYear,
                                   const std::string& newSqlUserName,
                                   const std::string& newSqlUserPassword,
                                   const std::string& newDataBaseName,
                                   const std::string& newSQLServerName,
                                   const std::string& newTempFileName, int newScheduleId) {
  CurrentYear = util::TrimControls(newCurrentYear);
  SqlUserName = newSqlUserName;
  SqlUserPassword = newSqlUserPassword;
  DataBaseName = newDataBaseName;
  SqlServerName = newSQLServerName;
  TempFileName = newTempFileName;
  ScheduleId = newScheduleId;
  DbBaseInfoConnectionString =
      TADOUtils::GetConnectionString(SqlServerName, SqlUserName, SqlUserPassword, DataBaseName);
  DbTimeAttendanceConnectionString = TADOUtils::GetConnectionString(
      SqlServerName, SqlUserName, SqlUserPassword,
      TZelCalcUtils::DataBaseNameOfYearYYYY(DataBaseName, std::stoi(CurrentYear)));

  // Datasets refer to their connections: they go first.
  for (auto* q : {&QClockDmp, &QSystem, &AdoQWorkgroup, &AdoQCurrentWorkGroup, &AdoQWShifts,
                  &AdoQCurrentCalItem, &AdoQPerShifts, &AdoQGShItem})
    q->reset();
  base_ = Open(DbBaseInfoConnectionString);
  year_ = Open(DbTimeAttendanceConnectionString);
  PrepareQueries();
  counts_ = {};
  ResetRunCaches();
  SetSQLTextForDataSets();
  SetSystemVariables();
}

void TDmSetClockRec::PrepareQueries() {
  auto make = [](db::Connection& c, std::vector<std::string> lines) {
    auto q = std::make_unique<db::Dataset>(c);
    q->SetSQL(std::move(lines));
    return q;
  };
  QClockDmp = make(*base_, {std::begin(kPunchQuery), std::end(kPunchQuery)});
  QSystem = make(*base_, {"select * from System "});
  AdoQWorkgroup = make(*base_, {"Select * from WorkGrp ", "Where Code = :Code"});
  AdoQCurrentWorkGroup = make(*base_, {"Select *  From WorkGrp  ", "Where Code = :WorkGroup"});
  AdoQWShifts = make(*base_, {"Select *  From WorkShifts ", "Where Code = :Code "});
  AdoQCurrentCalItem = std::make_unique<db::Dataset>(*year_);
  AdoQPerShifts =
      make(*year_, {"Select * from PerShifts ",
                    "Where Perno = :Perno And  GShCode = :GShCode And Period = :Period"});
  AdoQGShItem =
      make(*year_, {"Select * From GShItem  ", "Where Period = :Period And GShCode = :GShCode "});
  for (auto [q, name, type, size] :
       {std::tuple{AdoQWorkgroup.get(), "Code", db::ParamType::Integer, 0},
        std::tuple{AdoQCurrentWorkGroup.get(), "WorkGroup", db::ParamType::Integer, 0},
        std::tuple{AdoQWShifts.get(), "Code", db::ParamType::Integer, 0},
        std::tuple{AdoQPerShifts.get(), "Perno", db::ParamType::String, 10},
        std::tuple{AdoQPerShifts.get(), "GShCode", db::ParamType::Integer, 0},
        std::tuple{AdoQPerShifts.get(), "Period", db::ParamType::Integer, 0},
        std::tuple{AdoQGShItem.get(), "GShCode", db::ParamType::Integer, 0},
        std::tuple{AdoQGShItem.get(), "Period", db::ParamType::Integer, 0}}) {
    db::Param& p = q->ParamByName(name);
    p.type = type;
    p.size = size;
  }
}

void TDmSetClockRec::ResetRunCaches() {
  current_work_group_ = -1;
  current_rule_ = nullptr;
  current_item_ = {};
  rules_read_ = false;
  rules_.clear();
  rules_by_card_.clear();
  rules_by_stored_person_.clear();
  rules_by_trimmed_person_.clear();
  calendar_tables_.clear();
  shift_tables_.clear();
  group_shift_days_.clear();
  person_shift_days_.clear();
  shift_person_.clear();
  shift_status_.clear();
  day_end_person_.clear();
  day_ends_.clear();
  shift_days_.clear();
  walk_first_day_ = "01/01";
  walk_last_day_ = "12/31";
  calendar_days_.clear();
  group_calendars_.clear();
  group_codes_.clear();
  io_loaded_ = false;
}

void TDmSetClockRec::SetSQLTextForDataSets() {
  std::vector<std::string> lines;
  for (const char* line : kPunchQuery) {
    std::string text = line;
    for (size_t at = text.find("##TmpTableName"); at != std::string::npos;
         at = text.find("##TmpTableName", at + TempFileName.size()))
      text.replace(at, 14, TempFileName);
    lines.push_back(std::move(text));
  }
  QClockDmp->SetSQL(std::move(lines));
  struct {
    const char* name;
    db::ParamType type;
    int size;
  } params[] = {{"CurrentYear", db::ParamType::String, 4}, {"FromDate", db::ParamType::String, 5},
                {"ToDate", db::ParamType::String, 5},      {"Perno", db::ParamType::String, 10},
                {"Rec", db::ParamType::Integer, 0},        {"UserCode", db::ParamType::String, 3}};
  for (const auto& p : params) {
    db::Param& param = QClockDmp->ParamByName(p.name);
    param.type = p.type;
    param.size = p.size;
  }
}

void TDmSetClockRec::SetSystemVariables() {
  QSystem->Close();
  QSystem->Open();
  struct {
    int* field;
    const char* column;
  } thresholds[] = {{&iiMaxServiceLate, "MaxServiceLate"},
                    {&iiMaxMor, "MaxMor"},
                    {&iiMaxPresence, "MaxPresence"},
                    {&iiMaxAbsence, "MaxAbsence"},
                    {&iiMinAbsence, "MinAbsence"},
                    {&iiBeforeEnter, "BeforeEnter"},
                    {&iiAfterEnter, "AfterEnter"},
                    {&iiBeforeExit, "BeforeExit"},
                    {&iiAfterExit, "AfterExit"}};
  for (const auto& t : thresholds)
    *t.field = static_cast<int>(QSystem->FieldByName(t.column).AsInteger());
}

void TDmSetClockRec::MySetClockDumpRecords() {
  QClockDmp->Close();
  QClockDmp->SetParam("CurrentYear", CurrentYear);
  QClockDmp->SetParam("FromDate", "01/01");
  QClockDmp->SetParam("ToDate", "12/30");
  QClockDmp->SetParam("Perno", "");
  QClockDmp->SetParam("Rec", 0);
  QClockDmp->SetParam("UserCode", "000");
  QClockDmp->Open();
  QClockDmp->Sort("KartNo ASC, ClockDate ASC, ClockTime ASC");
  LoadKeptReports();
  ReportUnreadablePunches();
  // Rules, work groups and calendars are read again for each walk, once.
  ResetRunCaches();
  HoldRows();
  // A stop is honoured between cards (persons): what is labelled stays labelled, and a
  // later run labels the rest (labelling a punch again gives it the same label). A card's
  // changed labels are written together when the walk leaves the card.
  stopped_ = false;
  walking_ = true;
  std::string card;
  try {
    for (QClockDmp->First(); !QClockDmp->Eof(); QClockDmp->Next()) {
      const std::string next_card = QClockDmp->FieldByName("KartNo").AsString();
      if (QClockDmp->RecNo() == 0 || next_card != card) {
        CommitLabels();
        if (StopRequested && StopRequested()) {
          stopped_ = true;
          break;
        }
        card = next_card;
      }
      SetClockDumpRec(*QClockDmp);
    }
    CommitLabels();
  } catch (...) {
    walking_ = false;
    pending_.clear();  // the card's labels are given again by a later run
    EndWalk();
    throw;
  }
  walking_ = false;
  QClockDmp->Close();
  EndWalk();
}

void TDmSetClockRec::EndWalk() {
  held_.clear();
  held_by_person_.clear();
  ResetRunCaches();
}

std::string TDmSetClockRec::PersonKey(const std::string& Perno) {
  // Person numbers compare as the server compares them: trailing blanks and case ignored.
  std::string key = Perno;
  while (!key.empty() && key.back() == ' ') key.pop_back();
  return util::LowerAscii(key);
}

void TDmSetClockRec::HoldRows() {
  held_.clear();
  held_by_person_.clear();
  held_.reserve(static_cast<size_t>(QClockDmp->RecordCount()));
  for (QClockDmp->First(); !QClockDmp->Eof(); QClockDmp->Next()) {
    HeldPunch h;
    h.rec = QClockDmp->FieldByName("REC").AsInteger();
    h.card = QClockDmp->FieldByName("KartNo").AsString();
    const std::string date = util::TrimControls(QClockDmp->FieldByName("ClockDate").AsString());
    h.time = util::TrimControls(QClockDmp->FieldByName("ClockTime").AsString());
    h.readable = IsPunchDateTime(date, h.time);
    h.day = Copy(date, 6, 5);
    h.moment = h.day + h.time;
    h.io_type = util::TrimControls(QClockDmp->FieldByName("IO_TYPE").AsString());
    h.uncertain = QClockDmp->FieldByName("UNCERTAIN").AsInteger();
    const db::Value& perno = QClockDmp->FieldByName("Perno");
    // An unreadable punch is nobody's last entry or exit.
    if (h.readable && !perno.IsNull())
      held_by_person_[PersonKey(perno.AsString())].push_back(QClockDmp->RecNo());
    held_.push_back(std::move(h));
  }
  // The days the walk's punches look back on: three days before the first.
  std::string first, last;
  for (const HeldPunch& h : held_) {
    if (!h.readable) continue;
    if (first.empty() || h.day < first) first = h.day;
    if (last.empty() || h.day > last) last = h.day;
  }
  if (!first.empty()) {
    for (int i = 0; i < 3; ++i) first = TZelCalcUtils::DecDateH("", first, CurrentYear);
    walk_first_day_ = first;
    walk_last_day_ = last;
  }
  // Within a person, by moment, and punches of the same moment in the order of their REC:
  // a punch's window is then one run of its person's rows.
  for (auto& [person, rows] : held_by_person_)
    std::sort(rows.begin(), rows.end(), [&](int a, int b) {
      const HeldPunch& x = held_[a];
      const HeldPunch& y = held_[b];
      return x.moment != y.moment ? x.moment < y.moment : x.rec < y.rec;
    });
}

void TDmSetClockRec::WriteLabel(db::Dataset& Table, const std::string& io_type, int uncertain) {
  const db::Value& old_type = Table.FieldByName("IO_TYPE");
  const db::Value& old_uncertain = Table.FieldByName("UNCERTAIN");
  const bool same = !old_type.IsNull() && util::TrimControls(old_type.AsString()) == io_type &&
                    !old_uncertain.IsNull() && old_uncertain.AsInteger() == uncertain;
  Table.Cancel();
  // A label that would not change is not written again.
  if (!same) {
    pending_.push_back({Table.FieldByName("REC").AsInteger(), io_type, uncertain});
    if (!walking_) CommitLabels();
  }
  if (&Table == QClockDmp.get() && Table.RecNo() < static_cast<int>(held_.size())) {
    HeldPunch& h = held_[static_cast<size_t>(Table.RecNo())];
    h.io_type = io_type;
    h.uncertain = uncertain;
  }
}

void TDmSetClockRec::CommitLabels() {
  if (pending_.empty()) return;
  std::vector<PendingLabel> labels;
  labels.swap(pending_);
  db::RunInTransaction(*base_, [&] {
    for (const PendingLabel& l : labels) {
      const db::ResultSet r = base_->Execute(
          kSetLabel,
          {{"IoType", db::ParamType::String, 1, db::Value(l.io_type)},
           {"UnCertain", db::ParamType::Integer, 0, db::Value(std::int64_t{l.uncertain})},
           {"Rec", db::ParamType::Integer, 0, db::Value(l.rec)}});
      // The row's own count of rows changed: a punch gone since it was read is a failure.
      if (r.rows_affected == 0)
        throw db::DbError("The punch REC " + std::to_string(l.rec) + " is no longer in ClockDmp");
    }
  });
}

void TDmSetClockRec::LoadKeptReports() {
  kept_reports_.clear();
  const db::ResultSet r = base_->Execute(TADOUtils::CatCommandText(
      {"Select PerNo, Comment From CSSLog", "Where Comment Like 'Punch REC %'"}));
  for (const auto& row : r.rows)
    kept_reports_.insert(util::TrimControls(row[0].AsString()) + "|" + row[1].AsString());
  kept_reports_loaded_ = true;
}

void TDmSetClockRec::ReadRules() {
  rules_.clear();
  rules_by_card_.clear();
  rules_by_stored_person_.clear();
  rules_by_trimmed_person_.clear();
  const db::ResultSet r = year_->Execute(TADOUtils::CatCommandText(
      {"Select PERNO, KARTNO, KARTNO2, BEGINDATE, ENDDATE, WORKGROUP From PrjRule"}));
  rules_.reserve(r.rows.size());
  for (const auto& row : r.rows) {
    const size_t at = rules_.size();
    RuleRow rule;
    rule.begin = ValueKey(row[3]);
    rule.has_end = !row[3].IsNull() && !row[4].IsNull();
    rule.end = ValueKey(row[4]);
    rule.group = row[5];
    rules_.push_back(std::move(rule));
    // Cards as the rule query compares them: LTRIM(RTRIM(KartNo)), case ignored. A rule
    // with its card in both columns is met once.
    auto card = [&](int i) { return TextKey(util::TrimChars(row[i].AsString(), " ")); };
    if (!row[1].IsNull()) rules_by_card_[card(1)].push_back(at);
    if (!row[2].IsNull() && (row[1].IsNull() || card(2) != card(1)))
      rules_by_card_[card(2)].push_back(at);
    if (row[0].IsNull()) continue;
    // The person as stored (compared with the padded person number) and trimmed.
    const std::string perno = row[0].AsString();
    rules_by_stored_person_[TextKey(perno)].push_back(at);
    rules_by_trimmed_person_[TextKey(util::TrimChars(perno, " "))].push_back(at);
  }
  rules_read_ = true;
}

const TDmSetClockRec::RuleRow* TDmSetClockRec::FirstRuleOn(const std::vector<size_t>* rules,
                                                           const std::string& D) const {
  if (rules == nullptr) return nullptr;
  const std::string day = TextKey(D);
  for (const size_t i : *rules) {
    const RuleRow& r = rules_[i];
    if (r.has_end && r.begin <= day && r.end >= day) return &r;
  }
  return nullptr;
}

namespace {
template <typename Map>
const std::vector<size_t>* Find(const Map& map, const std::string& key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}
}  // namespace

const TDmSetClockRec::RuleRow* TDmSetClockRec::RuleOfCard(const std::string& Card,
                                                          const std::string& D) {
  if (!rules_read_) ReadRules();
  return FirstRuleOn(Find(rules_by_card_, TextKey(util::TrimControls(Card))), D);
}

const TDmSetClockRec::RuleRow* TDmSetClockRec::RuleOfStoredPerson(const std::string& Perno,
                                                                  const std::string& D) {
  if (!rules_read_) ReadRules();
  return FirstRuleOn(Find(rules_by_stored_person_, TextKey(PadPerno(Perno))), D);
}

const TDmSetClockRec::RuleRow* TDmSetClockRec::RuleOfTrimmedPerson(const std::string& Perno,
                                                                   const std::string& D) {
  if (!rules_read_) ReadRules();
  return FirstRuleOn(Find(rules_by_trimmed_person_, TextKey(util::TrimControls(Perno))), D);
}

bool TDmSetClockRec::CardHasRule(const std::string& Card, const std::string& D) {
  return RuleOfCard(Card, D) != nullptr;
}

void TDmSetClockRec::ReportUnreadablePunches() {
  unreadable_.clear();
  std::vector<std::string> lines;
  for (const char* line : kUnreadablePunchQuery) {
    std::string text = line;
    ReplaceAll(text, "##TmpTableName", TempFileName);
    ReplaceAll(text, "##YearDatabasePrefix", DataBaseName + "_");
    lines.push_back(std::move(text));
  }
  db::Dataset q(*base_);
  q.SetSQL(std::move(lines));
  db::Param& year = q.ParamByName("CurrentYear");
  year.type = db::ParamType::String;
  year.size = 4;
  year.value = CurrentYear;
  q.Open();
  for (q.First(); !q.Eof(); q.Next()) {
    const db::Value& date = q.FieldByName("ClockDate");
    const db::Value& time = q.FieldByName("ClockTime");
    const std::string perno = util::TrimControls(q.FieldByName("Perno").AsString());
    KeptReason reason;
    if (!IsPunchDateTime(util::TrimControls(date.AsString()), util::TrimControls(time.AsString())))
      reason = KeptReason::kMalformed;
    else if (perno.empty())
      reason = KeptReason::kNoPerson;
    else if (q.FieldByName("PersonNo").IsNull())
      reason = KeptReason::kNotInPerson;
    else if (Copy(util::TrimControls(date.AsString()), 1, 4) != CurrentYear)
      reason = KeptReason::kNoYear;
    else
      continue;
    unreadable_.insert(q.FieldByName("REC").AsInteger());
    ReportKept(reason, q);
  }
}

void TDmSetClockRec::ReportKept(KeptReason reason, const db::Dataset& Table) {
  ++counts_.skipped;
  const std::string rec = Table.FieldByName("REC").AsString();
  const std::string card = util::TrimControls(Table.FieldByName("KARTNO").AsString());
  const std::string perno = util::TrimControls(Table.FieldByName("PERNO").AsString());
  const std::string date = Shown(Table.FieldByName("CLOCKDATE"));
  const std::string time = Shown(Table.FieldByName("CLOCKTIME"));
  std::string comment = "Punch REC " + rec + " of card " + card;
  if (reason == KeptReason::kMalformed) {
    comment += " has a malformed date or time " + date + " " + time +
               " (expected YYYY/MM/DD and HH:NN); it was left unlabelled";
  } else {
    comment += " at " + date + " " + time;
    switch (reason) {
      case KeptReason::kNoPerson:
        comment += " has no person number";
        break;
      case KeptReason::kNotInPerson:
        comment += " is of person " + perno + ", who is not in Person";
        break;
      default:
        comment += " is of a year that has no year database";
        break;
    }
    comment += "; it is kept and not transferred";
  }
  // The comment names the punch and the reason only, so a punch met again on a later run
  // is reported once, and again only when its reason changes.
  // The reports already on record were read once for the run.
  const std::string key = perno + "|" + util::Utf8Cut(comment, 255);
  if (kept_reports_loaded_ && kept_reports_.count(key) > 0) return;
  try {
    if (db::InsertCSSLogOnce(*base_, ScheduleId, perno, comment))
      MyZelUtils.LogText("SetClockDumpRec => " + comment, "Log", true, false);
    kept_reports_.insert(key);
  } catch (const std::exception&) {
    // A lost report row does not stop the labelling; the next run reports it again.
  }
}

void TDmSetClockRec::SetClockDumpRec(db::Dataset& Table) {
  const std::string clock_date = util::TrimControls(Table.FieldByName("ClockDate").AsString());
  const std::string T = util::TrimControls(Table.FieldByName("ClockTime").AsString());
  // Punches without a person, or of a person not in Person, were reported by the run.
  const bool unreadable = unreadable_.count(Table.FieldByName("REC").AsInteger()) > 0;
  if (!IsPunchDateTime(clock_date, T)) {
    // One bad row from a terminal must not stop the labelling of everyone else.
    ++counts_.unlabelled;
    ++counts_.malformed;
    if (!unreadable) ReportKept(KeptReason::kMalformed, Table);
    return;
  }
  const std::string D = Copy(clock_date, 6, 5);
  const std::string Perno = Table.FieldByName("Perno").AsString();
  Table.Edit();
  FindCurrentRule(D, Table.FieldByName("KartNo").AsString());
  if (LogOn())
    Log("SetClockDumpRec_Pre => Perno: " + Perno + " CurrentYear: " + CurrentYear +
        " Copy(Table.FieldByName(ClockDate).AsString, 1, 4): " + Copy(clock_date, 1, 4));
  if (util::TrimControls(Perno).empty() || Copy(clock_date, 1, 4) != CurrentYear) {
    WriteCounted(Table, {"0", true});
    return;
  }

  const int work_group =
      current_rule_ == nullptr ? 0 : static_cast<int>(current_rule_->group.AsInteger());
  if (current_work_group_ != work_group) OpenCurrentWorkGroup(work_group);
  FindCurrentCalItem(D, util::TrimControls(AdoQCurrentWorkGroup->FieldByName("CalCode").AsString()),
                     util::TrimControls(AdoQCurrentWorkGroup->FieldByName("GShCode").AsString()),
                     util::TrimControls(Perno));
  if (LogOn()) Log("SetClockDumpRec => Perno: " + Perno + " Date: " + D + " Time: " + T);
  const std::optional<Label> label =
      DecideLabel(Perno, D, T, Table.FieldByName("SpCardType").AsString());
  if (!label) {
    // The last label is unknown: nothing to go by, the punch stays as it is.
    Table.Cancel();
    ++counts_.unlabelled;
    return;
  }
  WriteCounted(Table, *label);
  if (label->by_thresholds) {
    Log("SetClockDumpRec => 5");
    Log("SetClockDumpRec => IoType = " + label->io_type);
  }
}

void TDmSetClockRec::WriteCounted(db::Dataset& Table, const Label& label) {
  WriteLabel(Table, label.io_type, label.uncertain ? 1 : 0);
  if (label.io_type == "1")
    ++counts_.entries;
  else if (label.io_type == "2")
    ++counts_.exits;
  else
    ++counts_.undecided;
  if (label.uncertain) ++counts_.unsure;
}

std::optional<TDmSetClockRec::Label> TDmSetClockRec::DecideLabel(const std::string& Perno,
                                                                 const std::string& D,
                                                                 const std::string& T,
                                                                 const std::string& S) {
  const bool intelligent = AdoQCurrentWorkGroup->FieldByName("IntelligentType").AsInteger() == 2;
  TLastIo LastIo;
  if (!FindLastIo(Perno, D, T, LastIo)) return FirstLabel(Perno, D, T, S, intelligent);
  Log("SetClockDumpRec => 1");
  if (LastIo.IoType.empty()) return std::nullopt;
  if (LastIo.IoType != "1") return LabelAfterExit(Perno, D, T, LastIo, intelligent);
  return LabelAfterEntry(Perno, D, T, LastIo, intelligent);
}

// An intelligent work group alternates strictly: the opposite of the last IO, sure.
TDmSetClockRec::Label TDmSetClockRec::Alternate(const char* step, const std::string& io_type) {
  Log(std::string("SetClockDumpRec => ") + step);
  Log("SetClockDumpRec => IoType = " + io_type);
  return {io_type, false, false};
}

// The person is out: an entry, unless a long absence near the duty's end makes it an exit.
TDmSetClockRec::Label TDmSetClockRec::LabelAfterExit(const std::string& Perno, const std::string& D,
                                                     const std::string& T, const TLastIo& LastIo,
                                                     bool intelligent) {
  if (intelligent) return Alternate("3", "1");
  Label label{"1", LastIo.Uncertain};
  const int m = TZelCalcUtils::SubtractDateTime(D, T, LastIo.DDate, LastIo.TTime);
  if (m >= iiMaxMor && (m <= iiMinAbsence || m >= iiMaxAbsence)) {
    const int K = IoTypeFromCalendar(Perno, D, "0", T);
    if (LogOn()) Log("FromCalendar2 => " + std::to_string(K));
    if (K == 2) {
      if (m >= iiMaxAbsence) label.io_type = "2";
      label.uncertain = true;
    } else if (K != 1 && K != 3 && K != 5) {
      label.uncertain = true;
    }
  }
  return label;
}

// The person is in: an exit, unless past the presence limit the calendar sees an entry.
TDmSetClockRec::Label TDmSetClockRec::LabelAfterEntry(const std::string& Perno,
                                                      const std::string& D, const std::string& T,
                                                      const TLastIo& LastIo, bool intelligent) {
  if (intelligent) return Alternate("2", "2");
  Label label{"2", LastIo.Uncertain};
  const int limit = doubled_ ? 2 * iiMaxPresence : iiMaxPresence;
  if (TZelCalcUtils::SubtractDateTime(D, T, LastIo.DDate, LastIo.TTime) >= limit) {
    const int K = IoTypeFromCalendar(Perno, D, "0", T);
    if (LogOn()) Log("FromCalendar1 => " + std::to_string(K));
    if (K == 1) {
      label.io_type = "1";
      label.uncertain = true;
    } else if (K != 2 && K != 3 && K != 5) {
      label.uncertain = true;
    }
  }
  return label;
}

// No last IO: the calendar decides, with the punch's special card type.
TDmSetClockRec::Label TDmSetClockRec::FirstLabel(const std::string& Perno, const std::string& D,
                                                 const std::string& T, const std::string& S,
                                                 bool intelligent) {
  if (intelligent) return Alternate("4", "1");
  const int K = IoTypeFromCalendar(Perno, D, S, T);
  if (LogOn()) Log("FromCalendar3 => " + std::to_string(K));
  if (K == 1 || K == 3 || K == 5) return {"1", false};
  if (K == 2) return {"2", true};
  return {"1", true};
}

bool TDmSetClockRec::FindCurrentRule(const std::string& D, const std::string& Card) {
  current_rule_ = RuleOfCard(Card, D);
  return current_rule_ != nullptr;
}

void TDmSetClockRec::OpenCurrentWorkGroup(int Code) {
  AdoQCurrentWorkGroup->Close();
  AdoQCurrentWorkGroup->SetParam("WorkGroup", Code);
  AdoQCurrentWorkGroup->Open();
  current_work_group_ = Code;
}

bool TDmSetClockRec::FindCurrentCalItem(const std::string& D, const std::string& CalCode,
                                        const std::string& GShCode, const std::string& Perno) {
  return QueryCalItem(D, CalCode, GShCode, Perno);
}

db::Value TDmSetClockRec::ItemField(const char* column) const {
  if (current_item_.row == nullptr) return db::Value();
  const std::vector<std::string>& columns = *current_item_.columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& c = columns[i];
    size_t k = 0;
    while (k < c.size() && column[k] != 0 &&
           std::tolower(static_cast<unsigned char>(c[k])) ==
               std::tolower(static_cast<unsigned char>(column[k])))
      ++k;
    if (k == c.size() && column[k] == 0) return (*current_item_.row)[i];
  }
  throw db::DbError(std::string("Field '") + column + "' not found");
}

TDmSetClockRec::ItemView TDmSetClockRec::DayOf(const ItemTable& table, const std::string& D) {
  const auto day = table.rows.find(TextKey(D));
  return {&table.columns, day == table.rows.end() ? nullptr : &day->second};
}

// Calendar and shift items do not change during a walk: each calendar, shift group, shift
// and a person's shifts of a month are read once, and each day is looked up among them as
// the day's own query would find it.
bool TDmSetClockRec::QueryCalItem(const std::string& D, const std::string& CalCode,
                                  const std::string& GShCode, const std::string& Perno) {
  current_item_ = CalendarItem(CalCode, D);
  const int gsh =
      util::TrimControls(GShCode).empty() ? 0 : dates::StrToInt(util::TrimControls(GShCode));
  if (gsh == 0) return current_item_.row != nullptr;
  // A shift-group person without a shift that day has no item (the calendar's stays).
  const std::int64_t shift = ShiftOfDay(gsh, D, Perno);
  if (shift <= 0) return false;
  current_item_ = ShiftItem(shift, D);
  return current_item_.row != nullptr;
}

TDmSetClockRec::ItemView TDmSetClockRec::CalendarItem(const std::string& CalCode,
                                                      const std::string& D) {
  const std::int64_t code =
      util::TrimControls(CalCode).empty() ? 9999999 : dates::StrToInt(util::TrimControls(CalCode));
  auto it = calendar_tables_.find(code);
  if (it == calendar_tables_.end()) {
    AdoQCurrentCalItem->Close();
    AdoQCurrentCalItem->SetSQL({" Select * From " + DataBaseName + "_" + CurrentYear + "..CalItem ",
                                " Where CalCode = :CalCode "});
    db::Param& cal = AdoQCurrentCalItem->ParamByName("CalCode");
    cal.type = db::ParamType::Integer;
    cal.value = code;
    AdoQCurrentCalItem->Open();
    it = calendar_tables_.emplace(code, ReadItems(*AdoQCurrentCalItem)).first;
  }
  return DayOf(it->second, D);
}

TDmSetClockRec::ItemTable TDmSetClockRec::ReadItems(db::Dataset& q) {
  ItemTable table;
  table.columns = q.FieldNames();
  for (q.First(); !q.Eof(); q.Next()) {
    std::vector<db::Value> row;
    row.reserve(table.columns.size());
    for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Field(i));
    table.rows.emplace(ValueKey(q.FieldByName("DBEGINDATE")), std::move(row));
  }
  return table;
}

std::int64_t TDmSetClockRec::ShiftOfDay(int gsh, const std::string& D, const std::string& Perno) {
  const int period = dates::StrToIntDef(Copy(D, 1, 2), 0);
  int k = dates::StrToIntDef(Copy(D, 4, 2), 0);
  if (k <= 0) k = 1;
  auto days_of = [k](db::Dataset& q) {
    std::vector<std::int64_t> days(static_cast<size_t>(std::max(k, 31)) + 1, 0);
    for (int i = 1; i < static_cast<int>(days.size()); ++i) {
      const std::string column = "D" + std::to_string(i);
      if (q.HasField(column)) days[static_cast<size_t>(i)] = q.FieldByName(column).AsInteger();
    }
    return q.IsEmpty() ? ShiftDays() : ShiftDays(std::move(days));
  };
  const auto key = std::make_pair(gsh, period);
  auto group = group_shift_days_.find(key);
  if (group == group_shift_days_.end()) {
    AdoQGShItem->Close();
    AdoQGShItem->SetParam("Period", period);
    AdoQGShItem->SetParam("GShCode", gsh);
    AdoQGShItem->Open();
    group = group_shift_days_.emplace(key, days_of(*AdoQGShItem)).first;
  }
  if (!group->second) return 0;
  // Person numbers are stored right-aligned in 10 characters.
  const std::string padded = PadPerno(Perno);
  if (shift_person_ != padded) {
    person_shift_days_.clear();
    shift_person_ = padded;
  }
  auto own = person_shift_days_.find(key);
  if (own == person_shift_days_.end()) {
    AdoQPerShifts->Close();
    AdoQPerShifts->SetParam("Perno", padded);
    AdoQPerShifts->SetParam("Period", period);
    AdoQPerShifts->SetParam("GShCode", gsh);
    AdoQPerShifts->Open();
    own = person_shift_days_.emplace(key, days_of(*AdoQPerShifts)).first;
  }
  if (!own->second) return 0;
  const size_t day = static_cast<size_t>(k);
  const std::int64_t shift = (*own->second)[day];
  return shift != 0 ? shift : (*group->second)[day];
}

TDmSetClockRec::ItemView TDmSetClockRec::ShiftItem(std::int64_t shift, const std::string& D) {
  const auto key = std::make_pair(shift, D);
  auto it = shift_tables_.find(key);
  if (it != shift_tables_.end()) return DayOf(it->second, D);
  auto status = shift_status_.find(shift);
  if (status == shift_status_.end()) {
    AdoQWShifts->Close();
    AdoQWShifts->SetParam("Code", shift);
    AdoQWShifts->Open();
    status = shift_status_.emplace(shift, AdoQWShifts->FieldByName("ShiftStatus").AsString()).first;
  }
  const std::string next = TZelCalcUtils::IncDateH("", D, CurrentYear);
  const std::string& flags = status->second;
  auto date = [&](size_t i) { return Q(i < flags.size() && flags[i] == '1' ? next : D); };
  AdoQCurrentCalItem->Close();
  AdoQCurrentCalItem->SetSQL(
      {" Select CODE CALCODE, " + Q(D) + " DBEGINDATE, ",
       " " + date(0) + " BBEGINDATE, LTrim(BBEGINTIME) BBEGINTIME, ",
       " " + date(1) + " BENDDATE, LTrim(BENDTIME) BENDTIME, ",
       " LTrim(DBEGINTIME) DBEGINTIME, " + date(2) + " DENDDATE, ",
       " LTrim(DENDTIME) DENDTIME, LTrim(EBEGINTIME) EBEGINTIME, ",
       " " + Q(D) + " EBEGINDATE, " + date(3) + " EENDDATE, ",
       " LTrim(EENDTIME) EENDTIME, " + date(4) + " ENDDATE, ", " LTrim(ENDTIME) ENDTIME, HOLIDAY ",
       " From " + DataBaseName + "..WorkShifts ", " Where Code = " + std::to_string(shift) + " "});
  AdoQCurrentCalItem->Open();
  it = shift_tables_.emplace(key, ReadItems(*AdoQCurrentCalItem)).first;
  return DayOf(it->second, D);
}

bool TDmSetClockRec::FindLastIo(const std::string& Perno, const std::string& D,
                                const std::string& T, TLastIo& LastIo) {
  const std::string W = CurrentYear + "/" + GetPrevDateTime(Perno, D, T);
  if (LogOn()) Log("FindLastIo => PrevDateTime: " + W);
  const std::string from = Copy(W, 6, 10);
  const std::string to = D + T;
  LastIo = TLastIo{};
  LastIo.Person = Perno;
  bool found = false;

  // The records' entries and exits by moment: of those in the window the latest wins, and
  // of several at that moment the last one read.
  Log("FindLastIo => IOInfo");
  const std::vector<IoMoment>& io = PersonIoInfo(Perno);
  auto in_window = [&](const auto& rows, auto moment_of) {
    auto first =
        std::lower_bound(rows.begin(), rows.end(), from,
                         [&](const auto& r, const std::string& m) { return moment_of(r) < m; });
    auto last = std::lower_bound(first, rows.end(), to, [&](const auto& r, const std::string& m) {
      return moment_of(r) < m;
    });
    return std::make_pair(first, last);
  };
  const auto [io_first, io_last] =
      in_window(io, [](const IoMoment& r) -> const std::string& { return r.moment; });
  for (auto it = io_first; it != io_last; ++it) {
    if (LogOn())
      Log("FindLastIo => Q.FieldByName(DDate).AsString + Q.FieldByName(TTime).AsString: " +
          it->moment);
    LastIo.DDate = it->date;
    LastIo.TTime = it->time;
    LastIo.Uncertain = false;
    LastIo.IoType = it->type;
    found = true;
    Log("FindLastIo => IOInfo Finded");
    if (LogOn()) Log("FindLastIo => IOInfo ALastIo.IoType:" + LastIo.IoType);
  }

  Log("FindLastIo => ClockDmp");
  // The person's untransferred punches of the year are the rows the walk holds, with the
  // labels it gave so far; one replaces the record's only when strictly later.
  const HeldPunch* h = LastHeldPunch(Perno, from, to);
  if (h != nullptr && h->moment > LastIo.DDate + LastIo.TTime) {
    LastIo.DDate = h->day;
    LastIo.TTime = h->time;
    LastIo.Uncertain = h->uncertain != 0;
    LastIo.IoType = h->io_type;
    found = true;
    Log("FindLastIo => ClockDmp Finded");
    if (LogOn()) Log("FindLastIo => ClockDmp ALastIo.IoType:" + LastIo.IoType);
  }
  return found;
}

const TDmSetClockRec::HeldPunch* TDmSetClockRec::LastHeldPunch(const std::string& Perno,
                                                               const std::string& from,
                                                               const std::string& to) {
  const auto person = held_by_person_.find(PersonKey(Perno));
  if (person == held_by_person_.end()) return nullptr;
  const std::vector<int>& rows = person->second;
  auto moment_below = [&](int row, const std::string& m) { return held_[row].moment < m; };
  const auto first = std::lower_bound(rows.begin(), rows.end(), from, moment_below);
  auto it = std::lower_bound(first, rows.end(), to, moment_below);
  // From the latest moment back: the first punch (by REC) of the latest moment that counts.
  // Only a punch labelled entry or exit, with a card with a rule that day, counts: an
  // unlabelled, undecided or ruleless punch must not decide the label of another.
  const HeldPunch* last = nullptr;
  while (it != first) {
    HeldPunch& h = held_[*--it];
    if (last != nullptr && h.moment != last->moment) break;
    if (h.io_type != "1" && h.io_type != "2") continue;
    if (h.has_rule < 0) h.has_rule = CardHasRule(h.card, h.day) ? 1 : 0;
    if (h.has_rule == 0) continue;
    if (LogOn())
      Log("FindLastIo => Q.FieldByName(DDate).AsString + Q.FieldByName(TTime).AsString: " +
          h.moment);
    last = &h;
  }
  return last;
}

const std::vector<TDmSetClockRec::IoMoment>& TDmSetClockRec::PersonIoInfo(
    const std::string& Perno) {
  if (io_loaded_ && io_person_ == Perno) return io_rows_;
  // Every entry and exit of the person's records, read once for the person's punches (the
  // walk writes no records); each punch takes those of its window.
  db::ResultSet r = year_->Execute(TADOUtils::CatCommandText(
      {"select '1' Io_type , BeginDate DDate,  BeginTime TTime from Ioinfo",
       "where perno =" + Q(Perno), "Union All",
       "select '2' Io_type , EndDate DDate,  EndTime TTime from Ioinfo",
       "where perno =" + Q(Perno)}));
  io_rows_.clear();
  for (const auto& row : r.rows) {
    if (row[1].IsNull() || row[2].IsNull()) continue;  // an open record has no exit
    const std::string date = row[1].AsString(), time = row[2].AsString();
    io_rows_.push_back({date + time, date, time, row[0].AsString()});
  }
  std::stable_sort(io_rows_.begin(), io_rows_.end(),
                   [](const IoMoment& a, const IoMoment& b) { return a.moment < b.moment; });
  io_person_ = Perno;
  io_loaded_ = true;
  return io_rows_;
}

TDmSetClockRec::DayEnd TDmSetClockRec::EndOfDay(const std::string& Perno, const std::string& Dn,
                                                int n) {
  // The rules and calendars do not change during a walk: each day's end is read once for
  // the person's punches.
  if (day_end_person_ != Perno) {
    day_ends_.clear();
    day_end_person_ = Perno;
  }
  const auto key = std::make_pair(Dn, n == 1);
  if (auto it = day_ends_.find(key); it != day_ends_.end()) return it->second;
  DayEnd result = ReadEndOfDay(Perno, Dn, n);
  day_ends_.emplace(key, result);
  return result;
}

// The person's work group on Dn, its calendar or shift group, and that day's end. The rules,
// work groups and calendars are read once (per person, or per calendar for the whole walk)
// and each day is looked up among them, as the day's own statement would find it.
TDmSetClockRec::DayEnd TDmSetClockRec::ReadEndOfDay(const std::string& Perno, const std::string& Dn,
                                                    int n) {
  DayEnd result;
  const RuleRow* rule = RuleOfStoredPerson(Perno, Dn);
  // A rule saved without a work group counts as no work group on that day.
  const std::string group =
      rule == nullptr ? std::string() : util::TrimControls(rule->group.AsString());
  if (group.empty()) {
    result.end = Dn + "23:59";
    return result;
  }
  const auto& codes = GroupCalendars(group);
  if (!codes) return result;
  const std::string& cal = codes->first;
  const std::string& gsh = codes->second;
  const bool has_gsh = !gsh.empty() && gsh != "0";
  if (cal.empty() && !has_gsh) return result;
  const std::map<std::string, ItemDay>& days =
      !cal.empty() ? CalendarEnds(cal) : ShiftEnds(gsh, PadPerno(Perno));
  const auto day = days.find(Dn);
  if (day == days.end()) return result;
  result.end = day->second.end_date + day->second.end_time;
  if (n == 1) result.begin = day->second.begin_date + day->second.begin_time;
  return result;
}

const std::optional<std::pair<std::string, std::string>>& TDmSetClockRec::GroupCalendars(
    const std::string& group) {
  auto g = group_calendars_.find(group);
  if (g == group_calendars_.end()) {
    db::ResultSet grp = base_->Execute(TADOUtils::CatCommandText(
        {" Select CalCode, GShCode from WorkGrp ", "Where Code =" + group}));
    std::optional<std::pair<std::string, std::string>> codes;
    if (!grp.rows.empty())
      codes = std::make_pair(util::TrimControls(grp.rows[0][0].AsString()),
                             util::TrimControls(grp.rows[0][1].AsString()));
    g = group_calendars_.emplace(group, codes).first;
  }
  return g->second;
}

std::map<std::string, TDmSetClockRec::ItemDay> TDmSetClockRec::ReadDays(const db::ResultSet& r) {
  std::map<std::string, ItemDay> days;
  for (const auto& row : r.rows)
    days.emplace(
        util::TrimControls(row[0].AsString()),
        ItemDay{row[0].AsString(), row[1].AsString(), row[2].AsString(), row[3].AsString()});
  return days;
}

const std::map<std::string, TDmSetClockRec::ItemDay>& TDmSetClockRec::CalendarEnds(
    const std::string& cal) {
  auto c = calendar_days_.find(cal);
  if (c == calendar_days_.end()) {
    c = calendar_days_
            .emplace(cal, ReadDays(year_->Execute(TADOUtils::CatCommandText(
                              {"Select DBEGINDATE, DBEGINTIME, ENDDATE, ENDTIME From CalItem",
                               "Where CalCode =" + cal}))))
            .first;
  }
  return c->second;
}

// The view of shift-group persons' days is read once a walk for the whole group, for the
// days the walk's punches look back on: asked person by person, it is computed anew each
// time.
const std::map<std::string, TDmSetClockRec::ItemDay>& TDmSetClockRec::ShiftEnds(
    const std::string& gsh, const std::string& padded) {
  auto g = shift_days_.find(gsh);
  if (g == shift_days_.end()) {
    const db::ResultSet r = year_->Execute(
        TADOUtils::CatCommandText(
            {" Select PerNo, DBEGINDATE, DBEGINTIME, ENDDATE, ENDTIME From V_GetCalItem ",
             " Where GShCode = " + gsh + " ", " And DBEGINDATE >= ? And DBEGINDATE <= ? "}),
        {{"FromDate", db::ParamType::String, 5, db::Value(walk_first_day_)},
         {"ToDate", db::ParamType::String, 5, db::Value(walk_last_day_)}});
    std::map<std::string, std::map<std::string, ItemDay>> persons;
    for (const auto& row : r.rows)
      persons[PersonKey(row[0].AsString())].emplace(
          util::TrimControls(row[1].AsString()),
          ItemDay{row[1].AsString(), row[2].AsString(), row[3].AsString(), row[4].AsString()});
    g = shift_days_.emplace(gsh, std::move(persons)).first;
  }
  static const std::map<std::string, ItemDay> kNoDays;
  const auto person = g->second.find(PersonKey(padded));
  return person == g->second.end() ? kNoDays : person->second;
}

std::string TDmSetClockRec::ItemMoment(const char* date_column, const char* time_column) const {
  if (current_item_.row == nullptr) return std::string();
  return ItemField(date_column).AsString() + ItemField(time_column).AsString();
}

std::string TDmSetClockRec::GetPrevDateTime(const std::string& Perno, const std::string& D,
                                            const std::string& T) {
  doubled_ = false;
  if (D == "01/01") return "01/0100:00";
  const std::string D1 = TZelCalcUtils::DecDateH("", D, CurrentYear);
  const std::string D2 = TZelCalcUtils::DecDateH("", D1, CurrentYear);
  const std::string D3 = TZelCalcUtils::DecDateH("", D2, CurrentYear);
  const std::string E3 = D == "01/03" ? "01/0100:00" : EndOfDay(Perno, D3, 3).end;
  const std::string E2 = D == "01/02" ? "01/0100:00" : EndOfDay(Perno, D2, 2).end;
  const DayEnd day1 = EndOfDay(Perno, D1, 1);
  const std::string& E1 = day1.end;
  const std::string& B1 = day1.begin;

  if (AdoQCurrentWorkGroup->Active() &&
      AdoQCurrentWorkGroup->FieldByName("GroupType").AsInteger() == 2 &&
      util::TrimControls(AdoQCurrentWorkGroup->FieldByName("CalCode").AsString()).empty()) {
    const std::int64_t pairing = AdoQCurrentWorkGroup->FieldByName("IOPairing").AsInteger();
    if (pairing == 0 || pairing == 1) return E1;
    if (pairing == 2) return E2;
    return std::string();
  }

  const std::string P = D + T;
  const std::string B0 = ItemMoment("DBeginDate", "DBeginTime");
  const std::int64_t last_exit =
      AdoQCurrentWorkGroup->Active()
          ? AdoQCurrentWorkGroup->FieldByName("LastExitEndDay").AsInteger()
          : 0;
  auto earlier = [&](const std::string& window, const std::string& begin,
                     const std::string& before) {
    if (begin != window) return window;
    doubled_ = true;
    return before;
  };
  if (P > E1) {
    if (last_exit > 0) {
      if (MinutesBetween(E1, P) > last_exit) return earlier(E1, B0, E2);
      return earlier(E2, B1, E3);
    }
    return earlier(E1, B0, E2);
  }
  return earlier(E2, B1, E3);
}

int TDmSetClockRec::IoTypeFromCalendar(const std::string& Perno, const std::string& D,
                                       const std::string& S, const std::string& T) {
  // The person's rule of the day (from the rules read once) and its work group's calendars
  // (read once a walk).
  const RuleRow* rule = RuleOfTrimmedPerson(Perno, D);
  if (rule == nullptr) return 0;
  const std::int64_t work_group = rule->group.AsInteger();
  auto codes = group_codes_.find(work_group);
  if (codes == group_codes_.end()) {
    AdoQWorkgroup->Close();
    AdoQWorkgroup->SetParam("Code", work_group);
    AdoQWorkgroup->Open();
    codes = group_codes_
                .emplace(work_group,
                         std::make_pair(
                             util::TrimControls(AdoQWorkgroup->FieldByName("CalCode").AsString()),
                             util::TrimControls(AdoQWorkgroup->FieldByName("GShCode").AsString())))
                .first;
  }
  const std::string cal = codes->second.first;
  const std::string gsh = codes->second.second;
  auto item_of = [&](int day) {
    return day >= 1 && FindCurrentCalItem(TZelCalcUtils::Day2Date(day), cal, gsh, Perno);
  };

  const int today = TZelCalcUtils::Date2Day(D);
  std::string E2;
  if (item_of(today - 2)) E2 = ItemMoment("EndDate", "EndTime");
  if (!item_of(today - 1)) return 3;
  const std::string E1 = ItemMoment("EndDate", "EndTime");
  const std::string P = D + T;
  if (P > E1) {
    if (!item_of(today)) return 3;
    if (E1 == ItemMoment("DBeginDate", "DBeginTime")) return 2;
  } else if (E2 == ItemMoment("DBeginDate", "DBeginTime")) {
    return 2;
  }

  const bool has_duty = !util::TrimControls(ItemField("DBeginTime").AsString()).empty();
  const bool has_e = !util::TrimControls(ItemField("EBeginTime").AsString()).empty();
  if (!has_duty && !has_e) return ItemField("Holiday").AsInteger() > 0 ? 5 : -1;

  const std::string DB = ItemMoment("DBeginDate", "DBeginTime");
  const std::string DE = ItemMoment("DEndDate", "DEndTime");
  const std::string EB = ItemMoment("EBeginDate", "EBeginTime");
  const std::string EE = ItemMoment("EEndDate", "EEndTime");
  // A short window: the punch is an entry when it lies nearer the window's begin.
  auto inside_short = [&](bool set, const std::string& begin, const std::string& end) {
    if (!set || !(begin < P && P < end)) return 0;
    const int length = MinutesBetween(begin, end);
    if (length < 0 || length >= iiAfterEnter + iiBeforeExit) return 0;
    const int b = MinutesBetween(begin, P), e = MinutesBetween(P, end);
    if (e >= b) return 1;
    return S == "0" ? 2 : 1;
  };
  if (const int k = inside_short(has_duty, DB, DE)) return k;
  if (const int k = inside_short(has_e, EB, EE)) return k;

  auto nearest = [&](const std::string& a, const std::string& b) {
    int n = INT_MAX;
    for (const std::string* m : {&a, &b}) {
      const int d = MinutesBetween(P, *m);
      if (d >= 0 && d < n) n = d;
    }
    return n;
  };
  const int n = nearest(has_duty ? DB : std::string(), has_e ? EB : std::string());
  if (n <= iiBeforeEnter || n <= iiAfterEnter) return 1;
  const int x = nearest(has_duty ? DE : std::string(), has_e ? EE : std::string());
  if (x > iiBeforeExit && x > iiAfterExit) return 4;
  return S == "0" ? 2 : 1;
}

}  // namespace zel::clockrec
