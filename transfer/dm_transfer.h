// TDmTransfer: the data module of one transfer run. It owns the two connections (base and
// year database), the stored statement texts with their placeholders replaced, the scratch
// records and the SYSTEM settings, creates the day functions at every start, and hands all
// of it to the transfer routines. Created, used once and freed on one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transfer/transfer_utils.h"

namespace zel::db {
class Connection;
class Dataset;
}  // namespace zel::db

namespace zel::transfer {

// True when the year database of the latest initialisation has both web-request tables
// (AskAbsence and AskMission). One per process.
extern std::atomic<bool> WebTablesExist;

class TDmTransfer {
 public:
  // data_dir: the embedded engine's folder (empty for SQL Server); odbc_driver: the ODBC
  // driver name (empty for the default).
  TDmTransfer(std::string data_dir = {}, std::string odbc_driver = {});
  ~TDmTransfer();
  TDmTransfer(const TDmTransfer&) = delete;
  TDmTransfer& operator=(const TDmTransfer&) = delete;

  // Connects, prepares the statement texts, (re)creates decDate, incDate and FirstIO in the
  // base database, adds the transfer's columns where missing and reads the settings.
  // Raises on any failure but those of the added columns.
  void InitialValues(const std::string& newCurrentYear, const std::string& newSqlUserName,
                     const std::string& newSqlUserPassword, const std::string& newDataBaseName,
                     const std::string& newSQLServerName, const std::string& newTempFileName,
                     int newScheduleId);

  // The IO transfer; MyUnCertain true leaves uncertain punches alone. Raises on failures
  // outside the per-record loops (then nothing of the run is kept).
  IOTransferResult MyIOTransfer(bool MyUnCertain);

  // The permission preparation of one kind (prSlate, prMor, prMam), then its transfer
  // (certain requests only). Raises on failures the routines do not report themselves.
  PermissionTransferResult PreparePermission(TPerMissionType PerMissionType, bool MyUnCertain);
  void TransferPermission(TPerMissionType PerMissionType, PermissionTransferResult& result);

  // One CSSLog row of the run's schedule entry, the person number trimmed; never raises.
  void InsertCalcLog(const std::string& PerNo, const std::string& LogComment);
  // The same row, written only when the person has no row with this comment yet.
  void InsertCalcLogOnce(const std::string& PerNo, const std::string& LogComment);

  // The server's date "YYYY/MM/DD" (Jalali) and time "HH:MM:SS".
  static std::string GetNowDate(db::Connection& Connection);
  static std::string GetNowTime(db::Connection& Connection);

  // Step names as the routines report them (none by default).
  void SetDeclareState(TTransferUtilsDeclareState callback) {
    declare_state_ = std::move(callback);
  }

  // Asked by the transfer steps between persons; true abandons the step whole (nothing of
  // it kept) and it raises TransferStopped. Empty: never.
  std::function<bool()> StopRequested;
  // The IO transfer's pairing reads runs of whole persons with at least this many punches
  // each, asking StopRequested between them.
  std::int64_t PairingPunches = 2000;

  bool ExistWebFields = false;
  bool MyEnableSystemLog = false;
  std::string CurrentDate;  // "YYYY/MM/DD" at initialisation
  std::string CurrentYear, cnCurrentYear, SQLUserName, SQLUserPassword, DataBaseName, SQLServerName,
      TempFileName;
  int ScheduleId = 0;
  TransferScratch Scratch;
  std::vector<std::string> _PermissionRecList;
  RoundSettings Rounding;

  db::Connection& ADOConnection1();
  db::Connection& ADOConnection2();

 private:
  void SetDbBaseInfoConnection();
  void SetDbTimeAttenConnection();
  void SetSQLTextForDataSets();
  void MyGeneralConfirmShow();
  void ReadSystem();
  PermissionArgs ArgsFor(TPerMissionType kind);

  std::string data_dir_, odbc_driver_;
  std::string base_conn_str_, year_conn_str_;
  std::unique_ptr<db::Connection> conn1_, conn2_;
  std::unique_ptr<db::Dataset> QPermissionDemark, QClockDmp, QClockDmp_Delete, QConfirmIO;
  TTransferUtilsDeclareState declare_state_;
};

}  // namespace zel::transfer
