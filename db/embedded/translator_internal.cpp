#include "db/embedded/translator_internal.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "db/client.h"
#include "db/embedded/lexer.h"
#include "db/embedded/parser.h"
#include "util/text.h"

namespace zel::db::embedded::internal {

void Unsupported(const std::string& what) { throw DbError("Unsupported T-SQL construct: " + what); }

std::string ToNumber(const std::string& sql, const SqlType& number) {
  switch (number.cls) {
    case TypeClass::Int:
      if (number.name == "bigint") return "tsql_int(" + sql + ", 'bigint')";
      return "tsql_int(" + sql + ")";
    case TypeClass::Bit:
      return "tsql_bit(" + sql + ")";
    default:
      return "tsql_float(" + sql + ")";
  }
}

// Whether `-` and `*` between operands of these types go to the runtime (tsql_sub/tsql_mul)
// rather than to SQLite's operators. The runtime types its operands by their values: an
// integer that fits int is an int, and the result must fit int too, which is SQL Server's
// rule for int, smallint, tinyint and bit operands (and the best reading of a parameter or
// other operand whose type is known only at run time). For bigint, numeric and float
// operands that value-based rule would be wrong (a bigint holding 100000 times itself is no
// overflow), while SQLite's operator gives SQL Server's result for every value those
// columns hold short of the bigint / float range, so they keep the native operator, which
// also spares the per-row function call.
bool RuntimeArithmetic(const SqlType& a, const SqlType& b) {
  auto int_like = [](const SqlType& t) {
    return t.cls == TypeClass::Bit || (t.cls == TypeClass::Int && t.name != "bigint") ||
           t.cls == TypeClass::Null || !t.IsKnown();
  };
  return int_like(a) && int_like(b);
}

bool IsIntegerText(std::string_view s) {
  s = util::TrimView(s, util::kBlank);
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  if (s.empty() || s.size() > 18) return false;
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ReferencesVariable(const Expr& e, const std::set<std::string>& names) {
  if (e.kind == ExprKind::Variable && names.count(LowerAscii(e.text))) return true;
  for (const ExprPtr& a : e.args)
    if (a && ReferencesVariable(*a, names)) return true;
  return false;
}

namespace {

std::mutex g_parsed_mutex;
std::unordered_map<std::string, std::shared_ptr<const Batch>>& ParsedDefinitions() {
  static std::unordered_map<std::string, std::shared_ptr<const Batch>> cache;
  return cache;
}

}  // namespace

std::shared_ptr<const Batch> ParseDefinition(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_parsed_mutex);
  auto& cache = ParsedDefinitions();
  auto it = cache.find(text);
  if (it != cache.end()) return it->second;
  std::shared_ptr<const Batch> batch = ParseBatch(text);
  cache.emplace(text, batch);
  return batch;
}

}  // namespace zel::db::embedded::internal
