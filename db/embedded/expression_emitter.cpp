#include <algorithm>

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/translator.h"
#include "db/embedded/translator_internal.h"
#include "util/text.h"

// The expression emitter: one function per kind of expression, each giving SQLite SQL
// with SQL Server's meaning and the T-SQL type of the result.

namespace zel::db::embedded {

using internal::IsIntegerText;
using internal::RuntimeArithmetic;
using internal::ToNumber;
using internal::Unsupported;

Translator::Ex Translator::Emit(const Expr& e, const Scope& scope) {
  switch (e.kind) {
    case ExprKind::Null:
      return Ex{"NULL", SqlType::Null(), "", {}};
    case ExprKind::Integer:
      return EmitInteger(e);
    case ExprKind::Decimal:
      return EmitDecimal(e);
    case ExprKind::String:
      return EmitString(e);
    case ExprKind::Param:
      return EmitParam(e);
    case ExprKind::Variable:
      return EmitVariable(e);
    case ExprKind::Column:
      return binder_.BindColumn(e.name, scope);
    case ExprKind::Unary:
      return EmitUnary(e, scope);
    case ExprKind::Binary:
      return EmitBinary(e, scope);
    case ExprKind::Compare:
      return EmitComparison(e, scope);
    case ExprKind::And:
    case ExprKind::Or:
      return EmitLogical(e, scope);
    case ExprKind::Not:
      return EmitNot(e, scope);
    case ExprKind::IsNull:
      return EmitIsNull(e, scope);
    case ExprKind::Between:
      return EmitBetween(e, scope);
    case ExprKind::InList:
      return EmitInList(e, scope);
    case ExprKind::InSelect:
      return EmitInSelect(e, scope);
    case ExprKind::Exists:
      return EmitExists(e, scope);
    case ExprKind::Like:
      return EmitLike(e, scope);
    case ExprKind::Case:
      return EmitCase(e, scope);
    case ExprKind::Cast:
      return EmitCast(e, scope);
    case ExprKind::Function:
      return EmitFunction(e, scope);
    case ExprKind::Subquery:
      return EmitSubquery(e, scope);
    case ExprKind::Star:
      return Ex{"*", SqlType::Unknown(), "", {}};
  }
  Unsupported("expression");
}

std::string Translator::Condition(const Expr& e, const Scope& scope) { return Emit(e, scope).sql; }

// ------------------------------------------------------------------------ literals and values

Translator::Ex Translator::EmitInteger(const Expr& e) {
  // The parser folds a minus sign into the literal; the type follows the magnitude.
  std::string_view digits = e.text;
  if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
  bool big = digits.size() > 10 || (digits.size() == 10 && digits > "2147483647");
  if (digits.size() > 18)
    return Ex{e.text, SqlType{TypeClass::Numeric, 0, 38, 0, "numeric"}, "", {}};
  return Ex{e.text, big ? SqlType::Int("bigint") : SqlType::Int(), "", {}};
}

Translator::Ex Translator::EmitDecimal(const Expr& e) {
  if (e.text.find_first_of("eE") != std::string::npos) return Ex{e.text, SqlType::Float(), "", {}};
  std::size_t dot = e.text.find('.');
  int scale = dot == std::string::npos ? 0 : static_cast<int>(e.text.size() - dot - 1);
  std::string text = e.text;
  if (!text.empty() && text[0] == '.') text = "0" + text;
  if (text.size() >= 2 && text[0] == '-' && text[1] == '.') text = "-0" + text.substr(1);
  return Ex{text,
            SqlType{TypeClass::Numeric, 0, static_cast<int>(e.text.size()), scale, "numeric"},
            "",
            {}};
}

Translator::Ex Translator::EmitParam(const Expr& e) {
  Binding b;
  b.kind = Binding::Kind::Param;
  b.index = e.param_index;
  return Ex{binder_.Bind(b), SqlType::Unknown(), "", {}};
}

Translator::Ex Translator::EmitVariable(const Expr& e) {
  // Inside an inlined function its parameters stand for the emitted arguments.
  if (!substitutions_.empty()) {
    auto it = substitutions_.back().find(LowerAscii(e.text));
    if (it != substitutions_.back().end()) return it->second;
  }
  return binder_.BindVariable(e.text);
}

Translator::Ex Translator::EmitString(const Expr& e) {
  return Ex{QuoteText(e.text),
            SqlType::VarChar(std::max(1, static_cast<int>(util::Utf8Length(e.text))),
                             e.unicode ? "nvarchar" : "varchar"),
            "",
            {}};
}

// ------------------------------------------------------------------------ operators

Translator::Ex Translator::EmitCompare(Operator op, Ex l, Ex r) {
  if (l.type.IsNumber() && r.type.IsString()) {
    r.sql = ToNumber(r.sql, l.type);
    r.type = l.type;
  } else if (r.type.IsNumber() && l.type.IsString()) {
    l.sql = ToNumber(l.sql, r.type);
    l.type = r.type;
  }
  bool numeric = (l.type.IsNumber() || l.type.cls == TypeClass::Null) &&
                 (r.type.IsNumber() || r.type.cls == TypeClass::Null);
  std::string sql = numeric
                        ? "(" + l.sql + " " + OperatorText(op) + " " + r.sql + ")"
                        : "((" + l.sql + ") COLLATE TSQL " + OperatorText(op) + " " + r.sql + ")";
  return Ex{sql, SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitPlus(Ex l, Ex r) {
  const SqlType& a = l.type;
  const SqlType& b = r.type;
  bool a_str = a.IsString() || a.cls == TypeClass::Null;
  bool b_str = b.IsString() || b.cls == TypeClass::Null;
  bool a_num = a.IsNumber() || a.cls == TypeClass::Null;
  bool b_num = b.IsNumber() || b.cls == TypeClass::Null;
  if (a_str && b_str && !(a.cls == TypeClass::Null && b.cls == TypeClass::Null)) {
    int len = (a.length < 0 || b.length < 0) ? -1 : std::min(8000, a.length + b.length);
    return Ex{"(" + l.sql + " || " + r.sql + ")", SqlType::VarChar(len), "", {}};
  }
  if (a_num && b_num) return Ex{"(" + l.sql + " + " + r.sql + ")", HigherNumber(a, b), "", {}};
  SqlType t = SqlType::Unknown();
  if (a.IsNumber() && b.IsString()) t = a;
  if (b.IsNumber() && a.IsString()) t = b;
  return Ex{"tsql_add(" + l.sql + ", " + r.sql + ")", t, "", {}};
}

Translator::Ex Translator::EmitUnary(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  if (x.type.IsString()) x.sql = ToNumber(x.sql, SqlType::Float());
  return Ex{std::string("(") + OperatorText(e.op) + x.sql + ")",
            x.type.IsNumber() ? x.type : SqlType::Unknown(),
            "",
            {}};
}

Translator::Ex Translator::EmitBinary(const Expr& e, const Scope& scope) {
  Ex l = Emit(*e.args[0], scope);
  Ex r = Emit(*e.args[1], scope);
  if (e.op == Operator::Add) return EmitPlus(std::move(l), std::move(r));
  if (l.type.IsString()) {
    l.sql = ToNumber(l.sql, r.type.IsNumber() ? r.type : SqlType::Float());
    l.type = r.type.IsNumber() ? r.type : SqlType::Float();
  }
  if (r.type.IsString()) {
    r.sql = ToNumber(r.sql, l.type.IsNumber() ? l.type : SqlType::Float());
    r.type = l.type.IsNumber() ? l.type : SqlType::Float();
  }
  SqlType t = (l.type.IsNumber() || l.type.cls == TypeClass::Null) &&
                      (r.type.IsNumber() || r.type.cls == TypeClass::Null)
                  ? HigherNumber(l.type, r.type)
                  : SqlType::Unknown();
  if (e.op == Operator::Divide) return Ex{"tsql_div(" + l.sql + ", " + r.sql + ")", t, "", {}};
  if (e.op == Operator::Modulo) return Ex{"tsql_mod(" + l.sql + ", " + r.sql + ")", t, "", {}};
  if (e.op == Operator::BitXor)
    return Ex{"((" + l.sql + " | " + r.sql + ") - (" + l.sql + " & " + r.sql + "))", t, "", {}};
  if ((e.op == Operator::Subtract || e.op == Operator::Multiply) &&
      RuntimeArithmetic(l.type, r.type))
    return Ex{std::string(e.op == Operator::Subtract ? "tsql_sub(" : "tsql_mul(") + l.sql + ", " +
                  r.sql + ")",
              t,
              "",
              {}};
  return Ex{"(" + l.sql + " " + OperatorText(e.op) + " " + r.sql + ")", t, "", {}};
}

Translator::Ex Translator::EmitComparison(const Expr& e, const Scope& scope) {
  Ex l = Emit(*e.args[0], scope);
  Ex r = Emit(*e.args[1], scope);
  // A quoted number compared with a number column is converted once here.
  if (l.type.IsNumber() && e.args[1]->kind == ExprKind::String && IsIntegerText(e.args[1]->text) &&
      l.type.cls != TypeClass::Bit) {
    r = Ex{util::TrimBlanks(e.args[1]->text), SqlType::Int(), "", {}};
  } else if (r.type.IsNumber() && e.args[0]->kind == ExprKind::String &&
             IsIntegerText(e.args[0]->text) && r.type.cls != TypeClass::Bit) {
    l = Ex{util::TrimBlanks(e.args[0]->text), SqlType::Int(), "", {}};
  }
  return EmitCompare(e.op, std::move(l), std::move(r));
}

Translator::Ex Translator::EmitLogical(const Expr& e, const Scope& scope) {
  std::string l = Condition(*e.args[0], scope);
  std::string r = Condition(*e.args[1], scope);
  return Ex{
      "(" + l + (e.kind == ExprKind::And ? " AND " : " OR ") + r + ")", SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitNot(const Expr& e, const Scope& scope) {
  return Ex{"(NOT " + Condition(*e.args[0], scope) + ")", SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitIsNull(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  return Ex{"(" + x.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)"), SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitBetween(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  Ex lo = Emit(*e.args[1], scope);
  Ex hi = Emit(*e.args[2], scope);
  Ex a = EmitCompare(Operator::GreaterEqual, x, lo);
  Ex b = EmitCompare(Operator::LessEqual, x, hi);
  std::string sql = "(" + a.sql + " AND " + b.sql + ")";
  if (e.negated) sql = "(NOT " + sql + ")";
  return Ex{sql, SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitInList(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  std::vector<Ex> items;
  bool any_number = false, any_string = false;
  for (std::size_t i = 1; i < e.args.size(); ++i) {
    items.push_back(Emit(*e.args[i], scope));
    any_number = any_number || items.back().type.IsNumber();
    any_string = any_string || items.back().type.IsString();
  }
  if (x.type.IsString() && any_number) {
    SqlType num = SqlType::Int();
    for (const Ex& it : items)
      if (it.type.IsNumber()) num = HigherNumber(num, it.type);
    x.sql = ToNumber(x.sql, num);
    x.type = num;
  }
  std::string list;
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::string v = items[i].sql;
    if (x.type.IsNumber() && items[i].type.IsString()) v = ToNumber(v, x.type);
    list += (i ? ", " : "") + v;
  }
  std::string lhs = x.type.IsNumber() ? x.sql : "(" + x.sql + ") COLLATE TSQL";
  return Ex{"(" + lhs + (e.negated ? " NOT IN (" : " IN (") + list + "))", SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitInSelect(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  QueryOut q = EmitSelect(*e.select, &scope, false);
  if (q.columns.size() != 1)
    throw DbError(
        "Only one expression can be specified in the select list when the subquery is not "
        "introduced with EXISTS.");
  const SqlType& st = q.columns[0].type;
  std::string sub = q.sql;
  if (x.type.IsString() && st.IsNumber()) {
    x.sql = ToNumber(x.sql, st);
    x.type = st;
  } else if (x.type.IsNumber() && st.IsString()) {
    // The text column of the subquery is converted to the number's type.
    QueryOut named = EmitSelect(*e.select, &scope, true);
    if (named.columns[0].name.empty())
      Unsupported("IN (subquery) comparing a number with an unnamed text column");
    sub = "SELECT " + ToNumber("\"__zel_in\"." + QuoteIdent(named.columns[0].name), x.type) +
          " FROM (" + named.sql + ") AS \"__zel_in\"";
  }
  std::string lhs = x.type.IsNumber() ? x.sql : "(" + x.sql + ") COLLATE TSQL";
  return Ex{"(" + lhs + (e.negated ? " NOT IN (" : " IN (") + sub + "))", SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitExists(const Expr& e, const Scope& scope) {
  QueryOut q = EmitSelect(*e.select, &scope, false);
  return Ex{"(EXISTS (" + q.sql + "))", SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitLike(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  Ex p = Emit(*e.args[1], scope);
  if (e.args[1]->kind == ExprKind::String && e.args[1]->text.find('[') != std::string::npos)
    Unsupported("LIKE pattern with [ ] character classes");
  // Trailing blanks of the matched value do not count (a char column's padding).
  std::string sql = "(rtrim(" + x.sql + ", ' ')" + (e.negated ? " NOT LIKE " : " LIKE ") + p.sql;
  if (e.args.size() > 2) sql += " ESCAPE " + Emit(*e.args[2], scope).sql;
  return Ex{sql + ")", SqlType::Bit(), "", {}};
}

Translator::Ex Translator::EmitCase(const Expr& e, const Scope& scope) {
  std::size_t i = 0;
  Ex operand;
  if (e.has_operand) operand = Emit(*e.args[i++], scope);
  std::size_t end = e.args.size() - (e.has_else ? 1 : 0);
  std::string sql = "CASE";
  SqlType type = SqlType::Null();
  bool mixed = false;
  auto merge = [&](const SqlType& t) {
    if (t.cls == TypeClass::Null) return;
    if (type.cls == TypeClass::Null) {
      type = t;
    } else if (type.IsString() && t.IsString()) {
      type.cls = TypeClass::VarChar;
      type.length = (type.length < 0 || t.length < 0) ? -1 : std::max(type.length, t.length);
    } else if (type.IsNumber() && t.IsNumber()) {
      type = HigherNumber(type, t);
    } else if (type.cls != t.cls) {
      mixed = true;
    }
  };
  for (; i < end; i += 2) {
    std::string cond;
    if (e.has_operand) {
      Ex w = Emit(*e.args[i], scope);
      cond = EmitCompare(Operator::Equal, operand, w).sql;
    } else {
      cond = Condition(*e.args[i], scope);
    }
    Ex v = Emit(*e.args[i + 1], scope);
    merge(v.type);
    sql += " WHEN " + cond + " THEN " + v.sql;
  }
  if (e.has_else) {
    Ex v = Emit(*e.args.back(), scope);
    merge(v.type);
    sql += " ELSE " + v.sql;
  }
  sql += " END";
  return Ex{"(" + sql + ")", mixed ? SqlType::Unknown() : type, "", {}};
}

Translator::Ex Translator::EmitCast(const Expr& e, const Scope& scope) {
  Ex x = Emit(*e.args[0], scope);
  if (e.args.size() > 1) {
    const Expr& style = *e.args[1];
    bool plain = style.kind == ExprKind::Integer &&
                 (style.text == "0" || style.text == "1" || style.text == "2");
    if (!plain || x.type.cls == TypeClass::DateTime) Unsupported("CONVERT with a style");
  }
  SqlType to = TypeFromSpec(e.type, true);
  if (to.cls == TypeClass::DateTime && x.type.IsNumber())
    Unsupported("conversion of a number to datetime");
  return Ex{CastConversion(x.sql, x.type, to), to, "", {}};
}

Translator::Ex Translator::EmitSubquery(const Expr& e, const Scope& scope) {
  QueryOut q = EmitSelect(*e.select, &scope, false);
  if (q.columns.size() != 1)
    throw DbError(
        "Only one expression can be specified in the select list when the subquery is not "
        "introduced with EXISTS.");
  return Ex{"(" + q.sql + ")", q.columns[0].type, "", {}};
}

// ------------------------------------------------------------------------ functions

Translator::Ex Translator::EmitFunction(const Expr& e, const Scope& scope) {
  if (e.name.size() >= 2) {
    std::string db;
    std::shared_ptr<const ObjectInfo> fn = binder_.ResolveFunction(e.name, &db);
    return EmitUserFunction(e, scope, db, fn);
  }
  const std::string name = UpperAscii(e.name[0]);
  const BuiltinFunction* f = FindBuiltinFunction(name);
  if (!f) throw DbError("'" + e.name[0] + "' is not a recognized built-in function name.");
  const std::size_t n = e.args.size();
  if (n < static_cast<std::size_t>(f->min_args) || n > static_cast<std::size_t>(f->max_args)) {
    if (f->min_args == f->max_args)
      throw DbError("The " + e.name[0] + " function requires " + std::to_string(f->min_args) +
                    " argument(s).");
    throw DbError("The " + e.name[0] + " function requires " + std::to_string(f->min_args) +
                  " to " + std::to_string(f->max_args) + " arguments.");
  }
  BuiltinCall call{
      e, {}, binder_.current_db(), [this](Binding b) { return binder_.Bind(std::move(b)); }};
  for (const ExprPtr& x : e.args) call.args.push_back(Emit(*x, scope));
  return EmitBuiltin(*f, call);
}

std::optional<InlineBody> InlinableBody(const CreateFunctionStmt& fn) {
  const auto& body = fn.body;
  auto returned = [](const Stmt& s) {
    return s.kind == StmtKind::Return ? s.As<ReturnStmt>().value.get() : nullptr;
  };
  if (body.size() == 1 && returned(*body[0])) return InlineBody{returned(*body[0]), nullptr};
  if (body.empty() || !returned(*body.back()) || returned(*body.back())->kind != ExprKind::Variable)
    return std::nullopt;
  const std::string result = LowerAscii(returned(*body.back())->text);
  InlineBody out;
  int producers = 0;
  for (std::size_t i = 0; i + 1 < body.size(); ++i) {
    const Stmt& s = *body[i];
    if (s.kind == StmtKind::Declare) continue;
    if (s.kind == StmtKind::SetVariable) {
      const auto& set = s.As<SetVariableStmt>();
      if (LowerAscii(set.variable) != result) return std::nullopt;
      out.value = set.value.get();
    } else if (s.kind == StmtKind::Select) {
      const Select& select = *s.As<SelectStmt>().select;
      if (select.cores.size() != 1 || select.cores[0].items.size() != 1 ||
          LowerAscii(select.cores[0].items[0].assign_variable) != result ||
          !select.order_by.empty())
        return std::nullopt;
      out.query = &select.cores[0];
    } else {
      return std::nullopt;
    }
    ++producers;
  }
  if (producers != 1) return std::nullopt;
  return out;
}

Translator::Ex Translator::EmitUserFunction(const Expr& e, const Scope& scope,
                                            const std::string& db,
                                            std::shared_ptr<const ObjectInfo> fn) {
  std::shared_ptr<const Batch> batch = internal::ParseDefinition(fn->definition);
  const auto& def = batch->statements.at(0)->As<CreateFunctionStmt>();
  if (e.args.size() != def.params.size())
    throw DbError(
        e.args.size() < def.params.size()
            ? "An insufficient number of arguments were supplied for the procedure or function " +
                  e.name.back() + "."
            : "Procedure or function " + e.name.back() + " has too many arguments specified.");
  std::vector<Ex> args;
  for (const ExprPtr& a : e.args) args.push_back(Emit(*a, scope));
  SqlType ret = TypeFromSpec(def.returns);
  if (EqualsNoCase(fn->name, "decDate") || EqualsNoCase(fn->name, "incDate")) {
    if (args.size() != 1) Unsupported("function " + fn->name + " with other parameters");
    std::string native = EqualsNoCase(fn->name, "decDate") ? "decDate" : "incDate";
    return Ex{native + "(" +
                  CastConversion(args[0].sql, args[0].type, TypeFromSpec(def.params[0].type)) + ")",
              ret,
              "",
              {}};
  }
  // A function whose body is one expression or one query is inlined with its arguments.
  std::optional<InlineBody> inlined = InlinableBody(def);
  if (!inlined) Unsupported("function body of " + fn->name);
  const Expr* value = inlined->value;
  const SelectCore* query = inlined->query;
  std::map<std::string, Ex> subst;
  for (std::size_t i = 0; i < def.params.size(); ++i) {
    SqlType pt = TypeFromSpec(def.params[i].type);
    subst[LowerAscii(def.params[i].name)] =
        Ex{CastConversion(args[i].sql, args[i].type, pt), pt, "", {}};
  }
  Ex out;
  {
    NestingGuard nested(*this, db, &subst);
    if (value) {
      Scope empty;
      out = Emit(*value, empty);
    } else {
      Scope inner;
      std::string from;
      for (std::size_t i = 0; i < query->from.size(); ++i)
        from += (i ? ", " : "") + EmitRef(*query->from[i], inner);
      Ex item = Emit(*query->items[0].expr, inner);
      std::string sql = "(SELECT " + item.sql;
      if (!from.empty()) sql += " FROM " + from;
      if (query->where) sql += " WHERE " + Condition(*query->where, inner);
      if (!query->group_by.empty()) Unsupported("GROUP BY in an inlined function");
      out = Ex{sql + ")", item.type, "", {}};
    }
  }
  return Ex{CastConversion(out.sql, out.type, ret), ret, "", {}};
}

}  // namespace zel::db::embedded
