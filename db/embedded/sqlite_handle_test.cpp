// The SQLite handle owners: failures become DbErrors with SQLite's reason, a moved statement
// leaves an empty owner behind, and a refused function registration is reported.
#include "db/embedded/sqlite_handle.h"

#include <gtest/gtest.h>

#include <utility>

#include "db/client.h"

namespace zel::db::embedded {
namespace {

SqliteDb Memory() { return SqliteDb::Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE); }

void Nothing(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_null(ctx); }

TEST(SqliteHandle, FailuresCarrySqlitesReason) {
  EXPECT_THROW(SqliteDb::Open("/nonexistent-folder/x/server.db", SQLITE_OPEN_READWRITE), DbError);
  SqliteDb db = Memory();
  try {
    SqliteStatement::Prepare(db.get(), "SELEC 1");
    ADD_FAILURE() << "prepared a syntax error";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
  }
  ExecSqlite(db.get(), "CREATE TABLE t (k INTEGER PRIMARY KEY)");
  SqliteStatement insert = SqliteStatement::Prepare(db.get(), "INSERT INTO t VALUES (1)");
  insert.Run();
  EXPECT_THROW(insert.Run(), DbError);  // duplicate key
  EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM t", -1), 1);
  EXPECT_EQ(QueryInt(db.get(), "SELECT k FROM t WHERE k = 2", -1), -1);
  // SQLite refuses more than 127 arguments.
  try {
    CreateSqlFunction(db.get(), "too_wide", 1000, SQLITE_UTF8, nullptr, Nothing);
    ADD_FAILURE() << "registered a function of 1000 arguments";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("too_wide"), std::string::npos) << e.what();
  }
}

TEST(SqliteHandle, OwnershipMovesAndTheStatementStaysUsable) {
  SqliteDb db = Memory();
  SqliteStatement a = SqliteStatement::Prepare(db.get(), "SELECT ?1 || 'x'");
  SqliteStatement b = std::move(a);
  EXPECT_FALSE(a);
  ASSERT_TRUE(b);
  b.Bind(1, std::string("a"));
  ASSERT_TRUE(b.Step());
  EXPECT_EQ(b.Text(0), "ax");
  b.Reset();
  SqliteDb other = std::move(db);
  EXPECT_FALSE(db);
  EXPECT_EQ(QueryInt(other.get(), "SELECT 7", 0), 7);
}

}  // namespace
}  // namespace zel::db::embedded
