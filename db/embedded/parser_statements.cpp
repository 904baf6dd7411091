// The parser's statement dispatch and the statements of the batch language: USE,
// DECLARE, SET, IF, WHILE, BEGIN … END, EXEC ( text ), RETURN and PRINT; other statements
// refused with SQL Server's or the engine's message.
// Pure functions; any thread.
#include <set>
#include <string>

#include "db/client.h"
#include "db/embedded/parser_internal.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded::internal {

StmtPtr Parser::ParseStatement() {
  Nesting nesting(*this);
  std::size_t start = Cur().offset;
  StmtPtr s = ParseStatementInner();
  std::size_t end = Cur().offset;
  if (pos_ > 0 && end > start) s->text = std::string(text_.substr(start, end - start));
  return s;
}

StmtPtr Parser::ParseStatementInner() {
  const Token& t = Cur();
  if (t.kind == TokenKind::Operator && t.text == "(") {
    // A parenthesised query used as a statement.
    return SelectStatement();
  }
  if (t.kind != TokenKind::Identifier) SyntaxError();
  const std::string& w = t.upper;
  if (w == "SELECT") return SelectStatement();
  if (w == "INSERT") return InsertStatement();
  if (w == "UPDATE") return UpdateStatement();
  if (w == "DELETE") return DeleteStatement();
  if (w == "CREATE") return CreateStatement();
  if (w == "ALTER") return AlterStatement();
  if (w == "DROP") return DropStatement();
  if (w == "TRUNCATE") return TruncateStatement();
  if (w == "USE") return UseStatement();
  if (w == "DECLARE") return DeclareStatement();
  if (w == "SET") return SetStatement();
  if (w == "IF") return IfStatement();
  if (w == "WHILE") return WhileStatement();
  if (w == "BREAK" || w == "CONTINUE") {
    ++pos_;
    if (w == "BREAK") return std::make_unique<BreakStmt>();
    return std::make_unique<ContinueStmt>();
  }
  if (w == "BEGIN") return BlockStatement();
  if (w == "EXEC" || w == "EXECUTE") return ExecStatement();
  if (w == "RETURN") return ReturnStatement();
  if (w == "PRINT") return PrintStatement();
  RefuseStatement(w);
}

// Statements the engine does not run: administration ones with their own message, the
// rest as unsupported constructs, anything else as a syntax error.
[[noreturn]] void Parser::RefuseStatement(const std::string& w) {
  if (w == "BACKUP" || w == "RESTORE") {
    std::string what = w;
    if (Peek(1).kind == TokenKind::Identifier) what += " " + Peek(1).upper;
    throw DbError(what + " is not supported by the embedded engine.");
  }
  if (w == "KILL" || w == "DBCC" || w == "SHUTDOWN" || w == "RECONFIGURE")
    throw DbError(w + " is not supported by the embedded engine.");
  if (w == "WITH") Unsupported("WITH (common table expression)");
  if (w == "GO") Unsupported("GO inside a batch (the client splits scripts at GO lines)");
  if (w == "COMMIT" || w == "ROLLBACK" || w == "SAVE") Unsupported(w + " TRANSACTION");
  if (w == "MERGE" || w == "GRANT" || w == "REVOKE" || w == "DENY" || w == "RAISERROR" ||
      w == "THROW" || w == "WAITFOR" || w == "OPEN" || w == "FETCH" || w == "CLOSE" ||
      w == "DEALLOCATE" || w == "GOTO")
    Unsupported(w);
  SyntaxError();
}

StmtPtr Parser::UseStatement() {
  ++pos_;
  auto s = std::make_unique<UseStmt>();
  s->database = ExpectName();
  return s;
}

// The statements of a BEGIN … END body, after its BEGIN, through its END.
std::vector<StmtPtr> Parser::StatementsUntilEnd() {
  std::vector<StmtPtr> body;
  while (true) {
    while (IsOp(";")) ++pos_;
    if (AcceptWord("END")) return body;
    if (At(TokenKind::End)) SyntaxError();
    body.push_back(ParseStatement());
  }
}

StmtPtr Parser::IfStatement() {
  ++pos_;
  auto s = std::make_unique<IfStmt>();
  s->condition = ParseExpr();
  while (IsOp(";")) ++pos_;
  s->then_branch = ParseStatement();
  std::size_t save = pos_;
  while (IsOp(";")) ++pos_;
  if (AcceptWord("ELSE")) {
    while (IsOp(";")) ++pos_;
    s->else_branch = ParseStatement();
  } else {
    pos_ = save;
  }
  return s;
}

StmtPtr Parser::WhileStatement() {
  ++pos_;
  auto s = std::make_unique<WhileStmt>();
  s->condition = ParseExpr();
  s->body = ParseStatement();
  return s;
}

StmtPtr Parser::BlockStatement() {
  if (PeekWord(1, "TRAN") || PeekWord(1, "TRANSACTION") || PeekWord(1, "TRY") ||
      PeekWord(1, "DISTRIBUTED"))
    Unsupported("BEGIN " + Peek(1).text);
  ++pos_;
  auto s = std::make_unique<BlockStmt>();
  s->body = StatementsUntilEnd();
  return s;
}

StmtPtr Parser::ExecStatement() {
  ++pos_;
  auto s = std::make_unique<ExecStmt>();
  if (!AcceptOp("(")) Unsupported("EXECUTE of a stored procedure");
  s->batch = ParseExpr();
  ExpectOp(")");
  return s;
}

StmtPtr Parser::ReturnStatement() {
  ++pos_;
  auto s = std::make_unique<ReturnStmt>();
  if (!At(TokenKind::End) && !IsOp(";") && !IsStatementStart() && !IsWord("END"))
    s->value = ParseExpr();
  return s;
}

StmtPtr Parser::PrintStatement() {
  ++pos_;
  auto s = std::make_unique<PrintStmt>();
  s->value = ParseExpr();
  return s;
}

bool Parser::IsStatementStart() const {
  if (!At(TokenKind::Identifier)) return false;
  static const std::set<std::string> kStarts = {
      "SELECT",   "INSERT",  "UPDATE",   "DELETE", "CREATE", "ALTER",   "DROP",
      "TRUNCATE", "USE",     "DECLARE",  "SET",    "IF",     "WHILE",   "BEGIN",
      "EXEC",     "EXECUTE", "RETURN",   "PRINT",  "BACKUP", "RESTORE", "KILL",
      "DBCC",     "BREAK",   "CONTINUE", "ELSE"};
  return kStarts.count(Cur().upper) > 0;
}

StmtPtr Parser::DeclareStatement() {
  ExpectWord("DECLARE");
  auto s = std::make_unique<DeclareStmt>();
  do {
    Declaration d;
    if (!At(TokenKind::Variable)) {
      if (IsNameToken() && PeekWord(1, "CURSOR")) Unsupported("DECLARE CURSOR");
      SyntaxError();
    }
    d.name = toks_[pos_++].text;
    AcceptWord("AS");
    if (IsWord("TABLE")) Unsupported("table variable");
    if (IsWord("CURSOR")) Unsupported("DECLARE CURSOR");
    d.type = ParseType();
    if (AcceptOp("=")) d.init = ParseExpr();
    s->declarations.push_back(std::move(d));
  } while (AcceptOp(","));
  return s;
}

StmtPtr Parser::SetStatement() {
  ExpectWord("SET");
  if (At(TokenKind::Variable)) {
    auto s = std::make_unique<SetVariableStmt>();
    s->variable = toks_[pos_++].text;
    if (!IsOp("=")) {
      if ((IsOp("+") || IsOp("-")) && PeekOp(1, "=")) Unsupported("compound assignment operator");
      SyntaxError();
    }
    ++pos_;
    s->value = ParseExpr();
    return s;
  }
  auto s = std::make_unique<SetOptionStmt>();
  if (!At(TokenKind::Identifier)) SyntaxError();
  s->option = Cur().upper;
  ++pos_;
  const std::string& o = s->option;
  if (o == "TRANSACTION" || o == "DATEFORMAT" || o == "LANGUAGE" || o == "DATEFIRST" ||
      o == "ROWCOUNT" || o == "IDENTITY_INSERT" || o == "LOCK_TIMEOUT" || o == "DEADLOCK_PRIORITY")
    Unsupported("SET " + o);
  if (AcceptWord("ON")) {
    s->on = true;
  } else if (AcceptWord("OFF")) {
    s->on = false;
  } else {
    Unsupported("SET " + o);
  }
  return s;
}

}  // namespace zel::db::embedded::internal
