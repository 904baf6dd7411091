// The plan of an ALTER TABLE on the embedded engine: the table as it will be (columns,
// keys) and, for each of its columns, the SQLite expression over the old table that fills
// it when the table is rebuilt; or that the new columns can simply be added. SQL Server's
// refusals (a duplicate column, a column a key or index depends on, a second primary key,
// a NOT NULL column without default on a non-empty table, …) are raised here.
// Pure functions; any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/embedded/ast.h"
#include "db/embedded/binder.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded {

struct AlterPlan {
  ObjectInfo table;                  // the table after the change; new keys have object_id 0
  std::vector<std::string> sources;  // per column of `table`: its value from the old rows
                                     // ("" for a new identity, numbered by the rebuild)
  bool add_in_place = false;         // only nullable columns with constant defaults added
};

// Plans `s` on `old`. Column defaults are translated in `env`; `row_count` is asked only
// when a NOT NULL column without default is added.
AlterPlan PlanAlterTable(const ObjectInfo& old, const AlterTableStmt& s, const TranslateEnv& env,
                         const std::function<long long()>& row_count);

}  // namespace zel::db::embedded
