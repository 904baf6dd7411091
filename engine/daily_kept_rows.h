// Rows of one query kept in memory, so that the consecutive days one calculation worker
// calculates for a person are served by one query per table and stretch of days rather than
// one per day; with the comparisons the daily queries make on date texts.
// Owned by one daily engine and used by its thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/client.h"

namespace zel::engine {

class KeptRows {
 public:
  // Takes every row of the open query (the query is left at its last row).
  void Keep(db::Dataset& query);
  // Forgets the rows and the key.
  void Clear();

  // What the rows were read for: a person and a stretch of "MM/DD" days (either may be
  // empty when the query does not depend on it).
  bool Loaded() const { return loaded_; }
  bool Holds(std::string_view person, std::string_view from, std::string_view to) const;
  void SetKey(std::string person, std::string from, std::string to);
  const std::string& From() const { return from_; }
  const std::string& To() const { return to_; }

  int Count() const { return static_cast<int>(rows_.size()); }
  // Index of a column (case-insensitive); raises zel::db::DbError when the query has none.
  int Column(std::string_view name) const;
  const db::Value& Value(int row, int column) const;
  // The value as text without the blanks around it ("" for NULL).
  std::string Text(int row, int column) const;

 private:
  bool loaded_ = false;
  std::string person_, from_, to_;
  std::vector<std::string> columns_;
  std::vector<std::vector<db::Value>> rows_;
};

// SQL comparisons of fixed-width date texts ("MM/DD"): NULL compares false, blanks around a
// text do not count.
// value BETWEEN low AND high
bool TextBetween(const db::Value& value, std::string_view low, std::string_view high);
// low <= day AND day <= high: the row's range [low, high] covers the day.
bool RangeCovers(const db::Value& low, const db::Value& high, std::string_view day);
// The window test of the entry/exit and hourly queries: begin or end inside [from, to], or
// the row covering it.
bool RowReachesWindow(const db::Value& begin, const db::Value& end, std::string_view from,
                      std::string_view to);

}  // namespace zel::engine
