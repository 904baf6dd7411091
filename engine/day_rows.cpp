#include "engine/day_rows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "util/text.h"

namespace zel::engine {
namespace {

// The words and signs of a statement: names (brackets taken off, "db..table" kept whole),
// "?" markers and the signs ( ) , = >= <=. Nullopt for anything else (a literal, a comment),
// which no statement this module reads carries.
std::optional<std::vector<std::string>> Tokens(std::string_view sql) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const auto name_char = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '#' || c == '@';
  };
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '[' || name_char(c)) {
      std::string name;
      while (i < sql.size() && (sql[i] == '[' || name_char(sql[i]))) {
        if (sql[i] == '[') {
          const std::size_t end = sql.find(']', i);
          if (end == std::string_view::npos) return std::nullopt;
          name.append(sql.substr(i + 1, end - i - 1));
          i = end + 1;
        } else {
          name.push_back(sql[i++]);
        }
      }
      out.push_back(std::move(name));
    } else if ((c == '>' || c == '<') && i + 1 < sql.size() && sql[i + 1] == '=') {
      out.push_back(std::string(sql.substr(i, 2)));
      i += 2;
    } else if (c == '(' || c == ')' || c == ',' || c == '=' || c == '?') {
      out.push_back(std::string(1, c));
      ++i;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// Reads tokens in order; every check leaves `ok` false once one fails.
class Reader {
 public:
  explicit Reader(const std::vector<std::string>& tokens) : tokens_(tokens) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return at_ == tokens_.size(); }
  bool Peek(std::string_view word) const {
    return at_ < tokens_.size() && util::EqualsNoCase(tokens_[at_], word);
  }
  void Expect(std::string_view word) {
    if (Peek(word))
      ++at_;
    else
      ok_ = false;
  }
  std::string Name() {
    if (at_ >= tokens_.size() || !IsName(tokens_[at_])) {
      ok_ = false;
      return {};
    }
    return tokens_[at_++];
  }

 private:
  static bool IsName(const std::string& t) {
    return !t.empty() && t != "(" && t != ")" && t != "," && t != "=" && t != "?" && t != ">=" &&
           t != "<=";
  }
  const std::vector<std::string>& tokens_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// "Att_1399..TimeTab" and "dbo.TimeTab" name the table "timetab".
std::string TableKey(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return util::LowerAscii(dot == std::string::npos ? name : name.substr(dot + 1));
}

std::string Text(const db::Value& v) { return util::TrimWhitespace(v.AsString()); }

}  // namespace

// What a statement text is: the day's delete of a table, an insert of a row, an update of
// rows, or none of these.
struct DayRowsReader::Shape {
  enum class Kind { kOther, kDelete, kInsert, kUpdate } kind = Kind::kOther;
  std::string table;               // lower case, without database and schema
  std::string column;              // kDelete: the date column as written
  Columns columns;                 // kInsert: the columns in value order; kUpdate: the columns set
  std::vector<std::string> where;  // kUpdate: the columns matched
};

namespace {

using Shape = DayRowsReader::Shape;

Columns Lowered(std::vector<std::string> names) {
  for (std::string& n : names) n = util::LowerAscii(n);
  return std::make_shared<const std::vector<std::string>>(std::move(names));
}

// "DELETE FROM t where (Perno = ?) AND (c >= ?) AND (c <= ?)".
Shape ReadDelete(Reader& r) {
  Shape d;
  r.Expect("DELETE");
  r.Expect("FROM");
  d.table = TableKey(r.Name());
  r.Expect("where");
  r.Expect("(");
  r.Expect("Perno");
  r.Expect("=");
  r.Expect("?");
  r.Expect(")");
  for (const char* sign : {">=", "<="}) {
    r.Expect("AND");
    r.Expect("(");
    const std::string column = r.Name();
    if (d.column.empty()) d.column = column;
    if (!util::EqualsNoCase(column, d.column)) return {};
    r.Expect(sign);
    r.Expect("?");
    r.Expect(")");
  }
  if (!r.ok() || !r.AtEnd()) return {};
  d.kind = Shape::Kind::kDelete;
  return d;
}

// "INSERT INTO t (c, …) VALUES (?, …)".
Shape ReadInsert(Reader& r) {
  Shape i;
  r.Expect("INSERT");
  r.Expect("INTO");
  i.table = TableKey(r.Name());
  std::vector<std::string> columns;
  r.Expect("(");
  do {
    columns.push_back(r.Name());
    if (!r.Peek(",")) break;
    r.Expect(",");
  } while (r.ok());
  r.Expect(")");
  r.Expect("VALUES");
  r.Expect("(");
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) r.Expect(",");
    r.Expect("?");
  }
  r.Expect(")");
  if (!r.ok() || !r.AtEnd()) return {};
  i.columns = Lowered(std::move(columns));
  i.kind = Shape::Kind::kInsert;
  return i;
}

// "UPDATE t SET c = ?, … WHERE c = ? AND …".
Shape ReadUpdate(Reader& r) {
  Shape u;
  std::vector<std::string> set;
  r.Expect("UPDATE");
  u.table = TableKey(r.Name());
  r.Expect("SET");
  do {
    set.push_back(r.Name());
    r.Expect("=");
    r.Expect("?");
    if (!r.Peek(",")) break;
    r.Expect(",");
  } while (r.ok());
  r.Expect("WHERE");
  do {
    u.where.push_back(util::LowerAscii(r.Name()));
    r.Expect("=");
    r.Expect("?");
    if (!r.Peek("AND")) break;
    r.Expect("AND");
  } while (r.ok());
  if (!r.ok() || !r.AtEnd()) return {};
  u.columns = Lowered(std::move(set));
  u.kind = Shape::Kind::kUpdate;
  return u;
}

Shape ReadShape(const std::string& sql) {
  const auto tokens = Tokens(sql);
  if (!tokens || tokens->empty()) return {};
  Reader r(*tokens);
  const std::string& verb = tokens->front();
  if (util::EqualsNoCase(verb, "DELETE")) return ReadDelete(r);
  if (util::EqualsNoCase(verb, "INSERT")) return ReadInsert(r);
  if (util::EqualsNoCase(verb, "UPDATE")) return ReadUpdate(r);
  return {};
}

bool OwnsRow(const DayRows& day, const DayTable& table, const DayRow& row) {
  const db::Value* perno = row.Find("perno");
  const db::Value* date = row.Find(util::LowerAscii(table.date_column));
  return perno && date && Text(*perno) == Text(day.perno) && Text(*date) == day.day;
}

// Applies one statement to the day's rows; false when it is not one the day's rows follow.
// The day's deletes come first (`wrote` tells that a row was written since).
bool Apply(DayRows& day, const Shape& shape, const DayStatement& s, int index, bool& wrote) {
  switch (shape.kind) {
    case Shape::Kind::kDelete: {
      if (s.params.size() != 3 || wrote) return false;
      const std::string perno = s.params[0].value.AsString();
      const std::string from = Text(s.params[1].value), to = Text(s.params[2].value);
      if (from != to) return false;
      if (!day.day.empty() && (from != day.day || Text(perno) != Text(day.perno))) return false;
      day.perno = perno;
      day.day = from;
      auto [at, fresh] = day.tables.try_emplace(shape.table);
      if (!fresh) return false;
      at->second.delete_sql = s.sql;
      at->second.delete_params = s.params;
      at->second.date_column = shape.column;
      ++day.deletes;
      return true;
    }
    case Shape::Kind::kInsert: {
      if (shape.columns->size() != s.params.size()) return false;
      const auto table = day.tables.find(shape.table);
      if (table == day.tables.end()) return false;
      DayRow row{shape.columns, {}, index};
      row.values.reserve(s.params.size());
      for (const db::Param& p : s.params) row.values.push_back(p.value);
      if (!OwnsRow(day, table->second, row)) return false;
      table->second.rows.push_back(std::move(row));
      wrote = true;
      return true;
    }
    case Shape::Kind::kUpdate: {
      const std::size_t sets = shape.columns->size();
      if (sets + shape.where.size() != s.params.size()) return false;
      const auto table = day.tables.find(shape.table);
      if (table == day.tables.end()) return false;
      DayRow* match = nullptr;
      for (DayRow& row : table->second.rows) {
        bool all = true;
        for (std::size_t w = 0; w < shape.where.size() && all; ++w) {
          const db::Value* cell = row.Find(shape.where[w]);
          all = cell && SameStoredValue(*cell, s.params[sets + w].value);
        }
        if (!all) continue;
        if (match) return false;  // more than one row
        match = &row;
      }
      if (!match) return false;
      for (std::size_t i = 0; i < sets; ++i) {
        const db::Value* cell = match->Find((*shape.columns)[i]);
        if (!cell) return false;
        const auto at = static_cast<std::size_t>(cell - match->values.data());
        match->values[at] = s.params[i].value;
      }
      wrote = true;
      return OwnsRow(day, table->second, *match);
    }
    case Shape::Kind::kOther:
      break;
  }
  return false;
}

// The value as a number, when it is one or a text that reads as one.
std::optional<double> Number(const db::Value& v) {
  if (v.type() == db::DataType::Integer) return static_cast<double>(v.AsInteger());
  if (v.type() == db::DataType::Real) return v.AsFloat();
  const std::string text = util::TrimWhitespace(v.AsString());
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return std::nullopt;
  return d;
}

// For each stored column, where the written row has it (-1: not written, so NULL); nullopt
// when the written row has a column the stored one lacks.
std::optional<std::vector<int>> ColumnMap(const std::vector<std::string>& stored,
                                          const std::vector<std::string>& written) {
  std::vector<int> map(stored.size(), -1);
  std::size_t found = 0;
  for (std::size_t s = 0; s < stored.size(); ++s) {
    for (std::size_t w = 0; w < written.size(); ++w) {
      if (stored[s] == written[w]) {
        map[s] = static_cast<int>(w);
        ++found;
        break;
      }
    }
  }
  if (found != written.size()) return std::nullopt;
  return map;
}

bool SameRow(const DayRow& stored, const DayRow& written, const std::vector<int>& map) {
  static const db::Value kNull;
  for (std::size_t c = 0; c < stored.values.size(); ++c) {
    const db::Value& w = map[c] < 0 ? kNull : written.values[static_cast<std::size_t>(map[c])];
    if (!SameStoredValue(stored.values[c], w)) return false;
  }
  return true;
}

}  // namespace

const db::Value* DayRow::Find(const std::string& lower_column) const {
  for (std::size_t c = 0; c < columns->size() && c < values.size(); ++c) {
    if ((*columns)[c] == lower_column) return &values[c];
  }
  return nullptr;
}

std::size_t DayRowsReader::TextHash::operator()(const std::string& text) const noexcept {
  const std::string_view v(text);
  const std::size_t n = std::min<std::size_t>(48, v.size());
  const std::hash<std::string_view> hash;
  return hash(v.substr(0, n)) ^ (hash(v.substr(v.size() - n)) * 31) ^ v.size();
}

const DayRowsReader::Shape& DayRowsReader::ShapeOf(const std::string& sql) {
  auto [at, fresh] = shapes_.try_emplace(sql);
  if (fresh) at->second = std::make_shared<const Shape>(ReadShape(sql));
  return *at->second;
}

std::optional<DayRows> DayRowsReader::Read(const std::vector<DayStatement>& statements) {
  DayRows day;
  bool wrote = false;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    const DayStatement& s = statements[i];
    if (!Apply(day, ShapeOf(s.sql), s, static_cast<int>(i), wrote)) return std::nullopt;
  }
  if (day.tables.empty()) return std::nullopt;
  return day;
}

bool SameStoredValue(const db::Value& stored, const db::Value& written) {
  if (stored == written) return true;  // the same type and value: what most columns are
  if (stored.IsNull() || written.IsNull()) return false;
  const auto numeric = [](const db::Value& v) {
    return v.type() == db::DataType::Integer || v.type() == db::DataType::Real;
  };
  if (numeric(stored) || numeric(written)) {
    const auto a = Number(stored), b = Number(written);
    if (a && b) return *a == *b;
  }
  return util::TrimRight(stored.AsString(), " ") == util::TrimRight(written.AsString(), " ");
}

std::vector<db::CalcChange> ChangedColumns(const DayRow& stored, const DayRow& written,
                                           const std::vector<std::string>& stored_names) {
  static const db::Value kNull;
  const auto text = [](const db::Value& v) -> std::optional<std::string> {
    if (v.IsNull()) return std::nullopt;
    return util::TrimRight(v.AsString(), " ");
  };
  std::vector<db::CalcChange> changes;
  const auto note = [&](const std::string& column, const db::Value& old_value,
                        const db::Value& new_value) {
    if (!SameStoredValue(old_value, new_value))
      changes.push_back({column, text(old_value), text(new_value)});
  };
  for (std::size_t i = 0; i < stored.columns->size(); ++i) {
    const db::Value* now = written.Find((*stored.columns)[i]);
    const std::string& name = i < stored_names.size() ? stored_names[i] : (*stored.columns)[i];
    note(name, stored.values[i], now ? *now : kNull);
  }
  for (std::size_t i = 0; i < written.columns->size(); ++i) {
    if (!stored.Find((*written.columns)[i])) note((*written.columns)[i], kNull, written.values[i]);
  }
  return changes;
}

std::vector<db::CalcChange> RowChanges(const std::vector<DayRow>& stored,
                                       const std::vector<DayRow>& written, bool calculated_before,
                                       const StoredColumns& columns,
                                       const std::vector<std::string>& keys) {
  if (stored.size() == 1 && written.size() == 1)
    return ChangedColumns(stored.front(), written.front(), columns.names);
  // A row against no row: against a row of the stored columns that are all NULL.
  const Columns lower =
      columns.lower ? columns.lower : std::make_shared<const std::vector<std::string>>();
  const DayRow none{lower, std::vector<db::Value>(lower->size())};
  std::vector<db::CalcChange> changes;
  if (stored.size() == 1 && written.empty()) {
    changes = ChangedColumns(stored.front(), none, columns.names);
  } else if (stored.empty() && written.size() == 1 && calculated_before) {
    changes = ChangedColumns(none, written.front(), columns.names);
  } else {
    return {};
  }
  // A zero or a blank says no more than the missing row: only the values the row had or has.
  const auto empty = [](const std::optional<std::string>& text) {
    if (!text) return true;
    const std::string t = util::TrimWhitespace(*text);
    return t.empty() || t.find_first_not_of("0.") == std::string::npos;
  };
  std::erase_if(changes, [&](const db::CalcChange& change) {
    return (empty(change.old_value) && empty(change.new_value)) ||
           std::find(keys.begin(), keys.end(), util::LowerAscii(change.column)) != keys.end();
  });
  return changes;
}

const std::optional<std::vector<int>>& ColumnMaps::Of(const Columns& stored,
                                                      const Columns& written) {
  for (const Entry& e : entries_) {
    if (e.stored == stored && e.written == written) return e.map;
  }
  entries_.push_back({stored, written, ColumnMap(*stored, *written)});
  return entries_.back().map;
}

bool SameRows(const std::vector<DayRow>& stored, const std::vector<DayRow>& written) {
  ColumnMaps maps;
  return SameRows(stored, written, maps);
}

bool SameRows(const std::vector<DayRow>& stored, const std::vector<DayRow>& written,
              ColumnMaps& maps) {
  if (stored.size() != written.size()) return false;
  std::vector<bool> used(stored.size(), false);
  for (const DayRow& w : written) {
    bool found = false;
    for (std::size_t i = 0; i < stored.size() && !found; ++i) {
      if (used[i]) continue;
      const auto& map = maps.Of(stored[i].columns, w.columns);
      if (!map) return false;
      if (SameRow(stored[i], w, *map)) used[i] = found = true;
    }
    if (!found) return false;
  }
  return true;
}

std::string StoredRowsQuery(const DayTable& table) {
  const std::size_t from = util::LowerAscii(table.delete_sql).find("from");
  return "SELECT * " + table.delete_sql.substr(from);
}

namespace {

// A run of days whose statements could be read, written together: each (person, day) once.
// Its deletes first (merged where the days follow each other), then its rows.
class RunOfReadDays {
 public:
  RunOfReadDays(WritePlan& plan, const std::function<std::string(const std::string&)>& next_day)
      : plan_(plan), next_day_(next_day) {}

  // False when the run already holds the day: it must be written first.
  bool Add(const DayToWrite& day) {
    if (!held_.insert(day.rows->perno + "\n" + day.rows->day).second) return false;
    days_.push_back(&day);
    return true;
  }

  void Write() {
    WriteDeletes();
    WriteRows();
    days_.clear();
    held_.clear();
  }

 private:
  // Whether two days delete the same tables with the same texts.
  static bool SameDeletes(const DayToWrite& a, const DayToWrite& b) {
    if (a.rows->deletes != b.rows->deletes) return false;
    for (std::size_t k = 0; k < a.rows->deletes; ++k) {
      if ((*a.statements)[k].sql != (*b.statements)[k].sql) return false;
    }
    return true;
  }

  void WriteDeletes() {
    std::size_t i = 0;
    while (i < days_.size()) {
      // The days from i on that follow each other and delete the same tables.
      const DayToWrite& first = *days_[i];
      std::size_t end = i + 1;
      while (end < days_.size() && SameDeletes(first, *days_[end]) &&
             days_[end]->rows->perno == days_[end - 1]->rows->perno &&
             next_day_(days_[end - 1]->rows->day) == days_[end]->rows->day) {
        ++end;
      }
      for (std::size_t k = 0; k < first.rows->deletes; ++k) {
        if (end == i + 1) {
          plan_.statements.push_back(&(*first.statements)[k]);
          continue;
        }
        DayStatement& merged = plan_.merged.emplace_back((*first.statements)[k]);
        merged.params[2].value = db::Value(days_[end - 1]->rows->day);
        plan_.statements.push_back(&merged);
      }
      i = end;
    }
  }

  // The rows by the text that inserted them, texts in the order they first came.
  void WriteRows() {
    struct Group {
      const DayStatement* insert;  // the first row's, for the text and the parameters' types
      std::vector<const DayRow*> rows;
    };
    std::vector<Group> groups;
    std::unordered_map<std::string_view, std::size_t> group_of_text;
    for (const DayToWrite* day : days_) {
      for (const auto& [name, table] : day->rows->tables) {
        for (const DayRow& row : table.rows) {
          const DayStatement& insert = (*day->statements)[static_cast<std::size_t>(row.statement)];
          const auto [at, fresh] = group_of_text.try_emplace(insert.sql, groups.size());
          if (fresh) groups.push_back({&insert, {}});
          groups[at->second].rows.push_back(&row);
        }
      }
    }
    for (const Group& group : groups) WriteGroup(*group.insert, group.rows);
  }

  // The rows in inserts of a power of two rows each, the largest first.
  void WriteGroup(const DayStatement& insert, const std::vector<const DayRow*>& rows) {
    const std::size_t columns = std::max<std::size_t>(1, insert.params.size());
    std::size_t most = 1;
    while (most * 2 <= kMaxRowsPerInsert && most * 2 * columns <= kMaxValuesPerInsert) most *= 2;
    // The row of values: the text's last parenthesis (the reader took it for "(?, …)").
    const std::size_t close = insert.sql.rfind(')');
    const std::size_t open = insert.sql.rfind('(', close);
    const std::string_view text(insert.sql);
    const std::string_view head = text.substr(0, close + 1);
    const std::string_view row_text = text.substr(open, close + 1 - open);
    const std::string_view tail = text.substr(close + 1);
    std::size_t at = 0;
    while (at < rows.size()) {
      std::size_t count = most;
      while (count > rows.size() - at) count /= 2;
      DayStatement& s = plan_.merged.emplace_back();
      s.timeout_seconds = insert.timeout_seconds;
      s.sql.reserve(text.size() + (count - 1) * (row_text.size() + 2));
      s.sql.append(head);
      for (std::size_t r = 1; r < count; ++r) {
        s.sql.append(", ");
        s.sql.append(row_text);
      }
      s.sql.append(tail);
      s.params.reserve(count * insert.params.size());
      for (std::size_t r = at; r < at + count; ++r) {
        for (std::size_t c = 0; c < insert.params.size(); ++c) {
          db::Param& p = s.params.emplace_back(insert.params[c]);
          p.value = rows[r]->values[c];
        }
      }
      plan_.statements.push_back(&s);
      at += count;
    }
  }

  WritePlan& plan_;
  const std::function<std::string(const std::string&)>& next_day_;
  std::vector<const DayToWrite*> days_;
  std::unordered_set<std::string> held_;
};

}  // namespace

WritePlan WriteStatements(const std::vector<DayToWrite>& days,
                          const std::function<std::string(const std::string&)>& next_day) {
  WritePlan plan;
  RunOfReadDays run(plan, next_day);
  for (const DayToWrite& day : days) {
    if (!day.rows) {
      // Statements that could not be read keep their place among the others.
      run.Write();
      for (const DayStatement& s : *day.statements) plan.statements.push_back(&s);
      continue;
    }
    if (!run.Add(day)) {
      run.Write();
      run.Add(day);
    }
  }
  run.Write();
  return plan;
}

}  // namespace zel::engine
