#include "db/embedded/builtin_functions.h"

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/translator.h"

namespace zel::db::embedded {

int IntRank(const SqlType& t) {
  if (t.cls == TypeClass::Bit) return 0;
  if (t.name == "tinyint") return 1;
  if (t.name == "smallint") return 2;
  if (t.name == "bigint") return 4;
  return 3;
}

SqlType HigherNumber(const SqlType& a, const SqlType& b) {
  if (a.cls == TypeClass::Null) return b;
  if (b.cls == TypeClass::Null) return a;
  if (a.cls == TypeClass::Float) return a;
  if (b.cls == TypeClass::Float) return b;
  if (a.cls == TypeClass::Numeric) return a;
  if (b.cls == TypeClass::Numeric) return b;
  SqlType r = IntRank(a) >= IntRank(b) ? a : b;
  if (r.cls == TypeClass::Bit) return SqlType::Int();
  return r;
}

namespace {

const SqlType kDateTime{TypeClass::DateTime, 0, 0, 0, "datetime"};
const SqlType kIdentity{TypeClass::Numeric, 0, 38, 0, "numeric"};

std::string Call(const std::string& fn, const std::vector<Emitted>& a) {
  std::string sql = fn + "(";
  for (std::size_t i = 0; i < a.size(); ++i) sql += (i ? ", " : "") + a[i].sql;
  return sql + ")";
}

SqlType TextType(const Emitted& x) {
  if (!x.type.IsString()) return SqlType::VarChar(8000);
  const bool national = !x.type.name.empty() && x.type.name[0] == 'n';
  return SqlType::VarChar(x.type.length, national ? "nvarchar" : "varchar");
}

SqlType ResultOf(ResultType r, const std::vector<Emitted>& a) {
  switch (r) {
    case ResultType::Int:
      return SqlType::Int();
    case ResultType::SysName:
      return SqlType::VarChar(128, "nvarchar");
    case ResultType::DateTime:
      return kDateTime;
    case ResultType::LongText:
      return SqlType::VarChar(8000);
    case ResultType::TextOfFirst:
      return TextType(a.at(0));
    case ResultType::First:
      return a.at(0).type;
    case ResultType::NumberOfFirst:
      return a.at(0).type.IsNumber() ? a.at(0).type : SqlType::Float();
    case ResultType::Custom:
      break;
  }
  return SqlType::Unknown();
}

// ISNULL(x, y): the replacement takes the type of the checked expression (ISNULL(n, '')
// is 0).
Emitted IsNull(BuiltinCall& c) {
  auto& a = c.args;
  if (a[0].type.IsKnown() && a[1].type.IsKnown() && a[0].type.IsNumber() != a[1].type.IsNumber())
    a[1].sql = Translator::CastConversion(a[1].sql, a[1].type, a[0].type);
  SqlType t = a[0].type.IsKnown() ? a[0].type : a[1].type;
  return Emitted{Call("ifnull", a), t, "", {}};
}

Emitted Coalesce(BuiltinCall& c) {
  if (c.args.empty()) throw DbError("The coalesce function requires at least 2 arguments.");
  SqlType t = SqlType::Null();
  for (const Emitted& x : c.args)
    if (t.cls == TypeClass::Null) t = x.type;
  if (c.args.size() == 1) return c.args[0];
  return Emitted{Call("coalesce", c.args), t, "", {}};
}

Emitted Trim(BuiltinCall& c) {
  return Emitted{"tsql_ltrim(tsql_rtrim(" + c.args[0].sql + "))", TextType(c.args[0]), "", {}};
}

Emitted Space(BuiltinCall& c) {
  const std::string& n = c.args[0].sql;
  return Emitted{"(CASE WHEN " + n + " < 0 THEN NULL ELSE printf('%*s', " + n + ", '') END)",
                 SqlType::VarChar(8000),
                 "",
                 {}};
}

Emitted Replicate(BuiltinCall& c) {
  const std::string& n = c.args[1].sql;
  return Emitted{"(CASE WHEN " + n + " < 0 THEN NULL ELSE replace(printf('%.*c', " + n +
                     ", 'x'), 'x', " + c.args[0].sql + ") END)",
                 SqlType::VarChar(8000),
                 "",
                 {}};
}

Emitted Round(BuiltinCall& c) {
  const auto& a = c.args;
  if (a[0].type.cls == TypeClass::Int)
    return Emitted{"CAST(round(" + a[0].sql + ", " + a[1].sql + ") AS INTEGER)", a[0].type, "", {}};
  return Emitted{Call("round", a), a[0].type.IsNumber() ? a[0].type : SqlType::Float(), "", {}};
}

Emitted FloorOrCeiling(BuiltinCall& c) {
  const std::string fn = UpperAscii(c.expr.name[0]) == "FLOOR" ? "floor" : "ceil";
  if (c.args[0].type.cls == TypeClass::Int) return c.args[0];
  return Emitted{
      "CAST(" + fn + "(" + c.args[0].sql + ") AS INTEGER)", SqlType::Int("bigint"), "", {}};
}

// COUNT, COUNT_BIG, SUM, MIN, MAX, AVG: DISTINCT and MIN/MAX compare texts through the
// collation; AVG of integers stays an integer.
Emitted Aggregate(BuiltinCall& c) {
  const std::string name = UpperAscii(c.expr.name[0]);
  const bool count = name == "COUNT" || name == "COUNT_BIG";
  if (c.expr.args[0]->kind == ExprKind::Star) {
    if (!count) throw DbError("Incorrect syntax near '*'.");
    return Emitted{"count(*)", SqlType::Int(), "", {}};
  }
  const Emitted& x = c.args[0];
  const bool distinct = c.expr.distinct;
  std::string arg = (distinct ? "DISTINCT " : "") + x.sql;
  if ((name == "MIN" || name == "MAX" || distinct) && x.column_name.empty() && x.type.IsString())
    arg = (distinct ? "DISTINCT " : "") + std::string("(") + x.sql + ") COLLATE TSQL";
  if (count) return Emitted{"count(" + arg + ")", SqlType::Int(), "", {}};
  if (name == "MIN" || name == "MAX")
    return Emitted{LowerAscii(name) + "(" + arg + ")", x.type, "", {}};
  if (x.type.IsString())
    throw DbError("Operand data type " + x.type.name + " is invalid for " + LowerAscii(name) +
                  " operator.");
  if (name == "SUM")
    return Emitted{"sum(" + arg + ")",
                   x.type.IsNumber() ? HigherNumber(x.type, SqlType::Int()) : x.type,
                   "",
                   {}};
  if (x.type.cls == TypeClass::Int || x.type.cls == TypeClass::Bit)
    return Emitted{"CAST(avg(" + arg + ") AS INTEGER)", SqlType::Int(), "", {}};
  return Emitted{"avg(" + arg + ")", x.type, "", {}};
}

Emitted DbId(BuiltinCall& c) {
  if (c.args.empty())
    return Emitted{"zel_db_id(" + QuoteText(c.current_db) + ")", SqlType::Int("smallint"), "", {}};
  return Emitted{Call("zel_db_id", c.args), SqlType::Int("smallint"), "", {}};
}

Emitted DbName(BuiltinCall& c) {
  if (c.args.empty())
    return Emitted{QuoteText(c.current_db), SqlType::VarChar(128, "nvarchar"), "", {}};
  return Emitted{Call("zel_db_name", c.args), SqlType::VarChar(128, "nvarchar"), "", {}};
}

// CONNECTIONPROPERTY: the embedded engine has no network connection to describe.
Emitted ConnectionProperty(BuiltinCall&) {
  return Emitted{"NULL", SqlType::VarChar(128, "nvarchar"), "", {}};
}

Emitted ScopeIdentity(BuiltinCall& c) {
  Binding b;
  b.kind = Binding::Kind::System;
  b.name = "@@identity";
  return Emitted{c.bind(b), kIdentity, "", {}};
}

constexpr BuiltinFunction kBuiltins[] = {
    {"ISNULL", 2, 2, nullptr, ResultType::Custom, IsNull},
    {"COALESCE", 0, 1000, nullptr, ResultType::Custom, Coalesce},
    {"NULLIF", 2, 2, "nullif", ResultType::First, nullptr},
    {"LTRIM", 1, 1, "tsql_ltrim", ResultType::TextOfFirst, nullptr},
    {"RTRIM", 1, 1, "tsql_rtrim", ResultType::TextOfFirst, nullptr},
    {"TRIM", 1, 1, nullptr, ResultType::Custom, Trim},
    {"LEN", 1, 1, "tsql_len", ResultType::Int, nullptr},
    {"SUBSTRING", 3, 3, "tsql_substring", ResultType::TextOfFirst, nullptr},
    {"LEFT", 2, 2, "tsql_left", ResultType::TextOfFirst, nullptr},
    {"RIGHT", 2, 2, "tsql_right", ResultType::TextOfFirst, nullptr},
    {"CHARINDEX", 2, 3, "tsql_charindex", ResultType::Int, nullptr},
    {"REPLACE", 3, 3, "tsql_replace", ResultType::LongText, nullptr},
    {"UPPER", 1, 1, "tsql_upper", ResultType::TextOfFirst, nullptr},
    {"LOWER", 1, 1, "tsql_lower", ResultType::TextOfFirst, nullptr},
    {"SPACE", 1, 1, nullptr, ResultType::Custom, Space},
    {"REPLICATE", 2, 2, nullptr, ResultType::Custom, Replicate},
    {"GETDATE", 0, 0, "tsql_getdate", ResultType::DateTime, nullptr},
    {"SYSDATETIME", 0, 0, "tsql_getdate", ResultType::DateTime, nullptr},
    {"CURRENT_TIMESTAMP", 0, 0, "tsql_getdate", ResultType::DateTime, nullptr},
    {"ISNUMERIC", 1, 1, "tsql_isnumeric", ResultType::Int, nullptr},
    {"ABS", 1, 1, "abs", ResultType::NumberOfFirst, nullptr},
    {"SIGN", 1, 1, "sign", ResultType::NumberOfFirst, nullptr},
    {"ROUND", 2, 2, nullptr, ResultType::Custom, Round},
    {"FLOOR", 1, 1, nullptr, ResultType::Custom, FloorOrCeiling},
    {"CEILING", 1, 1, nullptr, ResultType::Custom, FloorOrCeiling},
    {"COUNT", 1, 1, nullptr, ResultType::Custom, Aggregate},
    {"COUNT_BIG", 1, 1, nullptr, ResultType::Custom, Aggregate},
    {"SUM", 1, 1, nullptr, ResultType::Custom, Aggregate},
    {"MIN", 1, 1, nullptr, ResultType::Custom, Aggregate},
    {"MAX", 1, 1, nullptr, ResultType::Custom, Aggregate},
    {"AVG", 1, 1, nullptr, ResultType::Custom, Aggregate},
    {"DB_ID", 0, 1, nullptr, ResultType::Custom, DbId},
    {"DB_NAME", 0, 1, nullptr, ResultType::Custom, DbName},
    {"OBJECT_ID", 1, 2, "zel_object_id", ResultType::Int, nullptr},
    {"OBJECT_NAME", 1, 1, "zel_object_name", ResultType::SysName, nullptr},
    {"CONNECTIONPROPERTY", 1, 1, nullptr, ResultType::Custom, ConnectionProperty},
    {"SCOPE_IDENTITY", 0, 0, nullptr, ResultType::Custom, ScopeIdentity},
};

// SQL Server functions the engine knows and refuses rather than calling them unknown.
constexpr std::string_view kKnownUnsupported[] = {
    "DATEADD",     "DATEDIFF",   "DATEPART",   "DATENAME",    "YEAR",     "MONTH",
    "DAY",         "STR",        "NEWID",      "RAND",        "STUFF",    "PATINDEX",
    "SOUNDEX",     "DIFFERENCE", "DATALENGTH", "CHAR",        "ASCII",    "NCHAR",
    "UNICODE",     "REVERSE",    "IIF",        "CHOOSE",      "FORMAT",   "CONCAT",
    "TRY_CONVERT", "HOST_NAME",  "USER_NAME",  "SUSER_SNAME", "APP_NAME", "IDENT_CURRENT",
    "COL_LENGTH",  "STDEV",      "VAR",        "ROW_NUMBER",  "RANK",     "DENSE_RANK",
    "POWER",       "SQRT",       "EXP",        "LOG"};

}  // namespace

const BuiltinFunction* FindBuiltinFunction(std::string_view upper_name) {
  for (const BuiltinFunction& f : kBuiltins)
    if (upper_name == f.name) return &f;
  for (std::string_view n : kKnownUnsupported)
    if (upper_name == n)
      throw DbError("Unsupported T-SQL construct: function " + std::string(upper_name));
  return nullptr;
}

Emitted EmitBuiltin(const BuiltinFunction& f, BuiltinCall& call) {
  if (f.emit) return f.emit(call);
  return Emitted{Call(f.sqlite, call.args), ResultOf(f.result, call.args), "", {}};
}

}  // namespace zel::db::embedded
