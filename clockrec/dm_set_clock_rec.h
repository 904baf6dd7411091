// The clock-record data module: labels every untransferred punch of the year in ClockDmp
// as an entry ("1"), an exit ("2") or undecided ("0") and says how sure the label is
// (UNCERTAIN), from the person's rule, work group, calendar or shift, the last known entry
// or exit and the thresholds of table System.
// One module per run, created, used and freed by one thread (the schedule runner or the
// command line); it shares nothing with other modules.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dates/zel_calc_utils.h"
#include "db/client.h"

namespace zel::clockrec {

// The last known entry or exit of a person before a punch.
struct TLastIo {
  std::string Person;
  std::string DDate;  // "MM/DD"
  std::string TTime;  // "HH:NN"
  bool Uncertain = false;
  std::string IoType = "0";
};

// What a walk did with the punches it read.
struct ClockRecCounts {
  int entries = 0;     // labelled "1"
  int exits = 0;       // labelled "2"
  int undecided = 0;   // labelled "0"
  int unsure = 0;      // of the labelled ones, UNCERTAIN 1
  int unlabelled = 0;  // left as they were (malformed date or time, unknown last label)
  int malformed = 0;   // of the unlabelled ones, with a malformed date or time text
  // Bad punches kept back and reported in CSSLog (once: a punch reported by an earlier run
  // counts here, but is not reported again): a malformed date or time, no person number, a
  // person not in Person whom the person list leaves out, a year without a year database.
  // Also those the walk does not read.
  int skipped = 0;
  int Labelled() const { return entries + exits + undecided; }
};

// True when the texts have the punch layouts "YYYY/MM/DD" of a real day (months 1-6 of 31
// days, 7-11 of 30, month 12 of 29 or 30 as the year is leap) and "HH:NN" (hour 0..23,
// minute 0..59).
bool IsPunchDateTime(const std::string& ClockDate, const std::string& ClockTime);

class TDmSetClockRec {
 public:
  // data_dir: the embedded engine's data folder; odbc_driver: the ODBC driver for SQL
  // Server (empty = the default). Connects to nothing until InitialValues.
  explicit TDmSetClockRec(std::string data_dir = {}, std::string odbc_driver = {});
  ~TDmSetClockRec();
  TDmSetClockRec(const TDmSetClockRec&) = delete;
  TDmSetClockRec& operator=(const TDmSetClockRec&) = delete;

  // Stores the settings, connects to the base and the year database, prepares the
  // queries (the person table named in the punch query) and reads the nine thresholds of
  // System. Raises zel::db::DbError when a connection or a query fails.
  void InitialValues(const std::string& newCurrentYear, const std::string& newSqlUserName,
                     const std::string& newSqlUserPassword, const std::string& newDataBaseName,
                     const std::string& newSQLServerName, const std::string& newTempFileName,
                     int newScheduleId);
  // Progress lines of every decision go to the log "Log" only while this is on.
  void SetEnableLog(bool on) { MyZelUtils.SetEnableLog(on); }

  // Walks the untransferred punches of the year of the run's persons in card, date and
  // time order and labels each one; a label that changes is written before the next punch
  // is read (a card's writes in one transaction), one that does not is not. Bad punches are
  // kept and reported once in CSSLog (see ClockRecCounts::skipped): one with a malformed
  // date or time stays unlabelled, one without person number is undecided ("0", unsure),
  // and those no walk reads are reported by one query of the run. Neither they nor a
  // punch of a card without rule that day count as another punch's last entry or exit.
  // Ends early, between cards, when StopRequested says so (Stopped()). Any database
  // failure raises zel::db::DbError (punches labelled before keep their labels).
  void MySetClockDumpRecords();
  // Labels the current row of Table (a row of the punch query with its REC) and writes the
  // label to ClockDmp when it changes; Table's row is left as read.
  void SetClockDumpRec(db::Dataset& Table);

  // Finds the first rule of the card on day D ("MM/DD") among the year's rules (read once a
  // walk); true when there is one.
  bool FindCurrentRule(const std::string& D, const std::string& Card);
  void OpenCurrentWorkGroup(int Code);
  // Makes the day's calendar item (or shift) the current item; false when there is none.
  bool FindCurrentCalItem(const std::string& D, const std::string& CalCode,
                          const std::string& GShCode, const std::string& Perno);
  // The latest entry or exit before D + T in the window of GetPrevDateTime, from IoInfo and
  // from the punches labelled earlier; true when one was found.
  bool FindLastIo(const std::string& Perno, const std::string& D, const std::string& T,
                  TLastIo& LastIo);
  // Start "MM/DDHH:NN" of the last-IO window (empty: the year's start); sets
  // PrevWindowDoubled when the earlier of two windows was taken.
  std::string GetPrevDateTime(const std::string& Perno, const std::string& D, const std::string& T);
  // The calendar's verdict on a punch: -1 no times, 0 no rule, 1 entry, 2 exit,
  // 3 no item, 4 far from every boundary, 5 holiday.
  int IoTypeFromCalendar(const std::string& Perno, const std::string& D, const std::string& S,
                         const std::string& T);

  const ClockRecCounts& Counts() const { return counts_; }
  // The last walk ended early because StopRequested returned true.
  bool Stopped() const { return stopped_; }

  // Asked before each card's punches; true ends the walk there. Empty: never. Called on the
  // walking thread.
  std::function<bool()> StopRequested;
  bool PrevWindowDoubled() const { return doubled_; }

  // Thresholds in minutes, from System.
  int iiMaxServiceLate = 0, iiMaxMor = 0, iiMaxPresence = 0, iiMaxAbsence = 0, iiMinAbsence = 0,
      iiBeforeEnter = 0, iiAfterEnter = 0, iiBeforeExit = 0, iiAfterExit = 0;

  std::string CurrentYear;
  std::string DataBaseName;
  std::string TempFileName;
  int ScheduleId = 0;
  std::string DbBaseInfoConnectionString;
  std::string DbTimeAttendanceConnectionString;

 private:
  std::unique_ptr<db::Connection> Open(const std::string& connection_string) const;
  // Gives each query its connection, text and parameter types.
  void PrepareQueries();
  void SetSQLTextForDataSets();
  void SetSystemVariables();
  void Log(std::string_view text) const {
    if (LogOn()) MyZelUtils.LogText(std::string(text), "Log");
  }
  // Whether progress lines are written (lines built per punch only then).
  bool LogOn() const { return MyZelUtils.EnableLog(); }
  // A punch's label, and whether it was decided by the thresholds and calendar (not by
  // strict alternation).
  struct Label {
    std::string io_type;
    bool uncertain = false;
    bool by_thresholds = true;
  };
  // Writes the label (when it changes) and counts it.
  void WriteCounted(db::Dataset& Table, const Label& label);
  // The label of a punch of Perno at D T with special card type S; none when the last
  // entry or exit has no type.
  std::optional<Label> DecideLabel(const std::string& Perno, const std::string& D,
                                   const std::string& T, const std::string& S);
  Label Alternate(const char* step, const std::string& io_type);
  Label LabelAfterExit(const std::string& Perno, const std::string& D, const std::string& T,
                       const TLastIo& LastIo, bool intelligent);
  Label LabelAfterEntry(const std::string& Perno, const std::string& D, const std::string& T,
                        const TLastIo& LastIo, bool intelligent);
  Label FirstLabel(const std::string& Perno, const std::string& D, const std::string& T,
                   const std::string& S, bool intelligent);
  enum class KeptReason { kMalformed, kNoPerson, kNotInPerson, kNoYear };
  // Reports the current punch of Table once in CSSLog as kept back, and counts it.
  void ReportKept(KeptReason reason, const db::Dataset& Table);
  // Reports the run's punches that no walk reads or that belong to no person, and notes
  // them in unreadable_.
  void ReportUnreadablePunches();
  std::set<std::int64_t> unreadable_;  // REC of the punches reported by the run
  // The punch reports CSSLog holds, read once a run ("PerNo|Comment").
  void LoadKeptReports();
  bool kept_reports_loaded_ = false;
  std::set<std::string> kept_reports_;
  // Notes a punch's label for writing by its REC when it changes (during a walk the card's
  // labels are written together by CommitLabels, else at once) and keeps the held row in
  // step; Table's own row is left as read.
  void WriteLabel(db::Dataset& Table, const std::string& io_type, int uncertain);
  // Writes the noted labels in one transaction.
  void CommitLabels();
  struct PendingLabel {
    std::int64_t rec = 0;
    std::string io_type;
    int uncertain = 0;
  };
  std::vector<PendingLabel> pending_;
  bool walking_ = false;
  // Forgets what was read for a walk: rules, work groups, calendars and shifts are read
  // again by the next one.
  void ResetRunCaches();
  // Lets go of the walk's rows and of what was read for it.
  void EndWalk();

  // The year's rules, read once a walk in the order the server returns them (the order
  // in which a rule query of one card or person meets them), indexed by card and person.
  struct RuleRow {
    std::string begin, end;  // "MM/DD", trailing blanks dropped
    bool has_end = false;    // a rule without an end day holds no day
    db::Value group;         // WorkGroup
  };
  void ReadRules();
  // The first rule of the list that holds day D, or nullptr.
  const RuleRow* FirstRuleOn(const std::vector<size_t>* rules, const std::string& D) const;
  // The first rule of the card on day D (cards trimmed and compared without case), of the
  // person as stored (the padded person number) or of the trimmed person number.
  const RuleRow* RuleOfCard(const std::string& Card, const std::string& D);
  const RuleRow* RuleOfStoredPerson(const std::string& Perno, const std::string& D);
  const RuleRow* RuleOfTrimmedPerson(const std::string& Perno, const std::string& D);
  bool rules_read_ = false;
  std::vector<RuleRow> rules_;
  std::unordered_map<std::string, std::vector<size_t>> rules_by_card_, rules_by_stored_person_,
      rules_by_trimmed_person_;
  const RuleRow* current_rule_ = nullptr;  // the rule FindCurrentRule found

  // The rows of the walk, by position in QClockDmp, with the labels given so far; and the
  // positions of each person's readable rows (by PersonKey), by moment and REC.
  struct HeldPunch {
    std::int64_t rec = 0;
    std::string card, day, time, io_type;  // day "MM/DD"
    std::string moment;                    // day + time
    std::int64_t uncertain = 0;
    bool readable = false;
    signed char has_rule = -1;  // whether the card has a rule that day; -1 not yet known
  };
  static std::string PersonKey(const std::string& Perno);
  void HoldRows();
  std::vector<HeldPunch> held_;
  std::map<std::string, std::vector<int>> held_by_person_;
  // The latest of the person's held punches in [from, to) that counts as a last entry or
  // exit, or nullptr.
  const HeldPunch* LastHeldPunch(const std::string& Perno, const std::string& from,
                                 const std::string& to);
  // Whether a rule holds the card ("1001") on day D ("MM/DD").
  bool CardHasRule(const std::string& Card, const std::string& D);
  bool stopped_ = false;
  // "MM/DDHH:NN" end of a day before the punch, by the person's work group on that day.
  struct DayEnd {
    std::string end;    // EndDate + EndTime
    std::string begin;  // DBeginDate + DBeginTime (read for the day before only)
  };
  DayEnd EndOfDay(const std::string& Perno, const std::string& Dn, int n);
  DayEnd ReadEndOfDay(const std::string& Perno, const std::string& Dn, int n);
  struct ItemDay {
    std::string begin_date, begin_time, end_date, end_time;
  };
  // The (CalCode, GShCode) of a work group, read once a walk; none when it has no row.
  const std::optional<std::pair<std::string, std::string>>& GroupCalendars(
      const std::string& group);
  // The days of a calendar, or of a shift group for the person, read once.
  const std::map<std::string, ItemDay>& CalendarEnds(const std::string& cal);
  const std::map<std::string, ItemDay>& ShiftEnds(const std::string& gsh,
                                                  const std::string& padded);
  struct IoMoment {
    std::string moment, date, time, type;  // moment = date + time
  };
  // The person's entries and exits on record, by moment (ties in the order read).
  const std::vector<IoMoment>& PersonIoInfo(const std::string& Perno);
  std::string ItemMoment(const char* date_column, const char* time_column) const;
  // A field of the day's item last found (NULL when there is no row).
  db::Value ItemField(const char* column) const;

  // Calendar and shift items, read once a walk: the rows of an item query by day.
  struct ItemTable {
    std::vector<std::string> columns;
    std::map<std::string, std::vector<db::Value>> rows;  // by DBEGINDATE (first row of a day)
  };
  // The day's item as a query found it: its columns and its row (nullptr: no row).
  struct ItemView {
    const std::vector<std::string>* columns = nullptr;
    const std::vector<db::Value>* row = nullptr;
  };
  static ItemView DayOf(const ItemTable& table, const std::string& D);
  static ItemTable ReadItems(db::Dataset& q);
  static std::map<std::string, ItemDay> ReadDays(const db::ResultSet& r);
  // Finds the day's item among the items read once; true when there is one.
  bool QueryCalItem(const std::string& D, const std::string& CalCode, const std::string& GShCode,
                    const std::string& Perno);
  // The item of calendar CalCode on D.
  ItemView CalendarItem(const std::string& CalCode, const std::string& D);
  // The shift of a shift-group person on D: the person's own, else the group's; 0 none.
  std::int64_t ShiftOfDay(int gsh, const std::string& D, const std::string& Perno);
  // The item of shift `shift` on D.
  ItemView ShiftItem(std::int64_t shift, const std::string& D);
  std::map<std::int64_t, ItemTable> calendar_tables_;                       // by calendar code
  std::map<std::pair<std::int64_t, std::string>, ItemTable> shift_tables_;  // by shift, day
  // D1..D31 of GShItem by (shift group, month), and of PerShifts for shift_person_; none:
  // no row.
  using ShiftDays = std::optional<std::vector<std::int64_t>>;
  std::map<std::pair<int, int>, ShiftDays> group_shift_days_, person_shift_days_;
  std::string shift_person_;
  std::map<std::int64_t, std::string> shift_status_;  // ShiftStatus by shift code
  ItemView current_item_;

  dates::TZelCalcUtils MyZelUtils{0};
  std::string SqlUserName, SqlUserPassword, SqlServerName;
  std::string data_dir_, odbc_driver_;
  std::unique_ptr<db::Connection> base_, year_;

  std::unique_ptr<db::Dataset> QClockDmp, QSystem, AdoQWorkgroup, AdoQCurrentWorkGroup, AdoQWShifts,
      AdoQCurrentCalItem, AdoQPerShifts, AdoQGShItem;
  // Read-once caches of the person being walked.
  std::string day_end_person_;
  std::map<std::pair<std::string, bool>, DayEnd> day_ends_;
  // The days of a shift group (by group, then person) from walk_first_day_ to
  // walk_last_day_: the days a walk's punches look back on, else the whole year.
  std::map<std::string, std::map<std::string, std::map<std::string, ItemDay>>> shift_days_;
  std::string walk_first_day_ = "01/01", walk_last_day_ = "12/31";
  // Read once per walk: calendar days by calendar code, (CalCode, GShCode) by work group.
  std::map<std::string, std::map<std::string, ItemDay>> calendar_days_;
  std::map<std::string, std::optional<std::pair<std::string, std::string>>> group_calendars_;
  std::map<std::int64_t, std::pair<std::string, std::string>> group_codes_;
  bool io_loaded_ = false;
  std::string io_person_;
  std::vector<IoMoment> io_rows_;
  int current_work_group_ = -1;  // the code AdoQCurrentWorkGroup is open on; -1 none
  bool doubled_ = false;
  ClockRecCounts counts_;
};

}  // namespace zel::clockrec
