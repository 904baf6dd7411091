// The database utility class.
#include "db/ado_utils.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "util/sql_text.h"
#include "util/text.h"

namespace zel::db {
namespace {

using util::DoubleQuotes;

using util::EqualsNoCase;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

[[noreturn]] void FormatError(const std::string& format) {
  throw std::runtime_error("Format '" + format + "' invalid or incompatible with argument");
}

// printf-like formatting of Values: %[-][width][.precision]type with the types d, u, x,
// e, f, g, s (either letter case) and %%.
std::string FormatText(const std::string& format, const std::vector<Value>& args) {
  std::string out;
  size_t next_arg = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::string spec = "%";
    size_t j = i + 1;
    if (j < format.size() && format[j] == '-') spec += format[j++];
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])))
      spec += format[j++];
    if (j < format.size() && format[j] == '.') {
      spec += format[j++];
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])))
        spec += format[j++];
    }
    if (j >= format.size() || next_arg >= args.size()) FormatError(format);
    const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(format[j])));
    const Value& arg = args[next_arg++];
    char buffer[512];
    int n = 0;
    switch (type) {
      case 'd':
      case 'u':
      case 'x':
        if (arg.type() != DataType::Integer) FormatError(format);
        spec += type == 'd' ? "lld" : (type == 'u' ? "llu" : "llX");
        n = std::snprintf(buffer, sizeof buffer, spec.c_str(),
                          static_cast<long long>(arg.AsInteger()));
        break;
      case 'e':
      case 'f':
      case 'g':
        if (arg.type() != DataType::Integer && arg.type() != DataType::Real) FormatError(format);
        spec += type;
        n = std::snprintf(buffer, sizeof buffer, spec.c_str(), arg.AsFloat());
        break;
      case 's': {
        spec += 's';
        const std::string text = arg.AsString();
        if (spec == "%s") {
          out += text;
          i = j;
          continue;
        }
        n = std::snprintf(buffer, sizeof buffer, spec.c_str(), text.c_str());
        break;
      }
      default:
        FormatError(format);
    }
    if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) FormatError(format);
    out.append(buffer, static_cast<size_t>(n));
    i = j;
  }
  return out;
}

// Administration that has no meaning on the embedded engine.
void RequireServer(Connection& connection, const char* operation) {
  if (connection.EngineName() == "embedded")
    throw DbError(std::string(operation) + " is not supported by the embedded engine");
}

// Runs a text whose batches are separated by "GO" lines, one batch at a time ("GO" is a
// separator of the tools, not of the server).
void ExecuteBatches(Connection& connection, const std::string& text) {
  std::string batch;
  size_t start = 0;
  auto flush = [&] {
    bool blank = true;
    for (char c : batch) blank = blank && std::isspace(static_cast<unsigned char>(c));
    if (!blank) connection.Execute(batch);
    batch.clear();
  };
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    std::string trimmed;
    for (char c : line)
      if (!std::isspace(static_cast<unsigned char>(c))) trimmed += c;
    if (EqualsNoCase(trimmed, "GO")) {
      flush();
    } else {
      batch += line;
      batch += '\n';
    }
  }
  flush();
}

std::string PadRight(std::string line, size_t width) {
  if (line.size() < width) line.append(width - line.size(), ' ');
  return line;
}

std::string UseLine(const std::string& DBName) { return " USE " + DBName + ";"; }

// Folder text with a trailing delimiter: '/' for folders written with '/', else '\'.
std::string WithDelimiter(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder;
  const bool slash =
      folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos;
  return folder + (slash ? '/' : '\\');
}

}  // namespace

const char* const TADOUtils::kServerIPQuery =
    "SELECT ISNULL(CAST(CONNECTIONPROPERTY('local_net_address') AS varchar(48)), "
    "'<local machine>') AS ServerIP, "
    "ISNULL(CAST(CONNECTIONPROPERTY('local_tcp_port') AS varchar(48)), "
    "'<local machine>') AS ServerPort, "
    "ISNULL(CAST(CONNECTIONPROPERTY('client_net_address') AS varchar(48)), "
    "'<local machine>') AS ClientIP";

// ---------------------------------------------------------------------------------------
// Connections

std::string TADOUtils::GetConnectionString(const std::string& ServerName,
                                           const std::string& UserName, const std::string& UserPass,
                                           const std::string& DBName) {
  if (DBName.empty())
    return "Provider=SQLOLEDB.1;Password=" + ConnectionStringValue(UserPass) +
           ";Persist Security Info=True;User ID=" + ConnectionStringValue(UserName) +
           ";Data Source=" + ConnectionStringValue(ServerName);
  return "Provider=SQLOLEDB.1;Password=" + ConnectionStringValue(UserPass) +
         ";Persist Security Info=True;User ID=" + ConnectionStringValue(UserName) +
         ";Initial Catalog=" + ConnectionStringValue(DBName) +
         ";Data Source=" + ConnectionStringValue(ServerName);
}

namespace {
// The connection's own settings with the program's side taken from Local.
ConnectionSettings WithLocal(ConnectionSettings settings, const ConnectionSettings& Local) {
  settings.data_dir = Local.data_dir;
  settings.odbc_driver = Local.odbc_driver;
  return settings;
}
}  // namespace

std::unique_ptr<Connection> TADOUtils::GetConnectionObject(const std::string& ServerName,
                                                           const std::string& UserName,
                                                           const std::string& UserPass,
                                                           const std::string& DBName,
                                                           const ConnectionSettings& Local) {
  // The settings are passed as they are, not through the string, so a ';' in a password
  // cannot cut it.
  ConnectionSettings settings;
  settings.server = ServerName;
  settings.user = UserName;
  settings.password = UserPass;
  settings.database = DBName;
  return Connect(WithLocal(std::move(settings), Local));
}

std::unique_ptr<Connection> TADOUtils::GetConnectionObject(const std::string& ConnectionString,
                                                           const ConnectionSettings& Local) {
  if (ConnectionString.empty()) return nullptr;
  return Connect(WithLocal(ParseConnectionString(ConnectionString), Local));
}

bool TADOUtils::ConnectToServer(const std::string& ServerName, const std::string& UserName,
                                const std::string& UserPass,
                                std::unique_ptr<Connection>& Connection,
                                const ConnectionSettings& Local) {
  Connection.reset();
  Connection = GetConnectionObject(ServerName, UserName, UserPass, "", Local);
  return Connection != nullptr;
}

bool TADOUtils::ConnectToDatabase(const std::string& ServerName, const std::string& UserName,
                                  const std::string& UserPass, const std::string& DBName,
                                  std::unique_ptr<Connection>& Connection,
                                  const ConnectionSettings& Local) {
  Connection.reset();
  Connection = GetConnectionObject(ServerName, UserName, UserPass, DBName, Local);
  return Connection != nullptr;
}

bool TADOUtils::ConnectToDatabase(const std::string& ConnectionString,
                                  std::unique_ptr<Connection>& Connection,
                                  const ConnectionSettings& Local) {
  Connection.reset();
  Connection = Connect(WithLocal(ParseConnectionString(ConnectionString), Local));
  return Connection != nullptr;
}

// ---------------------------------------------------------------------------------------
// Queries and commands

std::unique_ptr<Dataset> TADOUtils::GetQueryObject(Connection& Connection,
                                                   const std::string& QueryText, bool AutoOpen) {
  auto query = std::make_unique<Dataset>(Connection);
  query->SetSQL({QueryText});
  if (AutoOpen) query->Open();
  return query;
}

std::unique_ptr<Dataset> TADOUtils::GetTableObject(Connection& Connection,
                                                   const std::string& TableName, bool AutoOpen) {
  auto table = std::make_unique<Dataset>(Connection);
  table->SetTableName(TableName, AutoOpen);
  return table;
}

std::unique_ptr<Dataset> TADOUtils::GetCommandObject(Connection& Connection,
                                                     const std::string& CommandText,
                                                     bool AutoExecute) {
  auto command = std::make_unique<Dataset>(Connection);
  command->SetSQL({CommandText});
  if (AutoExecute) command->ExecSQL();
  return command;
}

void TADOUtils::ExecuteCommand(Connection& Connection, const std::string& CommandText) {
  GetCommandObject(Connection, CommandText, true);
}

int TADOUtils::GetRecordCount(Connection& Connection, const std::string& QueryText) {
  if (QueryText.empty()) return -1;
  return GetQueryObject(Connection, QueryText, true)->RecordCount();
}

void TADOUtils::RaiseConnectionErrors(Connection& /*Connection*/) {}

void TADOUtils::GetServerIP(Connection& Connection, std::string& ServerIP, std::string& ServerPort,
                            std::string& ClientIP) {
  ServerIP = ServerPort = ClientIP = "<Error>";
  try {
    const ResultSet r = Connection.Execute(kServerIPQuery);
    if (r.rows.empty() || r.rows[0].size() < 3) return;
    ServerIP = r.rows[0][0].AsString();
    ServerPort = r.rows[0][1].AsString();
    ClientIP = r.rows[0][2].AsString();
    if (!EqualsNoCase(ServerIP, "<local machine>") && EqualsNoCase(ServerIP, ClientIP))
      ServerIP = ServerPort = ClientIP = "<local machine>";
  } catch (...) {
    // The addresses are informative only; the values read so far stay.
  }
}

// ---------------------------------------------------------------------------------------
// Command texts

std::string TADOUtils::CatCommandText(const std::vector<std::string>& Lines) {
  std::string text;
  for (const std::string& line : Lines) {
    text += line;
    text += '\n';
  }
  return text;
}

std::string TADOUtils::CatCommandTextFmt(const std::vector<std::string>& Lines,
                                         const std::vector<Value>& Args) {
  return FormatText(CatCommandText(Lines), Args);
}

std::string TADOUtils::CatCommandTextReplace(const std::vector<std::string>& Lines,
                                             const std::vector<std::string>& FromStrs,
                                             const std::vector<std::string>& ToStrs) {
  if (FromStrs.size() != ToStrs.size())
    throw std::runtime_error("FromStrs and ToStrs should have same number of elements.");
  std::string text = CatCommandText(Lines);
  for (size_t i = 0; i < FromStrs.size(); ++i) text = ReplaceAll(text, FromStrs[i], ToStrs[i]);
  return text;
}

std::string TADOUtils::AddStrToCommandText(const std::string& Str, const std::string& Cmd,
                                           bool After) {
  const std::string& first = After ? Cmd : Str;
  const std::string& second = After ? Str : Cmd;
  const bool ends_with_break = !first.empty() && first.back() == '\n';
  return first + (ends_with_break ? "" : "\n") + second;
}

std::string TADOUtils::AddToCommandText(const std::vector<std::string>& Lines,
                                        const std::string& Cmd, bool After) {
  return AddStrToCommandText(CatCommandText(Lines), Cmd, After);
}

std::string TADOUtils::AddToCommandTextFmt(const std::vector<std::string>& Lines,
                                           const std::vector<Value>& Args, const std::string& Cmd,
                                           bool After) {
  return AddStrToCommandText(CatCommandTextFmt(Lines, Args), Cmd, After);
}

std::string TADOUtils::AddToCommandTextReplace(const std::vector<std::string>& Lines,
                                               const std::vector<std::string>& FromStrs,
                                               const std::vector<std::string>& ToStrs,
                                               const std::string& Cmd, bool After) {
  return AddStrToCommandText(CatCommandTextReplace(Lines, FromStrs, ToStrs), Cmd, After);
}

std::string TADOUtils::CatStringValuesExpression(const std::vector<std::string>& Values,
                                                 const std::string& Alias,
                                                 const std::string& Column) {
  std::string selects;
  for (size_t i = 0; i < Values.size(); ++i) {
    if (i > 0) selects += "UNION ALL ";
    selects += "SELECT " + QuotedStr(Values[i]) + " ";
  }
  return "(" + selects + ") " + Alias + "(" + Column + ")";
}

std::string TADOUtils::QuotedStr(const std::string& Value) {
  return "'" + DoubleQuotes(Value) + "'";
}

// ---------------------------------------------------------------------------------------
// Administration texts

std::string TADOUtils::CountConnectionsText(const std::string& DBName) {
  return CatCommandTextFmt({" SELECT COUNT(*) AS ConCount    ", " FROM sys.sysprocesses          ",
                            " WHERE dbid <> 0                ", "     AND DB_NAME(dbid) = '%S' "},
                           {Value(DoubleQuotes(DBName))});
}

std::string TADOUtils::KillAllConnectionsText(const std::string& DBName) {
  const size_t kWidth = 70;
  std::vector<std::string> lines;
  for (const char* line :
       {" USE master;", " DECLARE @kill VARCHAR(8000);", " SET @kill = '';",
        " SELECT @kill = @kill + 'kill ' + CONVERT(VARCHAR(5), spid) + ';'",
        " FROM master..sysprocesses", " WHERE dbid = db_id('THEDBNANE')", " EXEC (@kill);"})
    lines.push_back(PadRight(line, kWidth));
  return CatCommandTextReplace(lines, {"THEDBNANE"}, {DoubleQuotes(DBName)});
}

std::string TADOUtils::BackupDatabaseText(const std::string& BackupPath,
                                          const std::string& DBName) {
  return CatCommandTextFmt({" USE %s;", " BACKUP DATABASE %s", " TO DISK = '%s'"},
                           {Value(DBName), Value(DBName), Value(DoubleQuotes(BackupPath))});
}

std::string TADOUtils::RestoreDataBaseText(const std::string& BackupDeviceLocation,
                                           const std::string& DBName,
                                           const std::string& DataLogicalName,
                                           const std::string& DataFile,
                                           const std::string& LogLogicalName,
                                           const std::string& LogFile) {
  return CatCommandTextFmt(
      {" RESTORE DATABASE %s FROM DISK= %s WITH", " MOVE %s TO %s,", " MOVE %s TO %s"},
      {Value(DBName), Value(QuotedStr(BackupDeviceLocation)), Value(QuotedStr(DataLogicalName)),
       Value(QuotedStr(DataFile)), Value(QuotedStr(LogLogicalName)), Value(QuotedStr(LogFile))});
}

std::string TADOUtils::TablesExistText(const std::vector<std::string>& TableNames,
                                       const std::string& DBName) {
  std::vector<std::string> lines;
  if (!DBName.empty()) lines.push_back(UseLine(DBName));
  lines.insert(lines.end(), {" SELECT", " table_name,",
                             " CASE WHEN OBJECT_ID(table_name,'U') IS NULL THEN 0 ELSE 1 END",
                             " FROM" + CatStringValuesExpression(TableNames, "T", "TABLE_NAME")});
  return CatCommandText(lines);
}

std::string TADOUtils::TableExistsText(const std::string& TableName, const std::string& DBName) {
  std::vector<std::string> lines;
  if (!DBName.empty()) lines.push_back(UseLine(DBName));
  lines.push_back("SELECT COUNT(0) FROM sys.sysobjects s");
  lines.push_back("WHERE s.xtype = 'U' AND name =" + QuotedStr(TableName));
  return CatCommandText(lines);
}

std::string TADOUtils::TakeOflineText(const std::string& DBName, TTakeOfflineMode Mode,
                                      int WaitSeconds) {
  std::vector<std::string> lines = {" USE master", " GO", " ALTER DATABASE %S ", " SET OFFLINE"};
  std::vector<Value> args = {Value(DBName)};
  switch (Mode) {
    case TTakeOfflineMode::tomWait:
      lines.push_back("WITH ROLLBACK AFTER %d SECONDS");
      lines.push_back("GO");
      args.emplace_back(WaitSeconds);
      break;
    case TTakeOfflineMode::tomNoWait:
      lines.push_back("WITH NO_WAIT");
      break;
    case TTakeOfflineMode::tomImmediate:
      lines.push_back("WITH ROLLBACK IMMEDIATE");
      break;
    default:
      throw std::runtime_error("Unknown take db offline mode!");
  }
  return CatCommandTextFmt(lines, args);
}

std::string TADOUtils::DropTempTableText(const std::string& TempTableName, TADOProvider Provider) {
  switch (Provider) {
    case TADOProvider::adoMSSQL: {
      std::string bracketed;  // inside [..]: a ']' doubles
      for (char c : TempTableName) {
        bracketed += c;
        if (c == ']') bracketed += ']';
      }
      return CatCommandText(
          {" IF (OBJECT_ID('TEMPDB..[" + DoubleQuotes(bracketed) + "]') IS NOT NULL)", " BEGIN",
           "   DROP TABLE TEMPDB..[" + bracketed + "];", "   SELECT 1 AS RES;", " END", " ELSE",
           " BEGIN", "   SELECT 0 AS RES;", " END"});
    }
    case TADOProvider::adoMySQL:
      return "DROP TEMPORARY TABLE IF EXISTS " + TempTableName;
  }
  throw std::runtime_error("Invalid provider!");
}

// ---------------------------------------------------------------------------------------
// Administration

bool TADOUtils::DBExists(Connection& Connection, const std::string& DBName) {
  auto q = GetQueryObject(Connection, "SELECT ID = DB_ID(" + QuotedStr(DBName) + ")", true);
  return !q->IsEmpty() && !q->FieldByName("ID").IsNull();
}

std::vector<std::string> TADOUtils::EnumAllDatabases(Connection& Connection) {
  auto q = GetQueryObject(
      Connection,
      CatCommandText({" SELECT Name", " FROM   master.sys.databases",
                      " WHERE  Cast(CASE WHEN name IN ('master', 'model', 'msdb', 'tempdb') "
                      "THEN 1 ELSE is_distributor END As bit) = 0"}),
      true);
  std::vector<std::string> names;
  for (q->First(); !q->Eof(); q->Next()) names.push_back(q->FieldByName("Name").AsString());
  return names;
}

int TADOUtils::CountConnections(Connection& Connection, const std::string& DBName) {
  auto q = GetQueryObject(Connection, CountConnectionsText(DBName), true);
  return static_cast<int>(q->FieldByName("ConCount").AsInteger());
}

void TADOUtils::KillAllConnections(Connection& Connection, const std::string& DBName) {
  RequireServer(Connection, "KillAllConnections");
  ExecuteCommand(Connection, KillAllConnectionsText(DBName));
}

bool TADOUtils::DropDataBase(Connection& Connection, const std::string& DBName) {
  ExecuteCommand(Connection, "DROP DATABASE " + DBName);
  return true;
}

bool TADOUtils::BackupDatabase(Connection& Connection, const std::string& BackupPath,
                               const std::string& DBName) {
  RequireServer(Connection, "BackupDatabase");
  ExecuteCommand(Connection, BackupDatabaseText(BackupPath, DBName));
  RaiseConnectionErrors(Connection);
  return true;
}

void TADOUtils::VerifyBackupFile(Connection& Connection, const std::string& FileName) {
  RequireServer(Connection, "VerifyBackupFile");
  ExecuteCommand(Connection, "RESTORE VERIFYONLY FROM DISK = " + QuotedStr(FileName));
}

void TADOUtils::RetriveLogicalNamesFromBackupFile(Connection& Connection,
                                                  const std::string& FileName,
                                                  std::string& DataLogicalName,
                                                  std::string& LogLogicalName) {
  RequireServer(Connection, "RetriveLogicalNamesFromBackupFile");
  DataLogicalName.clear();
  LogLogicalName.clear();
  auto q =
      GetQueryObject(Connection, "RESTORE filelistonly FROM disk = " + QuotedStr(FileName), true);
  if (q->RecordCount() != 2)
    throw std::runtime_error(FormatText("Backup file has %d databases, while it should has just 2.",
                                        {Value(q->RecordCount())}));
  for (q->First(); !q->Eof(); q->Next()) {
    const std::string type = q->FieldByName("Type").AsString();
    if (EqualsNoCase(type, "D"))
      DataLogicalName = q->FieldByName("LogicalName").AsString();
    else if (EqualsNoCase(type, "L"))
      LogLogicalName = q->FieldByName("LogicalName").AsString();
  }
  if (DataLogicalName.empty() || LogLogicalName.empty())
    throw std::runtime_error("Either DataLogicalName or LogLogicalName is not assigned!");
}

void TADOUtils::RestoreDataBase(Connection& Connection, const std::string& BackupDeviceLocation,
                                const std::string& DBName,
                                const std::string& DatabasePhysicalDirectory,
                                bool OverwriteIfDBExits, bool KillAllConnections,
                                const std::string& LogFileSuffix) {
  RequireServer(Connection, "RestoreDataBase");
  if (!OverwriteIfDBExits && DBExists(Connection, DBName))
    throw std::runtime_error("Database " + DBName +
                             " already exists. Restoring data base stopped.");
  std::string data_name;
  std::string log_name;
  RetriveLogicalNamesFromBackupFile(Connection, BackupDeviceLocation, data_name, log_name);
  if (data_name.empty() || log_name.empty())
    throw std::runtime_error("Can not retrive logical names from backup file.");
  if (KillAllConnections) TADOUtils::KillAllConnections(Connection, DBName);
  const std::string folder = WithDelimiter(DatabasePhysicalDirectory);
  ExecuteCommand(Connection, RestoreDataBaseText(BackupDeviceLocation, DBName, data_name,
                                                 folder + DBName + ".mdf", log_name,
                                                 folder + DBName + LogFileSuffix));
}

bool TADOUtils::TablesExistInDatabase(Connection& Connection,
                                      const std::vector<std::string>& TableNames,
                                      const std::string& DBName, std::vector<bool>& Flags) {
  Flags.clear();
  const ResultSet r = Connection.Execute(TablesExistText(TableNames, DBName));
  if (r.rows.size() != TableNames.size())
    throw std::runtime_error("Query does not return correct number of records.");
  bool all = true;
  for (const auto& row : r.rows) {
    const bool exists = row.size() >= 2 && row[1].AsInteger() != 0;
    Flags.push_back(exists);
    all = all && exists;
  }
  return all;
}

bool TADOUtils::TablesExistInDatabase(Connection& Connection, const std::string& TableName,
                                      const std::string& DBName) {
  const ResultSet r = Connection.Execute(TableExistsText(TableName, DBName));
  return !r.rows.empty() && !r.rows[0].empty() && r.rows[0][0].AsInteger() > 0;
}

void TADOUtils::TakeOfline(Connection& Connection, const std::string& DBName, TTakeOfflineMode Mode,
                           int WaitSeconds) {
  const std::string text = TakeOflineText(DBName, Mode, WaitSeconds);
  RequireServer(Connection, "TakeOfline");
  ExecuteBatches(Connection, text);
}

bool TADOUtils::DropTempTable(Connection& Connection, const std::string& TempTableName,
                              TADOProvider Provider) {
  const std::string text = DropTempTableText(TempTableName, Provider);
  if (Provider == TADOProvider::adoMySQL) {
    ExecuteCommand(Connection, text);
    return true;
  }
  auto q = GetQueryObject(Connection, text, true);
  return q->FieldByName("RES").AsInteger() == 1;
}

}  // namespace zel::db
