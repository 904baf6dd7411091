// The recursive-descent parser behind parser.h (not part of its interface): one Parser per
// text, its token helpers inline here, its grammar defined by kind of construct in
// parser.cpp (batches, names, types), parser_statements.cpp (statement dispatch, variables
// and control flow), parser_dml.cpp (INSERT, UPDATE, DELETE), parser_ddl.cpp (CREATE,
// ALTER, DROP, TRUNCATE), parser_select.cpp (queries and table sources) and
// parser_expression.cpp (expressions by precedence).
// A Parser is used by one thread; Reserved() may be called from any thread.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "db/client.h"
#include "db/embedded/ast.h"
#include "db/embedded/lexer.h"

namespace zel::db::embedded::internal {

// The reserved words of Transact-SQL (upper case): not names unless bracketed or quoted.
const std::set<std::string>& Reserved();

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

  // The whole batch, its administration statements refused first.
  std::unique_ptr<Batch> ParseAll();
  // A lone object name; empty when the text holds anything more.
  ObjectName NameOnly();
  TypeSpec TypeOnly() { return ParseType(); }

 private:
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

  // ---------------------------------------------------------------- batches, names, types
  void RefuseAdministration() const;
  ObjectName ParseObjectName();
  static int SizeOf(const std::string& digits, const std::string& type);
  TypeSpec ParseType();

  // ---------------------------------------------------------------- statements
  StmtPtr ParseStatement();
  StmtPtr ParseStatementInner();
  [[noreturn]] void RefuseStatement(const std::string& w);
  StmtPtr UseStatement();
  std::vector<StmtPtr> StatementsUntilEnd();
  StmtPtr IfStatement();
  StmtPtr WhileStatement();
  StmtPtr BlockStatement();
  StmtPtr ExecStatement();
  StmtPtr ReturnStatement();
  StmtPtr PrintStatement();
  bool IsStatementStart() const;
  StmtPtr DeclareStatement();
  StmtPtr SetStatement();

  // ---------------------------------------------------------------- data statements
  StmtPtr SelectStatement();
  StmtPtr InsertStatement();
  StmtPtr UpdateStatement();
  StmtPtr DeleteStatement();
  void ParseFromAndWhere(std::vector<std::unique_ptr<TableRef>>& from, ExprPtr& where);

  // ---------------------------------------------------------------- schema statements
  StmtPtr TruncateStatement();
  StmtPtr CreateStatement();
  StmtPtr FunctionDefinition();
  void SkipStorageClauses();
  void ParseTableElement(std::vector<ColumnDefinition>& columns,
                         std::vector<TableConstraint>& constraints);
  TableConstraint ParseTableConstraint();
  ColumnDefinition ParseColumnDef();
  long long ParseSignedInteger();
  StmtPtr AlterStatement();
  StmtPtr DropStatement();

  // ---------------------------------------------------------------- queries
  std::unique_ptr<Select> ParseSelect();
  SelectCore ParseCoreOrParen(Select& outer);
  SelectCore ParseCore();
  SelectItem ParseSelectItem();
  std::vector<std::unique_ptr<TableRef>> ParseFromList();
  std::unique_ptr<TableRef> ParseJoinedRef();
  std::unique_ptr<TableRef> ParseRefPrimary();
  void ParseAlias(TableRef& ref);
  void SkipTableHints();

  // ---------------------------------------------------------------- expressions
  ExprPtr Make(ExprKind k);
  ExprPtr ParseExpr() { return ParseOr(); }
  ExprPtr ParseOr();
  ExprPtr ParseAnd();
  ExprPtr ParseNot();
  ExprPtr ParsePredicate();
  ExprPtr ParseExists();
  ExprPtr ParsePredicateStep(ExprPtr& left);
  ExprPtr ParseComparison(ExprPtr& left);
  ExprPtr ParseBetween(ExprPtr& left, bool negated);
  ExprPtr ParseIn(ExprPtr& left, bool negated);
  ExprPtr ParseLike(ExprPtr& left, bool negated);
  ExprPtr ParseIsNull(ExprPtr& left);
  ExprPtr ParseAdditive();
  ExprPtr ParseMultiplicative();
  ExprPtr ParseUnary();
  ExprPtr ParsePrimary();
  ExprPtr ParseNumber(const Token& t);
  ExprPtr ParseStringLiteral(const Token& t);
  ExprPtr ParseParam(const Token& t);
  ExprPtr ParseVariable(const Token& t);
  ExprPtr ParseParenthesized();
  ExprPtr ParseKeywordPrimary(const std::string& w);
  ExprPtr ParseCast();
  ExprPtr ParseConvert();
  ExprPtr ParseNameOrCall();
  ExprPtr ParseCall(std::vector<std::string> name);
  ExprPtr ParseCase();

  std::string_view text_;
  std::vector<Token> toks_;
  std::size_t pos_ = 0;
  int depth_ = 0;  // nesting of statements, expressions, queries and table sources
};

}  // namespace zel::db::embedded::internal
