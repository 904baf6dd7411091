// The explanation of one day or of a month of days in three forms: text for a clerk at a
// terminal, JSON for other programs, and a self-contained SVG picture (a time axis, the duty
// windows, the stretches coloured by class, Persian labels right-to-left).
// Pure functions over the explanation model; any thread may call them.
#pragma once

#include <string>
#include <vector>

#include "explain/day_explanation.h"

namespace zel::explain {

// Every day in turn: shape and settings, records, stretches with their rule and setting,
// closing steps, totals with their parts, reports, and the stored row's differences; then the
// month's stored totals (MahWork) when given.
std::string RenderText(const std::vector<DayExplanation>& days,
                       const std::vector<ColumnAmount>& month_totals = {});

// {"days": [...], "month_totals": [...]} with the model's fields; UTF-8, no trailing newline
// missing.
std::string RenderJson(const std::vector<DayExplanation>& days,
                       const std::vector<ColumnAmount>& month_totals = {});

// One row per day on a shared time axis; the month's stored totals (MahWork) under the rows
// when given, else the sum of the days' totals.
std::string RenderSvg(const std::vector<DayExplanation>& days,
                      const std::vector<ColumnAmount>& month_totals = {});

// The text escaped for XML character data and attribute values.
std::string XmlEscape(const std::string& text);
// The text escaped for a JSON string (without the quotes).
std::string JsonEscape(const std::string& text);
// Minutes as "H:MM" ("-0:05" for negative amounts).
std::string HoursMinutes(int64_t minutes);

}  // namespace zel::explain
