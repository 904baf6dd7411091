// TADOUtils: the database utility class. Connection strings and connections, queries and
// commands, the command-text builders, the server addresses of a connection, and the
// administration operations (databases, backups, connections, temporary tables).
// Stateless class-level operations; any thread may call them, each with connections of
// its own thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/client.h"

namespace zel::db {

enum class TADOProvider { adoMSSQL, adoMySQL };
enum class TTakeOfflineMode { tomDefault, tomWait, tomNoWait, tomImmediate };

class TADOUtils {
 public:
  TADOUtils() = delete;

  // --- connections ---------------------------------------------------------------------
  // "Provider=SQLOLEDB.1;Password=…;Persist Security Info=True;User ID=…;Initial Catalog=…;
  // Data Source=…", without "Initial Catalog" for an empty DBName; values as they are.
  static std::string GetConnectionString(const std::string& ServerName, const std::string& UserName,
                                         const std::string& UserPass, const std::string& DBName);
  // What a connection string cannot carry, the program's own side of a connection: only
  // `data_dir` (the embedded engine's folder) and `odbc_driver` of Local are read. The
  // functions below take it as their last argument; without it an empty Data Source has no
  // folder to open and ODBC uses FreeTDS.
  //
  // Each closes (releases) Connection, connects anew and returns true; a failure raises
  // DbError and leaves Connection empty.
  static bool ConnectToServer(const std::string& ServerName, const std::string& UserName,
                              const std::string& UserPass, std::unique_ptr<Connection>& Connection,
                              const ConnectionSettings& Local = {});
  static bool ConnectToDatabase(const std::string& ServerName, const std::string& UserName,
                                const std::string& UserPass, const std::string& DBName,
                                std::unique_ptr<Connection>& Connection,
                                const ConnectionSettings& Local = {});
  static bool ConnectToDatabase(const std::string& ConnectionString,
                                std::unique_ptr<Connection>& Connection,
                                const ConnectionSettings& Local = {});
  // A new connection to the database, or to the server when DBName is empty. Raises DbError.
  static std::unique_ptr<Connection> GetConnectionObject(const std::string& ServerName,
                                                         const std::string& UserName,
                                                         const std::string& UserPass,
                                                         const std::string& DBName,
                                                         const ConnectionSettings& Local = {});
  // None (nullptr) for an empty string. Raises DbError.
  static std::unique_ptr<Connection> GetConnectionObject(const std::string& ConnectionString,
                                                         const ConnectionSettings& Local = {});

  // --- queries and commands (the caller owns what comes back) ---------------------------
  static std::unique_ptr<Dataset> GetQueryObject(Connection& Connection,
                                                 const std::string& QueryText, bool AutoOpen);
  static std::unique_ptr<Dataset> GetTableObject(Connection& Connection,
                                                 const std::string& TableName, bool AutoOpen);
  static std::unique_ptr<Dataset> GetCommandObject(Connection& Connection,
                                                   const std::string& CommandText,
                                                   bool AutoExecute);
  static void ExecuteCommand(Connection& Connection, const std::string& CommandText);
  // Rows the query returns; -1 for an empty query text.
  static int GetRecordCount(Connection& Connection, const std::string& QueryText);
  // Statements of this client layer raise their errors as they fail, so a connection never
  // holds unreported errors: this returns without raising. Kept for the callers that check.
  static void RaiseConnectionErrors(Connection& Connection);

  // The server's address and port and the client's address as the server sees them
  // ("<local machine>" for all three on a local connection; "<Error>" when the query
  // fails). Never raises.
  static void GetServerIP(Connection& Connection, std::string& ServerIP, std::string& ServerPort,
                          std::string& ClientIP);
  static const char* const kServerIPQuery;

  // --- command texts -----------------------------------------------------------------
  // Lines joined, each followed by "\n".
  static std::string CatCommandText(const std::vector<std::string>& Lines);
  // Joined, then formatted printf-like (%s %S %d %u %x %f %g %%, flags, width, precision).
  // Raises std::runtime_error for a format that does not fit the arguments.
  static std::string CatCommandTextFmt(const std::vector<std::string>& Lines,
                                       const std::vector<Value>& Args);
  // Joined, then every occurrence of each FromStrs[i] replaced by ToStrs[i], in order.
  // Raises std::runtime_error "FromStrs and ToStrs should have same number of elements."
  static std::string CatCommandTextReplace(const std::vector<std::string>& Lines,
                                           const std::vector<std::string>& FromStrs,
                                           const std::vector<std::string>& ToStrs);
  // Str placed before Cmd (after it when After), with "\n" between them unless the first
  // part already ends with a line break.
  static std::string AddStrToCommandText(const std::string& Str, const std::string& Cmd,
                                         bool After);
  static std::string AddToCommandText(const std::vector<std::string>& Lines, const std::string& Cmd,
                                      bool After);
  static std::string AddToCommandTextFmt(const std::vector<std::string>& Lines,
                                         const std::vector<Value>& Args, const std::string& Cmd,
                                         bool After);
  static std::string AddToCommandTextReplace(const std::vector<std::string>& Lines,
                                             const std::vector<std::string>& FromStrs,
                                             const std::vector<std::string>& ToStrs,
                                             const std::string& Cmd, bool After);
  // "(SELECT 'a' UNION ALL SELECT 'b' ) Alias(Column)": a derived table of the values.
  static std::string CatStringValuesExpression(const std::vector<std::string>& Values,
                                               const std::string& Alias, const std::string& Column);
  // A text between single quotes with embedded quotes doubled.
  static std::string QuotedStr(const std::string& Value);

  // --- administration (SQL Server; the ones that mean nothing on the embedded engine
  // raise DbError "<operation> is not supported by the embedded engine") ---------------
  static bool DBExists(Connection& Connection, const std::string& DBName);
  static std::vector<std::string> EnumAllDatabases(Connection& Connection);
  static int CountConnections(Connection& Connection, const std::string& DBName);
  static void KillAllConnections(Connection& Connection, const std::string& DBName);
  static bool DropDataBase(Connection& Connection, const std::string& DBName);
  static bool BackupDatabase(Connection& Connection, const std::string& BackupPath,
                             const std::string& DBName);
  static void VerifyBackupFile(Connection& Connection, const std::string& FileName);
  // Raises std::runtime_error when the backup does not hold exactly one data and one log
  // file.
  static void RetriveLogicalNamesFromBackupFile(Connection& Connection, const std::string& FileName,
                                                std::string& DataLogicalName,
                                                std::string& LogLogicalName);
  // Restores the backup as DBName with its files in DatabasePhysicalDirectory (DBName +
  // ".mdf" and DBName + LogFileSuffix). Raises std::runtime_error when the database exists
  // and OverwriteIfDBExits is false.
  static void RestoreDataBase(Connection& Connection, const std::string& BackupDeviceLocation,
                              const std::string& DBName,
                              const std::string& DatabasePhysicalDirectory, bool OverwriteIfDBExits,
                              bool KillAllConnections, const std::string& LogFileSuffix);
  // One flag per name in order (Flags); true when all exist. DBName empty: the
  // connection's database.
  static bool TablesExistInDatabase(Connection& Connection,
                                    const std::vector<std::string>& TableNames,
                                    const std::string& DBName, std::vector<bool>& Flags);
  static bool TablesExistInDatabase(Connection& Connection, const std::string& TableName,
                                    const std::string& DBName);
  // Raises std::runtime_error "Unknown take db offline mode!" for tomDefault.
  static void TakeOfline(Connection& Connection, const std::string& DBName, TTakeOfflineMode Mode,
                         int WaitSeconds);
  // True when the temporary table existed and was dropped (SQL Server); MySQL: the drop
  // statement is run and the result is true. Other providers raise "Invalid provider!".
  static bool DropTempTable(Connection& Connection, const std::string& TempTableName,
                            TADOProvider Provider);

  // The texts the administration operations send (exposed for tests and logs).
  static std::string KillAllConnectionsText(const std::string& DBName);
  static std::string CountConnectionsText(const std::string& DBName);
  static std::string BackupDatabaseText(const std::string& BackupPath, const std::string& DBName);
  static std::string RestoreDataBaseText(const std::string& BackupDeviceLocation,
                                         const std::string& DBName,
                                         const std::string& DataLogicalName,
                                         const std::string& DataFile,
                                         const std::string& LogLogicalName,
                                         const std::string& LogFile);
  static std::string TablesExistText(const std::vector<std::string>& TableNames,
                                     const std::string& DBName);
  static std::string TableExistsText(const std::string& TableName, const std::string& DBName);
  static std::string TakeOflineText(const std::string& DBName, TTakeOfflineMode Mode,
                                    int WaitSeconds);
  static std::string DropTempTableText(const std::string& TempTableName, TADOProvider Provider);
};

}  // namespace zel::db
