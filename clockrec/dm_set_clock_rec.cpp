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
using dates::Trim;
using dates::TZelCalcUtils;
using db::TADOUtils;

std::string Q(const std::string& text) { return TADOUtils::QuotedStr(text); }

std::string PadPerno(const std::string& perno) {
  return TZelCalcUtils::SLPadC(Trim(perno), 10, ' ');
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
  if (Trim(a).size() != 10 || Trim(b).size() != 10) return -1;
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
  return value.IsNull() ? std::string("NULL") : "'" + Trim(value.AsString()) + "'";
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
  CurrentYear = Trim(newCurrentYear);
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
  for (auto* q :
       {&QClockDmp, &QSystem, &AdoQWorkgroup, &AdoQCurrentWorkGroup, &AdoQWShifts, &AdoQPrjRule,
        &AdoQCurrentRule, &AdoQCurrentCalItem, &AdoQPerShifts, &AdoQGShItem})
    q->reset();
  base_ = Open(DbBaseInfoConnectionString);
  year_ = Open(DbTimeAttendanceConnectionString);

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
  AdoQPrjRule = make(*year_, {"Select * from PrjRule",
                              "Where LTrim(RTrim(Perno)) = :Perno and :CurDate Between "
                              "BeginDate And EndDate"});
  AdoQCurrentRule = std::make_unique<db::Dataset>(*year_);
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
        std::tuple{AdoQPrjRule.get(), "Perno", db::ParamType::String, 10},
        std::tuple{AdoQPrjRule.get(), "CurDate", db::ParamType::String, 5},
        std::tuple{AdoQPerShifts.get(), "Perno", db::ParamType::String, 10},
        std::tuple{AdoQPerShifts.get(), "GShCode", db::ParamType::Integer, 0},
        std::tuple{AdoQPerShifts.get(), "Period", db::ParamType::Integer, 0},
        std::tuple{AdoQGShItem.get(), "GShCode", db::ParamType::Integer, 0},
        std::tuple{AdoQGShItem.get(), "Period", db::ParamType::Integer, 0}}) {
    db::Param& p = q->ParamByName(name);
    p.type = type;
    p.size = size;
  }
  current_work_group_ = -1;
  rule_open_ = false;
  current_item_ = nullptr;
  calendar_items_.clear();
  shift_items_.clear();
  item_person_.clear();
  counts_ = {};
  day_end_person_.clear();
  day_ends_.clear();
  shift_days_.clear();
  calendar_days_.clear();
  group_calendars_.clear();
  rules_loaded_ = false;
  io_loaded_ = false;
  day_groups_.clear();
  group_codes_.clear();
  SetSQLTextForDataSets();
  SetSystemVariables();
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
  card_rules_loaded_ = false;
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
    throw;
  }
  walking_ = false;
  QClockDmp->Close();
  held_.clear();
  held_by_person_.clear();
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
    const std::string date = Trim(QClockDmp->FieldByName("ClockDate").AsString());
    h.time = Trim(QClockDmp->FieldByName("ClockTime").AsString());
    h.readable = IsPunchDateTime(date, h.time);
    h.day = Copy(date, 6, 5);
    h.io_type = Trim(QClockDmp->FieldByName("IO_TYPE").AsString());
    h.uncertain = QClockDmp->FieldByName("UNCERTAIN").AsInteger();
    held_.push_back(std::move(h));
    const db::Value& perno = QClockDmp->FieldByName("Perno");
    if (!perno.IsNull()) held_by_person_[PersonKey(perno.AsString())].push_back(QClockDmp->RecNo());
  }
  // Within a person, in the order of their REC.
  for (auto& [person, rows] : held_by_person_)
    std::stable_sort(rows.begin(), rows.end(),
                     [&](int a, int b) { return held_[a].rec < held_[b].rec; });
}

void TDmSetClockRec::WriteLabel(db::Dataset& Table, const std::string& io_type, int uncertain) {
  const db::Value& old_type = Table.FieldByName("IO_TYPE");
  const db::Value& old_uncertain = Table.FieldByName("UNCERTAIN");
  const bool same = !old_type.IsNull() && Trim(old_type.AsString()) == io_type &&
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
    kept_reports_.insert(Trim(row[0].AsString()) + "|" + row[1].AsString());
  kept_reports_loaded_ = true;
}

bool TDmSetClockRec::CardHasRule(const std::string& Card, const std::string& D) {
  if (!card_rules_loaded_) {
    // Every rule's cards and days, read once for the run.
    card_rules_.clear();
    db::ResultSet rules = year_->Execute(TADOUtils::CatCommandText(
        {"Select LTRIM(RTRIM(KartNo)) KartNo, LTRIM(RTRIM(KartNo2)) KartNo2, BeginDate, EndDate",
         "From PrjRule"}));
    for (const auto& row : rules.rows) {
      if (row[2].IsNull() || row[3].IsNull()) continue;  // a rule without its days holds none
      for (int i : {0, 1})
        if (!row[i].IsNull())
          card_rules_.push_back({util::LowerAscii(Trim(row[i].AsString())), Trim(row[2].AsString()),
                                 Trim(row[3].AsString())});
    }
    card_rules_loaded_ = true;
  }
  // As the rule query of a punch compares: trimmed cards, case-insensitively.
  const std::string card = util::LowerAscii(Trim(Card));
  const std::string day = Trim(D);
  for (const CardRule& r : card_rules_)
    if (r.card == card && r.begin <= day && r.end >= day) return true;
  return false;
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
    const std::string perno = Trim(q.FieldByName("Perno").AsString());
    KeptReason reason;
    if (!IsPunchDateTime(Trim(date.AsString()), Trim(time.AsString())))
      reason = KeptReason::kMalformed;
    else if (perno.empty())
      reason = KeptReason::kNoPerson;
    else if (q.FieldByName("PersonNo").IsNull())
      reason = KeptReason::kNotInPerson;
    else if (Copy(Trim(date.AsString()), 1, 4) != CurrentYear)
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
  const std::string card = Trim(Table.FieldByName("KARTNO").AsString());
  const std::string perno = Trim(Table.FieldByName("PERNO").AsString());
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
  const std::string clock_date = Trim(Table.FieldByName("ClockDate").AsString());
  const std::string T = Trim(Table.FieldByName("ClockTime").AsString());
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
  Log("SetClockDumpRec_Pre => Perno: " + Perno + " CurrentYear: " + CurrentYear +
      " Copy(Table.FieldByName(ClockDate).AsString, 1, 4): " + Copy(clock_date, 1, 4));

  auto write = [&](const std::string& io_type, int uncertain) {
    WriteLabel(Table, io_type, uncertain);
    if (io_type == "1")
      ++counts_.entries;
    else if (io_type == "2")
      ++counts_.exits;
    else
      ++counts_.undecided;
    if (uncertain != 0) ++counts_.unsure;
  };

  if (Trim(Perno).empty() || Copy(clock_date, 1, 4) != CurrentYear) {
    write("0", 1);
    return;
  }

  const int work_group = static_cast<int>(AdoQCurrentRule->FieldByName("WorkGroup").AsInteger());
  if (current_work_group_ != work_group) OpenCurrentWorkGroup(work_group);
  FindCurrentCalItem(D, Trim(AdoQCurrentWorkGroup->FieldByName("CalCode").AsString()),
                     Trim(AdoQCurrentWorkGroup->FieldByName("GShCode").AsString()), Trim(Perno));
  Log("SetClockDumpRec => Perno: " + Perno + " Date: " + D + " Time: " + T);
  std::string S = Table.FieldByName("SpCardType").AsString();
  const bool intelligent = AdoQCurrentWorkGroup->FieldByName("IntelligentType").AsInteger() == 2;

  std::string new_type;
  bool u = false;
  TLastIo LastIo;
  if (FindLastIo(Perno, D, T, LastIo)) {
    Log("SetClockDumpRec => 1");
    S = "0";
    if (LastIo.IoType.empty()) {
      // The last label is unknown: nothing to go by, the punch stays as it is.
      Table.Cancel();
      ++counts_.unlabelled;
      return;
    }
    if (LastIo.IoType != "1") {
      new_type = "1";
      if (intelligent) {
        Log("SetClockDumpRec => 3");
        Log("SetClockDumpRec => IoType = 1");
        write("1", 0);
        return;
      }
      u = LastIo.Uncertain;
      const int m = TZelCalcUtils::SubtractDateTime(D, T, LastIo.DDate, LastIo.TTime);
      if (m >= iiMaxMor && (m <= iiMinAbsence || m >= iiMaxAbsence)) {
        const int K = IoTypeFromCalendar(Perno, D, S, T);
        Log("FromCalendar2 => " + std::to_string(K));
        if (K == 2) {
          if (m >= iiMaxAbsence) new_type = "2";
          u = true;
        } else if (K != 1 && K != 3 && K != 5) {
          u = true;
        }
      }
    } else {
      new_type = "2";
      if (intelligent) {
        Log("SetClockDumpRec => 2");
        Log("SetClockDumpRec => IoType = 2");
        write("2", 0);
        return;
      }
      u = LastIo.Uncertain;
      const int limit = doubled_ ? 2 * iiMaxPresence : iiMaxPresence;
      if (TZelCalcUtils::SubtractDateTime(D, T, LastIo.DDate, LastIo.TTime) >= limit) {
        const int K = IoTypeFromCalendar(Perno, D, S, T);
        Log("FromCalendar1 => " + std::to_string(K));
        if (K == 1) {
          new_type = "1";
          u = true;
        } else if (K != 2 && K != 3 && K != 5) {
          u = true;
        }
      }
    }
  } else {
    new_type = "1";
    if (intelligent) {
      Log("SetClockDumpRec => 4");
      Log("SetClockDumpRec => IoType = 1");
      write("1", 0);
      return;
    }
    const int K = IoTypeFromCalendar(Perno, D, S, T);
    Log("FromCalendar3 => " + std::to_string(K));
    if (K == 1 || K == 3 || K == 5) {
      u = false;
    } else if (K == 2) {
      new_type = "2";
      u = true;
    } else {
      u = true;
    }
  }
  write(new_type, u ? 1 : 0);
  Log("SetClockDumpRec => 5");
  Log("SetClockDumpRec => IoType = " + new_type);
}

bool TDmSetClockRec::FindCurrentRule(const std::string& D, const std::string& Card) {
  // The punches of a card's day ask the same question; the answer is still open.
  if (rule_open_ && rule_day_ == D && rule_card_ == Card) return !AdoQCurrentRule->IsEmpty();
  rule_open_ = false;
  const std::string card = Q(Trim(Card));
  AdoQCurrentRule->Close();
  AdoQCurrentRule->SetSQL(
      {" Select * From " + DataBaseName + "_" + CurrentYear + "..PrjRule ",
       " Where BeginDate <= :DDate and EndDate >= :DDate And ",
       " ( LTRIM(RTRIM(KartNo)) = " + card + " or LTRIM(RTRIM(KartNo2)) =" + card + ") "});
  db::Param& p = AdoQCurrentRule->ParamByName("DDate");
  p.type = db::ParamType::String;
  p.size = 5;
  p.value = D;
  AdoQCurrentRule->Open();
  rule_open_ = true;
  rule_day_ = D;
  rule_card_ = Card;
  return !AdoQCurrentRule->IsEmpty();
}

void TDmSetClockRec::OpenCurrentWorkGroup(int Code) {
  AdoQCurrentWorkGroup->Close();
  AdoQCurrentWorkGroup->SetParam("WorkGroup", Code);
  AdoQCurrentWorkGroup->Open();
  current_work_group_ = Code;
}

bool TDmSetClockRec::FindCurrentCalItem(const std::string& D, const std::string& CalCode,
                                        const std::string& GShCode, const std::string& Perno) {
  // Calendar and shift items do not change during a walk: each is read once (calendar days
  // for the walk, shift days for the person being walked).
  const bool shift = !Trim(GShCode).empty() && Trim(GShCode) != "0";
  const std::string padded = PadPerno(Perno);
  if (shift && item_person_ != padded) {
    shift_items_.clear();
    item_person_ = padded;
  }
  auto& items = shift ? shift_items_ : calendar_items_;
  const std::string key = D + "|" + Trim(CalCode) + "|" + Trim(GShCode);
  auto it = items.find(key);
  if (it == items.end()) {
    ItemSnapshot snap;
    snap.found = QueryCalItem(D, CalCode, GShCode, Perno);
    snap.columns = AdoQCurrentCalItem->FieldNames();
    if (!AdoQCurrentCalItem->IsEmpty())
      for (int i = 0; i < AdoQCurrentCalItem->FieldCount(); ++i)
        snap.row.push_back(AdoQCurrentCalItem->Field(i));
    it = items.emplace(key, std::move(snap)).first;
  }
  current_item_ = &it->second;
  return it->second.found;
}

db::Value TDmSetClockRec::ItemField(const char* column) const {
  if (current_item_ == nullptr || current_item_->row.empty()) return db::Value();
  for (size_t i = 0; i < current_item_->columns.size(); ++i) {
    const std::string& c = current_item_->columns[i];
    size_t k = 0;
    while (k < c.size() && column[k] != 0 &&
           std::tolower(static_cast<unsigned char>(c[k])) ==
               std::tolower(static_cast<unsigned char>(column[k])))
      ++k;
    if (k == c.size() && column[k] == 0) return current_item_->row[i];
  }
  throw db::DbError(std::string("Field '") + column + "' not found");
}

bool TDmSetClockRec::QueryCalItem(const std::string& D, const std::string& CalCode,
                                  const std::string& GShCode, const std::string& Perno) {
  AdoQCurrentCalItem->Close();
  AdoQCurrentCalItem->SetSQL({" Select * From " + DataBaseName + "_" + CurrentYear + "..CalItem ",
                              " Where CalCode = :CalCode And DBegindate = :DBeginDate "});
  db::Param& cal = AdoQCurrentCalItem->ParamByName("CalCode");
  cal.type = db::ParamType::Integer;
  cal.value = Trim(CalCode).empty() ? 9999999 : dates::StrToInt(Trim(CalCode));
  db::Param& day = AdoQCurrentCalItem->ParamByName("DBeginDate");
  day.type = db::ParamType::String;
  day.size = 5;
  day.value = D;
  AdoQCurrentCalItem->Open();
  const int gsh = Trim(GShCode).empty() ? 0 : dates::StrToInt(Trim(GShCode));
  if (gsh == 0) return !AdoQCurrentCalItem->IsEmpty();

  // The day of a shift-group person: the person's own shift of the day, else the group's.
  const int period = dates::StrToIntDef(Copy(D, 1, 2), 0);
  int k = dates::StrToIntDef(Copy(D, 4, 2), 0);
  if (k <= 0) k = 1;
  AdoQGShItem->Close();
  AdoQGShItem->SetParam("Period", period);
  AdoQGShItem->SetParam("GShCode", gsh);
  AdoQGShItem->Open();
  if (AdoQGShItem->IsEmpty()) return false;
  AdoQPerShifts->Close();
  // Person numbers are stored right-aligned in 10 characters.
  AdoQPerShifts->SetParam("Perno", PadPerno(Perno));
  AdoQPerShifts->SetParam("Period", period);
  AdoQPerShifts->SetParam("GShCode", gsh);
  AdoQPerShifts->Open();
  if (AdoQPerShifts->IsEmpty()) return false;
  const std::string column = "D" + std::to_string(k);
  auto shift_of = [&](db::Dataset& q) {
    return q.HasField(column) ? q.FieldByName(column).AsInteger() : 0;
  };
  std::int64_t shift = shift_of(*AdoQPerShifts);
  if (shift == 0) shift = shift_of(*AdoQGShItem);
  if (shift <= 0) return false;

  AdoQWShifts->Close();
  AdoQWShifts->SetParam("Code", static_cast<std::int64_t>(shift));
  AdoQWShifts->Open();
  const std::string next = TZelCalcUtils::IncDateH("", D, CurrentYear);
  const std::string status = AdoQWShifts->FieldByName("ShiftStatus").AsString();
  auto date = [&](size_t i) { return Q(i < status.size() && status[i] == '1' ? next : D); };
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
  return !AdoQCurrentCalItem->IsEmpty();
}

bool TDmSetClockRec::FindLastIo(const std::string& Perno, const std::string& D,
                                const std::string& T, TLastIo& LastIo) {
  const std::string W = CurrentYear + "/" + GetPrevDateTime(Perno, D, T);
  Log("FindLastIo => PrevDateTime: " + W);
  const std::string from = Copy(W, 6, 10);
  const std::string to = D + T;
  LastIo = TLastIo{};
  LastIo.Person = Perno;
  bool found = false;

  Log("FindLastIo => IOInfo");
  for (const IoMoment& io : PersonIoInfo(Perno)) {
    const std::string at = io.date + io.time;
    if (!(at >= from && at < to)) continue;
    Log("FindLastIo => Q.FieldByName(DDate).AsString + Q.FieldByName(TTime).AsString: " + at);
    if (at >= LastIo.DDate + LastIo.TTime) {
      LastIo.DDate = io.date;
      LastIo.TTime = io.time;
      LastIo.Uncertain = false;
      LastIo.IoType = io.type;
      found = true;
      Log("FindLastIo => IOInfo Finded");
      Log("FindLastIo => IOInfo ALastIo.IoType:" + LastIo.IoType);
    }
  }

  Log("FindLastIo => ClockDmp");
  // The person's untransferred punches of the year are the rows the walk holds, with the
  // labels it gave so far. Only those labelled entry or exit, with a readable date and time
  // and a card with a rule that day, count: an unlabelled, undecided, unreadable or
  // ruleless punch must not decide the label of another.
  const auto person = held_by_person_.find(PersonKey(Perno));
  if (person != held_by_person_.end()) {
    for (const int index : person->second) {
      const HeldPunch& h = held_[index];
      if (!h.readable || (h.io_type != "1" && h.io_type != "2")) continue;
      const std::string at = h.day + h.time;
      if (!(at >= from && at < to) || !CardHasRule(h.card, h.day)) continue;
      Log("FindLastIo => Q.FieldByName(DDate).AsString + Q.FieldByName(TTime).AsString: " + at);
      if (at > LastIo.DDate + LastIo.TTime) {
        LastIo.DDate = h.day;
        LastIo.TTime = h.time;
        LastIo.Uncertain = h.uncertain != 0;
        LastIo.IoType = h.io_type;
        found = true;
        Log("FindLastIo => ClockDmp Finded");
        Log("FindLastIo => ClockDmp ALastIo.IoType:" + LastIo.IoType);
      }
    }
  }
  return found;
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
    io_rows_.push_back({row[1].AsString(), row[2].AsString(), row[0].AsString()});
  }
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
    shift_days_.clear();
    rules_loaded_ = false;
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
  const std::string padded = PadPerno(Perno);
  if (!rules_loaded_) {
    db::ResultSet rules = year_->Execute(TADOUtils::CatCommandText(
        {"Select BEGINDATE, ENDDATE, WorkGroup From PrjRule", "Where perno ='" + padded + "'"}));
    person_rules_.clear();
    for (const auto& row : rules.rows) {
      if (row[0].IsNull() || row[1].IsNull()) continue;
      person_rules_.push_back({Trim(row[0].AsString()), Trim(row[1].AsString()), row[2]});
    }
    rules_loaded_ = true;
  }
  const RuleSpan* rule = nullptr;
  for (const RuleSpan& r : person_rules_) {
    if (r.begin <= Dn && r.end >= Dn) {
      rule = &r;
      break;
    }
  }
  // A rule saved without a work group counts as no work group on that day.
  const std::string group = rule == nullptr ? std::string() : Trim(rule->group.AsString());
  if (group.empty()) {
    result.end = Dn + "23:59";
    return result;
  }
  auto g = group_calendars_.find(group);
  if (g == group_calendars_.end()) {
    db::ResultSet grp = base_->Execute(TADOUtils::CatCommandText(
        {" Select CalCode, GShCode from WorkGrp ", "Where Code =" + group}));
    std::optional<std::pair<std::string, std::string>> codes;
    if (!grp.rows.empty())
      codes = std::make_pair(Trim(grp.rows[0][0].AsString()), Trim(grp.rows[0][1].AsString()));
    g = group_calendars_.emplace(group, codes).first;
  }
  if (!g->second) return result;
  const std::string& cal = g->second->first;
  const std::string& gsh = g->second->second;
  const bool has_gsh = !gsh.empty() && gsh != "0";
  if (cal.empty() && !has_gsh) return result;
  auto read_days = [](db::ResultSet r) {
    std::map<std::string, ItemDay> days;
    for (const auto& row : r.rows)
      days.emplace(Trim(row[0].AsString()), ItemDay{row[0].AsString(), row[1].AsString(),
                                                    row[2].AsString(), row[3].AsString()});
    return days;
  };
  const std::map<std::string, ItemDay>* days = nullptr;
  if (!cal.empty()) {
    auto c = calendar_days_.find(cal);
    if (c == calendar_days_.end()) {
      c = calendar_days_
              .emplace(cal, read_days(year_->Execute(TADOUtils::CatCommandText(
                                {"Select DBEGINDATE, DBEGINTIME, ENDDATE, ENDTIME From CalItem",
                                 "Where CalCode =" + cal}))))
              .first;
    }
    days = &c->second;
  } else {
    auto c = shift_days_.find(gsh);
    if (c == shift_days_.end()) {
      c = shift_days_
              .emplace(gsh,
                       read_days(year_->Execute(TADOUtils::CatCommandText(
                           {" Select DBEGINDATE, DBEGINTIME, ENDDATE, ENDTIME From V_GetCalItem ",
                            " Where GShCode = " + gsh + " ", " And PerNo = " + Q(padded) + " "}))))
              .first;
    }
    days = &c->second;
  }
  const auto day = days->find(Dn);
  if (day == days->end()) return result;
  result.end = day->second.end_date + day->second.end_time;
  if (n == 1) result.begin = day->second.begin_date + day->second.begin_time;
  return result;
}

std::string TDmSetClockRec::ItemMoment(const char* date_column, const char* time_column) const {
  if (current_item_ == nullptr || current_item_->row.empty()) return std::string();
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
      Trim(AdoQCurrentWorkGroup->FieldByName("CalCode").AsString()).empty()) {
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
  // The person's rule of the day and its work group's calendars do not change during a
  // walk: each is read once.
  const std::string rule_key = Trim(Perno) + "|" + D;
  auto rule = day_groups_.find(rule_key);
  if (rule == day_groups_.end()) {
    AdoQPrjRule->Close();
    AdoQPrjRule->SetParam("Perno", Trim(Perno));
    AdoQPrjRule->SetParam("CurDate", D);
    AdoQPrjRule->Open();
    std::optional<std::int64_t> group;
    if (!AdoQPrjRule->IsEmpty()) group = AdoQPrjRule->FieldByName("WorkGroup").AsInteger();
    rule = day_groups_.emplace(rule_key, group).first;
  }
  if (!rule->second) return 0;
  auto codes = group_codes_.find(*rule->second);
  if (codes == group_codes_.end()) {
    AdoQWorkgroup->Close();
    AdoQWorkgroup->SetParam("Code", *rule->second);
    AdoQWorkgroup->Open();
    codes = group_codes_
                .emplace(*rule->second,
                         std::make_pair(Trim(AdoQWorkgroup->FieldByName("CalCode").AsString()),
                                        Trim(AdoQWorkgroup->FieldByName("GShCode").AsString())))
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

  const bool has_duty = !Trim(ItemField("DBeginTime").AsString()).empty();
  const bool has_e = !Trim(ItemField("EBeginTime").AsString()).empty();
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
