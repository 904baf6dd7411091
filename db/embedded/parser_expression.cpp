// The parser's expressions, one step per precedence level (OR, AND, NOT, predicates,
// additive, multiplicative, unary) and one per kind of primary expression.
// Pure functions; any thread.
#include <string>

#include "db/client.h"
#include "db/embedded/parser_internal.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded::internal {

namespace {

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

}  // namespace

ExprPtr Parser::Make(ExprKind k) {
  auto e = std::make_unique<Expr>();
  e->kind = k;
  return e;
}

ExprPtr Parser::ParseOr() {
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

ExprPtr Parser::ParseAnd() {
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

ExprPtr Parser::ParseNot() {
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
ExprPtr Parser::ParsePredicate() {
  if (IsWord("EXISTS")) return ParseExists();
  ExprPtr left = ParseAdditive();
  while (ExprPtr next = ParsePredicateStep(left)) left = std::move(next);
  return left;
}

ExprPtr Parser::ParseExists() {
  ++pos_;
  ExpectOp("(");
  ExprPtr e = Make(ExprKind::Exists);
  e->select = ParseSelect();
  ExpectOp(")");
  return e;
}

// The predicate that takes `left` as its first operand; null (left untouched) when none
// follows.
ExprPtr Parser::ParsePredicateStep(ExprPtr& left) {
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
ExprPtr Parser::ParseComparison(ExprPtr& left) {
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

ExprPtr Parser::ParseBetween(ExprPtr& left, bool negated) {
  ExprPtr e = Make(ExprKind::Between);
  e->negated = negated;
  e->args.push_back(std::move(left));
  e->args.push_back(ParseAdditive());
  ExpectWord("AND");
  e->args.push_back(ParseAdditive());
  return e;
}

// IN ( SELECT … ) or IN ( expression, … ).
ExprPtr Parser::ParseIn(ExprPtr& left, bool negated) {
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

ExprPtr Parser::ParseLike(ExprPtr& left, bool negated) {
  ExprPtr e = Make(ExprKind::Like);
  e->negated = negated;
  e->args.push_back(std::move(left));
  e->args.push_back(ParseAdditive());
  if (AcceptWord("ESCAPE")) e->args.push_back(ParseAdditive());
  return e;
}

ExprPtr Parser::ParseIsNull(ExprPtr& left) {
  ++pos_;
  ExprPtr e = Make(ExprKind::IsNull);
  e->negated = AcceptWord("NOT");
  ExpectWord("NULL");
  e->args.push_back(std::move(left));
  return e;
}

ExprPtr Parser::ParseAdditive() {
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

ExprPtr Parser::ParseMultiplicative() {
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

ExprPtr Parser::ParseUnary() {
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
ExprPtr Parser::ParsePrimary() {
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

ExprPtr Parser::ParseNumber(const Token& t) {
  ++pos_;
  const bool is_decimal = t.text.find_first_of(".eE") != std::string::npos;
  ExprPtr e = Make(is_decimal ? ExprKind::Decimal : ExprKind::Integer);
  e->text = t.text;
  return e;
}

ExprPtr Parser::ParseStringLiteral(const Token& t) {
  ++pos_;
  ExprPtr e = Make(ExprKind::String);
  e->text = t.text;
  e->unicode = t.unicode;
  return e;
}

ExprPtr Parser::ParseParam(const Token& t) {
  ++pos_;
  ExprPtr e = Make(ExprKind::Param);
  e->param_index = t.param_index;
  return e;
}

ExprPtr Parser::ParseVariable(const Token& t) {
  ++pos_;
  ExprPtr e = Make(ExprKind::Variable);
  e->text = t.text;
  if (IsOp("(")) Unsupported("function " + t.text);
  return e;
}

// ( expression ) or a ( SELECT … ) subquery.
ExprPtr Parser::ParseParenthesized() {
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
ExprPtr Parser::ParseKeywordPrimary(const std::string& w) {
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
ExprPtr Parser::ParseCast() {
  pos_ += 2;
  ExprPtr e = Make(ExprKind::Cast);
  e->args.push_back(ParseExpr());
  ExpectWord("AS");
  e->type = ParseType();
  ExpectOp(")");
  return e;
}

// CONVERT ( type , expression [, style] )
ExprPtr Parser::ParseConvert() {
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
ExprPtr Parser::ParseNameOrCall() {
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
ExprPtr Parser::ParseCall(std::vector<std::string> name) {
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

ExprPtr Parser::ParseCase() {
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

}  // namespace zel::db::embedded::internal
