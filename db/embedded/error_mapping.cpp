#include "db/embedded/error_mapping.h"

#include <sqlite3.h>

#include <utility>
#include <vector>

#include "db/embedded/lexer.h"

namespace zel::db::embedded {

std::string MapSqliteError(int ext, const std::string& msg, const std::string& kind, bool timed,
                           const TableByStorage& table_of) {
  auto split = [&](const std::string& list) {
    std::vector<std::pair<std::shared_ptr<const ObjectInfo>, std::string>> out;
    std::size_t pos = 0;
    while (pos < list.size()) {
      std::size_t end = list.find(", ", pos);
      std::string item = list.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      std::size_t dot = item.rfind('.');
      if (dot != std::string::npos) {
        std::string storage = item.substr(0, dot);
        out.emplace_back(table_of(storage), item.substr(dot + 1));
      }
      if (end == std::string::npos) break;
      pos = end + 2;
    }
    return out;
  };
  std::size_t colon = msg.find(": ");
  std::string list = colon == std::string::npos ? "" : msg.substr(colon + 2);
  if (ext == SQLITE_CONSTRAINT_PRIMARYKEY || ext == SQLITE_CONSTRAINT_UNIQUE) {
    auto cols = split(list);
    if (!cols.empty() && cols[0].first) {
      const ObjectInfo& o = *cols[0].first;
      for (const KeyInfo& k : o.keys) {
        if (k.columns.size() != cols.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < cols.size(); ++i) {
          bool found = false;
          for (const std::string& kc : k.columns) found = found || EqualsNoCase(kc, cols[i].second);
          same = same && found;
        }
        if (same)
          return std::string("Violation of ") + (k.primary ? "PRIMARY KEY" : "UNIQUE KEY") +
                 " constraint '" + k.name + "'. Cannot insert duplicate key in object 'dbo." +
                 o.name + "'.";
      }
      for (const IndexInfo& ix : o.indexes)
        if (ix.unique && ix.columns.size() == cols.size())
          return "Cannot insert duplicate key row in object 'dbo." + o.name +
                 "' with unique index '" + ix.name + "'.";
    }
  }
  if (ext == SQLITE_CONSTRAINT_NOTNULL) {
    auto cols = split(list);
    if (!cols.empty() && cols[0].first) {
      const ObjectInfo& o = *cols[0].first;
      return "Cannot insert the value NULL into column '" + cols[0].second + "', table '" +
             o.database + ".dbo." + o.name + "'; column does not allow nulls. " + kind + " fails.";
    }
  }
  if (ext == SQLITE_INTERRUPT && timed) return "Query timeout expired";
  return msg;
}

}  // namespace zel::db::embedded
