#include "db/client.h"
#include "db/embedded/translator.h"
#include "db/embedded/translator_internal.h"
#include "util/text.h"

// Conversions between T-SQL types as SQLite expressions (CAST's and storing's rules) and
// the default expressions of column definitions.

namespace zel::db::embedded {

std::string Translator::CastConversion(const std::string& sql, const SqlType& from,
                                       const SqlType& to) {
  if (from.cls == TypeClass::Null) return sql;
  switch (to.cls) {
    case TypeClass::Int:
      if (from.cls == TypeClass::Int && IntRank(from) <= IntRank(to)) return sql;
      if (from.cls == TypeClass::Bit) return sql;
      return to.name == "int" ? "tsql_int(" + sql + ")"
                              : "tsql_int(" + sql + ", '" + to.name + "')";
    case TypeClass::Bit:
      if (from.cls == TypeClass::Bit) return sql;
      return "tsql_bit(" + sql + ")";
    case TypeClass::Float:
      if (from.cls == TypeClass::Float) return sql;
      return "tsql_float(" + sql + ")";
    case TypeClass::Numeric:
      return "tsql_numeric(" + sql + ", " + std::to_string(to.precision) + ", " +
             std::to_string(to.scale) + ")";
    case TypeClass::Char:
      if (from.cls == TypeClass::Char && from.length == to.length) return sql;
      return "tsql_char(" + sql + ", " + std::to_string(to.length) + ")";
    case TypeClass::VarChar:
      if (from.IsString() && (to.length < 0 || (from.length > 0 && from.length <= to.length))) {
        if (from.cls == TypeClass::VarChar) return sql;
      }
      return "tsql_varchar(" + sql + ", " + std::to_string(to.length) + ")";
    default:
      return sql;
  }
}

std::string Translator::StoreConversion(const std::string& sql, const SqlType& from,
                                        const SqlType& to) {
  if (from.cls == TypeClass::Null) return sql;
  switch (to.cls) {
    case TypeClass::Char:
      if (from.cls == TypeClass::Char && from.length == to.length) return sql;
      return "zel_char(" + sql + ", " + std::to_string(to.length) + ")";
    case TypeClass::VarChar:
      if (to.length < 0) return sql;
      if (from.cls == TypeClass::VarChar && from.length > 0 && from.length <= to.length) return sql;
      return "zel_varchar(" + sql + ", " + std::to_string(to.length) + ")";
    case TypeClass::DateTime:
      return sql;
    default:
      return CastConversion(sql, from, to);
  }
}

// A column default is stored in the table definition, so it is a constant SQLite
// expression: texts padded to a char column, numbers as written, the rest converted.
std::string Translator::DefaultExpression(const Expr& e, const SqlType& type) {
  Scope empty;
  Ex x = Emit(e, empty);
  if (!binder_.bindings().empty())
    throw DbError("Variables are not allowed in the DEFAULT of a column.");
  if (e.kind == ExprKind::String && (type.IsString() || type.cls == TypeClass::DateTime)) {
    std::string v = e.text;
    if (type.cls == TypeClass::Char && type.length > 0)
      v = util::Utf8PadRight(v, static_cast<std::size_t>(type.length));
    return QuoteText(v);
  }
  if ((e.kind == ExprKind::Integer || e.kind == ExprKind::Decimal) && type.IsNumber()) {
    if (type.cls == TypeClass::Int || type.cls == TypeClass::Bit ||
        (type.cls == TypeClass::Numeric && type.scale == 0)) {
      if (e.kind == ExprKind::Integer) return e.text;
    } else {
      return x.sql;
    }
  }
  if (e.kind == ExprKind::Null) return "NULL";
  return "(" + StoreConversion(x.sql, x.type, type) + ")";
}

}  // namespace zel::db::embedded
