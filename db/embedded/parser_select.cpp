// The parser's queries: SELECT cores joined by set operations, select items, the FROM list
// with joins, derived tables and UNPIVOT, aliases and table hints.
// Pure functions; any thread.
#include <string>

#include "db/client.h"
#include "db/embedded/parser_internal.h"
#include "db/embedded/translator_internal.h"

namespace zel::db::embedded::internal {

std::unique_ptr<Select> Parser::ParseSelect() {
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

SelectCore Parser::ParseCoreOrParen(Select& outer) {
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

SelectCore Parser::ParseCore() {
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

SelectItem Parser::ParseSelectItem() {
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

std::vector<std::unique_ptr<TableRef>> Parser::ParseFromList() {
  std::vector<std::unique_ptr<TableRef>> out;
  do {
    out.push_back(ParseJoinedRef());
  } while (AcceptOp(","));
  return out;
}

std::unique_ptr<TableRef> Parser::ParseJoinedRef() {
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

std::unique_ptr<TableRef> Parser::ParseRefPrimary() {
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

void Parser::ParseAlias(TableRef& ref) {
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

void Parser::SkipTableHints() {
  if (IsWord("WITH") && PeekOp(1, "(")) {
    pos_ += 2;
    do {
      std::string hint = UpperAscii(ExpectName());
      if (hint != "NOLOCK" && hint != "READUNCOMMITTED" && hint != "ROWLOCK" && hint != "UPDLOCK" &&
          hint != "HOLDLOCK" && hint != "READCOMMITTED")
        Unsupported("table hint " + hint);
    } while (AcceptOp(","));
    ExpectOp(")");
  }
}

}  // namespace zel::db::embedded::internal
