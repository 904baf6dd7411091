// Which scalar function bodies are inlined where the function is called, and which part of
// the body stands for the call.
#include <gtest/gtest.h>

#include "db/embedded/parser.h"
#include "db/embedded/translator.h"

namespace zel::db::embedded {
namespace {

enum class Inlined { None, Value, Query };

TEST(InlinableBodyTest, Shapes) {
  struct Case {
    const char* body;
    Inlined expected;
  };
  const Case cases[] = {
      {"RETURN @a + 1", Inlined::Value},
      {"BEGIN RETURN @a + 1 END", Inlined::Value},
      {"BEGIN DECLARE @r int SET @r = @a * 2 RETURN @r END", Inlined::Value},
      {"BEGIN DECLARE @r int SELECT @r = max(x) FROM t WHERE y = @a RETURN @r END", Inlined::Query},
      // Not one producer of the returned variable.
      {"BEGIN DECLARE @r int RETURN @r END", Inlined::None},
      {"BEGIN DECLARE @r int SET @r = 1 SET @r = @r + @a RETURN @r END", Inlined::None},
      {"BEGIN DECLARE @r int SET @r = 1 SELECT @r = x FROM t RETURN @r END", Inlined::None},
      // A producer of another variable, a query with ORDER BY or two items, control flow.
      {"BEGIN DECLARE @r int, @s int SET @s = 1 RETURN @r END", Inlined::None},
      {"BEGIN DECLARE @r int SELECT @r = x FROM t ORDER BY x RETURN @r END", Inlined::None},
      {"BEGIN DECLARE @r int, @s int SELECT @r = x, @s = y FROM t RETURN @r END", Inlined::None},
      {"BEGIN DECLARE @r int IF @a > 0 SET @r = 1 RETURN @r END", Inlined::None},
      // The last statement returns an expression after other statements.
      {"BEGIN DECLARE @r int SET @r = 1 RETURN @r + 1 END", Inlined::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::unique_ptr<Batch> b =
        ParseBatch(std::string("CREATE FUNCTION f (@a int) RETURNS int AS ") + c.body);
    const auto& fn = b->statements.at(0)->As<CreateFunctionStmt>();
    std::optional<InlineBody> body = InlinableBody(fn);
    Inlined got = !body ? Inlined::None : body->value ? Inlined::Value : Inlined::Query;
    EXPECT_EQ(got, c.expected);
    if (body) {
      EXPECT_NE(body->value == nullptr, body->query == nullptr);
    }
  }
}

}  // namespace
}  // namespace zel::db::embedded
