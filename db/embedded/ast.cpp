#include "db/embedded/ast.h"

namespace zel::db::embedded {

std::string ObjectName::Text() const {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '.';
    out += parts[i];
  }
  return out;
}

const char* OperatorText(Operator op) {
  switch (op) {
    case Operator::None:
      return "";
    case Operator::Negate:
      return "-";
    case Operator::BitNot:
      return "~";
    case Operator::Add:
      return "+";
    case Operator::Subtract:
      return "-";
    case Operator::Multiply:
      return "*";
    case Operator::Divide:
      return "/";
    case Operator::Modulo:
      return "%";
    case Operator::BitAnd:
      return "&";
    case Operator::BitOr:
      return "|";
    case Operator::BitXor:
      return "^";
    case Operator::Equal:
      return "=";
    case Operator::NotEqual:
      return "<>";
    case Operator::Less:
      return "<";
    case Operator::Greater:
      return ">";
    case Operator::LessEqual:
      return "<=";
    case Operator::GreaterEqual:
      return ">=";
  }
  return "";
}

const char* JoinTypeText(JoinType type) {
  switch (type) {
    case JoinType::Inner:
      return "INNER";
    case JoinType::Left:
      return "LEFT";
    case JoinType::Right:
      return "RIGHT";
    case JoinType::Full:
      return "FULL";
    case JoinType::Cross:
      return "CROSS";
  }
  return "";
}

const char* SetOpText(SetOp op) {
  switch (op) {
    case SetOp::Union:
      return "UNION";
    case SetOp::UnionAll:
      return "UNION ALL";
    case SetOp::Except:
      return "EXCEPT";
    case SetOp::Intersect:
      return "INTERSECT";
  }
  return "";
}

}  // namespace zel::db::embedded
