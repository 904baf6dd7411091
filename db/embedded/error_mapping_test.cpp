// SQLite's failures of a statement in SQL Server's words, for a table with a primary key,
// a unique key, a unique index and a NOT NULL column.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "db/embedded/error_mapping.h"

namespace zel::db::embedded {
namespace {

std::shared_ptr<const ObjectInfo> Person() {
  auto o = std::make_shared<ObjectInfo>();
  o->database = "Att";
  o->name = "Person";
  o->type = "U";
  o->storage = "Att.Person";
  o->keys.push_back(KeyInfo{1, "PK_Person", true, {"PerNo", "Year"}});
  o->keys.push_back(KeyInfo{2, "UQ_Card", false, {"CardNo"}});
  o->indexes.push_back(IndexInfo{3, "IX_Name", true, {"LastName", "FirstName", "Father"}});
  return o;
}

TEST(MapSqliteErrorTest, Messages) {
  struct Case {
    int ext;
    const char* msg;
    const char* kind;
    bool timed;
    const char* expected;
  };
  const Case cases[] = {
      {SQLITE_CONSTRAINT_PRIMARYKEY, "UNIQUE constraint failed: Att.Person.Year, Att.Person.PerNo",
       "INSERT", false,
       "Violation of PRIMARY KEY constraint 'PK_Person'. Cannot insert duplicate key in object "
       "'dbo.Person'."},
      {SQLITE_CONSTRAINT_UNIQUE, "UNIQUE constraint failed: Att.Person.cardno", "UPDATE", false,
       "Violation of UNIQUE KEY constraint 'UQ_Card'. Cannot insert duplicate key in object "
       "'dbo.Person'."},
      {SQLITE_CONSTRAINT_UNIQUE,
       "UNIQUE constraint failed: Att.Person.LastName, Att.Person.FirstName, Att.Person.Father",
       "INSERT", false,
       "Cannot insert duplicate key row in object 'dbo.Person' with unique index 'IX_Name'."},
      {SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: Att.Person.PerNo", "UPDATE", false,
       "Cannot insert the value NULL into column 'PerNo', table 'Att.dbo.Person'; column does not "
       "allow nulls. UPDATE fails."},
      {SQLITE_INTERRUPT, "interrupted", "INSERT", true, "Query timeout expired"},
      // What cannot be placed keeps SQLite's message: an unknown table, an interrupt that is
      // no timeout, another failure.
      {SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: Att.Other.X", "INSERT", false,
       "NOT NULL constraint failed: Att.Other.X"},
      {SQLITE_INTERRUPT, "interrupted", "INSERT", false, "interrupted"},
      {SQLITE_ERROR, "no such table: Att.Gone", "INSERT", true, "no such table: Att.Gone"},
  };
  std::shared_ptr<const ObjectInfo> person = Person();
  TableByStorage table_of = [&](const std::string& storage) {
    return storage == person->storage ? person : nullptr;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.msg);
    EXPECT_EQ(MapSqliteError(c.ext, c.msg, c.kind, c.timed, table_of), c.expected);
  }
}

}  // namespace
}  // namespace zel::db::embedded
