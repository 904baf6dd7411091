// The transfer's pure rules: rounding of punch times, record durations, the record
// statements and failure texts, and the floating shift of schedule-based permission ends.
#include "transfer/transfer_utils.h"

#include <gtest/gtest.h>

#include "db/client.h"
#include "testing/faulty_connection.h"

namespace zel::transfer {
namespace {

TEST(TransferUtils, AdjustTimeRoundsToTheStep) {
  const struct {
    RoundSettings s;
    const char* in;
    const char* out;
  } cases[] = {
      {{1, 10, 5}, "07:54", "07:50"}, {{1, 10, 5}, "07:55", "08:00"},
      {{1, 15, 8}, "08:07", "08:00"}, {{1, 15, 8}, "08:08", "08:15"},
      {{1, 10, 5}, "23:57", "24:00"},  // the step past the day's end is kept as the product does
      {{0, 10, 5}, "07:55", "07:55"}, {{1, 0, 5}, "07:55", "07:55"},
      {{1, 10, 5}, "  ", ""},         {{1, 10, 5}, "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TTransferUtils::AdjustTime(c.in, c.s), c.out) << c.in;
}

// A punch rounded up to the day's end is stored at 00:00 of the next day, in the real
// calendar of the year; the year's last day keeps the record in its year.
TEST(TransferUtils, RoundedMomentRollsPastMidnightIntoTheNextDay) {
  const RoundSettings on{1, 10, 5};
  const struct {
    const char *date, *time, *year, *out_date, *out_time;
  } cases[] = {
      {"05/10", "23:58", "1399", "05/11", "00:00"},
      {"05/10", "23:54", "1399", "05/10", "23:50"},
      {"06/31", "23:55", "1399", "07/01", "00:00"},
      {"07/30", "23:59", "1399", "08/01", "00:00"},
      {"12/29", "23:58", "1399", "12/30", "00:00"},  // 1399 is a leap year
      {"12/30", "23:58", "1399", "12/30", "23:59"},  // the leap year's last day
      {"12/29", "23:58", "1400", "12/29", "23:59"},  // a common year's last day
      {"", "", "1399", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TTransferUtils::RoundedMoment(c.date, c.time, on, c.year),
              std::make_pair(std::string(c.out_date), std::string(c.out_time)))
        << c.date << " " << c.time << " " << c.year;
  }
  // Rounding off: the time as it is.
  EXPECT_EQ(TTransferUtils::RoundedMoment("05/10", "23:58", {0, 10, 5}, "1399"),
            std::make_pair(std::string("05/10"), std::string("23:58")));
}

// A side taken from the stored half-record is written as stored (the update finds the row
// by it, whatever the rounding is now); the punch's side is rounded.
TEST(TransferUtils, StoredMomentsKeepTheStoredSide) {
  const RoundSettings on{1, 10, 5};
  TIOinfo io;
  io.EnterDate = "05/10";
  io.EnterTime = "07:54";
  io.ExitDate = "05/10";
  io.ExitTime = "15:58";
  const struct {
    bool enter_stored, exit_stored;
    const char *E, *X;
  } cases[] = {
      {false, false, "07:50", "16:00"},
      {true, false, "07:54", "16:00"},
      {false, true, "07:50", "15:58"},
  };
  for (const auto& c : cases) {
    io.EnterStored = c.enter_stored;
    io.ExitStored = c.exit_stored;
    const RecordMoments m = TTransferUtils::StoredMoments(io, on, "1399");
    EXPECT_EQ(m.E, c.E);
    EXPECT_EQ(m.X, c.X);
  }
}

TEST(TransferUtils, DurationRunsFromRoundedEntryToRoundedExit) {
  const struct {
    const char *enter_date, *exit_date, *E, *X;
    int minutes;
  } cases[] = {
      {"05/10", "05/10", "07:50", "16:00", 490},
      {"05/10", "05/11", "22:00", "06:00", 480},  // across midnight
      {"05/10", "", "07:50", "", 0},              // entry alone
      {"05/10", "05/10", "15:00", "15:00", 0},    // exit alone: begin = end
      {"06/31", "07/01", "23:00", "01:00", 120},  // across a month end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TTransferUtils::RecordDuration({c.enter_date, c.E, c.exit_date, c.X}), c.minutes)
        << c.enter_date << c.E;
  }
  // A time that cannot be read fails the record, not the run: the caller catches it.
  EXPECT_ANY_THROW(TTransferUtils::RecordDuration({"05/10", "12:xx", "05/10", "15:00"}));
}

TIOinfo Record() {
  TIOinfo io;
  io.Perno = "      1001";
  io.EnterDate = "05/10";
  io.EnterTime = "07:25";
  io.ExitDate = "05/10";
  io.ExitTime = "15:10";
  io.BEnterTime = "07:25";
  io.BExitDate = "05/10";
  io.BExitTime = "15:10";
  io.CalDate = "05/10";
  io.EnterMachineNo = 1;
  io.EnterComCode = 1;
  io.ExitMachineNo = 2;
  io.ExitComCode = 1;
  io.FPM = 2;
  return io;
}

// Keeps the statements sent through it, with their parameters written in.
class SentTexts final : public db::Connection {
 public:
  db::ResultSet Execute(const std::string& sql, const std::vector<db::Param>& params,
                        int) override {
    texts.push_back(sql);
    written.push_back(testing::WithParamsWritten(sql, params));
    return {};
  }
  std::vector<std::string> PrimaryKeyColumns(const std::string&) override { return {}; }
  std::string EngineName() const override { return "test"; }
  std::vector<std::string> texts, written;
};

TEST(TransferUtils, RecordStatementsAsTheServerReceivesThem) {
  TIOinfo io = Record();
  // A new record: one text for every record, the values bound to it.
  SentTexts server;
  db::Dataset insert(server);
  insert.SetSQL(TTransferUtils::RecordInsertText(true));
  TTransferUtils::SetRecordInsertParams(insert, io, {"05/10", "07:30", "05/10", "15:10"}, 460,
                                        "000", "1399/05/10", "10:15:30", true, "1399");
  insert.ExecSQL();
  TIOinfo other = io;
  other.Perno = "      1002";
  TTransferUtils::SetRecordInsertParams(insert, other, {"05/11", "08:00", "05/11", "16:00"}, 480,
                                        "000", "1399/05/11", "10:15:31", true, "1399");
  insert.ExecSQL();
  ASSERT_EQ(server.texts.size(), 2U);
  EXPECT_EQ(server.texts[0], server.texts[1]);
  EXPECT_EQ(server.written[0],
            "INSERT INTO IOInfo\n"
            "(PerNo,BeginDate,BeginTime,EndDate,EndTime,Duration,BBeginTime,BEndDate,\n"
            "BEndTime, BeginClock, BeginComCode, EndClock, EndComCode, FPM, EnterPicId, "
            "ExitPicId, LastEditUserCode, LastEditDate, EnterFromWeb, ExitFromWeb)\n"
            "VALUES\n"
            "('      1001','05/10','07:30','05/10','15:10',460,'07:25','05/10','15:10',\n"
            "1,1,2,1,2\n"
            ", 0, 0, '000', '05/10', 0, 0)\n"
            " Insert Into ZELLog..IOInfo_Log \n"
            " (PerNo_N, BeginDate_N, BeginTime_N, EndDate_N, EndTime_N, Duration_N, "
            "BBeginTime_N, BEndDate_N,\n"
            " BEndTime_N, BeginClock_N, BeginComCode_N, EndClock_N, EndComCode_N, FPM_N, "
            "EnterPicId_N, ExitPicId_N,\n"
            " LastEditUserCode_N, LastEditDate_N, \n"
            " UserCode, ActionDate, ActionTime, ActionType, RecYear, EnterFromWeb_N, "
            "ExitFromWeb_N) \n"
            "VALUES\n"
            "('      1001','05/10','07:30','05/10','15:10',460,'07:25','05/10','15:10',\n"
            "1,1,2,1,2\n"
            ", 0, 0, '000', '05/10', '000', '1399/05/10', '10:15:30', 1, '1399', 0, 0)\n");
  // Without the log copy the text ends after the record's own row.
  db::Dataset plain(server);
  plain.SetSQL(TTransferUtils::RecordInsertText(false));
  TTransferUtils::SetRecordInsertParams(plain, io, {"05/10", "07:30", "05/10", "15:10"}, 460, "000",
                                        "1399/05/10", "", false, "1399");
  plain.ExecSQL();
  EXPECT_EQ(server.written.back().substr(server.written.back().find("VALUES")),
            "VALUES\n"
            "('      1001','05/10','07:30','05/10','15:10',460,'07:25','05/10','15:10',\n"
            "1,1,2,1,2\n"
            ", 0, 0, '000', '05/10', 0, 0)\n");

  // A stored half completed: the values are in the text.
  io.UpdateMode = TUpdateMode::umUpdate;
  io.BEnterTime = "07:30";
  EXPECT_EQ(TTransferUtils::RecordStatement(io, {"05/10", "07:30", "05/10", "15:10"}, 460, "000",
                                            "1399/05/10", "", false, "1399"),
            "UPDATE IOInfo SET\n"
            "BeginDate='05/10',BeginTime='07:30',EndDate='05/10',EndTime='15:10',Duration='460',"
            "BBeginTime='07:30',BEndDate='05/10',BEndTime='15:10',BeginClock=1,BeginComCode=1,"
            "EndClock=2,EndComCode=1,Fpm = Fpm+2\n"
            ", EnterPicId = 0, ExitPicId = 0\n"
            ", LastEditUserCode = '000', LastEditDate = '05/10' \n"
            ", EnterFromWeb = 0, ExitFromWeb = 0 \n"
            "Where \n"
            "PerNo='      1001' And \n"
            "((BeginDate='05/10' And BeginTime='07:30')Or(EndDate='05/10' And EndTime='15:10'))\n");
}

TEST(TransferUtils, FailureTexts) {
  const TIOinfo io = Record();
  EXPECT_EQ(TTransferUtils::RecordFailureText(
                io, "Violation of PRIMARY KEY constraint 'PK_IoInfo'. Cannot insert duplicate key"),
            "ورود و خروج قبلاً ثبت شده : شماره پرسنلي       1001 تاريخ ورود: 05/10 زمان ورود: "
            "07:25");
  EXPECT_EQ(TTransferUtils::RecordFailureText(io, "Lock request time out"),
            "Lock request time out Perno:       1001 Enter: 05/10 07:25  Exit: 05/10 15:10 "
            "CalcDate: 05/10 UpdateMode: 0");
}

TEST(TransferUtils, FloatShiftedTimeFollowsTheFirstEntry) {
  Tci day;
  day.DBEGINTIME = "07:00";
  Twg wg;
  wg.FLOATCAL = true;
  wg.FLOATVAL = 60;
  const struct {
    const char* first_io;
    bool over_float;
    const char* time;
    const char* expected;
  } cases[] = {
      {"05/1007:40", false, "15:00", "05/1015:40"},
      {"05/1008:30", false, "15:00", "05/1016:00"},  // capped at FLOATVAL
      {"05/1008:30", true, "15:00", "05/1015:00"},   // over the cap: no shift
      {"05/1006:30", false, "15:00", "05/1015:00"},  // early: no shift
      {"05/1007:40", false, "23:50", "05/1100:30"},  // past midnight: next day
      {"", false, "15:00", "05/1015:00"},
  };
  for (const auto& c : cases) {
    Tcl cl;
    cl.FirstIo = c.first_io;
    wg.OverFloat = c.over_float;
    EXPECT_EQ(TTransferUtils::FloatShiftedTime("05/10", c.time, "05/10", day, wg, cl, "1399"),
              c.expected)
        << c.first_io << " " << c.time;
  }
}

}  // namespace
}  // namespace zel::transfer
