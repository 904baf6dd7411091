// The DDL emitter of the embedded engine: the SQLite statements that store a table of the
// catalogue (its columns with their SQLite declarations, keys, identity and defaults) and
// its indexes, and the column descriptions built from CREATE / ALTER TABLE definitions.
// Pure functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "db/embedded/ast.h"
#include "db/embedded/binder.h"
#include "db/embedded/catalog.h"

namespace zel::db::embedded {

// CREATE TABLE for the table stored under `storage` in its schema (a rebuild uses another
// name than the table's own).
std::string CreateTableSql(const ObjectInfo& table, const std::string& storage);

// CREATE [UNIQUE] INDEX of one of the table's indexes; DROP INDEX of one by name.
std::string CreateIndexSql(const ObjectInfo& table, const IndexInfo& index);
std::string DropIndexSql(const ObjectInfo& table, const std::string& index_name);

// ALTER TABLE … ADD COLUMN of a nullable column or one with a constant default.
std::string AddColumnSql(const ObjectInfo& table, const ColumnInfo& column);

// The columns of definitions, numbered from `first_id`; defaults are translated in `env`.
// Raises SQL Server's message for an identity column of a type that cannot be one.
std::vector<ColumnInfo> BuildColumns(const std::vector<ColumnDefinition>& defs, int first_id,
                                     const TranslateEnv& env);

}  // namespace zel::db::embedded
