// The parser's entry points and the parts every statement shares: the batch (administration
// statements refused first), object names and type names.
// Pure functions; any thread.
#include "db/embedded/parser.h"

#include <optional>
#include <set>
#include <string>

#include "db/client.h"
#include "db/embedded/parser_internal.h"
#include "util/parse_int.h"

namespace zel::db::embedded {
namespace internal {

const std::set<std::string>& Reserved() {
  static const std::set<std::string> kReserved = {
      "ADD",        "ALL",     "ALTER",      "AND",         "ANY",      "AS",      "ASC",
      "BACKUP",     "BEGIN",   "BETWEEN",    "BREAK",       "BY",       "CASE",    "CHECK",
      "CLUSTERED",  "COLLATE", "CONSTRAINT", "CONTINUE",    "CONVERT",  "CREATE",  "CROSS",
      "DATABASE",   "DBCC",    "DECLARE",    "DEFAULT",     "DELETE",   "DESC",    "DISTINCT",
      "DROP",       "ELSE",    "END",        "EXCEPT",      "EXEC",     "EXECUTE", "EXISTS",
      "FOR",        "FOREIGN", "FROM",       "FULL",        "FUNCTION", "GO",      "GOTO",
      "GROUP",      "HAVING",  "IF",         "IN",          "INDEX",    "INNER",   "INSERT",
      "INTERSECT",  "INTO",    "IS",         "JOIN",        "KEY",      "KILL",    "LEFT",
      "LIKE",       "NOT",     "NULL",       "ON",          "OPTION",   "OR",      "ORDER",
      "OUTER",      "OVER",    "PERCENT",    "PIVOT",       "PRIMARY",  "PRINT",   "PROCEDURE",
      "REFERENCES", "RESTORE", "RETURN",     "RIGHT",       "SELECT",   "SET",     "TABLE",
      "THEN",       "TOP",     "TRAN",       "TRANSACTION", "TRUNCATE", "UNION",   "UNIQUE",
      "UNPIVOT",    "UPDATE",  "USE",        "VALUES",      "VIEW",     "WHEN",    "WHERE",
      "WHILE",      "WITH"};
  return kReserved;
}

// Administration statements are refused before anything of the batch runs, wherever
// they stand (also after a "GO" line the client left in the text).
void Parser::RefuseAdministration() const {
  for (std::size_t i = 0; i + 1 < toks_.size(); ++i) {
    const Token& t = toks_[i];
    if (t.kind != TokenKind::Identifier) continue;
    const Token& n = toks_[i + 1];
    bool next_word = n.kind == TokenKind::Identifier;
    if ((t.upper == "BACKUP" || t.upper == "RESTORE") && next_word &&
        (n.upper == "DATABASE" || n.upper == "LOG" || n.upper == "VERIFYONLY" ||
         n.upper == "FILELISTONLY" || n.upper == "HEADERONLY"))
      throw DbError(t.upper + " " + n.upper + " is not supported by the embedded engine.");
    if (t.upper == "ALTER" && next_word && n.upper == "DATABASE") {
      std::string what = "ALTER DATABASE";
      for (std::size_t k = i + 2; k < toks_.size() && k < i + 8; ++k)
        if (toks_[k].kind == TokenKind::Identifier &&
            (toks_[k].upper == "OFFLINE" || toks_[k].upper == "ONLINE")) {
          what += " … " + toks_[k].upper;
          break;
        }
      throw DbError(what + " is not supported by the embedded engine.");
    }
    if (t.upper == "KILL" && (n.kind == TokenKind::Number || n.kind == TokenKind::Variable) &&
        (i == 0 || toks_[i - 1].kind != TokenKind::Operator || toks_[i - 1].text == ";"))
      throw DbError("KILL is not supported by the embedded engine.");
  }
}

std::unique_ptr<Batch> Parser::ParseAll() {
  RefuseAdministration();
  auto batch = std::make_unique<Batch>();
  for (const Token& t : toks_)
    if (t.kind == TokenKind::Param) ++batch->param_count;
  while (true) {
    while (IsOp(";")) ++pos_;
    if (At(TokenKind::End)) break;
    batch->statements.push_back(ParseStatement());
  }
  return batch;
}

ObjectName Parser::NameOnly() {
  ObjectName n = ParseObjectName();
  while (IsOp(";")) ++pos_;
  if (!At(TokenKind::End)) return {};
  return n;
}

ObjectName Parser::ParseObjectName() {
  ObjectName n;
  if (!IsNameToken()) SyntaxError();
  n.parts.push_back(toks_[pos_++].text);
  while (IsOp(".")) {
    ++pos_;
    if (IsOp(".")) {
      n.parts.emplace_back();
      continue;
    }
    if (!IsNameToken()) SyntaxError();
    n.parts.push_back(toks_[pos_++].text);
  }
  if (n.parts.size() > 4) SyntaxError();
  return n;
}

// The size given to a type: refused above what SQL Server allows (8000 bytes, 4000
// characters of the Unicode types), with its message, before anything is allocated.
int Parser::SizeOf(const std::string& digits, const std::string& type) {
  const std::optional<long long> value = util::ParseInt<long long>(digits);
  const bool unicode = type == "NCHAR" || type == "NVARCHAR";
  if (!value || *value > (unicode ? 4000 : 8000)) {
    throw DbError("The size (" + digits + ") given to the " + (unicode ? "parameter" : "type") +
                  " '" + LowerAscii(type) + "' exceeds the maximum allowed" +
                  (unicode ? " (4000)." : " for any data type (8000)."));
  }
  return static_cast<int>(*value);
}

TypeSpec Parser::ParseType() {
  TypeSpec t;
  if (!IsNameToken()) SyntaxError();
  t.name = UpperAscii(toks_[pos_++].text);
  if (t.name == "DOUBLE" && AcceptWord("PRECISION")) t.name = "FLOAT";
  if (t.name == "CHARACTER" && AcceptWord("VARYING")) t.name = "VARCHAR";
  if (AcceptOp("(")) {
    t.has_args = true;
    if (AcceptWord("MAX")) {
      t.length = -1;
    } else {
      if (!At(TokenKind::Number)) SyntaxError();
      const std::string size = toks_[pos_++].text;
      t.length = SizeOf(size, t.name);
      t.precision = t.length;
      if (AcceptOp(",")) {
        if (!At(TokenKind::Number)) SyntaxError();
        t.scale = SizeOf(toks_[pos_++].text, t.name);
      }
    }
    ExpectOp(")");
  }
  return t;
}

}  // namespace internal

std::unique_ptr<Batch> ParseBatch(std::string_view text) {
  internal::Parser p(text);
  return p.ParseAll();
}

ObjectName ParseObjectNameText(std::string_view text) {
  try {
    internal::Parser p(text);
    return p.NameOnly();
  } catch (const DbError&) {
    return {};
  }
}

TypeSpec ParseTypeText(std::string_view text) {
  internal::Parser p(text);
  return p.TypeOnly();
}

}  // namespace zel::db::embedded
