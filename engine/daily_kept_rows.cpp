#include "engine/daily_kept_rows.h"

#include <cctype>

#include "engine/daily_text.h"

namespace zel::engine {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

void KeptRows::Keep(db::Dataset& query) {
  loaded_ = false;
  columns_ = query.FieldNames();
  rows_.clear();
  rows_.reserve(static_cast<size_t>(query.RecordCount()));
  const int count = query.FieldCount();
  for (query.First(); !query.Eof(); query.Next()) {
    std::vector<db::Value> row;
    row.reserve(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c) row.push_back(query.Field(c));
    rows_.push_back(std::move(row));
  }
  loaded_ = true;
}

void KeptRows::Clear() {
  loaded_ = false;
  person_.clear();
  from_.clear();
  to_.clear();
  columns_.clear();
  rows_.clear();
}

bool KeptRows::Holds(std::string_view person, std::string_view from, std::string_view to) const {
  return loaded_ && person_ == person && from_ <= from && to <= to_;
}

void KeptRows::SetKey(std::string person, std::string from, std::string to) {
  person_ = std::move(person);
  from_ = std::move(from);
  to_ = std::move(to);
}

int KeptRows::Column(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameName(columns_[i], name)) return static_cast<int>(i);
  }
  throw db::DbError("Field '" + std::string(name) + "' not found");
}

const db::Value& KeptRows::Value(int row, int column) const {
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

std::string KeptRows::Text(int row, int column) const {
  return TrimText(Value(row, column).AsString());
}

bool TextBetween(const db::Value& value, std::string_view low, std::string_view high) {
  if (value.IsNull()) return false;
  const std::string text = TrimText(value.AsString());
  return low <= text && text <= high;
}

bool RangeCovers(const db::Value& low, const db::Value& high, std::string_view day) {
  if (low.IsNull() || high.IsNull()) return false;
  return TrimText(low.AsString()) <= day && day <= TrimText(high.AsString());
}

bool RowReachesWindow(const db::Value& begin, const db::Value& end, std::string_view from,
                      std::string_view to) {
  if (TextBetween(begin, from, to) || TextBetween(end, from, to)) return true;
  if (begin.IsNull() || end.IsNull()) return false;
  return TrimText(begin.AsString()) < from && TrimText(end.AsString()) > to;
}

}  // namespace zel::engine
