#include "db/embedded/parser.h"

#include <optional>
#include <set>
#include <string>

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "util/parse_int.h"

namespace zel::db::embedded {

namespace {

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

[[noreturn]] void Unsupported(const std::string& what) {
  throw DbError("Unsupported T-SQL construct: " + what);
}

// The comparison an operator token denotes (`!=`, `!<`, `!>` as their standard forms);
// None for another token.
Operator ComparisonOperator(const std::string& text) {
  if (text == "=") return Operator::Equal;
  if (text == "<>" || text == "!=") return Operator::NotEqual;
  if (text == "<") return Operator::Less;
  if (text == ">") return Operator::Greater;
  if (text == "<=" || text == "!>") return Operator::LessEqual;
  if (text == ">=" || text == "!<") return Operator::GreaterEqual;
  return Operator::None;
}

// The arithmetic or bitwise operator of a token the parser has matched as one.
Operator ArithmeticOperator(const std::string& text) {
  static const std::pair<const char*, Operator> kOperators[] = {
      {"+", Operator::Add},    {"-", Operator::Subtract}, {"*", Operator::Multiply},
      {"/", Operator::Divide}, {"%", Operator::Modulo},   {"&", Operator::BitAnd},
      {"|", Operator::BitOr},  {"^", Operator::BitXor}};
  for (const auto& [t, op] : kOperators)
    if (text == t) return op;
  return Operator::None;
}

// Deepest nesting a batch may have (parentheses, operators in a chain, NOT, BEGIN blocks,
// subqueries): deeper text is refused as SQL Server refuses it, before the recursive parser,
// translator or interpreter could run out of stack.
constexpr int kMaxNesting = 200;

class Parser {
 public:
  Parser(std::string_view text) : text_(text), toks_(Tokenize(text)) {}

  // One level of nesting for the life of the guard; Deeper adds one more (a left-deep
  // operator chain nests once per operator).
  class Nesting {
   public:
    explicit Nesting(Parser& p, bool enter = true) : p_(p) {
      if (enter) Deeper();
    }
    ~Nesting() { p_.depth_ -= levels_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
    void Deeper() {
      ++levels_;
      if (++p_.depth_ > kMaxNesting) {
        throw DbError(
            "Some part of your SQL statement is nested too deeply. Rewrite the query or break "
            "it up into smaller queries.");
      }
    }

   private:
    Parser& p_;
    int levels_ = 0;
  };

  // Administration statements are refused before anything of the batch runs, wherever
  // they stand (also after a "GO" line the client left in the text).
  void RefuseAdministration() const {
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

  std::unique_ptr<Batch> ParseAll() {
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

  ObjectName NameOnly() {
    ObjectName n = ParseObjectName();
    while (IsOp(";")) ++pos_;
    if (!At(TokenKind::End)) return {};
    return n;
  }

  TypeSpec TypeOnly() { return ParseType(); }

  // ---------------------------------------------------------------- tokens
  const Token& Cur() const { return toks_[pos_]; }
  const Token& Peek(int k = 1) const {
    std::size_t i = pos_ + static_cast<std::size_t>(k);
    return i < toks_.size() ? toks_[i] : toks_.back();
  }
  bool At(TokenKind k) const { return Cur().kind == k; }
  bool IsOp(const char* op) const { return Cur().kind == TokenKind::Operator && Cur().text == op; }
  bool IsWord(const char* w) const {
    return Cur().kind == TokenKind::Identifier && Cur().upper == w;
  }
  bool PeekWord(int k, const char* w) const {
    const Token& t = Peek(k);
    return t.kind == TokenKind::Identifier && t.upper == w;
  }
  bool PeekOp(int k, const char* op) const {
    const Token& t = Peek(k);
    return t.kind == TokenKind::Operator && t.text == op;
  }
  bool AcceptWord(const char* w) {
    if (!IsWord(w)) return false;
    ++pos_;
    return true;
  }
  bool AcceptOp(const char* op) {
    if (!IsOp(op)) return false;
    ++pos_;
    return true;
  }
  [[noreturn]] void SyntaxError() const {
    const Token& t = Cur();
    if (t.kind == TokenKind::End) throw DbError("Incorrect syntax near the end of the batch.");
    std::string near = t.kind == TokenKind::String ? "'" + t.text + "'" : t.text;
    throw DbError("Incorrect syntax near '" + near + "'.");
  }
  void ExpectWord(const char* w) {
    if (!AcceptWord(w)) SyntaxError();
  }
  void ExpectOp(const char* op) {
    if (!AcceptOp(op)) SyntaxError();
  }
  bool IsNameToken() const { return At(TokenKind::QuotedIdent) || (At(TokenKind::Identifier)); }
  std::string ExpectName() {
    if (!IsNameToken()) SyntaxError();
    return toks_[pos_++].text;
  }
  bool IsReservedHere() const {
    return At(TokenKind::Identifier) && Reserved().count(Cur().upper) > 0;
  }

  // ---------------------------------------------------------------- names, types
  ObjectName ParseObjectName() {
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
  static int SizeOf(const std::string& digits, const std::string& type) {
    const std::optional<long long> value = util::ParseInt<long long>(digits);
    const bool unicode = type == "NCHAR" || type == "NVARCHAR";
    if (!value || *value > (unicode ? 4000 : 8000)) {
      throw DbError("The size (" + digits + ") given to the " + (unicode ? "parameter" : "type") +
                    " '" + LowerAscii(type) + "' exceeds the maximum allowed" +
                    (unicode ? " (4000)." : " for any data type (8000)."));
    }
    return static_cast<int>(*value);
  }

  TypeSpec ParseType() {
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

  // ---------------------------------------------------------------- statements
  StmtPtr ParseStatement() {
    Nesting nesting(*this);
    std::size_t start = Cur().offset;
    StmtPtr s = ParseStatementInner();
    std::size_t end = Cur().offset;
    if (pos_ > 0 && end > start) s->text = std::string(text_.substr(start, end - start));
    return s;
  }

  StmtPtr ParseStatementInner() {
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
  [[noreturn]] void RefuseStatement(const std::string& w) {
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

  StmtPtr TruncateStatement() {
    ++pos_;
    ExpectWord("TABLE");
    auto s = std::make_unique<TruncateStmt>();
    s->target = ParseObjectName();
    return s;
  }

  StmtPtr UseStatement() {
    ++pos_;
    auto s = std::make_unique<UseStmt>();
    s->database = ExpectName();
    return s;
  }

  // The statements of a BEGIN … END body, after its BEGIN, through its END.
  std::vector<StmtPtr> StatementsUntilEnd() {
    std::vector<StmtPtr> body;
    while (true) {
      while (IsOp(";")) ++pos_;
      if (AcceptWord("END")) return body;
      if (At(TokenKind::End)) SyntaxError();
      body.push_back(ParseStatement());
    }
  }

  StmtPtr IfStatement() {
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

  StmtPtr WhileStatement() {
    ++pos_;
    auto s = std::make_unique<WhileStmt>();
    s->condition = ParseExpr();
    s->body = ParseStatement();
    return s;
  }

  StmtPtr BlockStatement() {
    if (PeekWord(1, "TRAN") || PeekWord(1, "TRANSACTION") || PeekWord(1, "TRY") ||
        PeekWord(1, "DISTRIBUTED"))
      Unsupported("BEGIN " + Peek(1).text);
    ++pos_;
    auto s = std::make_unique<BlockStmt>();
    s->body = StatementsUntilEnd();
    return s;
  }

  StmtPtr ExecStatement() {
    ++pos_;
    auto s = std::make_unique<ExecStmt>();
    if (!AcceptOp("(")) Unsupported("EXECUTE of a stored procedure");
    s->batch = ParseExpr();
    ExpectOp(")");
    return s;
  }

  StmtPtr ReturnStatement() {
    ++pos_;
    auto s = std::make_unique<ReturnStmt>();
    if (!At(TokenKind::End) && !IsOp(";") && !IsStatementStart() && !IsWord("END"))
      s->value = ParseExpr();
    return s;
  }

  StmtPtr PrintStatement() {
    ++pos_;
    auto s = std::make_unique<PrintStmt>();
    s->value = ParseExpr();
    return s;
  }

  bool IsStatementStart() const {
    if (!At(TokenKind::Identifier)) return false;
    static const std::set<std::string> kStarts = {
        "SELECT",   "INSERT",  "UPDATE",   "DELETE", "CREATE", "ALTER",   "DROP",
        "TRUNCATE", "USE",     "DECLARE",  "SET",    "IF",     "WHILE",   "BEGIN",
        "EXEC",     "EXECUTE", "RETURN",   "PRINT",  "BACKUP", "RESTORE", "KILL",
        "DBCC",     "BREAK",   "CONTINUE", "ELSE"};
    return kStarts.count(Cur().upper) > 0;
  }

  StmtPtr SelectStatement() {
    auto s = std::make_unique<SelectStmt>();
    s->select = ParseSelect();
    return s;
  }

  StmtPtr InsertStatement() {
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

  StmtPtr UpdateStatement() {
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
    if (AcceptWord("FROM")) s->from = ParseFromList();
    if (AcceptWord("WHERE")) {
      if (IsWord("CURRENT")) Unsupported("WHERE CURRENT OF");
      s->where = ParseExpr();
    }
    if (IsWord("OPTION")) Unsupported("OPTION (query hints)");
    return s;
  }

  StmtPtr DeleteStatement() {
    ExpectWord("DELETE");
    auto s = std::make_unique<DeleteStmt>();
    if (IsWord("TOP")) Unsupported("DELETE TOP");
    AcceptWord("FROM");
    s->target = ParseObjectName();
    SkipTableHints();
    if (AcceptWord("FROM")) s->from = ParseFromList();
    if (AcceptWord("WHERE")) {
      if (IsWord("CURRENT")) Unsupported("WHERE CURRENT OF");
      s->where = ParseExpr();
    }
    if (IsWord("OPTION")) Unsupported("OPTION (query hints)");
    return s;
  }

  StmtPtr DeclareStatement() {
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

  StmtPtr SetStatement() {
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
        o == "ROWCOUNT" || o == "IDENTITY_INSERT" || o == "LOCK_TIMEOUT" ||
        o == "DEADLOCK_PRIORITY")
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

  StmtPtr CreateStatement() {
    ExpectWord("CREATE");
    if (AcceptWord("TABLE")) {
      auto s = std::make_unique<CreateTableStmt>();
      s->target = ParseObjectName();
      ExpectOp("(");
      do {
        if (IsOp(")")) break;  // trailing comma
        if (IsWord("CONSTRAINT") || IsWord("PRIMARY") || IsWord("UNIQUE") || IsWord("FOREIGN") ||
            IsWord("CHECK"))
          s->constraints.push_back(ParseTableConstraint());
        else
          s->column_defs.push_back(ParseColumnDef());
      } while (AcceptOp(","));
      ExpectOp(")");
      SkipStorageClauses();
      return s;
    }
    if (AcceptWord("VIEW")) {
      auto s = std::make_unique<CreateViewStmt>();
      s->target = ParseObjectName();
      if (IsOp("(")) Unsupported("CREATE VIEW with a column list");
      if (IsWord("WITH")) Unsupported("CREATE VIEW WITH options");
      ExpectWord("AS");
      s->select = ParseSelect();
      if (IsWord("WITH")) Unsupported("WITH CHECK OPTION");
      return s;
    }
    if (AcceptWord("FUNCTION")) return FunctionDefinition();
    if (AcceptWord("DATABASE")) {
      auto s = std::make_unique<CreateDatabaseStmt>();
      s->name = ExpectName();
      if (!At(TokenKind::End) && !IsOp(";") && !IsStatementStart())
        Unsupported("CREATE DATABASE options");
      return s;
    }
    bool unique = AcceptWord("UNIQUE");
    if (AcceptWord("CLUSTERED") || AcceptWord("NONCLUSTERED")) {
    }
    if (AcceptWord("INDEX")) {
      auto s = std::make_unique<CreateIndexStmt>();
      s->unique = unique;
      s->name = ExpectName();
      ExpectWord("ON");
      s->target = ParseObjectName();
      ExpectOp("(");
      do {
        s->columns.push_back(ExpectName());
        if (!AcceptWord("ASC")) AcceptWord("DESC");
      } while (AcceptOp(","));
      ExpectOp(")");
      if (IsWord("INCLUDE") || IsWord("WHERE")) Unsupported("CREATE INDEX " + Cur().upper);
      SkipStorageClauses();
      return s;
    }
    if (At(TokenKind::Identifier)) Unsupported("CREATE " + Cur().upper);
    SyntaxError();
  }

  StmtPtr FunctionDefinition() {
    auto s = std::make_unique<CreateFunctionStmt>();
    s->target = ParseObjectName();
    ExpectOp("(");
    if (!IsOp(")")) {
      do {
        Declaration d;
        if (!At(TokenKind::Variable)) SyntaxError();
        d.name = toks_[pos_++].text;
        AcceptWord("AS");
        d.type = ParseType();
        if (AcceptOp("=")) d.init = ParseExpr();
        s->params.push_back(std::move(d));
      } while (AcceptOp(","));
    }
    ExpectOp(")");
    ExpectWord("RETURNS");
    if (IsWord("TABLE") || At(TokenKind::Variable)) Unsupported("table-valued function");
    s->returns = ParseType();
    if (AcceptWord("WITH")) {
      do {
        ExpectName();
      } while (AcceptOp(","));
    }
    ExpectWord("AS");
    if (!IsWord("BEGIN")) {
      if (IsWord("RETURN")) {
        s->body.push_back(ParseStatement());
        return s;
      }
      SyntaxError();
    }
    ++pos_;
    s->body = StatementsUntilEnd();
    return s;
  }

  void SkipStorageClauses() {
    while (true) {
      if (AcceptWord("ON")) {
        ExpectName();
        if (AcceptOp("(")) {
          ExpectName();
          ExpectOp(")");
        }
        continue;
      }
      if (AcceptWord("TEXTIMAGE_ON")) {
        ExpectName();
        continue;
      }
      if (IsWord("WITH") && PeekOp(1, "(")) {
        pos_ += 2;
        int depth = 1;
        while (depth > 0 && !At(TokenKind::End)) {
          if (IsOp("(")) ++depth;
          if (IsOp(")")) --depth;
          ++pos_;
        }
        continue;
      }
      break;
    }
  }

  void SkipTableHints() {
    if (IsWord("WITH") && PeekOp(1, "(")) {
      pos_ += 2;
      do {
        std::string hint = UpperAscii(ExpectName());
        if (hint != "NOLOCK" && hint != "READUNCOMMITTED" && hint != "ROWLOCK" &&
            hint != "UPDLOCK" && hint != "HOLDLOCK" && hint != "READCOMMITTED")
          Unsupported("table hint " + hint);
      } while (AcceptOp(","));
      ExpectOp(")");
    }
  }

  TableConstraint ParseTableConstraint() {
    TableConstraint c;
    if (AcceptWord("CONSTRAINT")) c.name = ExpectName();
    if (AcceptWord("PRIMARY")) {
      ExpectWord("KEY");
      c.kind = ConstraintKind::PrimaryKey;
    } else if (AcceptWord("UNIQUE")) {
      c.kind = ConstraintKind::Unique;
    } else if (IsWord("FOREIGN")) {
      Unsupported("FOREIGN KEY constraint");
    } else if (IsWord("CHECK")) {
      Unsupported("CHECK constraint");
    } else if (IsWord("DEFAULT")) {
      Unsupported("table-level DEFAULT constraint");
    } else {
      SyntaxError();
    }
    if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
    ExpectOp("(");
    do {
      c.columns.push_back(ExpectName());
      if (!AcceptWord("ASC")) AcceptWord("DESC");
    } while (AcceptOp(","));
    ExpectOp(")");
    SkipStorageClauses();
    return c;
  }

  ColumnDefinition ParseColumnDef() {
    ColumnDefinition d;
    d.name = ExpectName();
    if (IsWord("AS")) Unsupported("computed column");
    d.type = ParseType();
    while (true) {
      if (AcceptWord("IDENTITY")) {
        d.identity = true;
        if (AcceptOp("(")) {
          d.seed = ParseSignedInteger();
          ExpectOp(",");
          d.increment = ParseSignedInteger();
          ExpectOp(")");
        }
        d.nullable = false;
        continue;
      }
      if (AcceptWord("NOT")) {
        if (AcceptWord("FOR")) {
          ExpectWord("REPLICATION");
          continue;
        }
        ExpectWord("NULL");
        d.nullable = false;
        continue;
      }
      if (AcceptWord("NULL")) {
        d.nullable = true;
        d.explicit_null = true;
        continue;
      }
      if (AcceptWord("COLLATE")) {
        std::string coll = UpperAscii(ExpectName());
        if (coll.find("_CS") != std::string::npos || coll.find("BIN") != std::string::npos)
          Unsupported("case-sensitive collation " + coll);
        continue;
      }
      if (AcceptWord("ROWGUIDCOL") || AcceptWord("SPARSE")) continue;
      std::string cname;
      if (AcceptWord("CONSTRAINT")) cname = ExpectName();
      if (AcceptWord("DEFAULT")) {
        d.default_value = ParseExpr();
        d.default_name = cname;
        continue;
      }
      if (AcceptWord("PRIMARY")) {
        ExpectWord("KEY");
        if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
        d.primary_key = true;
        d.constraint_name = cname;
        d.nullable = false;
        continue;
      }
      if (AcceptWord("UNIQUE")) {
        if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
        d.unique = true;
        if (d.constraint_name.empty()) d.constraint_name = cname;
        continue;
      }
      if (IsWord("REFERENCES") || IsWord("FOREIGN")) Unsupported("FOREIGN KEY constraint");
      if (IsWord("CHECK")) Unsupported("CHECK constraint");
      if (!cname.empty()) SyntaxError();
      break;
    }
    return d;
  }

  long long ParseSignedInteger() {
    bool neg = AcceptOp("-");
    // A seed or increment is a whole number that fits a bigint; "1.5" or a longer number is
    // refused where it stands rather than cut or let through as a foreign exception.
    if (!At(TokenKind::Number)) SyntaxError();
    const std::optional<long long> v = util::ParseInt<long long>(Cur().text);
    if (!v) SyntaxError();
    ++pos_;
    return neg ? -*v : *v;
  }

  StmtPtr AlterStatement() {
    ExpectWord("ALTER");
    if (IsWord("DATABASE")) {
      std::string what = "ALTER DATABASE";
      for (int k = 2; k < 8; ++k) {
        if (PeekWord(k, "OFFLINE") || PeekWord(k, "ONLINE")) {
          what += " … " + Peek(k).upper;
          break;
        }
      }
      throw DbError(what + " is not supported by the embedded engine.");
    }
    if (!AcceptWord("TABLE")) {
      if (At(TokenKind::Identifier)) Unsupported("ALTER " + Cur().upper);
      SyntaxError();
    }
    auto s = std::make_unique<AlterTableStmt>();
    s->target = ParseObjectName();
    if (AcceptWord("ADD")) {
      s->action = AlterAction::Add;
      do {
        if (IsWord("CONSTRAINT") || IsWord("PRIMARY") || IsWord("UNIQUE") || IsWord("FOREIGN") ||
            IsWord("CHECK"))
          s->constraints.push_back(ParseTableConstraint());
        else
          s->column_defs.push_back(ParseColumnDef());
      } while (AcceptOp(","));
      return s;
    }
    if (AcceptWord("DROP")) {
      if (AcceptWord("CONSTRAINT")) {
        s->action = AlterAction::DropConstraint;
      } else {
        AcceptWord("COLUMN");
        s->action = AlterAction::DropColumn;
      }
      if (IsWord("IF")) Unsupported("DROP … IF EXISTS inside ALTER TABLE");
      do {
        s->drop_names.push_back(ExpectName());
      } while (AcceptOp(","));
      return s;
    }
    if (AcceptWord("ALTER")) {
      ExpectWord("COLUMN");
      s->action = AlterAction::AlterColumn;
      s->column_defs.push_back(ParseColumnDef());
      return s;
    }
    if (At(TokenKind::Identifier)) Unsupported("ALTER TABLE " + Cur().upper);
    SyntaxError();
  }

  StmtPtr DropStatement() {
    ExpectWord("DROP");
    StmtKind kind;
    if (AcceptWord("TABLE")) {
      kind = StmtKind::DropTable;
    } else if (AcceptWord("VIEW")) {
      kind = StmtKind::DropView;
    } else if (AcceptWord("FUNCTION")) {
      kind = StmtKind::DropFunction;
    } else if (AcceptWord("INDEX")) {
      kind = StmtKind::DropIndex;
    } else if (AcceptWord("DATABASE")) {
      kind = StmtKind::DropDatabase;
    } else {
      if (At(TokenKind::Identifier)) Unsupported("DROP " + Cur().upper);
      SyntaxError();
    }
    auto s = std::make_unique<DropStmt>(kind);
    if (IsWord("IF") && PeekWord(1, "EXISTS")) {
      pos_ += 2;
      s->if_exists = true;
    }
    do {
      ObjectName n = ParseObjectName();
      if (s->kind == StmtKind::DropIndex && AcceptWord("ON")) {
        ObjectName table = ParseObjectName();
        table.parts.push_back(n.last());
        n = table;
      }
      s->names.push_back(std::move(n));
    } while (AcceptOp(","));
    return s;
  }

  // ---------------------------------------------------------------- queries
  std::unique_ptr<Select> ParseSelect() {
    Nesting nesting(*this);
    auto sel = std::make_unique<Select>();
    sel->cores.push_back(ParseCoreOrParen(*sel));
    while (true) {
      SetOp op;
      if (AcceptWord("UNION")) {
        op = AcceptWord("ALL") ? SetOp::UnionAll : SetOp::Union;
      } else if (AcceptWord("EXCEPT")) {
        op = SetOp::Except;
      } else if (AcceptWord("INTERSECT")) {
        op = SetOp::Intersect;
      } else {
        break;
      }
      sel->set_ops.push_back(op);
      sel->cores.push_back(ParseCoreOrParen(*sel));
    }
    if (AcceptWord("ORDER")) {
      ExpectWord("BY");
      do {
        OrderItem o;
        o.expr = ParseExpr();
        if (AcceptWord("DESC"))
          o.descending = true;
        else
          AcceptWord("ASC");
        sel->order_by.push_back(std::move(o));
      } while (AcceptOp(","));
    }
    if (IsWord("OPTION")) Unsupported("OPTION (query hints)");
    if (IsWord("FOR")) Unsupported("FOR XML/BROWSE");
    if (IsWord("COMPUTE")) Unsupported("COMPUTE");
    return sel;
  }

  SelectCore ParseCoreOrParen(Select& outer) {
    if (IsOp("(")) {
      // ( SELECT ... ) as one operand of a set operation.
      ++pos_;
      auto inner = ParseSelect();
      ExpectOp(")");
      if (inner->cores.size() != 1 || !inner->order_by.empty())
        Unsupported("nested set operation in parentheses");
      (void)outer;
      return std::move(inner->cores[0]);
    }
    return ParseCore();
  }

  SelectCore ParseCore() {
    ExpectWord("SELECT");
    SelectCore c;
    if (AcceptWord("DISTINCT"))
      c.distinct = true;
    else
      AcceptWord("ALL");
    if (AcceptWord("TOP")) {
      if (AcceptOp("(")) {
        c.top = ParseExpr();
        ExpectOp(")");
      } else {
        if (!At(TokenKind::Number) && !At(TokenKind::Variable) && !At(TokenKind::Param))
          SyntaxError();
        c.top = ParsePrimary();
      }
      if (AcceptWord("PERCENT")) c.top_percent = true;
      if (IsWord("WITH") && PeekWord(1, "TIES")) Unsupported("TOP WITH TIES");
    }
    do {
      c.items.push_back(ParseSelectItem());
    } while (AcceptOp(","));
    if (AcceptWord("INTO")) c.into = ParseObjectName();
    if (AcceptWord("FROM")) c.from = ParseFromList();
    if (AcceptWord("WHERE")) c.where = ParseExpr();
    if (AcceptWord("GROUP")) {
      ExpectWord("BY");
      if (AcceptWord("ALL")) Unsupported("GROUP BY ALL");
      do {
        c.group_by.push_back(ParseExpr());
      } while (AcceptOp(","));
      if (IsWord("WITH")) Unsupported("GROUP BY WITH ROLLUP/CUBE");
    }
    if (AcceptWord("HAVING")) c.having = ParseExpr();
    return c;
  }

  SelectItem ParseSelectItem() {
    SelectItem item;
    if (IsOp("*")) {
      ++pos_;
      item.star = true;
      return item;
    }
    // t.* / db.dbo.t.*
    if (IsNameToken() && !IsReservedHere()) {
      std::size_t k = pos_;
      std::vector<std::string> parts;
      bool ok = true;
      while (true) {
        const Token& t = toks_[k];
        if (t.kind != TokenKind::Identifier && t.kind != TokenKind::QuotedIdent) {
          ok = false;
          break;
        }
        parts.push_back(t.text);
        const Token& dot = toks_[k + 1];
        if (dot.kind != TokenKind::Operator || dot.text != ".") {
          ok = false;
          break;
        }
        const Token& after = toks_[k + 2];
        if (after.kind == TokenKind::Operator && after.text == "*") {
          pos_ = k + 3;
          item.star = true;
          item.star_qualifier = parts;
          return item;
        }
        k += 2;
      }
      (void)ok;
    }
    // @v = expr
    if (At(TokenKind::Variable) && PeekOp(1, "=")) {
      item.assign_variable = toks_[pos_].text;
      pos_ += 2;
      item.expr = ParseExpr();
      return item;
    }
    // alias = expr
    if ((At(TokenKind::QuotedIdent) || (At(TokenKind::Identifier) && !IsReservedHere()) ||
         At(TokenKind::String)) &&
        PeekOp(1, "=")) {
      item.alias = toks_[pos_].text;
      item.has_alias = true;
      pos_ += 2;
      item.expr = ParseExpr();
      return item;
    }
    item.expr = ParseExpr();
    if (AcceptWord("AS")) {
      if (!IsNameToken() && !At(TokenKind::String)) SyntaxError();
      item.alias = toks_[pos_++].text;
      item.has_alias = true;
    } else if (At(TokenKind::QuotedIdent) || At(TokenKind::String) ||
               (At(TokenKind::Identifier) && !IsReservedHere())) {
      item.alias = toks_[pos_++].text;
      item.has_alias = true;
    }
    return item;
  }

  std::vector<std::unique_ptr<TableRef>> ParseFromList() {
    std::vector<std::unique_ptr<TableRef>> out;
    do {
      out.push_back(ParseJoinedRef());
    } while (AcceptOp(","));
    return out;
  }

  std::unique_ptr<TableRef> ParseJoinedRef() {
    auto left = ParseRefPrimary();
    while (true) {
      JoinType type;
      if (IsWord("JOIN")) {
        ++pos_;
        type = JoinType::Inner;
      } else if (IsWord("INNER") && PeekWord(1, "JOIN")) {
        pos_ += 2;
        type = JoinType::Inner;
      } else if ((IsWord("LEFT") || IsWord("RIGHT") || IsWord("FULL")) &&
                 (PeekWord(1, "JOIN") || (PeekWord(1, "OUTER") && PeekWord(2, "JOIN")))) {
        type = IsWord("LEFT") ? JoinType::Left : IsWord("RIGHT") ? JoinType::Right : JoinType::Full;
        pos_ += PeekWord(1, "OUTER") ? 3 : 2;
      } else if (IsWord("CROSS") && PeekWord(1, "JOIN")) {
        pos_ += 2;
        type = JoinType::Cross;
      } else if ((IsWord("CROSS") || IsWord("OUTER")) && PeekWord(1, "APPLY")) {
        Unsupported(Cur().upper + " APPLY");
      } else if ((IsWord("INNER") || IsWord("LEFT") || IsWord("RIGHT") || IsWord("FULL")) &&
                 (PeekWord(1, "HASH") || PeekWord(1, "LOOP") || PeekWord(1, "MERGE") ||
                  PeekWord(2, "HASH") || PeekWord(2, "LOOP") || PeekWord(2, "MERGE"))) {
        Unsupported("join hint");
      } else {
        break;
      }
      auto j = std::make_unique<TableRef>();
      j->kind = RefKind::Join;
      j->join_type = type;
      j->left = std::move(left);
      j->right = ParseRefPrimary();
      if (type != JoinType::Cross) {
        // Nested form "A JOIN B JOIN C ON .. ON .." is not used by the system.
        if (!AcceptWord("ON")) {
          if (IsWord("JOIN") || IsWord("INNER") || IsWord("LEFT") || IsWord("RIGHT"))
            Unsupported("nested join without parentheses");
          SyntaxError();
        }
        j->on = ParseExpr();
      }
      left = std::move(j);
    }
    return left;
  }

  std::unique_ptr<TableRef> ParseRefPrimary() {
    Nesting nesting(*this);
    std::unique_ptr<TableRef> ref;
    if (IsOp("(")) {
      if (PeekWord(1, "SELECT") || PeekOp(1, "(")) {
        // Derived table (or parenthesised join when it does not start with SELECT).
        std::size_t save = pos_;
        ++pos_;
        if (IsWord("SELECT")) {
          ref = std::make_unique<TableRef>();
          ref->kind = RefKind::Derived;
          ref->select = ParseSelect();
          ExpectOp(")");
        } else {
          pos_ = save;
        }
      }
      if (!ref) {
        ++pos_;
        ref = ParseJoinedRef();
        ExpectOp(")");
        return ref;
      }
    } else {
      ref = std::make_unique<TableRef>();
      ref->kind = RefKind::Table;
      if (At(TokenKind::Variable)) Unsupported("table variable");
      ref->name = ParseObjectName();
      if (IsOp("(")) Unsupported("table-valued function " + ref->name.Text());
    }
    ParseAlias(*ref);
    if (ref->kind == RefKind::Table) SkipTableHints();
    if (IsWord("PIVOT")) Unsupported("PIVOT");
    while (AcceptWord("UNPIVOT")) {
      auto u = std::make_unique<TableRef>();
      u->kind = RefKind::Unpivot;
      u->left = std::move(ref);
      ExpectOp("(");
      u->value_column = ExpectName();
      ExpectWord("FOR");
      u->for_column = ExpectName();
      ExpectWord("IN");
      ExpectOp("(");
      do {
        u->in_columns.push_back(ExpectName());
      } while (AcceptOp(","));
      ExpectOp(")");
      ExpectOp(")");
      ParseAlias(*u);
      if (u->alias.empty()) SyntaxError();
      ref = std::move(u);
    }
    if (ref->kind == RefKind::Derived && ref->alias.empty()) SyntaxError();
    return ref;
  }

  void ParseAlias(TableRef& ref) {
    if (AcceptWord("AS")) {
      ref.alias = ExpectName();
    } else if (At(TokenKind::QuotedIdent) || (At(TokenKind::Identifier) && !IsReservedHere())) {
      ref.alias = toks_[pos_++].text;
    }
    if (!ref.alias.empty() && IsOp("(")) {
      if (ref.kind != RefKind::Derived) Unsupported("column list on a table alias");
      ++pos_;
      do {
        ref.column_aliases.push_back(ExpectName());
      } while (AcceptOp(","));
      ExpectOp(")");
    }
  }

  // ---------------------------------------------------------------- expressions
  ExprPtr Make(ExprKind k) {
    auto e = std::make_unique<Expr>();
    e->kind = k;
    return e;
  }

  ExprPtr ParseExpr() { return ParseOr(); }

  ExprPtr ParseOr() {
    Nesting nesting(*this, false);
    ExprPtr left = ParseAnd();
    while (AcceptWord("OR")) {
      nesting.Deeper();
      ExprPtr e = Make(ExprKind::Or);
      e->args.push_back(std::move(left));
      e->args.push_back(ParseAnd());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseAnd() {
    Nesting nesting(*this, false);
    ExprPtr left = ParseNot();
    while (AcceptWord("AND")) {
      nesting.Deeper();
      ExprPtr e = Make(ExprKind::And);
      e->args.push_back(std::move(left));
      e->args.push_back(ParseNot());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseNot() {
    if (AcceptWord("NOT")) {
      Nesting nesting(*this);
      ExprPtr e = Make(ExprKind::Not);
      e->args.push_back(ParseNot());
      return e;
    }
    return ParsePredicate();
  }

  // EXISTS ( … ), or an additive expression followed by any chain of comparisons,
  // [NOT] BETWEEN, [NOT] IN, [NOT] LIKE and IS [NOT] NULL.
  ExprPtr ParsePredicate() {
    if (IsWord("EXISTS")) return ParseExists();
    ExprPtr left = ParseAdditive();
    while (ExprPtr next = ParsePredicateStep(left)) left = std::move(next);
    return left;
  }

  ExprPtr ParseExists() {
    ++pos_;
    ExpectOp("(");
    ExprPtr e = Make(ExprKind::Exists);
    e->select = ParseSelect();
    ExpectOp(")");
    return e;
  }

  // The predicate that takes `left` as its first operand; null (left untouched) when none
  // follows.
  ExprPtr ParsePredicateStep(ExprPtr& left) {
    if (Cur().kind == TokenKind::Operator) return ParseComparison(left);
    const bool negated =
        IsWord("NOT") && (PeekWord(1, "BETWEEN") || PeekWord(1, "IN") || PeekWord(1, "LIKE"));
    if (negated) ++pos_;
    if (AcceptWord("BETWEEN")) return ParseBetween(left, negated);
    if (AcceptWord("IN")) return ParseIn(left, negated);
    if (AcceptWord("LIKE")) return ParseLike(left, negated);
    if (IsWord("IS")) return ParseIsNull(left);
    return nullptr;
  }

  // left <op> additive; null when the operator compares nothing.
  ExprPtr ParseComparison(ExprPtr& left) {
    const Operator op = ComparisonOperator(Cur().text);
    if (op == Operator::None) return nullptr;
    ++pos_;
    if (IsWord("ALL") || IsWord("ANY") || IsWord("SOME")) Unsupported(Cur().upper + " (subquery)");
    ExprPtr e = Make(ExprKind::Compare);
    e->op = op;
    e->args.push_back(std::move(left));
    e->args.push_back(ParseAdditive());
    return e;
  }

  ExprPtr ParseBetween(ExprPtr& left, bool negated) {
    ExprPtr e = Make(ExprKind::Between);
    e->negated = negated;
    e->args.push_back(std::move(left));
    e->args.push_back(ParseAdditive());
    ExpectWord("AND");
    e->args.push_back(ParseAdditive());
    return e;
  }

  // IN ( SELECT … ) or IN ( expression, … ).
  ExprPtr ParseIn(ExprPtr& left, bool negated) {
    ExpectOp("(");
    ExprPtr e;
    if (IsWord("SELECT")) {
      e = Make(ExprKind::InSelect);
      e->args.push_back(std::move(left));
      e->select = ParseSelect();
    } else {
      e = Make(ExprKind::InList);
      e->args.push_back(std::move(left));
      do {
        e->args.push_back(ParseExpr());
      } while (AcceptOp(","));
    }
    ExpectOp(")");
    e->negated = negated;
    return e;
  }

  ExprPtr ParseLike(ExprPtr& left, bool negated) {
    ExprPtr e = Make(ExprKind::Like);
    e->negated = negated;
    e->args.push_back(std::move(left));
    e->args.push_back(ParseAdditive());
    if (AcceptWord("ESCAPE")) e->args.push_back(ParseAdditive());
    return e;
  }

  ExprPtr ParseIsNull(ExprPtr& left) {
    ++pos_;
    ExprPtr e = Make(ExprKind::IsNull);
    e->negated = AcceptWord("NOT");
    ExpectWord("NULL");
    e->args.push_back(std::move(left));
    return e;
  }

  ExprPtr ParseAdditive() {
    Nesting nesting(*this, false);
    ExprPtr left = ParseMultiplicative();
    while (IsOp("+") || IsOp("-") || IsOp("&") || IsOp("|") || IsOp("^")) {
      nesting.Deeper();
      ExprPtr e = Make(ExprKind::Binary);
      e->op = ArithmeticOperator(toks_[pos_++].text);
      e->args.push_back(std::move(left));
      e->args.push_back(ParseMultiplicative());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseMultiplicative() {
    Nesting nesting(*this, false);
    ExprPtr left = ParseUnary();
    while (IsOp("*") || IsOp("/") || IsOp("%")) {
      nesting.Deeper();
      ExprPtr e = Make(ExprKind::Binary);
      e->op = ArithmeticOperator(toks_[pos_++].text);
      e->args.push_back(std::move(left));
      e->args.push_back(ParseUnary());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseUnary() {
    if (IsOp("-") || IsOp("+") || IsOp("~")) {
      Nesting nesting(*this);
      std::string op = toks_[pos_++].text;
      ExprPtr operand = ParseUnary();
      if (op == "-" && (operand->kind == ExprKind::Integer || operand->kind == ExprKind::Decimal) &&
          operand->text[0] != '-') {
        operand->text = "-" + operand->text;
        return operand;
      }
      if (op == "+") return operand;
      ExprPtr e = Make(ExprKind::Unary);
      e->op = op == "-" ? Operator::Negate : Operator::BitNot;
      e->args.push_back(std::move(operand));
      return e;
    }
    ExprPtr e = ParsePrimary();
    if (AcceptWord("COLLATE")) {
      std::string coll = UpperAscii(ExpectName());
      if (coll.find("_CS") != std::string::npos || coll.find("BIN") != std::string::npos)
        Unsupported("case-sensitive collation " + coll);
    }
    return e;
  }

  // One step per kind of primary expression, chosen by its first token.
  ExprPtr ParsePrimary() {
    Nesting nesting(*this);
    const Token& t = Cur();
    switch (t.kind) {
      case TokenKind::Number:
        return ParseNumber(t);
      case TokenKind::String:
        return ParseStringLiteral(t);
      case TokenKind::Param:
        return ParseParam(t);
      case TokenKind::Variable:
        return ParseVariable(t);
      case TokenKind::Operator:
        if (t.text == "(") return ParseParenthesized();
        SyntaxError();
      case TokenKind::Identifier:
        if (ExprPtr e = ParseKeywordPrimary(t.upper)) return e;
        return ParseNameOrCall();
      case TokenKind::QuotedIdent:
        return ParseNameOrCall();
      case TokenKind::End:
        SyntaxError();
    }
    SyntaxError();
  }

  ExprPtr ParseNumber(const Token& t) {
    ++pos_;
    const bool is_decimal = t.text.find_first_of(".eE") != std::string::npos;
    ExprPtr e = Make(is_decimal ? ExprKind::Decimal : ExprKind::Integer);
    e->text = t.text;
    return e;
  }

  ExprPtr ParseStringLiteral(const Token& t) {
    ++pos_;
    ExprPtr e = Make(ExprKind::String);
    e->text = t.text;
    e->unicode = t.unicode;
    return e;
  }

  ExprPtr ParseParam(const Token& t) {
    ++pos_;
    ExprPtr e = Make(ExprKind::Param);
    e->param_index = t.param_index;
    return e;
  }

  ExprPtr ParseVariable(const Token& t) {
    ++pos_;
    ExprPtr e = Make(ExprKind::Variable);
    e->text = t.text;
    if (IsOp("(")) Unsupported("function " + t.text);
    return e;
  }

  // ( expression ) or a ( SELECT … ) subquery.
  ExprPtr ParseParenthesized() {
    ++pos_;
    if (IsWord("SELECT")) {
      ExprPtr e = Make(ExprKind::Subquery);
      e->select = ParseSelect();
      ExpectOp(")");
      return e;
    }
    ExprPtr e = ParseExpr();
    ExpectOp(")");
    return e;
  }

  // NULL, CASE, CAST and CONVERT; refuses the other reserved words (LEFT( and RIGHT( are
  // the functions). Null when the word starts a name or a call.
  ExprPtr ParseKeywordPrimary(const std::string& w) {
    if (w == "NULL") {
      ++pos_;
      return Make(ExprKind::Null);
    }
    if (w == "CASE") return ParseCase();
    if ((w == "CAST" || w == "TRY_CAST") && PeekOp(1, "(")) {
      if (w == "TRY_CAST") Unsupported("TRY_CAST");
      return ParseCast();
    }
    if (w == "CONVERT" && PeekOp(1, "(")) return ParseConvert();
    if (w == "EXISTS") SyntaxError();
    if (Reserved().count(w) && !(PeekOp(1, "(") && (w == "LEFT" || w == "RIGHT"))) SyntaxError();
    return nullptr;
  }

  // CAST ( expression AS type )
  ExprPtr ParseCast() {
    pos_ += 2;
    ExprPtr e = Make(ExprKind::Cast);
    e->args.push_back(ParseExpr());
    ExpectWord("AS");
    e->type = ParseType();
    ExpectOp(")");
    return e;
  }

  // CONVERT ( type , expression [, style] )
  ExprPtr ParseConvert() {
    pos_ += 2;
    ExprPtr e = Make(ExprKind::Cast);
    e->is_convert = true;
    e->type = ParseType();
    ExpectOp(",");
    e->args.push_back(ParseExpr());
    if (AcceptOp(",")) e->args.push_back(ParseExpr());
    ExpectOp(")");
    return e;
  }

  // A dotted name (a..b keeps the empty part): a column, or a function when ( follows.
  ExprPtr ParseNameOrCall() {
    std::vector<std::string> parts;
    parts.push_back(toks_[pos_++].text);
    while (IsOp(".")) {
      ++pos_;
      if (IsOp(".")) {
        parts.emplace_back();
        continue;
      }
      if (!IsNameToken()) SyntaxError();
      parts.push_back(toks_[pos_++].text);
    }
    if (IsOp("(")) return ParseCall(std::move(parts));
    ExprPtr e = Make(ExprKind::Column);
    e->name = std::move(parts);
    return e;
  }

  // name ( * ) or name ( [DISTINCT | ALL] expression, … ); no window functions.
  ExprPtr ParseCall(std::vector<std::string> name) {
    ++pos_;
    ExprPtr e = Make(ExprKind::Function);
    e->name = std::move(name);
    if (IsOp("*")) {
      ++pos_;
      e->args.push_back(Make(ExprKind::Star));
    } else if (!IsOp(")")) {
      if (AcceptWord("DISTINCT"))
        e->distinct = true;
      else
        AcceptWord("ALL");
      do {
        e->args.push_back(ParseExpr());
      } while (AcceptOp(","));
    }
    ExpectOp(")");
    if (IsWord("OVER")) Unsupported("window function OVER");
    return e;
  }

  ExprPtr ParseCase() {
    ExpectWord("CASE");
    ExprPtr e = Make(ExprKind::Case);
    if (!IsWord("WHEN")) {
      e->has_operand = true;
      e->args.push_back(ParseExpr());
    }
    if (!IsWord("WHEN")) SyntaxError();
    while (AcceptWord("WHEN")) {
      e->args.push_back(ParseExpr());
      ExpectWord("THEN");
      e->args.push_back(ParseExpr());
    }
    if (AcceptWord("ELSE")) {
      e->has_else = true;
      e->args.push_back(ParseExpr());
    }
    ExpectWord("END");
    return e;
  }

 private:
  std::string_view text_;
  std::vector<Token> toks_;
  std::size_t pos_ = 0;
  int depth_ = 0;  // nesting of statements, expressions, queries and table sources
};

}  // namespace

std::unique_ptr<Batch> ParseBatch(std::string_view text) {
  Parser p(text);
  return p.ParseAll();
}

ObjectName ParseObjectNameText(std::string_view text) {
  try {
    Parser p(text);
    return p.NameOnly();
  } catch (const DbError&) {
    return {};
  }
}

TypeSpec ParseTypeText(std::string_view text) {
  Parser p(text);
  return p.TypeOnly();
}

}  // namespace zel::db::embedded
