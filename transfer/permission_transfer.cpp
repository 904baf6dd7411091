// The permission preparation and transfer: special-card punches and approved web requests
// become requests in TmpMor, TmpMam or TmpSLate, which are checked against the permissions
// on record and moved into Morkhasi/DayMor, Mission/DayMam/MamDays or ServLate.
#include <exception>

#include "db/ado_utils.h"
#include "db/client.h"
#include "transfer/dm_transfer.h"
#include "transfer/transfer_utils.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::transfer {

namespace {

using util::Trim;

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
    const std::string card = Trim(row[0].IsNull() ? "" : row[0].AsString());
    if (card.empty()) throw db::DbError("شماره کارت خاص خالی می باشد");
    const std::string code = Trim(row[1].IsNull() ? "" : row[1].AsString());
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
                       Trim(v.IsNull() ? "" : v.AsString()));
    }
  }
  return map;
}

void TTransferUtils::PreparePermission(TPermissionArgs& a, TPermissionTransferResult& result) {
  const auto state = [&](const std::string& text) {
    if (a.ADeclareState) a.ADeclareState(text);
  };
  const auto report = [&](const std::string& perno, const std::string& text) {
    ++result.Reported;
    if (a.AInsertCalcLog) a.AInsertCalcLog(perno, text);
  };
  const TPerMissionType kind = a.PerMissionType;
  db::Connection& year = *a.YearDBConnection;
  const std::string today = Mid(a.CurrentDate_YYMMDD, 5, 5);
  year.Execute(kind == TPerMissionType::prMor   ? " Delete from TmpMor "
               : kind == TPerMissionType::prMam ? " Delete from TmpMam "
                                                : "Delete from TmpSLate ");
  // Clock source.
  state(kind == TPerMissionType::prMor   ? "واكشي اطلاعات برگه هاي مرخصي"
        : kind == TPerMissionType::prMam ? "واكشي اطلاعات برگه هاي ماموريت"
                                         : "واكشي اطلاعات برگه هاي تاخير سرويس");
  db::Dataset& qp = *a.QPermissionDemark;
  qp.Close();
  qp.SetParam("CurrentYear", db::Value(std::stoi(a.CurrentYear_YYYY)));
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
  ConfirmPermission(qp, a.CurrentYear_YYYY, a.CurrentDate_YYMMDD, kind, list, *a.PermissionRecList,
                    *a.Scratch, report);
  qp.Close();
  state("پركردن جدول مياني");
  int page =
      FirstInt(year, kind == TPerMissionType::prMor   ? " Select Max(PageNo) From Morkhasi "
                     : kind == TPerMissionType::prMam ? " Select Max(PageNo) From Mission "
                                                      : " Select Max(PageNo) From ServLate ");
  const auto codes = SpecCardCodeMap(kind, *a.MainDBConnection);
  for (int i = 0; i < list.Count(); ++i) {
    const TPermissioninfo p = list.Item(i);
    const std::string B = AdjustTime(p.BEGINTIME, a.Rounding);
    const std::string E = AdjustTime(p.ENDTIME, a.Rounding);
    const std::string key = Trim(p.SpecCardNo) + Trim(p.ClockKey);
    std::string type;
    for (const auto& [k, v] : codes) {
      if (k == key) {
        type = v;
        break;
      }
    }
    const bool indecisive =
        p.ENDDATE + p.ENDTIME <= p.BEGINDATE + p.BEGINTIME || p.ShiftType == 3 || p.Uncertain;
    ++page;
    const std::string values = "('" + p.Perno + "','" + p.BEGINDATE + "','" + B + "','" +
                               p.ENDDATE + "','" + E + "','" + std::to_string(page) + "',";
    const std::string tail = std::string(indecisive ? "1" : "0") + "," + std::to_string(p.Rec1) +
                             "," + std::to_string(p.Rec2) + ",";
    std::string sql;
    if (kind == TPerMissionType::prSlate) {
      sql = JoinLines({"INSERT INTO tmpSLate",
                       "(PerNo,BeginDate,BeginTime,EndDate,EndTime,PageNo,DESCRIPT,RecDate,"
                       "INDECISIVE,Rec1,Rec2,ShiftType)",
                       "VALUES",
                       values + "'','" + today + "'," + tail + std::to_string(p.ShiftType) + ")"});
    } else {
      // A request without a type would make an invalid statement: reported, not written.
      if (Trim(type).empty()) {
        report(p.Perno, "نوع برگه مشخص نيست پرسنل: " + p.Perno + " شروع: " + p.BEGINDATE + "  " +
                            p.BEGINTIME + " خاتمه: " + p.ENDDATE + " " + p.ENDTIME);
        continue;
      }
      sql = JoinLines(
          {kind == TPerMissionType::prMor ? "INSERT INTO tmpMor" : "INSERT INTO tmpMam",
           kind == TPerMissionType::prMor
               ? "(PerNo,BeginDate,BeginTime,EndDate,EndTime,PageNo,Type,DESCRIPT,RecDate,"
                 "INDECISIVE,Rec1,Rec2,IsDaily)"
               : "(PerNo,BeginDate,BeginTime,EndDate,EndTime,PageNo,Type,DESCRIPT,IssueDate,"
                 "INDECISIVE,Rec1,Rec2,IsDaily)",
           "VALUES", values + type + ",'','" + today + "'," + tail + "'0')"});
    }
    try {
      year.Execute(sql);
      ++result.Prepared;
    } catch (const std::exception& e) {
      report(p.Perno, std::string(e.what()) + "Perno: " + p.Perno + " Enter: " + p.BEGINDATE +
                          "  " + p.BEGINTIME + " Exit: " + p.ENDDATE + " " + p.ENDTIME +
                          " CalcDate: " + p.CalDate);
    }
  }

  // Web source: approved, untransferred requests, whole-day ones under the day tables'
  // sheet numbers, hourly ones after the clock requests'.
  if (kind == TPerMissionType::prSlate || !a.WebTablesExist) return;
  const bool leave = kind == TPerMissionType::prMor;
  const std::string base = a.DataBaseName;
  const std::string W = " And ((Not Exists (Select PerNo From " + base +
                        "..CSSPerTemp)) Or (PerNo In (Select PerNo From " + base +
                        "..CSSPerTemp))) ";
  state(leave ? "در حال آماده سازي برگه هاي مرخصي از جداول وب"
              : "در حال آماده سازي برگه هاي مأموريت از جداول وب");
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
  const db::ResultSet web = year.Execute(
      (leave ? std::string(" Select * From AskAbsence Where IsApproved = 1 And IsTransfer = 0 ")
             : std::string(" Select * From AskMission Where IsApproved = 1 And IsTransfer = 0 ")) +
      W);
  const auto col = [&](const std::vector<db::Value>& row, const char* name) -> const db::Value& {
    for (std::size_t c = 0; c < web.columns.size(); ++c) {
      std::string n = web.columns[c], m = name;
      for (char& ch : n) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      for (char& ch : m) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (n == m) return row[c];
    }
    throw db::DbError(std::string("Invalid column name '") + name + "'.");
  };
  const auto text = [&](const std::vector<db::Value>& row, const char* name) {
    const db::Value& v = col(row, name);
    return v.IsNull() ? std::string() : v.AsString();
  };
  for (const auto& row : web.rows) {
    const bool daily = !col(row, "IsDaily").IsNull() && col(row, "IsDaily").AsInteger() != 0;
    const int sheet = daily ? ++dayPage : ++page;
    std::vector<std::string> lines = {
        leave ? " Insert Into TmpMor" : " Insert Into TmpMam",
        leave ? " (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, Descript, "
                "RecDate, IsDaily, ClockOrWeb, OldPageNo, Indecisive)"
              : " (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime, Type, Descript, "
                "IssueDate, City, Location, IsDaily, ClockOrWeb, OldPageNo, Indecisive)",
        " Values",
        " (" + std::to_string(sheet) + ",",
        " " + q(text(row, "PerNo")) + ", " + q(text(row, "BeginDate")) + ",",
        " " + q(text(row, "BeginTime")) + ", " + q(text(row, "EndDate")) + ",",
        " " + q(text(row, "EndTime")) + ", " + text(row, "Type") + ","};
    if (leave) {
      lines.push_back(" CAST(:PuserDescription AS CHAR(230)), " + q(text(row, "RecDate")) + ", ");
    } else {
      lines.push_back(" CAST(:PuserDescription AS CHAR(230)), " + q(text(row, "IssueDate")) + ",");
      lines.push_back(col(row, "City").IsNull()
                          ? " 0, " + q(text(row, "Location")) + ", "
                          : " " + text(row, "City") + ", " + q(text(row, "Location")) + ", ");
    }
    lines.push_back(daily ? q("1") : q("0"));
    lines.push_back(", " + q("1") + ", " + text(row, "PageNo") + ", 0)");
    db::Dataset insert(year);
    insert.SetSQL(lines);
    insert.SetParam("PuserDescription", col(row, "userDescription"));
    insert.ExecSQL();
    ++result.Prepared;
  }
}

void TTransferUtils::TransferPermission(TPermissionArgs& a, TPermissionTransferResult& result) {
  const TPerMissionType kind = a.PerMissionType;
  const std::string R = TmpTable(kind);
  const bool web = a.WebTablesExist;  // the service's web flags
  const bool fields = a.ExistWebFields;
  const std::string P = a.UnCertainState ? " and t1.Indecisive = 0 " : "";
  const std::string P2 = a.UnCertainState ? " and Indecisive = 0 " : "";
  const auto report = [&](const std::string& perno, const std::string& text) {
    if (a.AInsertCalcLog) a.AInsertCalcLog(perno, text);
  };
  const auto state = [&](const std::string& text) {
    if (a.ADeclareState) a.ADeclareState(text);
  };
  std::vector<std::string> statements;
  const std::string notDaily = "(" + R + ".IsDaily <> " + q("1") + ")";
  const std::string isDaily = "(" + R + ".IsDaily = " + q("1") + ")";
  if (kind != TPerMissionType::prSlate) {
    const bool leave = kind == TPerMissionType::prMor;
    statements.push_back("Update " + R + " Set Descript = null Where IsDaily <> " + q("1"));
    for (const Note& n : kNotes) {
      statements.push_back(JoinLines({"update " + R,
                                      "set Descript = Rtrim(isnull(" + R + ".Descript,''))+'" +
                                          n.label + "'+cast (t1.pageno as varchar(10))+' '",
                                      std::string("from ") + n.table + " t1", "where",
                                      n.hourly ? TestH(R, "t1") : TestD(R),
                                      " and (t1.perno = " + R + ".PERNO)", " And " + notDaily}));
    }
    statements.push_back(
        JoinLines({"update " + R, "set Indecisive = 2", "where (ltrim(DESCRIPT) <> '' )",
                   " And (IsDaily <> " + q("1") + ")"}));
    if (web) {
      statements.push_back(
          leave ? " UPDATE TmpMor SET Descript = CAST(A.userDescription AS CHAR(230)) FROM "
                  "TmpMor T INNER JOIN AskAbsence A ON (A.PAGENO = T.OldPageNo) WHERE "
                  "(T.Descript IS NULL OR T.Descript = '') "
                : " UPDATE TmpMam SET Descript = CAST(A.userDescription AS CHAR(230)) FROM "
                  "TmpMam T INNER JOIN AskMission A ON (A.PAGENO = T.OldPageNo) WHERE "
                  "(T.Descript IS NULL OR T.Descript = '') AND (A.IsDaily <> '1') ");
    }
    if (leave) {
      statements.push_back(JoinLines(
          {" Insert Into Morkhasi (PAGENO,PERNO,BEGINDATE,BEGINTIME,DESCRIPT,ENDDATE,ENDTIME,"
           "INDECISIVE,RECDATE,TYPE " +
               std::string(fields ? ", SodrinPageNo " : "") + ") ",
           "select t1.PAGENO,t1.PERNO,t1.BEGINDATE,t1.BEGINTIME,cast(t1.DESCRIPT as char(230)),"
           "t1.ENDDATE,t1.ENDTIME,t1.INDECISIVE,t1.RECDATE,t1.TYPE " +
               std::string(fields ? ", t1.OldPageNo " : ""),
           "From TmpMor t1 ",
           "left outer join Morkhasi t2 on t2.PAGENO = t1.PAGENO and t2.PERNO = t1.PERNO ",
           "where (t2.PAGENO is null) and (t1.INDECISIVE <> 2) ",
           "And (t1.IsDaily <> " + q("1") + ") ", P}));
    } else {
      statements.push_back(JoinLines(
          {"insert into Mission (PAGENO,PERNO,BEGINDATE,BEGINTIME,DESCRIPT,ENDDATE,ENDTIME,"
           "ISSUEDATE,TYPE,CITY,LOCATION " +
               std::string(fields ? ", SodrinPageNo " : "") + ") ",
           "select t1.PAGENO,t1.PERNO,t1.BEGINDATE,t1.BEGINTIME,t1.DESCRIPT,t1.ENDDATE,"
           "t1.ENDTIME,t1.ISSUEDATE,t1.TYPE, t1.CITY, t1.LOCATION " +
               std::string(fields ? ", t1.OldPageNo " : ""),
           "from TmpMam t1 ",
           "left outer join Mission t2 on t2.PAGENO = t1.PAGENO and t2.PERNO = t1.PERNO ",
           "where (t2.PAGENO is null) And (t1.INDECISIVE <> 2) ",
           "And (t1.IsDaily <> " + q("1") + ") ", P}));
    }
    if (web) {
      statements.push_back(" Update " + R + " Set Indecisive = 0 Where IsDaily = " + q("1") + " ");
      for (const Note& n : kNotes) {
        statements.push_back(
            JoinLines({" Update " + R,
                       " Set Descript = RTrim(IsNull(" + R + ".Descript, '')) + '" + n.label +
                           "' + Cast(t1.PageNo As Varchar(10)) + ' '",
                       " , Indecisive = 2", std::string(" From ") + n.table + " t1", " Where",
                       n.hourly ? TestD(R) : TestW3(R), " And (t1.PerNo = " + R + ".PerNo)",
                       " And " + isDaily}));
      }
      if (leave) {
        statements.push_back(JoinLines(
            {" Insert Into DayMor (PageNo, PerNo, BeginDate, Descript, EndDate, RecDate, Type " +
                 std::string(fields ? ", SodrinPageNo " : "") + ") ",
             " Select t1.PageNo, t1.PerNo, t1.BeginDate, t1.Descript, t1.EndDate, t1.RecDate, "
             "t1.Type " +
                 std::string(fields ? ", t1.OldPageNo " : ""),
             " From TmpMor t1 ",
             " Left Outer Join DayMor t2 on ((t2.PageNo = t1.PageNo) And (t2.PerNo = t1.PerNo))",
             " Where (t2.PageNo is null) And (t1.Indecisive <> 2) ",
             " And (t1.IsDaily = " + q("1") + ") ", P}));
      } else {
        statements.push_back(JoinLines(
            {" Insert Into DayMam (PageNo, PerNo, BeginDate, City, Descript, EndDate, IssueDate, "
             "Location, Type " +
                 std::string(fields ? ", SodrinPageNo " : "") + ") ",
             " Select t1.PageNo, t1.PerNo, t1.BeginDate, t1.City, t1.Descript, t1.EndDate, "
             "t1.IssueDate, t1.Location, t1.Type" +
                 std::string(fields ? ", t1.OldPageNo " : ""),
             " From TmpMam t1 ",
             " Left Outer Join DayMam t2 on ((t2.PageNo = t1.PageNo) And (t2.PerNo = t1.PerNo))",
             " Where (t2.PageNo is null) And (t1.Indecisive <> 2) ",
             " And (t1.IsDaily = " + q("1") + ") ", P}));
        statements.push_back(JoinLines(
            {" Insert Into MamDays (PageNo, PerNo, BeginDate, BeginTime, EndDate, EndTime)",
             " Select (Select PageNo From TmpMam As T Where M.PageNo = T.OldPageNo), M.PerNo, "
             "M.BeginDate, M.BeginTime, M.EndDate, M.EndTime",
             " From MissionHour As M Where Cast(PageNo As Varchar(20)) + '_' + PerNo In ",
             " (Select Cast(OldPageNo As Varchar(20)) + '_' + PerNo From TmpMam Where IsDaily = " +
                 q("1") + " And Indecisive <> 2)"}));
      }
    }
  } else {
    statements.push_back(
        JoinLines({"update TmpSLate set INDECISIVE = 2", "where  exists",
                   "(select PageNo from ServLate t3 where", TestH("TmpSLate", "t3"),
                   " and t3.perno =  TmpSLate.PERNO", ")"}));
    statements.push_back(JoinLines(
        {"insert into ServLate (PAGENO,PERNO,BEGINDATE,BEGINTIME,DESCRIPT,ENDDATE,ENDTIME,"
         "RECDATE,SHIFTTYPE,INDECISIVE )",
         "select t1.PAGENO,t1.PERNO,t1.BEGINDATE,t1.BEGINTIME,t1.DESCRIPT,t1.ENDDATE,t1.ENDTIME,"
         "t1.RECDATE,t1.SHIFTTYPE,t1.INDECISIVE from TmpSLate t1",
         "left outer join ServLate t2 on t2.PAGENO = t1.PAGENO and t2.PERNO = t1.PERNO",
         "where t2.PAGENO is null and t1.INDECISIVE <> 2", P}));
  }

  // The clean-up of the moved requests (and the web requests marked as transferred).
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

  const std::string yearName = a.DataBaseName + "_" + a.CurrentYear_YYYY;
  const std::string T = yearName + ".." +
                        (kind == TPerMissionType::prMor   ? "tmpMor"
                         : kind == TPerMissionType::prMam ? "tmpMam"
                                                          : "tmpSLate");
  const std::string recs = "and (rec in (select rec1 from " + T + " where 1=1 " + P2 +
                           " and INDECISIVE <> 2 )\n     or rec in (select rec2 from " + T +
                           " where 1=1 " + P2 + " and INDECISIVE <> 2 ))";
  const char* moved_tables = kind == TPerMissionType::prMor
                                 ? "(Select Count(*) From Morkhasi) + (Select Count(*) From DayMor)"
                             : kind == TPerMissionType::prMam
                                 ? "(Select Count(*) From Mission) + (Select Count(*) From DayMam)"
                                 : "(Select Count(*) From ServLate)";

  // One transaction of the base connection; the year database's statements run there
  // after a USE. Reports are written once the transaction is settled.
  db::Connection& main = *a.MainDBConnection;
  std::vector<std::pair<std::string, std::string>> reports;
  main.BeginTransaction();
  try {
    main.Execute(" USE [" + yearName + "] ");
    const int before = FirstInt(main, std::string("Select ") + moved_tables);
    for (const std::string& sql : statements) main.Execute(sql);
    result.Moved = FirstInt(main, std::string("Select ") + moved_tables) - before;
    main.Execute(" USE [" + a.DataBaseName + "] ");
    if (a.PermissionRecList && !a.PermissionRecList->empty()) {
      state("بروز رساني رکوردهاي ورود و خروج");
      for (const std::string& sql :
           {JoinLines({"Update ClockDmp set SPCardType= 0 , SPecCardNo = '' , ClockKey = '' ",
                       "Where transfered = 0 ", recs}),
            JoinLines({"Delete ClockDmp   ", "Where transfered = 1 ", recs})}) {
        try {
          main.Execute(sql);
        } catch (const std::exception& e) {
          reports.emplace_back("", e.what());
        }
      }
    }
    state("حذف برگه هاي منتقل شده از جداول مياني");
    main.Execute(" USE [" + yearName + "] ");
    for (const std::string& sql : cleanup) main.Execute(sql);
    result.Uncertain = FirstInt(main, "Select Count(*) From " + R + " Where INDECISIVE = 1");
    result.Collided = FirstInt(main, "Select Count(*) From " + R + " Where INDECISIVE = 2");
    main.Execute(" USE [" + a.DataBaseName + "] ");
    main.CommitTransaction();
  } catch (...) {
    try {
      main.RollbackTransaction();
      main.Execute(" USE [" + a.DataBaseName + "] ");
    } catch (const std::exception&) {
    }
    throw;
  }
  for (const auto& [perno, text] : reports) report(perno, text);
  state("");
}

// ------------------------------------------------------------------------ the module

TPermissionArgs TDmTransfer::PermissionArgs(TPerMissionType kind) {
  TPermissionArgs a;
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
  a.AInsertCalcLog = [this](const std::string& p, const std::string& c) { InsertCalcLog(p, c); };
  return a;
}

TPermissionTransferResult TDmTransfer::PreparePermission(TPerMissionType PerMissionType,
                                                         bool MyUnCertain) {
  TPermissionArgs a = PermissionArgs(PerMissionType);
  a.UnCertainState = MyUnCertain;
  TPermissionTransferResult result;
  TTransferUtils::PreparePermission(a, result);
  return result;
}

void TDmTransfer::TransferPermission(TPerMissionType PerMissionType,
                                     TPermissionTransferResult& result) {
  TPermissionArgs a = PermissionArgs(PerMissionType);
  a.UnCertainState = true;
  TTransferUtils::TransferPermission(a, result);
}

}  // namespace zel::transfer
