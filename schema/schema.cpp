#include "schema/schema.h"

#include <cctype>

namespace zel::db {

// Defined in the file the build generates from base.sql, year.sql and log.sql.
extern const char kBaseSchemaSqlText[];
extern const char kYearSchemaSqlText[];
extern const char kLogSchemaSqlText[];

std::string_view BaseSchemaSql() { return kBaseSchemaSqlText; }
std::string_view YearSchemaSql() { return kYearSchemaSqlText; }
std::string_view LogSchemaSql() { return kLogSchemaSqlText; }

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// True when the line (without its "\n") is "GO" with only blanks around it.
bool IsGoLine(std::string_view line) {
  size_t b = 0;
  size_t e = line.size();
  while (b < e && IsBlank(line[b])) ++b;
  while (e > b && IsBlank(line[e - 1])) --e;
  return e - b == 2 && (line[b] == 'G' || line[b] == 'g') &&
         (line[b + 1] == 'O' || line[b + 1] == 'o');
}

bool HasContent(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c) && c != '\n') return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> SplitBatches(std::string_view script) {
  std::vector<std::string> batches;
  std::string current;
  auto flush = [&] {
    if (HasContent(current)) batches.push_back(std::move(current));
    current.clear();
  };
  size_t pos = 0;
  while (pos < script.size()) {
    size_t nl = script.find('\n', pos);
    size_t end = nl == std::string_view::npos ? script.size() : nl + 1;
    std::string_view line = script.substr(pos, end - pos);
    std::string_view bare = line;
    if (!bare.empty() && bare.back() == '\n') bare.remove_suffix(1);
    if (IsGoLine(bare)) {
      flush();
    } else {
      current.append(line);
    }
    pos = end;
  }
  flush();
  return batches;
}

std::string CalItemViewSelect(const std::string& B) {
  const std::string d =
      "RIGHT('0' + CAST(DistributedGshItem.Period AS VARCHAR(2)), 2) + '/' + "
      "RIGHT('0' + SUBSTRING(DistributedGshItem.DayNo, 2, 2), 2)";
  auto shifted = [&](int position) {
    return "(Case when SUBSTRING(WS.ShiftStatus, " + std::to_string(position) + ", 1) = '1' then " +
           B + ".dbo.IncDate(" + d + ") else " + d + " end)";
  };
  std::string source;
  std::string days;
  for (int i = 1; i <= 31; ++i) {
    const std::string n = "D" + std::to_string(i);
    source += ",\n   (Case when P." + n + " is NULL then G." + n + " else P." + n + " end) AS " + n;
    days += (i > 1 ? ", " : "") + n;
  }
  std::string sql;
  sql += "SELECT DistributedGshItem.PerNo AS PerNo,\n";
  sql += " DistributedGshItem.GShCode AS GshCode,\n";
  sql += " DistributedGshItem.Period AS Period,\n";
  sql += " Substring(DayNo, 2,3) AS DayNo,\n";
  sql += " " + d + " AS EBeginDate, WS.EBEGINTIME AS EBEGINTIME,\n";
  sql += " DistributedGshItem.WorkShiftCode AS WorkShiftCode,\n";
  sql += " " + d + " AS DBeginDate, WS.DBEGINTIME AS DBEGINTIME,\n";
  sql += " " + shifted(1) + " AS BBeginDate, WS.BBEGINTIME AS BBEGINTIME,\n";
  sql += " " + shifted(2) + " AS BEndDate, WS.BENDTIME AS BENDTIME,\n";
  sql += " " + shifted(3) + " AS DEndDate, WS.DENDTIME AS DENDTIME,\n";
  sql += " " + shifted(4) + " AS EEndDate, WS.EENDTIME AS EENDTIME,\n";
  sql += " " + shifted(5) + " AS EndDate, WS.ENDTIME AS ENDTIME,\n";
  sql += " WS.Holiday AS Holiday\n";
  sql += "FROM (SELECT P.PerNo, P.GShCode, P.Period" + source + "\n";
  sql +=
      "  FROM GshItem G LEFT JOIN PerShifts P on G.GShCode=P.GShCode and G.Period=P.Period"
      ") AS ShiftItem\n";
  sql += "UNPIVOT (WorkShiftCode FOR DayNo IN (" + days + ")) AS DistributedGshItem\n";
  sql += "LEFT OUTER JOIN " + B +
         ".dbo.WorkShifts As WS on DistributedGshItem.WorkShiftCode = WS.Code\n";
  sql += "LEFT OUTER JOIN " + B + ".dbo.WorkGrp AS WG On Wg.GShCode = DistributedGshItem.GShCode\n";
  sql += "LEFT OUTER JOIN PrjRule As R On R.WORKGROUP = WG.CODE\n";
  sql += "WHERE R.PERNO <> '' and WG.GROUPTYPE = 6 and R.PerNo = DistributedGshItem.PerNo\n";
  return sql;
}

const std::vector<std::string>& DateFunctionBatches() {
  static const std::vector<std::string> batches{
      R"(CREATE FUNCTION decDate (@Date as char(5))
RETURNS char(5)
AS
BEGIN
  Declare @M int, @D int
  Set @M = Cast(SubString(@Date, 1, 2) as int)
  Set @D = Cast(SubString(@Date, 4, 2) as int)
  If @D = 1
  Begin
    Set @M = @M - 1
    If @M >= 7 Set @D = 30 Else Set @D = 31
  End
  Else
    Set @D = @D - 1
  Return Right('0' + Cast(@M as varchar(2)), 2) + '/' + Right('0' + Cast(@D as varchar(2)), 2)
END)",
      R"(CREATE FUNCTION incDate (@Date as char(5))
RETURNS char(5)
AS
BEGIN
  Declare @M int, @D int
  Set @M = Cast(SubString(@Date, 1, 2) as int)
  Set @D = Cast(SubString(@Date, 4, 2) as int)
  If (@M > 6 And @D = 30) Or (@M <= 6 And @D = 31)
  Begin
    Set @M = @M + 1
    Set @D = 1
  End
  Else
    Set @D = @D + 1
  Return Right('0' + Cast(@M as varchar(2)), 2) + '/' + Right('0' + Cast(@D as varchar(2)), 2)
END)"};
  return batches;
}

}  // namespace zel::db
