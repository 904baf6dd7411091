// The record transfer's routines: rounding of punch times, the pairing of a person's
// labelled entry and exit punches into entry/exit records (the IO transfer), and the
// pairing of special-card punches into permission requests. Class-level operations over
// the scratch records and connections their caller hands in; one transfer run uses them on
// one thread, with that thread's connections.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zel::db {
class Connection;
class Dataset;
}  // namespace zel::db

namespace zel::transfer {

enum class TIO_Type { ioNone, ioEnter, ioExit, ioComplete };
enum class TUpdateMode { umInsert, umUpdate };
enum class TPerMissionType { prTotal, prMor, prMam, prSlate };
enum class TDayStatus { dsToday, dsYesterday, dsTomorrow };

// One punch.
struct Tcl {
  std::string KartNo, Perno, REC;
  std::string ClockDate;  // "MM/DD"
  std::string ClockTime;
  TIO_Type IO_TYPE = TIO_Type::ioNone;
  int SPCARDTYPE = 0;
  std::string TRANSFERED, ClockKey, SpecCardNo;
  int MachineNo = 0, ComCode = 0;
  bool Uncertain = false;
  std::string FirstIo;  // "MM/DDHH:NN" or empty
  int FPM = 0;
  std::int32_t PicId = 0, FromWeb = 0;
  std::string BClockDate, BClockTime;
};

// One calendar item.
struct Tci {
  std::string DBEGINDATE, DBEGINTIME, DENDDATE, DENDTIME, ENDDATE, ENDTIME;
  int HOLIDAY = 0;
  std::string EBEGINDATE, EBEGINTIME, EENDDATE, EENDTIME, BBEGINDATE, BBEGINTIME, BENDDATE,
      BENDTIME;
  TDayStatus Status = TDayStatus::dsToday;
};

// One stored IoInfo row.
struct Tio {
  std::string BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, BBEGINTIME, BENDDATE, BENDTIME;
  int BEGINCLOCK = 0, ENDCLOCK = 0, BeginComCode = 0, EndComCode = 0;
  std::int32_t EnterPicId = 0, ExitPicId = 0, EnterFromWeb = 0, ExitFromWeb = 0;
};

// Work-group settings.
struct Twg {
  bool FLOATCAL = false;
  std::int32_t FLOATVAL = 0;
  int IOPairing = 0;
  bool OverFloat = false;
};

// One IoInfo row being built.
struct TIOinfo {
  std::string Perno, EnterDate, EnterTime, ExitDate, ExitTime, BEnterTime, BExitDate, BExitTime,
      CalDate;
  TIO_Type IOType = TIO_Type::ioNone;
  TUpdateMode UpdateMode = TUpdateMode::umInsert;
  std::string REC;
  int SpecCardType = 0, EnterMachineNo = 0, EnterComCode = 0, ExitMachineNo = 0, ExitComCode = 0,
      FPM = 0;
  std::int32_t EnterPicId = 0, ExitPicId = 0, EnterFromWeb = 0, ExitFromWeb = 0;
  // The punches (ClockDmp.REC) that went into the record: they leave ClockDmp only when the
  // record is on file.
  std::vector<std::string> Recs;
  // The punches that gave the entry and the exit (empty for a side taken from the stored
  // half-record, and for the entry of an exit alone).
  std::string EnterRec, ExitRec;
  // The side comes from the stored half-record the record completes: it is written as
  // stored, and the update finds the stored row by it.
  bool EnterStored = false, ExitStored = false;
};

// A record's begin and end as stored: rounded times ("" for a missing side), and the dates
// they fall on.
struct RecordMoments {
  std::string EnterDate, E, ExitDate, X;
};

// One permission request being built.
struct TPermissioninfo {
  std::string Perno, BEGINDATE, BEGINTIME, ENDDATE, ENDTIME, CalDate, ClockKey, SpecCardNo;
  bool Uncertain = false;
  std::int32_t Rec1 = 0, Rec2 = 0;
  std::int16_t ShiftType = 0;
};

// Owning lists; items are appended as copies.
class TIOList {
 public:
  void AddIO(const TIOinfo& item) { items_.push_back(item); }
  int Count() const { return static_cast<int>(items_.size()); }
  TIOinfo Item(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  const std::vector<TIOinfo>& Items() const { return items_; }

 private:
  std::vector<TIOinfo> items_;
};

class TPermissionList {
 public:
  void AddPermission(const TPermissioninfo& item) { items_.push_back(item); }
  int Count() const { return static_cast<int>(items_.size()); }
  TPermissioninfo Item(int index) const { return items_.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<TPermissioninfo> items_;
};

// Raised by a transfer step that stopped on request (between persons): the step was
// abandoned whole, its writes rolled back, nothing marked and nothing deleted.
class TransferStopped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The name of the step now running.
using TTransferUtilsDeclareState = std::function<void(const std::string& state)>;
// One calculation-log row: person number and comment.
using TTransferUtilsInsertCalcLogTable =
    std::function<void(const std::string& PerNo, const std::string& Comment)>;

// The scratch records of a transfer module, which keep their values from row to row and
// between the routines of one run.
struct TransferScratch {
  Tcl cl, nx, pr;
  Tci ci, yesCi, yes2Ci, tomCi;
  Tio IO, yesIo, tomIo;
  Twg wg;
};

// The rounding settings of table SYSTEM.
struct RoundSettings {
  int Round = 0, RoundVal = 0, RoundBound = 0;
};

// What an IO transfer run did.
struct IOTransferResult {
  int PairingRows = 0;       // rows of the pairing query
  int Records = 0;           // records built
  int Inserted = 0;          // new IoInfo rows
  int Completed = 0;         // stored half-records completed
  int Failed = 0;            // records not written (duplicates included)
  int Duplicates = 0;        // of them, already on record
  int PunchesDeleted = 0;    // punches removed from ClockDmp
  int PunchesMarked = 0;     // punches kept with TRANSFERED = 1 for the permissions
  int PunchesKept = 0;       // punches of the run left untouched and reported
  int HalvesUnreadable = 0;  // stored half-records whose moment cannot be read, reported
};

// Everything one IO transfer run works with. The connections stay open for the whole run:
// the snapshot table #TempRecs lives in the base connection's session.
struct IOTransferArgs {
  bool UnCertainState = false;  // true: certain punches only
  std::vector<std::string>* PermissionRecList = nullptr;
  TransferScratch* Scratch = nullptr;
  bool EnableSystemLog = false;
  std::string UserCode = "000";
  std::string CurrentYear_YYYY;
  std::string CurrentDate_YYMMDD;  // "YYYY/MM/DD"
  std::string TempFileName = "CSSPerTemp";
  std::string BaseDatabaseName;  // for switching the base connection between databases
  std::string YearDatabaseName;
  db::Connection* MainDBConnection = nullptr;
  db::Connection* YearDBConnection = nullptr;
  RoundSettings Rounding;
  db::Dataset* QPermissionDemark = nullptr;
  db::Dataset* QConfirmIO = nullptr;  // the pairing query (QConfirmIOText)
  // The statements that make the pairing query's #PrjCards (QPrjCardsText), placeholders
  // replaced.
  std::vector<std::string> PrjCardsStatements;
  // The pairing query reads runs of whole persons with at least this many punches each; a
  // stop is asked for between them.
  std::int64_t PairingPunches = 2000;
  db::Dataset* QClockDmp_Delete = nullptr;
  TTransferUtilsDeclareState ADeclareState;
  TTransferUtilsInsertCalcLogTable AInsertCalcLog;
  // A report written only when the person has no calculation-log row with the same comment
  // (kept punches, failed records: reported once, again when the reason changes); none:
  // AInsertCalcLog.
  TTransferUtilsInsertCalcLogTable AInsertCalcLogOnce;
  // Asked between the pairing's runs of persons and between persons as records are
  // written; true abandons the run (TransferStopped). Empty: never.
  std::function<bool()> StopRequested;
  // The file-log writer of the "Log" lines (base name, text); none: not written.
  std::function<void(const std::string&, const std::string&)> LogToFile;
};

// What one permission preparation and transfer of a kind did.
struct PermissionTransferResult {
  int Prepared = 0;   // requests written into the intermediate table (clock and web)
  int Moved = 0;      // rows added to the kind's permission tables
  int Uncertain = 0;  // requests left waiting as uncertain
  int Collided = 0;   // requests left in collision with a permission on record
  int Reported = 0;   // requests reported and not written
};

// Everything one permission preparation and transfer work with (the service's choices:
// every source on, the whole year, all persons of the person table, user "000").
struct PermissionArgs {
  TPerMissionType PerMissionType = TPerMissionType::prMor;
  bool UnCertainState = false;  // preparation: leave uncertain punches out
  std::vector<std::string>* PermissionRecList = nullptr;
  TransferScratch* Scratch = nullptr;
  bool ExistWebFields = false;
  bool WebTablesExist = false;
  std::string DataBaseName;        // the base database
  std::string CurrentYear_YYYY;    // "1399"
  std::string CurrentDate_YYMMDD;  // "YYYY/MM/DD"
  std::string TempFileName = "CSSPerTemp";
  db::Connection* MainDBConnection = nullptr;
  db::Connection* YearDBConnection = nullptr;
  RoundSettings Rounding;
  db::Dataset* QPermissionDemark = nullptr;
  TTransferUtilsDeclareState ADeclareState;
  TTransferUtilsInsertCalcLogTable AInsertCalcLog;
  // A report of a request that is skipped and kept: written only when the person has no
  // row with the same comment (none given: written as AInsertCalcLog).
  TTransferUtilsInsertCalcLogTable AInsertCalcLogOnce;
  // Asked between persons; true abandons the kind's step whole (TransferStopped). Empty:
  // never.
  std::function<bool()> StopRequested;
};

class TTransferUtils {
 public:
  TTransferUtils() = delete;

  // The time rounded to RoundVal minutes (up from RoundBound minutes past a step); empty for
  // a blank time, unchanged when rounding is off.
  static std::string AdjustTime(const std::string& ATime, const RoundSettings& tblSystem);

  // The moment a punch is stored at: the time rounded by AdjustTime on the date; a time
  // rounded up to "24:00" is 00:00 of the next day of year CurrentYear_YYYY, except on the
  // year's last day, which keeps the record in its year at 23:59. Blank stays blank. Raises
  // on a time it cannot read when rounding is on.
  static std::pair<std::string, std::string> RoundedMoment(const std::string& Date,
                                                           const std::string& Time,
                                                           const RoundSettings& tblSystem,
                                                           const std::string& CurrentYear_YYYY);
  // The record's begin and end as they are stored: a side taken from the stored half-record
  // as it stands, a punch's side rounded (RoundedMoment).
  static RecordMoments StoredMoments(const TIOinfo& io, const RoundSettings& tblSystem,
                                     const std::string& CurrentYear_YYYY);
  // Minutes from the stored entry to the stored exit of a record; 0 when a side is missing.
  // Raises on a time it cannot read.
  static int RecordDuration(const RecordMoments& m);

  // The insert of a new record, then its copy in the log database when EnableSystemLog:
  // one text for every record, its values named parameters (SetRecordInsertParams).
  static std::vector<std::string> RecordInsertText(bool EnableSystemLog);
  // The insert's parameters for a record with its begin and end as stored (m); the log copy
  // also keeps the punches' own times. N is the server's date "YYYY/MM/DD"; ActionTime the
  // server's time "HH:MM:SS".
  static void SetRecordInsertParams(db::Dataset& insert, const TIOinfo& io, const RecordMoments& m,
                                    int Duration, const std::string& UserCode, const std::string& N,
                                    const std::string& ActionTime, bool EnableSystemLog,
                                    const std::string& CurrentYear_YYYY);
  // The statements that complete a stored half-record (the update, then the log copy when
  // EnableSystemLog) with its begin and end as stored (m), as RecordInsertText does for a
  // new one.
  static std::string RecordStatement(const TIOinfo& io, const RecordMoments& m, int Duration,
                                     const std::string& UserCode, const std::string& N,
                                     const std::string& ActionTime, bool EnableSystemLog,
                                     const std::string& CurrentYear_YYYY);
  // The text reported when writing a record failed with Message.
  static std::string RecordFailureText(const TIOinfo& io, const std::string& Message);
  static bool IsDuplicateKeyMessage(const std::string& Message);

  // Loads the current row of the pairing query into the scratch records.
  static void getIORecordInfo(const db::Dataset& QConfirmIO, Tci& ci, Tcl& cl, Tio& IO, Twg& wg);
  // Walks the open pairing query; fills IoList with the records to write and IoRecList with
  // the punches used. SeenRecs (optional) receives every punch the query returned.
  static void ConfirmIos(db::Dataset& QConfirmIO, TransferScratch& s, TIOList& IoList,
                         std::vector<std::string>& IoRecList,
                         std::vector<std::string>* SeenRecs = nullptr);

  // Loads the current row of the special-card query.
  static void GetPermissionRecordInfo(const db::Dataset& QPermissionDemark, TransferScratch& s);
  // Walks the open special-card query: the requests into PermissionList, the punches they
  // use into PermissionRecList (both emptied first). A failing row is reported and skipped.
  static void ConfirmPermission(db::Dataset& QPermissionDemark, const std::string& CurrentYear_YYYY,
                                const std::string& CurrentDate_YYMMDD, TPerMissionType Status,
                                TPermissionList& PermissionList,
                                std::vector<std::string>& PermissionRecList, TransferScratch& s,
                                const TTransferUtilsInsertCalcLogTable& AInsertCalcLog);
  // The moment Date+Time shifted by the floating start of the day (see the work group's
  // FLOATVAL), as "MM/DDHH:NN": a blank time is the day's 00:00, and a moment at or past
  // midnight ("24:00") falls on the next day of the year. A blank date is returned as given.
  static std::string FloatShiftedTime(const std::string& Date, const std::string& Time,
                                      const std::string& DBeginDate, const Tci& dayCi,
                                      const Twg& wg, const Tcl& cl,
                                      const std::string& CurrentYear_YYYY);

  // The IO transfer run. Failures outside the per-record loops escape (the caller logs
  // them); the record writes, the permission marks and the final delete are one
  // transaction of the base connection, so a run that does not finish leaves no trace.
  static IOTransferResult OnIOTransfer(IOTransferArgs& a);

  // The special-card dictionary of a kind: card number (also in its integer form) and
  // function key to the permit type code. Raises on a special card without a number.
  static std::vector<std::pair<std::string, std::string>> SpecCardCodeMap(
      TPerMissionType kind, db::Connection& MainDBConnection);
  // Empties the kind's intermediate table and fills it from the special-card punches and,
  // for leave and mission, from the approved web requests whose sheet, type, days and times
  // are readable (the others are reported once and stay untransferred). Counts into
  // result.Prepared and result.Reported. The table's rows change in one transaction of the
  // year connection: a failure, or a stop asked for between persons (TransferStopped), leaves
  // it as it was. Raises when the server ended the transaction after a caught failure.
  static void PreparePermission(PermissionArgs& a, PermissionTransferResult& result);
  // Notes collisions, moves the requests that may move into the kind's permission tables,
  // tidies their punches and empties the moved ones out of the intermediate table: one
  // transaction, so a run cut short moves nothing and the next run does it all. A request
  // that overlaps another request moved in the same run is noted as colliding. Raises when
  // the server ended the transaction after a caught failure (nothing marked, nothing
  // deleted), and TransferStopped, moving nothing, when a stop is asked for as it starts.
  static void TransferPermission(PermissionArgs& a, PermissionTransferResult& result);
};

}  // namespace zel::transfer
