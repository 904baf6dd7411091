#include "transfer/transfer_utils.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <map>
#include <set>
#include <tuple>

#include "dates/date_time.h"
#include "dates/jalali.h"
#include "dates/zel_calc_utils.h"
#include "db/client.h"
#include "util/parse_int.h"
#include "util/sql_text.h"
#include "util/text.h"

namespace zel::transfer {

namespace {

using dates::TZelCalcUtils;

bool Blank(const std::string& text) { return util::TrimWhitespace(text).empty(); }

using util::SqlQuoted;

std::string Str(const db::Dataset& q, const char* name) { return q.FieldByName(name).AsString(); }

// Integer of a field; NULL, blank or unreadable text reads as 0.
std::int64_t Int(const db::Dataset& q, const char* name) {
  try {
    return q.FieldByName(name).AsInteger();
  } catch (const db::DbError&) {
    return 0;
  }
}

std::string Mid(const std::string& text, std::size_t from, std::size_t count) {
  return from < text.size() ? text.substr(from, count) : std::string();
}

void AddOnce(std::vector<std::string>& list, const std::string& rec) {
  if (std::find(list.begin(), list.end(), rec) == list.end()) list.push_back(rec);
}

using util::JoinLines;

// The server's clock: "YYYY-MM-DD HH:MM:SS[.mmm]" (or a date value) into a serial date.
dates::DateTime ServerMoment(db::Connection& c, const char* sql) {
  const db::Value v = c.Execute(sql).rows.at(0).at(0);
  if (v.type() == db::DataType::Real || v.type() == db::DataType::Integer) return v.AsFloat();
  const std::string t = v.AsString();
  if (t.size() < 19) throw db::DbError("Unexpected server date: " + t);
  const int y = std::stoi(t.substr(0, 4)), m = std::stoi(t.substr(5, 2)),
            d = std::stoi(t.substr(8, 2));
  const int hh = std::stoi(t.substr(11, 2)), nn = std::stoi(t.substr(14, 2)),
            ss = std::stoi(t.substr(17, 2));
  return dates::EncodeDate(y, m, d) + dates::EncodeTime(hh, nn, ss, 0);
}

std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

// ------------------------------------------------------------------------ rounding

std::string TTransferUtils::AdjustTime(const std::string& ATime, const RoundSettings& s) {
  if (Blank(ATime)) return {};
  if (s.Round == 0 || s.RoundVal == 0) return ATime;
  const int t = TZelCalcUtils::Text2Time2(ATime);
  int r = (t / s.RoundVal) * s.RoundVal;
  if (t % s.RoundVal >= s.RoundBound) r += s.RoundVal;
  return TZelCalcUtils::Time2Text2(r);
}

std::pair<std::string, std::string> TTransferUtils::RoundedMoment(
    const std::string& Date, const std::string& Time, const RoundSettings& s,
    const std::string& CurrentYear_YYYY) {
  std::string time = AdjustTime(Time, s);
  if (time != "24:00") return {Date, time};
  const std::string next = TZelCalcUtils::IncDateH("", Date, CurrentYear_YYYY);
  if (next == Date) return {Date, "23:59"};  // the year's last day
  return {next, "00:00"};
}

RecordMoments TTransferUtils::StoredMoments(const TIOinfo& io, const RoundSettings& s,
                                            const std::string& CurrentYear_YYYY) {
  RecordMoments m;
  if (io.EnterStored) {
    m.EnterDate = io.EnterDate;
    m.E = io.EnterTime;
  } else {
    std::tie(m.EnterDate, m.E) = RoundedMoment(io.EnterDate, io.EnterTime, s, CurrentYear_YYYY);
  }
  if (io.ExitStored) {
    m.ExitDate = io.ExitDate;
    m.X = io.ExitTime;
  } else {
    std::tie(m.ExitDate, m.X) = RoundedMoment(io.ExitDate, io.ExitTime, s, CurrentYear_YYYY);
  }
  return m;
}

int TTransferUtils::RecordDuration(const RecordMoments& m) {
  if (Blank(m.EnterDate) || Blank(m.E) || Blank(m.ExitDate) || Blank(m.X)) return 0;
  return TZelCalcUtils::SubtractDateTime(m.EnterDate, m.E, m.ExitDate, m.X);
}

// ------------------------------------------------------------------------ record statements

namespace {

// The head of the IOInfo_Log insert, up to VALUES: the new record's and the edited record's
// log copies name the same columns.
const std::vector<std::string>& IoInfoLogInsertHead() {
  static const std::vector<std::string> head = {
      " Insert Into ZELLog..IOInfo_Log ",
      " (PerNo_N, BeginDate_N, BeginTime_N, EndDate_N, EndTime_N, Duration_N, BBeginTime_N, "
      "BEndDate_N,",
      " BEndTime_N, BeginClock_N, BeginComCode_N, EndClock_N, EndComCode_N, FPM_N, "
      "EnterPicId_N, ExitPicId_N,",
      " LastEditUserCode_N, LastEditDate_N, ",
      " UserCode, ActionDate, ActionTime, ActionType, RecYear, EnterFromWeb_N, ExitFromWeb_N) ",
      "VALUES",
  };
  return head;
}

}  // namespace

std::vector<std::string> TTransferUtils::RecordInsertText(bool EnableSystemLog) {
  std::vector<std::string> l = {
      "INSERT INTO IOInfo",
      "(PerNo,BeginDate,BeginTime,EndDate,EndTime,Duration,BBeginTime,BEndDate,",
      "BEndTime, BeginClock, BeginComCode, EndClock, EndComCode, FPM, EnterPicId, ExitPicId, "
      "LastEditUserCode, LastEditDate, EnterFromWeb, ExitFromWeb)",
      "VALUES",
      "(:PerNo,:BeginDate,:BeginTime,:EndDate,:EndTime,:Duration,:BBeginTime,:BEndDate,:BEndTime,",
      ":BeginClock,:BeginComCode,:EndClock,:EndComCode,:FPM",
      ", :EnterPicId, :ExitPicId, :LastEditUserCode, :LastEditDate, :EnterFromWeb, :ExitFromWeb)"};
  if (!EnableSystemLog) return l;
  std::vector<std::string> log = IoInfoLogInsertHead();
  log.insert(
      log.end(),
      {"(:PerNo,:BeginDate,:BeginTime,:EndDate,:EndTime,:Duration,:PunchEnterTime,:PunchExitDate,"
       ":PunchExitTime,",
       ":BeginClock,:BeginComCode,:EndClock,:EndComCode,:FPM",
       ", :EnterPicId, :ExitPicId, :LastEditUserCode, :LastEditDate, :LastEditUserCode, "
       ":ActionDate, :ActionTime, 1, :RecYear, :EnterFromWeb, :ExitFromWeb)"});
  l.insert(l.end(), log.begin(), log.end());
  return l;
}

void TTransferUtils::SetRecordInsertParams(db::Dataset& insert, const TIOinfo& io,
                                           const RecordMoments& m, int Duration,
                                           const std::string& UserCode, const std::string& N,
                                           const std::string& ActionTime, bool EnableSystemLog,
                                           const std::string& CurrentYear_YYYY) {
  const auto text = [&](const char* name, const std::string& value) {
    insert.SetParam(name, db::Value(value));
  };
  const auto number = [&](const char* name, std::int64_t value) {
    insert.SetParam(name, db::Value(value));
  };
  text("PerNo", io.Perno);
  text("BeginDate", m.EnterDate);
  text("BeginTime", m.E);
  text("EndDate", m.ExitDate);
  text("EndTime", m.X);
  number("Duration", Duration);
  text("BBeginTime", io.BEnterTime);
  text("BEndDate", io.BExitDate);
  text("BEndTime", io.BExitTime);
  number("BeginClock", io.EnterMachineNo);
  number("BeginComCode", io.EnterComCode);
  number("EndClock", io.ExitMachineNo);
  number("EndComCode", io.ExitComCode);
  number("FPM", io.FPM);
  number("EnterPicId", io.EnterPicId);
  number("ExitPicId", io.ExitPicId);
  text("LastEditUserCode", UserCode);
  text("LastEditDate", Mid(N, 5, 5));
  number("EnterFromWeb", io.EnterFromWeb);
  number("ExitFromWeb", io.ExitFromWeb);
  if (!EnableSystemLog) return;
  // The log copy keeps the punches' own times.
  text("PunchEnterTime", io.EnterTime);
  text("PunchExitDate", io.ExitDate);
  text("PunchExitTime", io.ExitTime);
  text("ActionDate", N);
  text("ActionTime", ActionTime);
  text("RecYear", CurrentYear_YYYY);
}

std::string TTransferUtils::RecordStatement(const TIOinfo& io, const RecordMoments& m, int Duration,
                                            const std::string& UserCode, const std::string& N,
                                            const std::string& ActionTime, bool EnableSystemLog,
                                            const std::string& CurrentYear_YYYY) {
  const std::string& E = m.E;
  const std::string& X = m.X;
  const std::string LastEditDate = Mid(N, 5, 5);
  const std::string D = std::to_string(Duration);
  const auto n = [](std::int64_t v) { return std::to_string(v); };
  std::vector<std::string> l = {
      "UPDATE IOInfo SET",
      "BeginDate=" + SqlQuoted(m.EnterDate) + ",BeginTime=" + SqlQuoted(E) + ",EndDate=" +
          SqlQuoted(m.ExitDate) + ",EndTime=" + SqlQuoted(X) + ",Duration=" + SqlQuoted(D) +
          ",BBeginTime=" + SqlQuoted(io.BEnterTime) + ",BEndDate=" + SqlQuoted(io.BExitDate) +
          ",BEndTime=" + SqlQuoted(io.BExitTime) + ",BeginClock=" + n(io.EnterMachineNo) +
          ",BeginComCode=" + n(io.EnterComCode) + ",EndClock=" + n(io.ExitMachineNo) +
          ",EndComCode=" + n(io.ExitComCode) + ",Fpm = Fpm+" + n(io.FPM),
      ", EnterPicId = " + n(io.EnterPicId) + ", ExitPicId = " + n(io.ExitPicId),
      ", LastEditUserCode = " + SqlQuoted(UserCode) +
          ", LastEditDate = " + SqlQuoted(LastEditDate) + " ",
      ", EnterFromWeb = " + n(io.EnterFromWeb) + ", ExitFromWeb = " + n(io.ExitFromWeb) + " ",
      "Where ",
      "PerNo=" + SqlQuoted(io.Perno) + " And ",
      "((BeginDate=" + SqlQuoted(m.EnterDate) + " And BeginTime=" + SqlQuoted(E) +
          ")Or(EndDate=" + SqlQuoted(m.ExitDate) + " And EndTime=" + SqlQuoted(X) + "))"};
  if (EnableSystemLog) {
    std::vector<std::string> log = IoInfoLogInsertHead();
    log.insert(log.end(), {"(" + SqlQuoted(io.Perno) + "," + SqlQuoted(m.EnterDate) + "," +
                               SqlQuoted(E) + "," + SqlQuoted(m.ExitDate) + "," + SqlQuoted(X) +
                               "," + SqlQuoted(D) + "," + SqlQuoted(io.EnterTime) + "," +
                               SqlQuoted(io.ExitDate) + "," + SqlQuoted(io.ExitTime) + ",",
                           n(io.EnterMachineNo) + "," + n(io.EnterComCode) + "," +
                               n(io.ExitMachineNo) + "," + n(io.ExitComCode) + "," + n(io.FPM),
                           ", " + n(io.EnterPicId) + ", " + n(io.ExitPicId) + ", " +
                               SqlQuoted(UserCode) + ", " + SqlQuoted(LastEditDate) + ", " +
                               SqlQuoted(UserCode) + ", " + SqlQuoted(N) + ", " +
                               SqlQuoted(ActionTime) + ", 1, " + SqlQuoted(CurrentYear_YYYY) +
                               ", " + n(io.EnterFromWeb) + ", " + n(io.ExitFromWeb) + ")"});
    l.insert(l.end(), log.begin(), log.end());
  }
  return JoinLines(l);
}

bool TTransferUtils::IsDuplicateKeyMessage(const std::string& Message) {
  return util::UpperAscii(Message).find("VIOLATION OF PRIMARY KEY CONSTRAINT") != std::string::npos;
}

std::string TTransferUtils::RecordFailureText(const TIOinfo& io, const std::string& Message) {
  if (IsDuplicateKeyMessage(Message)) {
    return "ورود و خروج قبلاً ثبت شده : شماره پرسنلي " + io.Perno + " تاريخ ورود: " + io.EnterDate +
           " زمان ورود: " + io.EnterTime;
  }
  return Message + " Perno: " + io.Perno + " Enter: " + io.EnterDate + " " + io.EnterTime +
         "  Exit: " + io.ExitDate + " " + io.ExitTime + " CalcDate: " + io.CalDate +
         " UpdateMode: " + std::to_string(static_cast<int>(io.UpdateMode));
}

// ------------------------------------------------------------------------ pairing

void TTransferUtils::getIORecordInfo(const db::Dataset& q, Tci& ci, Tcl& cl, Tio& IO, Twg& wg) {
  ci.DBEGINDATE = Str(q, "ciDBEGINDATE");
  ci.DBEGINTIME = Str(q, "ciDBEGINTIME");
  ci.ENDDATE = Str(q, "ciENDDATE");
  ci.ENDTIME = Str(q, "ciENDTIME");
  ci.HOLIDAY = static_cast<int>(Int(q, "ciHOLIDAY"));
  const std::string status = Str(q, "status");
  ci.Status = status == "bToday"      ? TDayStatus::dsToday
              : status == "cTomorrow" ? TDayStatus::dsTomorrow
                                      : TDayStatus::dsYesterday;

  cl = Tcl{};
  cl.KartNo = Str(q, "KartNo");
  cl.Perno = Str(q, "Perno");
  cl.REC = Str(q, "REC");
  cl.ClockDate = Mid(Str(q, "clockDate"), 5, 5);
  cl.ClockTime = Str(q, "ClockTime");
  const std::string io_type = util::TrimWhitespace(Str(q, "IO_TYPE"));
  cl.IO_TYPE = io_type == "1"   ? TIO_Type::ioEnter
               : io_type == "2" ? TIO_Type::ioExit
                                : TIO_Type::ioNone;
  cl.SPCARDTYPE = static_cast<int>(Int(q, "SPCARDTYPE"));
  cl.TRANSFERED = Str(q, "TRANSFERED");
  cl.MachineNo = static_cast<int>(Int(q, "MASHINNO"));
  cl.ComCode = static_cast<int>(Int(q, "ComCode"));
  cl.FPM = static_cast<int>(Int(q, "FPM"));
  const std::int64_t pic = Int(q, "PicId");
  cl.PicId = pic > 0 ? static_cast<std::int32_t>(pic) : 0;
  cl.FromWeb = Int(q, "FromWeb") == 1 ? 1 : 0;
  if (!q.FieldByName("BClockDate").IsNull()) {
    cl.BClockDate = Str(q, "BClockDate");
    cl.BClockTime = Str(q, "BClockTime");
  }

  IO.BEGINDATE = Str(q, "ioBEGINDATE");
  IO.BEGINTIME = Str(q, "ioBEGINTIME");
  IO.ENDDATE = Str(q, "ioENDDate");
  IO.ENDTIME = Str(q, "ioENDTIME");
  IO.BBEGINTIME = Str(q, "ioBBEGINTIME");
  IO.BENDDATE = Str(q, "ioBENDDate");
  IO.BENDTIME = Str(q, "ioBENDTIME");
  IO.BEGINCLOCK = static_cast<int>(Int(q, "ioBEGINCLOCK"));
  IO.ENDCLOCK = static_cast<int>(Int(q, "ioENDCLOCK"));
  IO.BeginComCode = static_cast<int>(Int(q, "ioBeginComCode"));
  IO.EndComCode = static_cast<int>(Int(q, "ioEndComCode"));
  IO.EnterPicId = static_cast<std::int32_t>(Int(q, "ioEnterPicId"));
  IO.ExitPicId = static_cast<std::int32_t>(Int(q, "ioExitPicId"));
  IO.EnterFromWeb = Int(q, "ioEnterFromWeb") == 1 ? 1 : 0;
  IO.ExitFromWeb = Int(q, "ioExitFromWeb") == 1 ? 1 : 0;

  wg.IOPairing = static_cast<int>(Int(q, "wgIOPairing"));
}

namespace {

// Whether the paired row is left out on this candidate day.
bool SkipsCandidateDay(const Tci& ci, const Tcl& cl, const Tio& IO, const TIOinfo& cur,
                       const std::string& lastRec, int ioPairing, int lastExitEndDay) {
  const std::string P = cl.ClockDate + cl.ClockTime;
  const std::string E = ci.ENDDATE + ci.ENDTIME;
  const bool entry = cl.IO_TYPE == TIO_Type::ioEnter;
  const bool exit = cl.IO_TYPE == TIO_Type::ioExit;
  const bool noEnd = Blank(ci.ENDDATE);
  const bool notToday = ci.Status != TDayStatus::dsToday;
  if (P > E && !noEnd && entry && ci.DBEGINDATE <= ci.ENDDATE) {
    return true;  // an entry after this day's end belongs to a later day
  }
  if (P > E && !noEnd && exit && ci.DBEGINDATE <= ci.ENDDATE &&
      TZelCalcUtils::SubtractDateTime(ci.ENDDATE, ci.ENDTIME, cl.ClockDate, cl.ClockTime) >
          lastExitEndDay) {
    return true;  // an exit too long after this day's end
  }
  if (noEnd && notToday && ioPairing != 2) return true;  // no calendar item on a neighbouring day
  if (noEnd && notToday && ioPairing == 2 && Blank(IO.BEGINTIME + IO.ENDTIME)) return true;
  // The punch was used on an earlier candidate day.
  return cl.REC == lastRec &&
         !(ioPairing == 2 && noEnd && (cur.EnterTime + cur.ExitTime).size() != 10);
}

// Whether the record under construction is closed before the punch goes in.
bool ClosesRecord(const TIOinfo& cur, const Tcl& cl, const Tci& ci, const std::string& prevPerno,
                  const std::string& lastRec, bool contiguous, int groupType) {
  const bool entry = cl.IO_TYPE == TIO_Type::ioEnter;
  const bool exit = cl.IO_TYPE == TIO_Type::ioExit;
  return (!Blank(cur.EnterTime) && !Blank(cur.ExitTime)) ||
         (cl.Perno != prevPerno && !cur.Perno.empty()) ||
         (cur.Perno != prevPerno && !cur.Perno.empty()) ||
         (!cur.CalDate.empty() && cur.CalDate != ci.DBEGINDATE && !contiguous &&
          !(groupType == 5 && exit)) ||
         (entry && !cur.EnterTime.empty() && cl.REC != lastRec) ||
         (exit && !cur.ExitTime.empty() && cl.REC != lastRec);
}

// An entry punch goes into the record; a stored exit-only record later this day completes it.
void TakeEntry(TIOinfo& cur, const Tcl& cl, const Tio& IO) {
  const std::string P = cl.ClockDate + cl.ClockTime;
  cur.EnterDate = cl.ClockDate;
  cur.EnterTime = cl.ClockTime;
  cur.EnterRec = cl.REC;
  cur.EnterStored = false;
  cur.BEnterTime = !Blank(cl.BClockTime) ? cl.BClockTime : cl.ClockTime;
  cur.IOType = TIO_Type::ioEnter;
  cur.EnterMachineNo = cl.MachineNo;
  cur.EnterComCode = cl.ComCode;
  cur.EnterPicId = cl.PicId;
  cur.EnterFromWeb = cl.FromWeb;
  if (cl.FPM == 1) cur.FPM += 1;
  if (IO.BEGINDATE + IO.BEGINTIME == IO.ENDDATE + IO.ENDTIME && P < IO.ENDDATE + IO.ENDTIME) {
    cur.ExitDate = IO.ENDDATE;
    cur.ExitTime = IO.ENDTIME;
    cur.BExitDate = IO.BENDDATE;
    cur.BExitTime = IO.BENDTIME;
    cur.ExitMachineNo = IO.ENDCLOCK;
    cur.ExitComCode = IO.EndComCode;
    cur.ExitPicId = IO.ExitPicId;
    cur.ExitFromWeb = IO.ExitFromWeb;
    cur.ExitRec.clear();
    cur.ExitStored = true;
    cur.UpdateMode = TUpdateMode::umUpdate;
    cur.IOType = TIO_Type::ioComplete;
  }
}

// An exit punch goes into the record: it completes the person's stored open entry (of this
// day, or of the contiguous day before), or stands alone with the exit as its begin.
void TakeExit(TIOinfo& cur, const Tcl& cl, const Tci& ci, const Tio& IO, const Tio& yesIo,
              bool contiguous) {
  const std::string P = cl.ClockDate + cl.ClockTime;
  cur.ExitDate = cl.ClockDate;
  cur.ExitTime = cl.ClockTime;
  cur.ExitRec = cl.REC;
  cur.ExitStored = false;
  if (!Blank(cl.BClockTime)) {
    cur.BExitDate = cl.BClockDate;
    cur.BExitTime = cl.BClockTime;
  } else {
    cur.BExitDate = cl.ClockDate;
    cur.BExitTime = cl.ClockTime;
  }
  cur.IOType = TIO_Type::ioExit;
  cur.ExitMachineNo = cl.MachineNo;
  cur.ExitComCode = cl.ComCode;
  cur.ExitPicId = cl.PicId;
  cur.ExitFromWeb = cl.FromWeb;
  if (cl.FPM == 1) cur.FPM += 2;
  const bool fromIo = !Blank(IO.BEGINTIME) && Blank(IO.ENDTIME) && P > IO.BEGINDATE + IO.BEGINTIME;
  const bool fromYes = contiguous && !Blank(yesIo.BEGINTIME) && Blank(yesIo.ENDTIME) &&
                       P > yesIo.BEGINDATE + yesIo.BEGINTIME;
  if (Blank(cur.EnterTime) && (fromIo || fromYes)) {
    const Tio& src = contiguous && !Blank(ci.DBEGINDATE) ? yesIo : IO;
    cur.EnterDate = src.BEGINDATE;
    cur.EnterTime = src.BEGINTIME;
    cur.BEnterTime = src.BBEGINTIME;
    cur.EnterMachineNo = src.BEGINCLOCK;
    cur.EnterComCode = src.BeginComCode;
    cur.EnterPicId = src.EnterPicId;
    cur.EnterFromWeb = src.EnterFromWeb;
    cur.EnterRec.clear();
    cur.EnterStored = true;
    cur.UpdateMode = TUpdateMode::umUpdate;
    cur.IOType = TIO_Type::ioComplete;
  }
  if (cur.EnterDate.empty()) {
    cur.EnterDate = cur.ExitDate;
    cur.EnterTime = cur.ExitTime;
    cur.BEnterTime = cur.BExitTime;
    cur.EnterStored = false;
  }
}

}  // namespace

void TTransferUtils::ConfirmIos(db::Dataset& q, TransferScratch& s, TIOList& IoList,
                                std::vector<std::string>& IoRecList,
                                std::vector<std::string>* SeenRecs) {
  Tci& ci = s.ci;
  Tcl& cl = s.cl;
  Tio& IO = s.IO;
  TIOinfo cur;
  std::string lastRec;
  for (q.First(); !q.Eof(); q.Next()) {
    const std::string prevPerno = cl.Perno;
    getIORecordInfo(q, ci, cl, IO, s.wg);
    if (SeenRecs) SeenRecs->push_back(cl.REC);
    const int lastExitEndDay = static_cast<int>(Int(q, "wgLastExitEndDay"));
    const int groupType = static_cast<int>(Int(q, "wgGROUPTYPE"));
    if (SkipsCandidateDay(ci, cl, IO, cur, lastRec, s.wg.IOPairing, lastExitEndDay)) {
      if (ci.Status == TDayStatus::dsYesterday) {
        s.yesCi = ci;
        s.yesIo = IO;
      }
      continue;
    }
    const bool contiguous = s.yesCi.ENDDATE + s.yesCi.ENDTIME == ci.DBEGINDATE + ci.DBEGINTIME;
    if (ClosesRecord(cur, cl, ci, prevPerno, lastRec, contiguous, groupType)) {
      IoList.AddIO(cur);
      cur = TIOinfo{};
    }
    cur.Perno = cl.Perno;
    cur.CalDate = ci.DBEGINDATE;
    cur.IOType = TIO_Type::ioNone;
    cur.SpecCardType = cl.SPCARDTYPE;
    cur.REC = cl.REC;
    AddOnce(cur.Recs, cl.REC);
    if (cl.IO_TYPE == TIO_Type::ioEnter) {
      TakeEntry(cur, cl, IO);
    } else if (cl.IO_TYPE == TIO_Type::ioExit) {
      TakeExit(cur, cl, ci, IO, s.yesIo, contiguous);
    }
    IoRecList.push_back(cl.REC);
    lastRec = cl.REC;
  }
  if (!cur.EnterTime.empty() || !cur.ExitTime.empty()) IoList.AddIO(cur);
}

// ------------------------------------------------------------------------ permissions

void TTransferUtils::GetPermissionRecordInfo(const db::Dataset& q, TransferScratch& s) {
  const auto window = [&](Tci& c, const std::string& p, bool all) {
    c.DBEGINDATE = Str(q, (p + "DBEGINDATE").c_str());
    c.DBEGINTIME = Str(q, (p + "DBEGINTIME").c_str());
    c.DENDDATE = Str(q, (p + "DENDDATE").c_str());
    c.DENDTIME = Str(q, (p + "DENDTIME").c_str());
    c.ENDDATE = Str(q, (p + "ENDDATE").c_str());
    c.ENDTIME = Str(q, (p + "ENDTIME").c_str());
    c.HOLIDAY = static_cast<int>(Int(q, (p + "HOLIDAY").c_str()));
    if (!all) return;
    c.EBEGINDATE = Str(q, (p + "EBEGINDATE").c_str());
    c.EBEGINTIME = Str(q, (p + "EBEGINTIME").c_str());
    c.EENDDATE = Str(q, (p + "EENDDATE").c_str());
    c.EENDTIME = Str(q, (p + "EENDTIME").c_str());
    c.BBEGINDATE = Str(q, (p + "BBEGINDATE").c_str());
    c.BBEGINTIME = Str(q, (p + "BBEGINTIME").c_str());
    c.BENDDATE = Str(q, (p + "BENDDATE").c_str());
    c.BENDTIME = Str(q, (p + "BENDTIME").c_str());
  };
  window(s.ci, "ci", true);
  window(s.yesCi, "yes", true);
  window(s.yes2Ci, "yes2", false);
  const auto neighbour = [&](Tcl& c, const std::string& p) {
    c.REC = Str(q, (p + "Rec").c_str());
    c.ClockDate = Mid(Str(q, (p + "ClockDate").c_str()), 5, 5);
    c.ClockTime = Str(q, (p + "ClockTime").c_str());
    c.Uncertain = Int(q, (p + "UnCertain").c_str()) != 0;
    c.SPCARDTYPE = static_cast<int>(Int(q, (p + "SpCardType").c_str()));
    c.IO_TYPE = TIO_Type::ioNone;
  };
  neighbour(s.nx, "nx");
  neighbour(s.pr, "pr");
  Tcl& cl = s.cl;
  cl.Perno = Str(q, "Perno");
  cl.REC = Str(q, "rec");
  cl.ClockDate = Mid(Str(q, "ClockDate"), 5, 5);
  cl.ClockTime = Str(q, "ClockTime");
  cl.ClockKey = Str(q, "ClockKey");
  cl.SpecCardNo = Str(q, "SpecCardNo");
  const std::int64_t io = Int(q, "Io_Type");
  cl.IO_TYPE = io == 1   ? TIO_Type::ioEnter
               : io == 2 ? TIO_Type::ioExit
               : io == 3 ? TIO_Type::ioComplete
                         : TIO_Type::ioNone;
  cl.SPCARDTYPE = static_cast<int>(Int(q, "SPCARDTYPE"));
  cl.Uncertain = Int(q, "UnCertain") != 0;
  Twg& wg = s.wg;
  wg.IOPairing = static_cast<int>(Int(q, "IOPairing"));
  wg.FLOATCAL = false;
  wg.FLOATVAL = 0;
  wg.OverFloat = false;
  if (!Blank(Str(q, "FLOATCAL")) && Int(q, "FLOATCAL") == 1) {
    wg.FLOATCAL = true;
    wg.FLOATVAL = static_cast<std::int32_t>(Int(q, "FLOATVAL"));
    cl.FirstIo = Str(q, "FirstIo");
    wg.OverFloat = !Blank(Str(q, "OverFloat")) && Int(q, "OverFloat") == 1;
  }
}

std::string TTransferUtils::FloatShiftedTime(const std::string& Date, const std::string& Time,
                                             const std::string& DBeginDate, const Tci& dayCi,
                                             const Twg& wg, const Tcl& cl,
                                             const std::string& CurrentYear_YYYY) {
  std::string date = Date;
  int delta = 0;
  if (wg.FLOATCAL && !Blank(dayCi.DBEGINTIME) && wg.FLOATVAL != 0 && !Blank(cl.FirstIo)) {
    const std::string F = cl.FirstIo.substr(0, 5);
    const std::string f = Mid(cl.FirstIo, 5, 5);
    delta = TZelCalcUtils::Text2Time2(f) - TZelCalcUtils::Text2Time2(dayCi.DBEGINTIME);
    if (F > DBeginDate) delta += 1440;
    if (delta > wg.FLOATVAL) delta = wg.OverFloat ? 0 : wg.FLOATVAL;
    if (delta < 0) delta = 0;
  }
  // A blank time (a rest day's window) is the day's 00:00; "24:00" is the next day's.
  if (Blank(Date)) return Date + Time;
  int total = TZelCalcUtils::Text2Time2(Time) + delta;
  if (total >= 1440) {
    total -= 1440;
    date = TZelCalcUtils::IncDateH(CurrentYear_YYYY, Date, CurrentYear_YYYY);
  }
  return date + TZelCalcUtils::Time2Text2(total);
}

void TTransferUtils::ConfirmPermission(db::Dataset& q, const std::string& CurrentYear_YYYY,
                                       const std::string& CurrentDate_YYMMDD,
                                       TPerMissionType Status, TPermissionList& PermissionList,
                                       std::vector<std::string>& PermissionRecList,
                                       TransferScratch& s,
                                       const TTransferUtilsInsertCalcLogTable& AInsertCalcLog) {
  PermissionList = TPermissionList{};
  PermissionRecList.clear();
  if (!q.Active()) q.Open();
  TPermissioninfo perm;
  Tcl& cl = s.cl;
  const Tcl& nx = s.nx;
  const Tcl& pr = s.pr;
  for (q.First(); !q.Eof(); q.Next()) {
    try {
      GetPermissionRecordInfo(q, s);
      perm.Perno = cl.Perno;
      if (!perm.Uncertain) perm.Uncertain = cl.Uncertain;
      if (cl.SPCARDTYPE != 0) {
        perm.SpecCardNo = util::TrimWhitespace(cl.SpecCardNo);
        perm.ClockKey = cl.ClockKey;
      }
      const bool today = cl.ClockDate + cl.ClockTime > s.yesCi.ENDDATE + s.yesCi.ENDTIME;
      const Tci& dayCi = today ? s.ci : s.yesCi;
      const Tci& prevCi = today ? s.yesCi : s.yes2Ci;
      const std::string dayEnd = dayCi.ENDDATE + dayCi.ENDTIME;
      const std::string prevEnd = prevCi.ENDDATE + prevCi.ENDTIME;
      perm.CalDate = dayCi.DBEGINDATE;
      const auto shifted = [&](const std::string& d, const std::string& t) {
        return FloatShiftedTime(d, t, dayCi.DBEGINDATE, dayCi, s.wg, cl, CurrentYear_YYYY);
      };
      if (cl.IO_TYPE == TIO_Type::ioExit) {
        perm.BEGINDATE = cl.ClockDate;
        perm.BEGINTIME = cl.ClockTime;
        PermissionRecList.push_back(cl.REC);
        perm.Rec1 = static_cast<std::int32_t>(std::atol(cl.REC.c_str()));
        const std::string next = nx.ClockDate + nx.ClockTime;
        if (!Blank(next) && (next < dayEnd || (Blank(dayEnd) && s.wg.IOPairing == 2))) {
          perm.ENDDATE = nx.ClockDate;
          perm.ENDTIME = nx.ClockTime;
          if (!perm.Uncertain) perm.Uncertain = nx.Uncertain;
          PermissionRecList.push_back(nx.REC);
          perm.Rec2 = static_cast<std::int32_t>(std::atol(nx.REC.c_str()));
        } else {
          std::string end;
          if (perm.BEGINDATE + perm.BEGINTIME >= dayCi.DENDDATE + dayCi.DENDTIME &&
              !Blank(dayCi.EENDTIME)) {
            end = shifted(dayCi.EENDDATE, dayCi.EENDTIME);
          } else {
            end = shifted(dayCi.DENDDATE, dayCi.DENDTIME);
            if (cl.ClockDate == Mid(CurrentDate_YYMMDD, 5, 5)) perm.Uncertain = true;
          }
          perm.ENDDATE = end.substr(0, 5);
          perm.ENDTIME = Mid(end, 5, 5);
          if (Status == TPerMissionType::prSlate) perm.ShiftType = 3;
        }
      } else if (cl.IO_TYPE == TIO_Type::ioEnter) {
        const std::string prev = pr.ClockDate + pr.ClockTime;
        if (!(pr.SPCARDTYPE != 0 && prev >= prevEnd)) {
          perm.ENDDATE = cl.ClockDate;
          perm.ENDTIME = cl.ClockTime;
          PermissionRecList.push_back(cl.REC);
          perm.Rec2 = static_cast<std::int32_t>(std::atol(cl.REC.c_str()));
          if (Status != TPerMissionType::prSlate) {
            if (!Blank(prev) && prev > prevEnd && prev < dayEnd) {
              perm.BEGINDATE = pr.ClockDate;
              perm.BEGINTIME = pr.ClockTime;
              if (!perm.Uncertain) perm.Uncertain = pr.Uncertain;
              PermissionRecList.push_back(pr.REC);
              perm.Rec1 = static_cast<std::int32_t>(std::atol(pr.REC.c_str()));
            } else {
              std::string begin;
              if ((perm.ENDDATE + perm.ENDTIME <= dayCi.DBEGINDATE + dayCi.DBEGINTIME &&
                   !Blank(dayCi.EBEGINTIME)) ||
                  dayCi.HOLIDAY != 0) {
                begin = shifted(dayCi.EBEGINDATE, dayCi.EBEGINTIME);
              } else {
                begin = shifted(dayCi.DBEGINDATE, dayCi.DBEGINTIME);
              }
              perm.BEGINDATE = begin.substr(0, 5);
              perm.BEGINTIME = Mid(begin, 5, 5);
            }
          } else {
            std::string begin;
            if (perm.ENDDATE + perm.ENDTIME >= dayCi.BBEGINDATE + dayCi.BBEGINTIME &&
                !Blank(dayCi.BBEGINTIME)) {
              begin = shifted(dayCi.BENDDATE, dayCi.BENDTIME);
              perm.ShiftType = 2;
            } else {
              begin = shifted(dayCi.DBEGINDATE, dayCi.DBEGINTIME);
              perm.ShiftType = 1;
            }
            perm.BEGINDATE = begin.substr(0, 5);
            perm.BEGINTIME = Mid(begin, 5, 5);
          }
        }
      }
      if (!Blank(perm.BEGINDATE + perm.ENDDATE)) {
        if (Blank(perm.ENDTIME)) {
          perm.ENDDATE = perm.BEGINDATE;
          perm.ENDTIME = perm.BEGINTIME;
        }
        if (Blank(perm.BEGINTIME)) {
          perm.BEGINDATE = perm.ENDDATE;
          perm.BEGINTIME = perm.ENDTIME;
        }
        PermissionList.AddPermission(perm);
        perm = TPermissioninfo{};
      }
    } catch (const std::exception& e) {
      const std::string text = "Perno= " + perm.Perno + " Begine= " + perm.BEGINDATE +
                               perm.BEGINTIME + " End= " + perm.ENDDATE + perm.ENDTIME +
                               " Exception= " + e.what();
      if (AInsertCalcLog) AInsertCalcLog(perm.Perno, text);
    }
  }
}

// ------------------------------------------------------------------------ the IO transfer

namespace {

using Report = std::function<void(const std::string& perno, const std::string& text)>;

void StopWhenRequested(const IOTransferArgs& a) {
  if (a.StopRequested && a.StopRequested())
    throw TransferStopped("The IO transfer stopped on request; nothing of this run was kept");
}

// "HH:NN" of a real time of day, "MM/DD" of a real day number: what a stored half-record
// must hold for a punch to complete it.
bool IsTimeText(const std::string& t) {
  const std::string v = util::TrimWhitespace(t);
  if (v.size() != 5 || v[2] != ':') return false;
  for (std::size_t i : {0u, 1u, 3u, 4u})
    if (!std::isdigit(static_cast<unsigned char>(v[i]))) return false;
  return std::stoi(v.substr(0, 2)) < 24 && std::stoi(v.substr(3, 2)) < 60;
}

bool IsDayText(const std::string& d) {
  const std::string v = util::TrimWhitespace(d);
  if (v.size() != 5 || v[2] != '/') return false;
  for (std::size_t i : {0u, 1u, 3u, 4u})
    if (!std::isdigit(static_cast<unsigned char>(v[i]))) return false;
  const int month = std::stoi(v.substr(0, 2)), day = std::stoi(v.substr(3, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= (month <= 6 ? 31 : 30);
}

// Stored half-records (entries without exit, exits alone) of the run's persons whose date
// or time cannot be read ("7:55"): the pairing never offers them to a punch, so they are
// reported (once; the caller's report writes a comment only once per person).
// Returns how many there are.
int ReportUnreadableHalves(db::Connection& main, const IOTransferArgs& a, const Report& report) {
  const std::string T = a.BaseDatabaseName + ".." + a.TempFileName;
  const db::ResultSet r = main.Execute(JoinLines(
      {" Select PerNo, BeginDate, BeginTime, EndDate, EndTime From IoInfo ",
       " Where (EndTime Is Null Or LTrim(EndTime) = '' Or (EndDate = BeginDate And EndTime = "
       "BeginTime)) ",
       " And ((Not Exists (Select PerNo From " + T + ")) or (PerNo In (Select PerNo From " + T +
           ")))"}));
  int unreadable = 0;
  for (const auto& row : r.rows) {
    const std::string date = row[1].AsString(), time = row[2].AsString();
    if (IsDayText(date) && IsTimeText(time)) continue;
    ++unreadable;
    const bool open = Blank(row[4].AsString());
    report(row[0].AsString(), std::string(open ? "Stored entry" : "Stored exit") +
                                  " without its other half is not completed by the transfer: "
                                  "its moment cannot be read (" +
                                  util::TrimWhitespace(date) + " " + util::TrimWhitespace(time) +
                                  ")");
  }
  return unreadable;
}

// Writes the records of one IO transfer run inside the run's transaction and keeps account
// of their punches: those that went whole into a record on file (or exactly repeat one)
// may leave ClockDmp; the others stay, with the reason.
class RecordWriter {
 public:
  RecordWriter(IOTransferArgs& a, IOTransferResult& result, std::string N, Report report)
      : a_(a),
        main_(*a.MainDBConnection),
        result_(result),
        N_(std::move(N)),
        report_(std::move(report)),
        insert_(main_) {
    insert_.SetSQL(TTransferUtils::RecordInsertText(a.EnableSystemLog));
  }

  void Write(const TIOinfo& io) {
    RecordMoments m;
    try {
      // Rounding and duration read the times: an unreadable one fails this record only.
      m = TTransferUtils::StoredMoments(io, a_.Rounding, a_.CurrentYear_YYYY);
      if (Put(io, m)) {
        consumed.insert(io.Recs.begin(), io.Recs.end());
      } else {
        ++result_.Failed;
        Keep(io.Recs, "the stored half-record it completes no longer matches");
      }
    } catch (const std::exception& e) {
      StillInTransaction(e.what());
      ++result_.Failed;
      if (io.UpdateMode == TUpdateMode::umInsert &&
          TTransferUtils::IsDuplicateKeyMessage(e.what())) {
        ++result_.Duplicates;
        if (CompleteOrRepeat(io, m)) {
          --result_.Failed;
          return;
        }
      } else {
        Keep(io.Recs, e.what());
      }
      report_(io.Perno, TTransferUtils::RecordFailureText(io, e.what()));
    }
  }

  // After a caught failure the run goes on only inside its transaction: a server that
  // rolled it back (a deadlock victim, an error raised in a trigger) ends the run.
  void StillInTransaction(const std::string& failure) {
    db::EnsureTransactionOpen(
        main_,
        "The IO transfer stopped: the server rolled its transaction back after this failure, "
        "so nothing of the run was kept: " +
            failure);
  }

  std::set<std::string> consumed;                 // punches that may leave ClockDmp
  std::map<std::string, std::string> failedRecs;  // punch -> why its record is not on file

 private:
  void Keep(const std::vector<std::string>& recs, const std::string& why) {
    for (const auto& rec : recs) failedRecs.emplace(rec, why);
  }

  std::string ActionTime() {
    if (!a_.EnableSystemLog) return {};
    const dates::DateTime t = ServerMoment(main_, " Select GetDate() TimeStr ");
    const double frac = t - static_cast<double>(static_cast<long long>(t));
    const int secs = static_cast<int>(frac * 86400.0 + 0.5) % 86400;
    return Two(secs / 3600) + ":" + Two(secs / 60 % 60) + ":" + Two(secs % 60);
  }

  // Inserts or updates the record; false when the stored half an update completes is not
  // there (removed or changed since the pairing). Raises what the server raises.
  bool Put(const TIOinfo& io, const RecordMoments& m) {
    const int duration = TTransferUtils::RecordDuration(m);
    const std::string actionTime = ActionTime();
    const std::string& year = a_.CurrentYear_YYYY;
    if (io.UpdateMode == TUpdateMode::umInsert) {
      TTransferUtils::SetRecordInsertParams(insert_, io, m, duration, a_.UserCode, N_, actionTime,
                                            a_.EnableSystemLog, year);
      insert_.ExecSQL();
      ++result_.Inserted;
      return true;
    }
    // The update runs alone so its own count tells whether the stored half was found.
    const std::string update =
        TTransferUtils::RecordStatement(io, m, duration, a_.UserCode, N_, actionTime, false, year);
    if (main_.Execute(update).rows_affected == 0) return false;
    if (a_.EnableSystemLog) {
      const std::string both =
          TTransferUtils::RecordStatement(io, m, duration, a_.UserCode, N_, actionTime, true, year);
      main_.Execute(both.substr(update.size()));
    }
    ++result_.Completed;
    return true;
  }

  // A new record whose begin is on record already. A terminal that sent an entry again
  // before its exit: the stored entry is open and the record's exit completes it. Else
  // only punches that exactly repeat the stored record are done with; the others stay.
  // True when the record went on file.
  bool CompleteOrRepeat(const TIOinfo& io, const RecordMoments& m) {
    const db::ResultSet r = main_.Execute(JoinLines(
        {" Select BeginDate, BeginTime, EndDate, EndTime, BBeginTime, BEndDate, BEndTime, "
         "BeginClock, BeginComCode, EnterPicId, EnterFromWeb From IoInfo ",
         " Where PerNo = " + SqlQuoted(io.Perno) + " And BeginDate = " + SqlQuoted(m.EnterDate) +
             " And BeginTime = " + SqlQuoted(m.E) + " "}));
    if (r.rows.empty()) {
      Keep(io.Recs, "its begin was on record, but is no longer");
      return false;
    }
    const auto col = [&](std::size_t i) { return util::TrimWhitespace(r.rows[0][i].AsString()); };
    const std::string rawBegin = col(4).empty() ? col(1) : col(4);
    const bool open = col(3).empty();
    const bool entryRepeats =
        !io.EnterRec.empty() && util::TrimWhitespace(io.EnterTime) == rawBegin;
    const bool exitRepeats = !io.ExitRec.empty() && !open &&
                             (col(6).empty() ? util::TrimWhitespace(m.ExitDate) == col(2) &&
                                                   util::TrimWhitespace(m.X) == col(3)
                                             : util::TrimWhitespace(io.ExitDate) == col(5) &&
                                                   util::TrimWhitespace(io.ExitTime) == col(6));
    if (open && !io.ExitRec.empty() && m.ExitDate + m.X > m.EnterDate + m.E) {
      TIOinfo c = io;
      c.EnterStored = true;
      c.EnterDate = col(0);
      c.EnterTime = col(1);
      c.BEnterTime = col(4);
      c.EnterMachineNo = static_cast<int>(r.rows[0][7].IsNull() ? 0 : r.rows[0][7].AsInteger());
      c.EnterComCode = static_cast<int>(r.rows[0][8].IsNull() ? 0 : r.rows[0][8].AsInteger());
      c.EnterPicId =
          static_cast<std::int32_t>(r.rows[0][9].IsNull() ? 0 : r.rows[0][9].AsInteger());
      c.EnterFromWeb = !r.rows[0][10].IsNull() && r.rows[0][10].AsInteger() == 1 ? 1 : 0;
      c.FPM = io.FPM & 2;  // the stored entry keeps its own mark
      c.UpdateMode = TUpdateMode::umUpdate;
      c.IOType = TIO_Type::ioComplete;
      if (Put(c, TTransferUtils::StoredMoments(c, a_.Rounding, a_.CurrentYear_YYYY))) {
        consumed.insert(io.ExitRec);
        if (entryRepeats)
          consumed.insert(io.EnterRec);
        else if (!io.EnterRec.empty())
          Keep({io.EnterRec}, NotARepeat(r));
        return true;
      }
    }
    for (const auto& rec : io.Recs) {
      if ((rec == io.EnterRec && entryRepeats) || (rec == io.ExitRec && exitRepeats))
        consumed.insert(rec);
      else
        Keep({rec}, NotARepeat(r));
    }
    return false;
  }

  static std::string NotARepeat(const db::ResultSet& r) {
    const auto col = [&](std::size_t i) { return util::TrimWhitespace(r.rows[0][i].AsString()); };
    return "a record beginning " + col(0) + " " + col(1) + " is on record (end " +
           (col(3).empty() ? std::string("none") : col(2) + " " + col(3)) +
           ") and the punch does not repeat it";
  }

  IOTransferArgs& a_;
  db::Connection& main_;
  IOTransferResult& result_;
  std::string N_;
  Report report_;
  db::Dataset insert_;  // the one text of every new record
};

// The punch queries' parameters: the whole year, every person and punch of the run.
void SetPunchParams(db::Dataset& q, const IOTransferArgs& a) {
  q.SetParam("CurrentYear", a.CurrentYear_YYYY);
  q.SetParam("FromDate", "01/01");
  q.SetParam("ToDate", "12/30");
  q.SetParam("Perno", "");
  q.SetParam("Rec", 0);
  q.SetParam("UnCertain", a.UnCertainState ? 1 : 0);
  q.SetParam("UserCode", a.UserCode);
}

// Marks the punches the permissions still need (TRANSFERED = 1), so the delete leaves them.
// A punch left unmarked would be deleted with its record's punches and lost to the
// permissions, or, kept, paired again into a second record: a failing mark raises, and the
// run keeps nothing.
void MarkPermissionPunches(const IOTransferArgs& a, IOTransferResult& result) {
  if (a.PermissionRecList->empty()) return;
  db::Dataset mark(*a.MainDBConnection);
  mark.SetSQL(
      {" DECLARE @PREC NUMERIC(10, 0),       @PUncertain AS BIT;        SET @PREC = "
       ":PREC;             SET @PUncertain = :PUncertain; UPDATE ClockDmp          "
       "      SET TRANSFERED = 1             WHERE REC = @PREC                  AND "
       "(                              NOT @PUncertain = 1            OR UNCERTAIN = "
       "0               )                     "});
  mark.ParamByName("PUncertain").type = db::ParamType::Bit;
  mark.ParamByName("PREC").type = db::ParamType::Integer;
  mark.SetParam("PUncertain", a.UnCertainState ? 1 : 0);
  for (const std::string& entry : *a.PermissionRecList) {
    const auto rec = util::ParseInt<std::int64_t>(util::TrimLeftView(entry, util::kAsciiSpace),
                                                  util::PlusSign::kAccepted);
    if (!rec || *rec < 0) continue;
    mark.SetParam("PREC", db::Value(*rec));
    mark.ExecSQL();
    ++result.PunchesMarked;
  }
}

// Takes the snapshot's punches that may not leave ClockDmp out of it, reports them (per
// card, day and reason, with their number but without the run's moment, so a rerun with
// nothing new reports nothing), and deletes the rest.
void KeepAndDelete(const IOTransferArgs& a, const RecordWriter& writer,
                   const std::vector<std::string>& seen, const Report& report,
                   IOTransferResult& result) {
  db::Connection& main = *a.MainDBConnection;
  const db::ResultSet snap = main.Execute(
      "Select Cl.Rec, Cl.KartNo, Cl.PerNo, Cl.ClockDate, Cl.ClockTime From #TempRecs As T "
      "Inner Join ClockDmp As Cl On Cl.Rec = T.Rec Where Cl.Transfered = 0" +
      std::string(a.UnCertainState ? " And Cl.UnCertain = 0" : ""));
  const std::set<std::string> seenSet(seen.begin(), seen.end());
  std::vector<std::string> keep;
  // card, person, day, reason -> punches
  std::map<std::tuple<std::string, std::string, std::string, std::string>, int> kept;
  for (const auto& row : snap.rows) {
    const std::string rec = row[0].AsString();
    if (writer.consumed.count(rec)) continue;
    keep.push_back(rec);
    std::string reason;
    if (auto f = writer.failedRecs.find(rec); f != writer.failedRecs.end()) {
      reason = "its record was not written: " + f->second;
    } else if (!seenSet.count(rec)) {
      reason = "no work rule with a work group for the card on that day";
    } else {
      reason = "no calendar day of the person took the punch";
    }
    ++kept[{util::TrimWhitespace(row[1].AsString()), row[2].AsString(),
            Mid(row[3].AsString(), 0, 10), reason}];
  }
  for (std::size_t at = 0; at < keep.size(); at += 500) {
    std::string list;
    for (std::size_t i = at; i < keep.size() && i < at + 500; ++i)
      list += (i > at ? "," : "") + keep[i];
    main.Execute("Delete From #TempRecs Where Rec In (" + list + ")");
  }
  result.PunchesKept = static_cast<int>(keep.size());
  for (const auto& [key, punches] : kept) {
    const auto& [card, perno, day, reason] = key;
    report(perno, "Punches kept in ClockDmp for a later transfer: card " + card + ", day " + day +
                      ", " + std::to_string(punches) + " punch(es); " + reason);
  }
  db::Dataset& del = *a.QClockDmp_Delete;
  del.AddLine(" And Rec In (Select Rec From #TempRecs ) ");
  SetPunchParams(del, a);
  const db::ResultSet before = main.Execute("Select Count(*) From ClockDmp");
  del.ExecSQL();
  const db::ResultSet after = main.Execute("Select Count(*) From ClockDmp");
  result.PunchesDeleted =
      static_cast<int>(before.rows[0][0].AsInteger() - after.rows[0][0].AsInteger());
}

// The step names of a run, as its caller shows them.
void DeclareState(const IOTransferArgs& a, const std::string& text) {
  if (a.ADeclareState) a.ADeclareState(text);
}

// The snapshot of the punches that exist now, in the base connection's #TempRecs: only
// these can leave ClockDmp.
void TakeSnapshot(const IOTransferArgs& a) {
  db::Connection& main = *a.MainDBConnection;
  DeclareState(a, "واكشي اطلاعات ورود و خروج");
  try {
    main.Execute(" Create Table #TempRecs (Id Int IDENTITY(1, 1), Rec Numeric(10, 0)) ");
  } catch (const db::DbError&) {
    // An earlier run on this connection left the table; it is emptied next.
  }
  main.Execute(" Truncate Table #TempRecs ");
  const std::string T = a.TempFileName;
  main.Execute(JoinLines(
      {" Insert Into #TempRecs (Rec) Select Rec From ClockDmp As Cl ",
       " Where (Cl.Transfered = 0) ",
       " And (Cl.PerNo Is Not Null) And (LTrim(RTrim(Cl.PerNo)) <> " + SqlQuoted("") + ") ",
       " And (SubString(Cl.ClockDate, 1, 4) = " + SqlQuoted(a.CurrentYear_YYYY) + ") ",
       " And (SubString(Cl.ClockDate, 6, 5) >= " + SqlQuoted("01/01") + ") ",
       " And (SubString(Cl.ClockDate, 6, 5) <= " + SqlQuoted("12/30") + ") ",
       " And ((Cl.IO_Type = " + SqlQuoted("1") + ") Or (Cl.IO_Type = " + SqlQuoted("2") + "))",
       " And ((Not Exists (Select PerNo From " + T + ")) or (Cl.PerNo In (Select PerNo From " + T +
           ")))"}));
}

// The snapshot's persons in order, cut into runs of whole persons with at least
// PairingPunches punches each (the last run may have fewer): first and last person number.
std::vector<std::pair<std::string, std::string>> PairingRanges(const IOTransferArgs& a) {
  const db::ResultSet persons = a.MainDBConnection->Execute(
      "Select Cl.PerNo, Count(*) From #TempRecs As T Inner Join ClockDmp As Cl On Cl.Rec = T.Rec "
      "Group By Cl.PerNo Order By Cl.PerNo");
  std::vector<std::pair<std::string, std::string>> ranges;
  std::int64_t punches = 0;
  for (const auto& row : persons.rows) {
    const std::string perno = row[0].AsString();
    if (punches == 0)
      ranges.emplace_back(perno, perno);
    else
      ranges.back().second = perno;
    punches += row[1].AsInteger();
    if (punches >= a.PairingPunches) punches = 0;
  }
  return ranges;
}

// Pairs the punches of the snapshot's persons into IoList, reading the pairing query one run
// of persons at a time (in person order, as one read would return them) and asking between
// runs whether to stop. Seen receives every punch the query returned.
void PairPunches(IOTransferArgs& a, TIOList& IoList, std::vector<std::string>& seen,
                 IOTransferResult& result) {
  DeclareState(a, "جفت كردن ورود و خروجها");
  db::Connection& main = *a.MainDBConnection;
  try {
    main.Execute(" Drop Table #PrjCards ");
  } catch (const db::DbError&) {
    // Only a run stopped on this connection leaves the table behind.
  }
  for (const std::string& sql : a.PrjCardsStatements) main.Execute(sql);
  db::Dataset& qio = *a.QConfirmIO;
  std::vector<std::string> IoRecList;
  bool first = true;
  for (const auto& [from, to] : PairingRanges(a)) {
    if (!first) StopWhenRequested(a);
    first = false;
    qio.Close();
    SetPunchParams(qio, a);
    qio.SetParam("FirstPerno", from);
    qio.SetParam("LastPerno", to);
    qio.Open();
    result.PairingRows += qio.RecordCount();
    TTransferUtils::ConfirmIos(qio, *a.Scratch, IoList, IoRecList, &seen);
    qio.Close();
  }
  main.Execute(" Drop Table #PrjCards ");
  result.Records = IoList.Count();
  if (a.LogToFile) {
    a.LogToFile("ConfirmIos RecordCount=>>" + std::to_string(result.PairingRows), "Log");
    a.LogToFile("ConfirmIos IoList.Count=>>" + std::to_string(IoList.Count()), "Log");
  }
}

// The records written in the year database (by a USE on the base connection), then the
// stored halves nobody can complete reported.
void WriteRecords(const IOTransferArgs& a, const TIOList& IoList, RecordWriter& writer,
                  const Report& report, IOTransferResult& result) {
  db::Connection& main = *a.MainDBConnection;
  main.Execute(" USE [" + a.YearDatabaseName + "] ");
  const std::string* person = nullptr;
  for (const TIOinfo& io : IoList.Items()) {
    if (!person || *person != io.Perno) {
      person = &io.Perno;
      StopWhenRequested(a);
    }
    writer.Write(io);
  }
  result.HalvesUnreadable = ReportUnreadableHalves(main, a, report);
  main.Execute(" USE [" + a.BaseDatabaseName + "] ");
}

// The punches that the permissions still need, paired by the special-card query, into
// PermissionRecList.
void FindPermissionPunches(IOTransferArgs& a, const Report& report) {
  DeclareState(a, "واكشي اطلاعات برگه هاي مرخصي ،ماموريت و تاخير سرويس");
  db::Dataset& qp = *a.QPermissionDemark;
  qp.Close();
  SetPunchParams(qp, a);
  qp.SetParam("SPCardType", "0");
  qp.Open();
  DeclareState(a, "تشخيص ابتدا و انتهاي برگه هاي مرخصي ، ماموريت و تاخير سرويس");
  TPermissionList discarded;
  TTransferUtils::ConfirmPermission(qp, a.CurrentYear_YYYY, a.CurrentDate_YYMMDD,
                                    TPerMissionType::prTotal, discarded, *a.PermissionRecList,
                                    *a.Scratch, report);
  qp.Close();
}

}  // namespace

IOTransferResult TTransferUtils::OnIOTransfer(IOTransferArgs& a) {
  IOTransferResult result;
  db::Connection& main = *a.MainDBConnection;
  TakeSnapshot(a);
  TIOList IoList;
  std::vector<std::string> seen;
  PairPunches(a, IoList, seen, result);

  // The writes, the marks and the delete land together: one transaction of the base
  // connection (the year database's statements run there after a USE). A run cut short
  // leaves ClockDmp and IoInfo as they were, and the next run repeats it.
  std::vector<std::pair<std::string, std::string>> reports;  // written after the commit
  const Report report = [&](const std::string& perno, const std::string& text) {
    reports.emplace_back(perno, text);
  };
  DeclareState(a, "درج/ويرايش ورود و خروجها");
  db::RunInTransaction(
      main,
      [&] {
        const dates::DateTime now = ServerMoment(main, " Select GetDate() DateStr ");
        RecordWriter writer(a, result, TZelCalcUtils::ConciseDateStr(now), report);
        WriteRecords(a, IoList, writer, report, result);
        FindPermissionPunches(a, report);
        DeclareState(a, "مقداردهي فيلد transfer");
        MarkPermissionPunches(a, result);
        StopWhenRequested(a);
        // Punches of the snapshot that no written record took stay for a later run.
        DeclareState(a, "حذف ركوردهاي انتقال داده شده");
        KeepAndDelete(a, writer, seen, report, result);
      },
      [&] { main.Execute(" USE [" + a.BaseDatabaseName + "] "); });
  const auto& write = a.AInsertCalcLogOnce ? a.AInsertCalcLogOnce : a.AInsertCalcLog;
  for (const auto& [perno, text] : reports) {
    if (write) write(perno, text);
  }
  try {
    main.Execute(" Drop Table #TempRecs ");
  } catch (const db::DbError&) {
    // The session drops it when the connection closes.
  }
  DeclareState(a, "");
  return result;
}

}  // namespace zel::transfer
