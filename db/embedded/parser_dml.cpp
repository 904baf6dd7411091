// The parser's data statements: SELECT as a statement, INSERT (VALUES or a query), UPDATE
// and DELETE with SQL Server's FROM.
// Pure functions; any thread.
#include <string>

#include "db/client.h"
#include "db/embedded/parser_internal.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded::internal {

StmtPtr Parser::SelectStatement() {
  auto s = std::make_unique<SelectStmt>();
  s->select = ParseSelect();
  return s;
}

StmtPtr Parser::InsertStatement() {
  ExpectWord("INSERT");
  auto s = std::make_unique<InsertStmt>();
  if (IsWord("TOP")) Unsupported("INSERT TOP");
  AcceptWord("INTO");
  s->target = ParseObjectName();
  if (IsOp("(") && !PeekWord(1, "SELECT")) {
    ++pos_;
    do {
      // SQL Server ignores a table prefix on an INSERT column ("t1.PERNO").
      ObjectName c = ParseObjectName();
      s->columns.push_back(c.last());
    } while (AcceptOp(","));
    ExpectOp(")");
  }
  if (AcceptWord("VALUES")) {
    do {
      ExpectOp("(");
      std::vector<ExprPtr> row;
      do {
        if (IsWord("DEFAULT")) Unsupported("DEFAULT inside VALUES");
        row.push_back(ParseExpr());
      } while (AcceptOp(","));
      ExpectOp(")");
      s->values.push_back(std::move(row));
    } while (AcceptOp(","));
  } else if (AcceptWord("DEFAULT")) {
    ExpectWord("VALUES");
    s->default_values = true;
  } else if (IsWord("SELECT") || IsOp("(")) {
    s->select = ParseSelect();
  } else if (IsWord("EXEC") || IsWord("EXECUTE")) {
    Unsupported("INSERT … EXECUTE");
  } else {
    SyntaxError();
  }
  return s;
}

// [FROM sources] [WHERE condition] of UPDATE and DELETE; cursors and query hints refused.
void Parser::ParseFromAndWhere(std::vector<std::unique_ptr<TableRef>>& from, ExprPtr& where) {
  if (AcceptWord("FROM")) from = ParseFromList();
  if (AcceptWord("WHERE")) {
    if (IsWord("CURRENT")) Unsupported("WHERE CURRENT OF");
    where = ParseExpr();
  }
  if (IsWord("OPTION")) Unsupported("OPTION (query hints)");
}

StmtPtr Parser::UpdateStatement() {
  ExpectWord("UPDATE");
  auto s = std::make_unique<UpdateStmt>();
  if (IsWord("TOP")) Unsupported("UPDATE TOP");
  s->target = ParseObjectName();
  SkipTableHints();
  ExpectWord("SET");
  do {
    SetAssignment a;
    if (At(TokenKind::Variable)) {
      a.variable = toks_[pos_++].text;
      ExpectOp("=");
    } else {
      ObjectName c = ParseObjectName();
      a.column = c.parts;
      if (IsOp("+") || IsOp("-") || IsOp("*") || IsOp("/")) {
        if (PeekOp(1, "=")) Unsupported("compound assignment operator");
      }
      ExpectOp("=");
    }
    a.value = ParseExpr();
    s->sets.push_back(std::move(a));
  } while (AcceptOp(","));
  ParseFromAndWhere(s->from, s->where);
  return s;
}

StmtPtr Parser::DeleteStatement() {
  ExpectWord("DELETE");
  auto s = std::make_unique<DeleteStmt>();
  if (IsWord("TOP")) Unsupported("DELETE TOP");
  AcceptWord("FROM");
  s->target = ParseObjectName();
  SkipTableHints();
  ParseFromAndWhere(s->from, s->where);
  return s;
}

}  // namespace zel::db::embedded::internal
