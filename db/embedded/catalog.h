// The embedded engine's own metadata: SQL types of the accepted T-SQL, and the catalogue
// of databases, tables, views, functions and keys kept in the server file (tables
// __zel_databases, __zel_objects, __zel_columns) and mirrored in memory.
// A Catalog value is immutable once published; connections share it read-only through
// shared_ptr and publish a changed copy under the file's write lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/embedded/ast.h"

struct sqlite3;

namespace zel::db::embedded {

enum class TypeClass { Unknown, Null, Int, Bit, Float, Numeric, Char, VarChar, DateTime };

// A T-SQL type as the engine reasons about it.
struct SqlType {
  TypeClass cls = TypeClass::Unknown;
  int length = 0;     // Char/VarChar: characters, -1 for MAX (text, ntext, varchar(max))
  int precision = 0;  // Numeric
  int scale = 0;      // Numeric
  std::string name;   // T-SQL base name in lower case ("smallint", "nvarchar", ...)

  bool IsString() const { return cls == TypeClass::Char || cls == TypeClass::VarChar; }
  bool IsNumber() const {
    return cls == TypeClass::Int || cls == TypeClass::Bit || cls == TypeClass::Float ||
           cls == TypeClass::Numeric;
  }
  bool IsKnown() const { return cls != TypeClass::Unknown && cls != TypeClass::Null; }
  static SqlType Unknown() { return {}; }
  static SqlType Null() { return SqlType{TypeClass::Null, 0, 0, 0, ""}; }
  static SqlType Int(const char* n = "int") { return SqlType{TypeClass::Int, 0, 0, 0, n}; }
  static SqlType Bit() { return SqlType{TypeClass::Bit, 0, 0, 0, "bit"}; }
  static SqlType Float() { return SqlType{TypeClass::Float, 0, 0, 0, "float"}; }
  static SqlType VarChar(int n, const char* name = "varchar") {
    return SqlType{TypeClass::VarChar, n, 0, 0, name};
  }
  static SqlType Char(int n) { return SqlType{TypeClass::Char, n, 0, 0, "char"}; }
};

// Converts a declared type; raises DbError "Unsupported T-SQL construct: type X" for a
// type the engine does not know. `for_cast` applies CAST's default lengths (30).
SqlType TypeFromSpec(const TypeSpec& spec, bool for_cast = false);
// T-SQL text of a type ("char(10)", "numeric(10,0)", "varchar(max)").
std::string TypeText(const SqlType& t);
// SQLite column declaration of a type, with the TSQL collation on strings.
std::string SqliteDeclaration(const SqlType& t);
// SQL Server's max_length of sys.columns for a type.
int MaxLength(const SqlType& t);

struct ColumnInfo {
  std::string name;
  SqlType type;
  bool nullable = true;
  bool identity = false;
  long long seed = 1, increment = 1;
  std::string default_sql;  // SQLite text of the default expression, empty when none
  int column_id = 0;
};

struct KeyInfo {
  long long object_id = 0;
  std::string name;
  bool primary = false;
  std::vector<std::string> columns;
};

struct IndexInfo {
  long long object_id = 0;
  std::string name;
  bool unique = false;
  std::vector<std::string> columns;
};

// One table, view or scalar function of a database.
struct ObjectInfo {
  long long object_id = 0;
  std::string database;         // as created
  std::string name;             // as created
  std::string type;             // "U", "V", "FN"
  std::string schema = "main";  // SQLite schema of the storage ("main" or "temp")
  std::string storage;          // SQLite table name
  std::vector<ColumnInfo> columns;
  std::vector<KeyInfo> keys;
  std::vector<IndexInfo> indexes;
  std::string definition;  // views and functions: the CREATE text
  std::string create_date;

  const ColumnInfo* FindColumn(std::string_view column) const;
  const KeyInfo* PrimaryKey() const;
  const ColumnInfo* IdentityColumn() const;
  // The emitted reference: "main"."Att.DayWork" style, quoted.
  std::string SqlName() const;
};

struct DatabaseInfo {
  long long database_id = 0;
  std::string name;
  std::string create_date;
};

class Catalog {
 public:
  const DatabaseInfo* FindDatabase(std::string_view name) const;
  const DatabaseInfo* FindDatabaseById(long long id) const;
  std::shared_ptr<const ObjectInfo> Find(std::string_view database, std::string_view name) const;
  std::shared_ptr<const ObjectInfo> FindById(long long object_id) const;
  // The key or constraint with that name in a database (for OBJECT_ID of a key name).
  const KeyInfo* FindKey(std::string_view database, std::string_view name,
                         std::shared_ptr<const ObjectInfo>* owner) const;
  const std::vector<DatabaseInfo>& Databases() const { return databases_; }
  std::vector<std::shared_ptr<const ObjectInfo>> ObjectsOf(std::string_view database) const;
  // The table stored under a SQLite name (for reading SQLite's constraint messages).
  std::shared_ptr<const ObjectInfo> FindByStorage(std::string_view storage) const;

  void AddDatabase(DatabaseInfo db);
  void RemoveDatabase(std::string_view name);
  void Put(std::shared_ptr<const ObjectInfo> object);
  void Remove(std::string_view database, std::string_view name);
  long long NextObjectId() { return ++last_object_id_; }
  long long NextDatabaseId() const;

  // Creates the catalogue tables of a server file when missing (a write: call it under
  // the file's write lock).
  static void EnsureTables(sqlite3* db);
  // Reads the catalogue tables of an open server file (read-only).
  static Catalog Load(sqlite3* db);
  // Writes one object's rows (replacing earlier rows of the same object id).
  static void SaveObject(sqlite3* db, const ObjectInfo& object);
  static void DeleteObject(sqlite3* db, long long object_id);
  static void SaveDatabase(sqlite3* db, const DatabaseInfo& info);
  static void DeleteDatabase(sqlite3* db, long long database_id);

 private:
  std::vector<DatabaseInfo> databases_;
  // lower(database) → lower(name) → object
  std::map<std::string, std::map<std::string, std::shared_ptr<const ObjectInfo>>> objects_;
  long long last_object_id_ = 1000;
};

// Double-quotes an identifier for SQLite.
std::string QuoteIdent(std::string_view name);
// Single-quotes a text literal for SQLite.
std::string QuoteText(std::string_view text);

}  // namespace zel::db::embedded
