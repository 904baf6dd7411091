// The permission preparation and transfer: special-card punches and approved web requests
// become requests in TmpMor, TmpMam or TmpSLate, which are checked against the permissions
// on record and moved into Morkhasi/DayMor, Mission/DayMam/MamDays or ServLate.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>
#include <set>

#include "dates/jalali.h"
#include "db/ado_utils.h"
#include "db/client.h"
#include "db/css_log.h"
#include "transfer/dm_transfer.h"
#include "transfer/transfer_utils.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::transfer {

namespace {

std::string Mid(const std::string& text, std::size_t from, std::size_t count) {
  return from < text.size() ? text.substr(from, count) : std::string();
}

std::string q(const std::string& value) { return db::TADOUtils::QuotedStr(value); }

using util::JoinLines;

int FirstInt(db::Connection& c, const std::string& sql) {
  const db::ResultSet r = c.Execute(sql);
  if (r.rows.empty() || r.rows[0].empty() || r.rows[0][0].IsNull()) return 0;
  return static_cast<int>(r.rows[0][0].AsInteger());
}

const char* TmpTable(TPerMissionType kind) {
  switch (kind) {
    case TPerMissionType::prMor:
      return "TmpMor";
    case TPerMissionType::prMam:
      return "TmpMam";
    default:
      return "TmpSLate";
  }
}

int KindCode(TPerMissionType kind) {
  switch (kind) {
    case TPerMissionType::prMor:
      return 1;
    case TPerMissionType::prMam:
      return 2;
    default:
      return 3;
  }
}

// The overlap tests of the collision statements; r is the request table, t the record.
std::string TestH(const std::string& r, const std::string& t) {
  return "(((" + r + ".BeginDate+" + r + ".BeginTime >= " + t + ".BeginDate+" + t +
         ".BeginTime) and  (" + r + ".BeginDate+" + r + ".BeginTime < " + t + ".EndDate+" + t +
         ".EndTime))\nor\n((" + r + ".EndDate+" + r + ".EndTime > " + t + ".BeginDate+" + t +
         ".BeginTime) and  (" + r + ".EndDate+" + r + ".EndTime <= " + t + ".EndDate+" + t +
         ".EndTime))\nor\n((" + r + ".EndDate+" + r + ".EndTime >= " + t + ".EndDate+" + t +
         ".EndTime) and  (" + r + ".BeginDate+" + r + ".BeginTime <= " + t + ".BeginDate+" + t +
         ".BeginTime)))";
}
std::string TestD(const std::string& r) {
  return "(((" + r + ".BeginDate >= t1.BeginDate) and  (" + r +
         ".BeginDate <= t1.EndDate))\nor\n((" + r + ".EndDate >= t1.BeginDate) and  (" + r +
         ".EndDate <= t1.EndDate)))";
}
std::string TestW3(const std::string& r) {
  return " (((" + r + ".BeginDate >= t1.BeginDate) And (" + r +
         ".BeginDate <= t1.EndDate))\n Or\n ((" + r + ".EndDate >= t1.BeginDate) And (" + r +
         ".EndDate <= t1.EndDate))\n Or\n ((" + r + ".EndDate >= t1.EndDate) And (" + r +
         ".BeginDate <= t1.BeginDate)))";
}

struct Note {
  const char* label;  // the note's text before the sheet number
  const char* table;  // the record table
  bool hourly;        // the record has times
};
const Note kNotes[] = {{"مرخصي ساعتي: ", "Morkhasi", true},
                       {"مرخصي روزانه: ", "DayMor", false},
                       {"ماموريت ساعتي: ", "Mission", true},
                       {"ماموريت روزانه: ", "DayMam", false}};

}  // namespace

std::vector<std::pair<std::string, std::string>> TTransferUtils::SpecCardCodeMap(
    TPerMissionType kind, db::Connection& main) {
  std::vector<std::pair<std::string, std::string>> map;
  const db::ResultSet cards =
      main.Execute(" Select CardNo, PermitCode From SpecCard Where PERMITTYPE = " +
                   std::to_string(KindCode(kind)) + " ");
  for (const auto& row : cards.rows) {
    const std::string card = util::TrimWhitespace(row[0].IsNull() ? "" : row[0].AsString());
    if (card.empty()) throw db::DbError("شماره کارت خاص خالی می باشد");
    const std::string code = util::TrimWhitespace(row[1].IsNull() ? "" : row[1].AsString());
    map.emplace_back(card, code);
    const auto n = util::ParseInt<long long>(card, util::PlusSign::kAccepted);
    if (n && std::to_string(*n) != card) map.emplace_back(std::to_string(*n), code);
  }
  if (kind == TPerMissionType::prSlate) return map;
  const db::ResultSet sys = main.Execute("Select * From SYSTEM");
  if (sys.rows.empty()) return map;
  const char* prefix = kind == TPerMissionType::prMor ? "mor_code" : "mam_code";
  for (int i = 1; i <= 8; ++i) {
    const std::string column = prefix + std::to_string(i);
    for (std::size_t c = 0; c < sys.columns.size(); ++c) {
      std::string name = sys.columns[c];
      for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (name != column) continue;
      const db::Value& v = sys.rows[0][c];
      map.emplace_back((kind == TPerMissionType::prMor ? "E" : "F") + std::to_string(i),
                       util::TrimWhitespace(v.IsNull() ? "" : v.AsString()));
    }
  }
  return map;
}

namespace {

// A report kept until the transaction is settled (the embedded engine's file has one
// writer); once: a skipped row that is met again on every run.
struct PendingReport {
  std::string perno, text;
  bool once = false;
};

// After a caught failure inside the step's transaction: raises when the server ended it.
void StillInTransaction(db::Connection& c, const std::string& failure) {
  db::EnsureTransactionOpen(c,
                            "The server rolled the transaction back after this failure, so "
                            "nothing of this step was kept: " +
                                failure);
}

bool IsDayOfYear(const std::string& text, int year) {
  const std::string d = util::TrimWhitespace(text);
  if (d.size() != 5 || d[2] != '/') return false;
  for (std::size_t i : {0U, 1U, 3U, 4U})
    if (!std::isdigit(static_cast<unsigned char>(d[i]))) return false;
  const int month = (d[0] - '0') * 10 + (d[1] - '0');
  const int day = (d[3] - '0') * 10 + (d[4] - '0');
  return day >= 1 && day <= dates::JalaliMonthDays(year, month);
}

bool IsTimeOfDay(const std::string& text) {
  const std::string t = util::TrimWhitespace(text);
  if (t.size() != 5 || t[2] != ':') return false;
  for (std::size_t i : {0U, 1U, 3U, 4U})
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
  return (t[0] - '0') * 10 + (t[1] - '0') <= 23 && (t[3] - '0') * 10 + (t[4] - '0') <= 59;
}

// The values of one web request that decide whether it can become a request.
struct WebRequest {
  std::string page, perno, type;  // page and type empty when NULL
  std::string beginDate, beginTime, endDate, endTime;
  bool daily = false;
};

// Why a web request cannot become a request (empty when it can): a sheet number, a person,
// a type of the kind, days of the year and times of day (a whole-day request may leave its
// times blank), and an end that is not before the begin.
std::string WebRequestFault(const WebRequest& r, bool leave, const std::set<std::int64_t>& types,
                            int year) {
  if (r.page.empty()) return "no sheet number";
  if (util::TrimWhitespace(r.perno).empty()) return "no person number";
  if (r.type.empty()) return "no type";
  const auto type = util::ParseInt<std::int64_t>(util::TrimWhitespace(r.type));
  if (!type || types.count(*type) == 0)
    return "type " + util::TrimWhitespace(r.type) +
           (leave ? " is not a leave type" : " is not a mission type");
  const std::string y = std::to_string(year);
  if (!IsDayOfYear(r.beginDate, year))
    return "begin date '" + util::TrimWhitespace(r.beginDate) + "' is not a day of " + y;
  if (!IsDayOfYear(r.endDate, year))
    return "end date '" + util::TrimWhitespace(r.endDate) + "' is not a day of " + y;
  const auto time_fault = [&](const char* side, const std::string& t) -> std::string {
    if (r.daily && util::TrimWhitespace(t).empty()) return "";
    if (IsTimeOfDay(t)) return "";
    return std::string(side) + " time '" + util::TrimWhitespace(t) + "' is not a time of day";
  };
  if (std::string f = time_fault("begin", r.beginTime); !f.empty()) return f;
  if (std::string f = time_fault("end", r.endTime); !f.empty()) return f;
  const bool reversed =
      r.daily ? util::TrimWhitespace(r.endDate) < util::TrimWhitespace(r.beginDate)
              : util::TrimWhitespace(r.endDate) + util::TrimWhitespace(r.endTime) <
                    util::TrimWhitespace(r.beginDate) + util::TrimWhitespace(r.beginTime);
  if (reversed) return "it ends before it begins";
  return "";
}

// What the preparation of a kind works with once the punches are paired.
struct Preparation {
  PermissionArgs& a;
  PermissionTransferResult& result;
  std::vector<PendingReport>& reports;
  int page = 0;  // the last sheet number given to an hourly request

  // A request that is skipped is met again on every run: its report is written once.
  void Report(const std::string& perno, const std::string& text) {
    ++result.Reported;
    reports.push_back({perno, text, true});
  }
  // Between persons: a stop abandons the whole step.
  void CheckStop(const std::string& perno, std::string& last) const {
    if (perno == last) return;
    last = perno;
    if (a.StopRequested && a.StopRequested())
      throw TransferStopped(
          "The permission preparation stopped on request; nothing of this "
          "step was kept");
  }
};

std::string TypeOf(const TPermissioninfo& p,
                   const std::vector<std::pair<std::string, std::string>>& codes) {
  const std::string key = util::TrimWhitespace(p.SpecCardNo) + util::TrimWhitespace(p.ClockKey);
  for (const auto& [k, v] : codes)
    if (k == key) return v;
  return "";
}

// The insert of one clock request; empty when a leave or mission request has no type.
std::string ClockInsert(TPerMissionType kind, const TPermissioninfo& p, const std::string& type,
                        const RoundSettings& rounding, const std::string& today, int page) {
  const std::string B = TTransferUtils::AdjustTime(p.BEGINTIME, rounding);
  const std::string E = TTransferUtils::AdjustTime(p.ENDTIME, rounding);
  const bool indecisive =
      p.ENDDATE + p.ENDTIME <= p.BEGINDATE + p.BEGINTIME || p.ShiftType == 3 || p.Uncertain;
  const std::string values = "('" + p.Perno + "','" + p.BEGINDATE + "','" + B + "','" + p.ENDDATE +
                             "','" + E + "','" + std::to_string(page) + "',";
  const std::string tail = std::string(indecisive ? "1" : "0") + "," + std::to_string(p.Rec1) +
                           "," + std::to_string(p.Rec2) + ",";
  if (kind == TPerMissionType::prSlate) {
    return JoinLines({"INSERT INTO tmpSLate",
                      "(PerNo,BeginDate,BeginTime,EndDate,EndTime,PageNo,DESCRIPT,RecDate,"
                      "INDECISIVE,Rec1,Rec2,ShiftType)",
                      "VALUES",
                      values + "'','" + today + "'," + tail + std::to_string(p.ShiftType) + ")"});
  }
  if (util::TrimWhitespace(type).empty()) return "";
  return JoinLines({kind == TPerMissionType::prMor ? "INSERT INTO tmpMor" : "INSERT INTO tmpMam",
                    kind == TPerMissionType::prMor
                        ? "(PerNo,BeginDate,BeginTime,EndDate,EndTime,PageNo,Type,DESCRIPT,RecDate,"
                          "INDECISIVE,Rec1,Rec2,IsDaily)"
                        : "(PerNo,BeginDate,BeginTime,EndDate,EndTime,PageNo,Type,DESCRIPT,"
                          "IssueDate,INDECISIVE,Rec1,Rec2,IsDaily)",
                    "VALUES", values + type + ",'','" + today + "'," + tail + "'0')"});
}

// The clock requests into the intermediate table, each on its own: a failing one is
// reported and the next follows.
void InsertClockRequests(Preparation& w, const TPermissionList& list,
                         const std::vector<std::pair<std::string, std::string>>& codes) {
  db::Connection& year = *w.a.YearDBConnection;
  const std::string today = Mid(w.a.CurrentDate_YYMMDD, 5, 5);
  std::string last;
  for (int i = 0; i < list.Count(); ++i) {
    const TPermissioninfo p = list.Item(i);
    w.CheckStop(p.Perno, last);
    ++w.page;
    const std::string sql =
        ClockInsert(w.a.PerMissionType, p, TypeOf(p, codes), w.a.Rounding, today, w.page);
    if (sql.empty()) {
      // A request without a type would make an invalid statement: reported, not written.
      w.Report(p.Perno, "نوع برگه مشخص نيست پرسنل: " + p.Perno + " شروع: " + p.BEGINDATE + "  " +
                            p.BEGINTIME + " خاتمه: " + p.ENDDATE + " " + p.ENDTIME);
      continue;
    }
    try {
      year.Execute(sql);
      ++w.result.Prepared;
    } catch (const std::exception& e) {
      w.Report(p.Perno, std::string(e.what()) + "Perno: " + p.Perno + " Enter: " + p.BEGINDATE +
                            "  " + p.BEGINTIME + " Exit: " + p.ENDDATE + " " + p.ENDTIME +
                            " CalcDate: " + p.CalDate);
      StillInTransaction(year, e.what());
    }
  }
}

// Column access by name (any case) in the rows of a web request query.
struct WebRows {
  const db::ResultSet& set;
  const db::Value& Col(const std::vector<db::Value>& row, const char* name) const {
    for (std::size_t c = 0; c < set.columns.size(); ++c)
      if (util::EqualsNoCase(set.columns[c], name)) return row[c];
    throw db::DbError(std::string("Invalid column name '") + name + "'.");
  }
  std::string Text(const std::vector<db::Value>& row, const char* name) const {
    const db::Value& v = Col(row, name);
    return v.IsNull() ? std::string() : v.AsString();
  }
};

std::vector<std::string> WebInsertLines(bool leave, const WebRows& web,
                                        const std::vector<db::Value>& row, bool daily, int sheet) {
  std::vector<std::string> lines = {
      leave ? " Insert Into TmpMor" : " Insert Into TmpMam",
      leave ? " (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, Descript, "
              "RecDate, IsDaily, ClockOrWeb, OldPageNo, Indecisive)"
            : " (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, Descript, "
              "IssueDate, City, Location, IsDaily, ClockOrWeb, OldPageNo, Indecisive)",
      " Values",
      " (" + std::to_string(sheet) + ",",
      " " + q(web.Text(row, "PerNo")) + ", " + q(web.Text(row, "BeginDate")) + ",",
      " " + q(web.Text(row, "BeginTime")) + ", " + q(web.Text(row, "EndDate")) + ",",
      " " + q(web.Text(row, "EndTime")) + ", " + web.Text(row, "Type") + ","};
  if (leave) {
    lines.push_back(" CAST(:PuserDescription AS CHAR(230)), " + q(web.Text(row, "RecDate")) + ", ");
  } else {
    lines.push_back(" CAST(:PuserDescription AS CHAR(230)), " + q(web.Text(row, "IssueDate")) +
                    ",");
    lines.push_back(web.Col(row, "City").IsNull()
                        ? " 0, " + q(web.Text(row, "Location")) + ", "
                        : " " + web.Text(row, "City") + ", " + q(web.Text(row, "Location")) + ", ");
  }
  lines.push_back(daily ? q("1") : q("0"));
  lines.push_back(", " + q("1") + ", " + web.Text(row, "PageNo") + ", 0)");
  return lines;
}

// Approved, untransferred web requests: whole-day ones under the day tables' sheet numbers,
// hourly ones after the clock requests'. A request that cannot be read is reported once and
// stays untransferred; a failing insert is reported and the next request follows.
void InsertWebRequests(Preparation& w, const std::set<std::int64_t>& types) {
  const bool leave = w.a.PerMissionType == TPerMissionType::prMor;
  db::Connection& year = *w.a.YearDBConnection;
  const std::string base = w.a.DataBaseName;
  year.Execute(
      JoinLines({leave ? " Update AskAbsence Set IsDaily = Cast(M.IsDaily As bit) "
                       : " Update AskMission Set IsDaily = Cast(M.IsDaily As bit) ",
                 " From " + base + (leave ? "..MorType as M " : "..MamType as M "),
                 leave ? " Where AskAbsence.Type = M.Code And AskAbsence.IsApproved = 1 And "
                         "AskAbsence.IsTransfer = 0 "
                       : " Where AskMission.Type = M.Code And AskMission.IsApproved = 1 And "
                         "AskMission.IsTransfer = 0 "}));
  int dayPage = FirstInt(
      year, leave ? " Select Max(PageNo) From DayMor " : " Select Max(PageNo) From DayMam ");
  const db::ResultSet set = year.Execute(
      (leave ? std::string(" Select * From AskAbsence Where IsApproved = 1 And IsTransfer = 0 ")
             : std::string(" Select * From AskMission Where IsApproved = 1 And IsTransfer = 0 ")) +
      " And ((Not Exists (Select PerNo From " + base +
      "..CSSPerTemp)) Or (PerNo In (Select PerNo From " + base + "..CSSPerTemp))) ");
  const WebRows web{set};
  const int yearNo = util::ParseInt<int>(util::TrimWhitespace(w.a.CurrentYear_YYYY)).value_or(0);
  std::string last;
  for (const auto& row : set.rows) {
    const WebRequest r{web.Text(row, "PageNo"),    web.Text(row, "PerNo"),
                       web.Text(row, "Type"),      web.Text(row, "BeginDate"),
                       web.Text(row, "BeginTime"), web.Text(row, "EndDate"),
                       web.Text(row, "EndTime"),   web.Col(row, "IsDaily").AsInteger() != 0};
    w.CheckStop(r.perno, last);
    const std::string fault = WebRequestFault(r, leave, types, yearNo);
    if (!fault.empty()) {
      w.Report(r.perno,
               std::string(leave ? "Web leave request " : "Web mission request ") +
                   (r.page.empty() ? "without a sheet number" : util::TrimWhitespace(r.page)) +
                   " skipped and kept untransferred: " + fault);
      continue;
    }
    const int sheet = r.daily ? ++dayPage : ++w.page;
    db::Dataset insert(year);
    insert.SetSQL(WebInsertLines(leave, web, row, r.daily, sheet));
    insert.SetParam("PuserDescription", web.Col(row, "userDescription"));
    try {
      insert.ExecSQL();
      ++w.result.Prepared;
    } catch (const std::exception& e) {
      w.Report(r.perno, std::string(leave ? "Web leave request " : "Web mission request ") +
                            util::TrimWhitespace(r.page) + " not prepared: " + e.what());
      StillInTransaction(year, e.what());
    }
  }
}

void WriteReports(const PermissionArgs& a, const std::vector<PendingReport>& reports) {
  for (const PendingReport& r : reports) {
    if (r.once && a.AInsertCalcLogOnce)
      a.AInsertCalcLogOnce(r.perno, r.text);
    else if (a.AInsertCalcLog)
      a.AInsertCalcLog(r.perno, r.text);
  }
}

std::set<std::int64_t> TypeCodes(db::Connection& main, bool leave) {
  std::set<std::int64_t> codes;
  const db::ResultSet r =
      main.Execute(leave ? " Select Code From MorType " : " Select Code From MamType ");
  for (const auto& row : r.rows)
    if (!row[0].IsNull()) codes.insert(row[0].AsInteger());
  return codes;
}

}  // namespace

void TTransferUtils::PreparePermission(PermissionArgs& a, PermissionTransferResult& result) {
  const auto state = [&](const std::string& text) {
    if (a.ADeclareState) a.ADeclareState(text);
  };
  const TPerMissionType kind = a.PerMissionType;
  db::Connection& year = *a.YearDBConnection;
  std::vector<PendingReport> reports;
  Preparation w{a, result, reports};
  // The punches are paired and the dictionaries read first; then the intermediate table is
  // rebuilt in one transaction of the year connection.
  state(kind == TPerMissionType::prMor   ? "واكشي اطلاعات برگه هاي مرخصي"
        : kind == TPerMissionType::prMam ? "واكشي اطلاعات برگه هاي ماموريت"
                                         : "واكشي اطلاعات برگه هاي تاخير سرويس");
  db::Dataset& qp = *a.QPermissionDemark;
  qp.Close();
  qp.SetParam("CurrentYear", a.CurrentYear_YYYY);
  qp.SetParam("FromDate", "01/01");
  qp.SetParam("ToDate", "12/30");
  qp.SetParam("Perno", "");
  qp.SetParam("Rec", 0);
  qp.SetParam("UnCertain", a.UnCertainState ? 1 : 0);
  qp.SetParam("SPCardType", std::to_string(KindCode(kind)));
  qp.SetParam("UserCode", "000");
  qp.Open();
  state("جفت كردن برگه هاي مجوز");
  TPermissionList list;
  ConfirmPermission(
      qp, a.CurrentYear_YYYY, a.CurrentDate_YYMMDD, kind, list, *a.PermissionRecList, *a.Scratch,
      [&](const std::string& perno, const std::string& text) { w.Report(perno, text); });
  qp.Close();
  const auto codes = SpecCardCodeMap(kind, *a.MainDBConnection);
  const bool web = kind != TPerMissionType::prSlate && a.WebTablesExist;
  const std::set<std::int64_t> types =
      web ? TypeCodes(*a.MainDBConnection, kind == TPerMissionType::prMor)
          : std::set<std::int64_t>{};
  try {
    db::RunInTransaction(year, [&] {
      year.Execute(kind == TPerMissionType::prMor   ? " Delete from TmpMor "
                   : kind == TPerMissionType::prMam ? " Delete from TmpMam "
                                                    : "Delete from TmpSLate ");
      state("پركردن جدول مياني");
      w.page =
          FirstInt(year, kind == TPerMissionType::prMor   ? " Select Max(PageNo) From Morkhasi "
                         : kind == TPerMissionType::prMam ? " Select Max(PageNo) From Mission "
                                                          : " Select Max(PageNo) From ServLate ");
      InsertClockRequests(w, list, codes);
      if (!web) return;
      state(kind == TPerMissionType::prMor ? "در حال آماده سازي برگه هاي مرخصي از جداول وب"
                                           : "در حال آماده سازي برگه هاي مأموريت از جداول وب");
      InsertWebRequests(w, types);
    });
  } catch (...) {
    WriteReports(a, reports);
    throw;
  }
  WriteReports(a, reports);
}

namespace {

// The statements of a kind's transfer in the order they run, with the requests that
// overlap another request of the same run noted before each move.
struct TransferStatements {
  std::vector<std::string> hourlyNotes, hourlyDescriptions, hourlyMove, dailyNotes, dailyMove,
      cleanup;
};

std::string HourlyNote(const std::string& R, const Note& n) {
  return JoinLines({"update " + R,
                    "set Descript = Rtrim(isnull(" + R + ".Descript,''))+'" + n.label +
                        "'+cast (t1.pageno as varchar(10))+' '",
                    std::string("from ") + n.table + " t1", "where",
                    n.hourly ? TestH(R, "t1") : TestD(R), " and (t1.perno = " + R + ".PERNO)",
                    " And (" + R + ".IsDaily <> " + q("1") + ")"});
}

std::string DailyNote(const std::string& R, const Note& n) {
  return JoinLines({" Update " + R,
                    " Set Descript = RTrim(IsNull(" + R + ".Descript, '')) + '" + n.label +
                        "' + Cast(t1.PageNo As Varchar(10)) + ' '",
                    " , Indecisive = 2", std::string(" From ") + n.table + " t1", " Where",
                    n.hourly ? TestD(R) : TestW3(R), " And (t1.PerNo = " + R + ".PerNo)",
                    " And (" + R + ".IsDaily = " + q("1") + ")"});
}

std::string HourlyMove(bool leave, bool fields, const std::string& P) {
  if (leave) {
    return JoinLines(
        {" Insert Into Morkhasi (PAGENO,PERNO,BEGINDATE,BEGINTIME,DESCRIPT,ENDDATE,ENDTIME,"
         "INDECISIVE,RECDATE,TYPE " +
             std::string(fields ? ", SodrinPageNo " : "") + ") ",
         "select t1.PAGENO,t1.PERNO,t1.BEGINDATE,t1.BEGINTIME,cast(t1.DESCRIPT as char(230)),"
         "t1.ENDDATE,t1.ENDTIME,t1.INDECISIVE,t1.RECDATE,t1.TYPE " +
             std::string(fields ? ", t1.OldPageNo " : ""),
         "From TmpMor t1 ",
         "left outer join Morkhasi t2 on t2.PAGENO = t1.PAGENO and t2.PERNO = t1.PERNO ",
         "where (t2.PAGENO is null) and (t1.INDECISIVE <> 2) ",
         "And (t1.IsDaily <> " + q("1") + ") ", P});
  }
  return JoinLines(
      {"insert into Mission (PAGENO,PERNO,BEGINDATE,BEGINTIME,DESCRIPT,ENDDATE,ENDTIME,"
       "ISSUEDATE,TYPE,CITY,LOCATION " +
           std::string(fields ? ", SodrinPageNo " : "") + ") ",
       "select t1.PAGENO,t1.PERNO,t1.BEGINDATE,t1.BEGINTIME,t1.DESCRIPT,t1.ENDDATE,"
       "t1.ENDTIME,t1.ISSUEDATE,t1.TYPE, t1.CITY, t1.LOCATION " +
           std::string(fields ? ", t1.OldPageNo " : ""),
       "from TmpMam t1 ",
       "left outer join Mission t2 on t2.PAGENO = t1.PAGENO and t2.PERNO = t1.PERNO ",
       "where (t2.PAGENO is null) And (t1.INDECISIVE <> 2) ", "And (t1.IsDaily <> " + q("1") + ") ",
       P});
}

std::vector<std::string> DailyMove(bool leave, bool fields, const std::string& P) {
  if (leave) {
    return {JoinLines(
        {" Insert Into DayMor (PageNo, PerNo, BeginDate, Descript, EndDate, RecDate, Type " +
             std::string(fields ? ", SodrinPageNo " : "") + ") ",
         " Select t1.PageNo, t1.PerNo, t1.BeginDate, t1.Descript, t1.EndDate, t1.RecDate, "
         "t1.Type " +
             std::string(fields ? ", t1.OldPageNo " : ""),
         " From TmpMor t1 ",
         " Left Outer Join DayMor t2 on ((t2.PageNo = t1.PageNo) And (t2.PerNo = t1.PerNo))",
         " Where (t2.PageNo is null) And (t1.Indecisive <> 2) ",
         " And (t1.IsDaily = " + q("1") + ") ", P})};
  }
  return {
      JoinLines(
          {" Insert Into DayMam (PageNo, PerNo, BeginDate, City, Descript, EndDate, IssueDate, "
           "Location, Type " +
               std::string(fields ? ", SodrinPageNo " : "") + ") ",
           " Select t1.PageNo, t1.PerNo, t1.BeginDate, t1.City, t1.Descript, t1.EndDate, "
           "t1.IssueDate, t1.Location, t1.Type" +
               std::string(fields ? ", t1.OldPageNo " : ""),
           " From TmpMam t1 ",
           " Left Outer Join DayMam t2 on ((t2.PageNo = t1.PageNo) And (t2.PerNo = t1.PerNo))",
           " Where (t2.PageNo is null) And (t1.Indecisive <> 2) ",
           " And (t1.IsDaily = " + q("1") + ") ", P}),
      JoinLines(
          {" Insert Into MamDays (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime)",
           " Select (Select PageNo From TmpMam As T Where M.PageNo = T.OldPageNo), M.PerNo, "
           "M.BeginDate, M.BeginTime, M.EndDate, M.EndTime",
           " From MissionHour As M Where Cast(PageNo As Varchar(20)) + '_' + PerNo In ",
           " (Select Cast(OldPageNo As Varchar(20)) + '_' + PerNo From TmpMam Where IsDaily = " +
               q("1") + " And Indecisive <> 2)"})};
}

std::vector<std::string> Cleanup(TPerMissionType kind, bool web, const std::string& P2) {
  std::vector<std::string> cleanup;
  if (kind == TPerMissionType::prMor) {
    if (web) {
      cleanup.push_back(JoinLines(
          {" Update AskAbsence Set IsTransfer = 1 ",
           " Where Cast(PageNo As Varchar(20)) + '_' + PerNo In (Select Cast(OldPageNo As "
           "Varchar(20)) + '_' + PerNo From TmpMor ",
           " Where Indecisive <> 2 " + P2 + ") "}));
      cleanup.push_back(
          JoinLines({" Delete From TmpMor ",
                     " Where (Cast(PageNo As Varchar(20)) + '_' + PerNo In (Select Cast(PageNo As "
                     "Varchar(20)) + '_' + PerNo From DayMor)) ",
                     " And (IsDaily = " + q("1") + ") "}));
    }
    cleanup.push_back(JoinLines({" delete from tmpMor ",
                                 " where cast(PageNo as varchar(20)) + '_' + Perno in (select "
                                 "cast(PageNo as varchar(20)) + '_' + Perno from morkhasi) ",
                                 "And (IsDaily <> " + q("1") + ") "}));
  } else if (kind == TPerMissionType::prMam) {
    if (web) {
      cleanup.push_back(
          JoinLines({"Update AskMission Set IsTransfer = 1 ",
                     "Where Cast(PageNo As Varchar(20)) + '_' + PerNo In (Select Cast(OldPageNo As "
                     "Varchar(20)) + '_' + PerNo From TmpMam ",
                     "Where Indecisive <> 2 " + P2 + ") "}));
      cleanup.push_back(
          JoinLines({"Delete From TmpMam ",
                     "Where (Cast(PageNo As Varchar(20)) + '_' + PerNo In (Select Cast(PageNo As "
                     "Varchar(20)) + '_' + PerNo From DayMam)) ",
                     "And (IsDaily = " + q("1") + ") "}));
    }
    cleanup.push_back(JoinLines({"delete from tmpMam",
                                 "where cast(PageNo as varchar(20))+'_'+Perno  in (select "
                                 "cast(PageNo as varchar(20))+'_'+Perno from mission)",
                                 "And (IsDaily <> " + q("1") + ") "}));
  } else {
    cleanup.push_back(JoinLines({"delete from tmpSLate",
                                 "where cast(PageNo as varchar(20))+'_'+Perno  in (select "
                                 "cast(PageNo as varchar(20))+'_'+Perno from ServLate)"}));
  }
  return cleanup;
}

TransferStatements BuildTransferStatements(const PermissionArgs& a) {
  const TPerMissionType kind = a.PerMissionType;
  const std::string R = TmpTable(kind);
  const bool web = a.WebTablesExist;  // the service's web flags
  const std::string P = a.UnCertainState ? " and t1.Indecisive = 0 " : "";
  const std::string P2 = a.UnCertainState ? " and Indecisive = 0 " : "";
  TransferStatements st;
  st.cleanup = Cleanup(kind, web, P2);
  if (kind == TPerMissionType::prSlate) {
    st.hourlyNotes.push_back(
        JoinLines({"update TmpSLate set INDECISIVE = 2", "where  exists",
                   "(select PageNo from ServLate t3 where", TestH("TmpSLate", "t3"),
                   " and t3.perno =  TmpSLate.PERNO", ")"}));
    st.hourlyMove.push_back(JoinLines(
        {"insert into ServLate (PAGENO,PERNO,BEGINDATE,BEGINTIME,DESCRIPT,ENDDATE,ENDTIME,"
         "RECDATE,SHIFTTYPE,INDECISIVE )",
         "select t1.PAGENO,t1.PERNO,t1.BEGINDATE,t1.BEGINTIME,t1.DESCRIPT,t1.ENDDATE,t1.ENDTIME,"
         "t1.RECDATE,t1.SHIFTTYPE,t1.INDECISIVE from TmpSLate t1",
         "left outer join ServLate t2 on t2.PAGENO = t1.PAGENO and t2.PERNO = t1.PERNO",
         "where t2.PAGENO is null and t1.INDECISIVE <> 2", P}));
    return st;
  }
  const bool leave = kind == TPerMissionType::prMor;
  st.hourlyNotes.push_back("Update " + R + " Set Descript = null Where IsDaily <> " + q("1"));
  for (const Note& n : kNotes) st.hourlyNotes.push_back(HourlyNote(R, n));
  st.hourlyNotes.push_back(
      JoinLines({"update " + R, "set Indecisive = 2", "where (ltrim(DESCRIPT) <> '' )",
                 " And (IsDaily <> " + q("1") + ")"}));
  if (web) {
    st.hourlyDescriptions.push_back(
        leave ? " UPDATE TmpMor SET Descript = CAST(A.userDescription AS CHAR(230)) FROM "
                "TmpMor T INNER JOIN AskAbsence A ON (A.PAGENO = T.OldPageNo) WHERE "
                "(T.Descript IS NULL OR T.Descript = '') "
              : " UPDATE TmpMam SET Descript = CAST(A.userDescription AS CHAR(230)) FROM "
                "TmpMam T INNER JOIN AskMission A ON (A.PAGENO = T.OldPageNo) WHERE "
                "(T.Descript IS NULL OR T.Descript = '') AND (A.IsDaily <> '1') ");
  }
  st.hourlyMove.push_back(HourlyMove(leave, a.ExistWebFields, P));
  if (!web) return st;
  st.dailyNotes.push_back(" Update " + R + " Set Indecisive = 0 Where IsDaily = " + q("1") + " ");
  for (const Note& n : kNotes) st.dailyNotes.push_back(DailyNote(R, n));
  st.dailyMove = DailyMove(leave, a.ExistWebFields, P);
  return st;
}

// One request of the intermediate table, as the collision check within a run reads it.
struct TmpRequest {
  std::string page, perno, begin, end;  // begin and end: date and time, or the days alone
  bool moves = false;                   // certain enough to move in this run
};

bool Overlap(const TmpRequest& r, const TmpRequest& t, bool daily) {
  if (daily) {
    return (r.begin >= t.begin && r.begin <= t.end) || (r.end >= t.begin && r.end <= t.end) ||
           (r.end >= t.end && r.begin <= t.begin);
  }
  return (r.begin >= t.begin && r.begin < t.end) || (r.end > t.begin && r.end <= t.end) ||
         (r.end >= t.end && r.begin <= t.begin);
}

// Notes the requests (whole-day ones, or the others) that overlap an earlier request of the
// same person moving in this run: the one with the lower sheet number moves, the other
// collides as it would with that sheet on record (service late: marked only).
void NoteCollisionsInRun(db::Connection& c, TPerMissionType kind, bool daily, bool certainOnly) {
  const std::string R = TmpTable(kind);
  const bool slate = kind == TPerMissionType::prSlate;
  const std::string which = slate   ? ""
                            : daily ? " And IsDaily = " + q("1")
                                    : " And IsDaily <> " + q("1");
  const db::ResultSet rows =
      c.Execute(" Select PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Indecisive From " +
                R + " Where Indecisive <> 2" + which + " Order By PerNo, PageNo ");
  const auto text = [](const db::Value& v) {
    return v.IsNull() ? std::string() : util::TrimWhitespace(v.AsString());
  };
  const char* label = kind == TPerMissionType::prMor
                          ? (daily ? "مرخصي روزانه: " : "مرخصي ساعتي: ")
                          : (daily ? "ماموريت روزانه: " : "ماموريت ساعتي: ");
  std::vector<TmpRequest> moving;  // of the current person
  for (const auto& row : rows.rows) {
    TmpRequest r{text(row[0]), row[1].IsNull() ? std::string() : row[1].AsString(),
                 text(row[2]) + (daily ? "" : text(row[3])),
                 text(row[4]) + (daily ? "" : text(row[5])),
                 !certainOnly || (!row[6].IsNull() && row[6].AsInteger() == 0)};
    if (!moving.empty() && moving.front().perno != r.perno) moving.clear();
    const auto hit = std::find_if(moving.begin(), moving.end(),
                                  [&](const TmpRequest& t) { return Overlap(r, t, daily); });
    if (hit == moving.end()) {
      if (r.moves) moving.push_back(r);
      continue;
    }
    c.Execute(slate ? " Update TmpSLate Set INDECISIVE = 2 Where PageNo = " + r.page +
                          " And PerNo = " + q(r.perno) + " "
                    : " Update " + R + " Set Descript = RTrim(IsNull(Descript, '')) + " +
                          q(label + hit->page + " ") + ", Indecisive = 2 Where PageNo = " + r.page +
                          " And PerNo = " + q(r.perno) + which + " ");
  }
}

// The year database of the step.
std::string YearDatabase(const PermissionArgs& a) {
  return a.DataBaseName + "_" + a.CurrentYear_YYYY;
}

// The rows of the kind's permission tables, counted before and after the moves.
int PermissionRows(db::Connection& main, TPerMissionType kind) {
  return FirstInt(main,
                  kind == TPerMissionType::prMor
                      ? "Select (Select Count(*) From Morkhasi) + (Select Count(*) From DayMor)"
                  : kind == TPerMissionType::prMam
                      ? "Select (Select Count(*) From Mission) + (Select Count(*) From DayMam)"
                      : "Select (Select Count(*) From ServLate)");
}

void RunAll(db::Connection& main, const std::vector<std::string>& statements) {
  for (const std::string& sql : statements) main.Execute(sql);
}

// Notes the collisions and moves the requests that may move, in the year database; counts
// the rows added into result.Moved.
void MoveRequests(db::Connection& main, const PermissionArgs& a, const TransferStatements& st,
                  PermissionTransferResult& result) {
  const TPerMissionType kind = a.PerMissionType;
  main.Execute(" USE [" + YearDatabase(a) + "] ");
  const int before = PermissionRows(main, kind);
  RunAll(main, st.hourlyNotes);
  NoteCollisionsInRun(main, kind, false, a.UnCertainState);
  RunAll(main, st.hourlyDescriptions);
  RunAll(main, st.hourlyMove);
  RunAll(main, st.dailyNotes);
  if (!st.dailyMove.empty()) NoteCollisionsInRun(main, kind, true, a.UnCertainState);
  RunAll(main, st.dailyMove);
  result.Moved = PermissionRows(main, kind) - before;
  main.Execute(" USE [" + a.DataBaseName + "] ");
}

// The punches of the moved requests: a kept special-card punch loses its card, a punch the
// IO transfer left for the permissions goes. A failing statement is reported and the step
// goes on, as long as the server kept the transaction.
void TidyPunches(db::Connection& main, const PermissionArgs& a,
                 std::vector<PendingReport>& reports) {
  if (!a.PermissionRecList || a.PermissionRecList->empty()) return;
  if (a.ADeclareState) a.ADeclareState("بروز رساني رکوردهاي ورود و خروج");
  const TPerMissionType kind = a.PerMissionType;
  const std::string P2 = a.UnCertainState ? " and Indecisive = 0 " : "";
  const std::string T = YearDatabase(a) + ".." +
                        (kind == TPerMissionType::prMor   ? "tmpMor"
                         : kind == TPerMissionType::prMam ? "tmpMam"
                                                          : "tmpSLate");
  const std::string recs = "and (rec in (select rec1 from " + T + " where 1=1 " + P2 +
                           " and INDECISIVE <> 2 )\n     or rec in (select rec2 from " + T +
                           " where 1=1 " + P2 + " and INDECISIVE <> 2 ))";
  for (const std::string& sql :
       {JoinLines({"Update ClockDmp set SPCardType= 0 , SPecCardNo = '' , ClockKey = '' ",
                   "Where transfered = 0 ", recs}),
        JoinLines({"Delete ClockDmp   ", "Where transfered = 1 ", recs})}) {
    try {
      main.Execute(sql);
    } catch (const std::exception& e) {
      reports.push_back({"", e.what(), false});
      StillInTransaction(main, e.what());
    }
  }
}

// Empties the moved requests out of the intermediate table and counts those left waiting.
void CleanUpRequests(db::Connection& main, const PermissionArgs& a, const TransferStatements& st,
                     PermissionTransferResult& result) {
  if (a.ADeclareState) a.ADeclareState("حذف برگه هاي منتقل شده از جداول مياني");
  const std::string R = TmpTable(a.PerMissionType);
  main.Execute(" USE [" + YearDatabase(a) + "] ");
  RunAll(main, st.cleanup);
  result.Uncertain = FirstInt(main, "Select Count(*) From " + R + " Where INDECISIVE = 1");
  result.Collided = FirstInt(main, "Select Count(*) From " + R + " Where INDECISIVE = 2");
  main.Execute(" USE [" + a.DataBaseName + "] ");
}

}  // namespace

void TTransferUtils::TransferPermission(PermissionArgs& a, PermissionTransferResult& result) {
  if (a.StopRequested && a.StopRequested())
    throw TransferStopped("The permission transfer stopped on request; nothing was moved");
  const TransferStatements st = BuildTransferStatements(a);
  // One transaction of the base connection; the year database's statements run there
  // after a USE, and a rollback switches it back. Reports are written once the transaction
  // is settled.
  db::Connection& main = *a.MainDBConnection;
  std::vector<PendingReport> reports;
  try {
    db::RunInTransaction(
        main,
        [&] {
          MoveRequests(main, a, st, result);
          TidyPunches(main, a, reports);
          CleanUpRequests(main, a, st, result);
        },
        [&] { main.Execute(" USE [" + a.DataBaseName + "] "); });
  } catch (...) {
    WriteReports(a, reports);
    throw;
  }
  WriteReports(a, reports);
  if (a.ADeclareState) a.ADeclareState("");
}

// ------------------------------------------------------------------------ the module

PermissionArgs TDmTransfer::ArgsFor(TPerMissionType kind) {
  PermissionArgs a;
  a.PerMissionType = kind;
  a.PermissionRecList = &_PermissionRecList;
  a.Scratch = &Scratch;
  a.ExistWebFields = ExistWebFields;
  a.WebTablesExist = WebTablesExist;
  a.DataBaseName = DataBaseName;
  a.CurrentYear_YYYY = CurrentYear;
  a.CurrentDate_YYMMDD = CurrentDate;
  a.TempFileName = TempFileName;
  a.MainDBConnection = &ADOConnection1();
  a.YearDBConnection = &ADOConnection2();
  a.Rounding = Rounding;
  a.QPermissionDemark = QPermissionDemark.get();
  a.ADeclareState = declare_state_;
  a.StopRequested = StopRequested;
  a.AInsertCalcLog = [this](const std::string& p, const std::string& c) { InsertCalcLog(p, c); };
  a.AInsertCalcLogOnce = [this](const std::string& p, const std::string& c) {
    try {
      db::InsertCSSLogOnce(ADOConnection1(), ScheduleId, p, c);
    } catch (const std::exception&) {
      // A lost log row is not reported.
    }
  };
  return a;
}

PermissionTransferResult TDmTransfer::PreparePermission(TPerMissionType PerMissionType,
                                                        bool MyUnCertain) {
  PermissionArgs a = ArgsFor(PerMissionType);
  a.UnCertainState = MyUnCertain;
  PermissionTransferResult result;
  TTransferUtils::PreparePermission(a, result);
  return result;
}

void TDmTransfer::TransferPermission(TPerMissionType PerMissionType,
                                     PermissionTransferResult& result) {
  PermissionArgs a = ArgsFor(PerMissionType);
  a.UnCertainState = true;
  TTransferUtils::TransferPermission(a, result);
}

}  // namespace zel::transfer
