// The explanation as text: one block per day, a clerk reads it top to bottom.
#include <sstream>

#include "explain/render.h"

namespace zel::explain {

namespace {

std::string Pad(std::string text, size_t width) {
  size_t shown = 0;  // code points
  for (unsigned char c : text) shown += (c & 0xC0) != 0x80;
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

std::string Signed(int64_t amount) { return (amount >= 0 ? "+" : "") + std::to_string(amount); }

std::string ReasonText(const engine::TraceReason& r) {
  std::string text = r.rule;
  if (!r.setting.empty()) text += (text.empty() ? "" : " -- ") + r.setting;
  return text;
}

void RenderDay(std::ostringstream& out, const DayExplanation& e) {
  out << "Person " << e.person << " (" << e.person_name << "), " << e.year << "/" << e.date << "\n";
  if (!e.not_calculated.empty()) {
    out << "  not calculated: " << e.not_calculated << "\n";
  }
  if (e.work_group != 0 || !e.shape.empty()) {
    out << "Work group " << e.work_group << " \"" << e.work_group_name << "\" (group type "
        << e.group_type << "), " << e.shape << (e.holiday != 0 ? ", holiday" : ", working day")
        << ", day length " << e.day_length << ", CalWork " << e.cal_work << "\n";
    out << "  attendance day " << e.day_begin << " - " << e.day_end << "; extra span "
        << e.extra_begin << " - " << e.extra_end << "; duty " << e.duty_begin << " - " << e.duty_end
        << "; break " << e.break_begin << " - " << e.break_end << "\n";
    out << "  settings:";
    for (const auto& [name, value] : e.settings) out << " " << name << " " << value << ";";
    out << "\n";
  }
  if (!e.sources.empty() || e.calculated) {
    out << "Records assembled (" << e.sources.size() << "):\n";
    for (const ExplainSource& s : e.sources) {
      out << "  " << s.begin << " - " << s.end << "  " << s.kind << "\n";
    }
  }
  if (!e.stretches.empty()) out << "Stretches:\n";
  for (size_t i = 0; i < e.stretches.size(); ++i) {
    const ExplainStretch& s = e.stretches[i];
    out << Pad("  " + std::to_string(i + 1) + ".", 6) << s.begin << " - " << s.end << "  "
        << Pad(std::to_string(s.minutes) + " min", 9) << Pad(s.interval, 23)
        << (s.present ? "present" : "absent") << ": " << s.status_name << " (" << s.status_fa
        << ")";
    if (s.status >= 0) out << ", status " << s.status;
    out << "\n";
    out << "        records: ";
    if (s.sources.empty()) out << "none";
    for (size_t k = 0; k < s.sources.size(); ++k) out << (k ? "; " : "") << s.sources[k];
    out << "\n        rule: " << ReasonText(s.classified) << "\n";
    if (s.reclassified) out << "        then: " << ReasonText(*s.reclassified) << "\n";
    if (!s.processed.rule.empty() || !s.processed.setting.empty()) {
      out << "        processing: " << ReasonText(s.processed) << "\n";
    }
    if (!s.adds.empty()) {
      out << "        adds:";
      for (const ColumnAmount& a : s.adds) out << " " << a.column << " " << Signed(a.amount);
      out << "\n";
    }
  }
  for (const auto& note : e.day_notes) out << "Day: " << ReasonText(note) << "\n";
  if (!e.steps.empty()) out << "Closing steps:\n";
  for (const ExplainStep& step : e.steps) {
    out << "  " << ReasonText(step.reason) << ":";
    for (const ColumnAmount& a : step.changes) out << " " << a.column << " " << Signed(a.amount);
    out << "\n";
  }
  if (e.failed()) {
    out << "The day stopped: "
        << (e.error_code ? "error " + std::to_string(e.error_code) + ": " : "") << e.error_message
        << "\n";
  }
  bool any_total = false;
  for (const ExplainTotal& t : e.totals) {
    if (t.value == 0 && t.parts.empty() && (!t.stored || *t.stored == 0)) continue;
    if (!any_total) out << "Totals (DayWork):\n";
    any_total = true;
    out << "  " << Pad(t.column, 16) << Pad(std::to_string(t.value), 7);
    if (t.minutes && !t.parts.empty()) {
      out << "=";
      for (size_t k = 0; k < t.parts.size(); ++k) {
        const int64_t amount = t.parts[k].amount;
        out << (k == 0 ? (amount < 0 ? " -" : " ") : (amount < 0 ? " - " : " + "))
            << (amount < 0 ? -amount : amount) << " (" << t.parts[k].column << ")";
      }
    }
    if (t.stored && *t.stored != t.value) out << "   [stored " << *t.stored << "]";
    out << "\n";
  }
  out << "Reports of this run (CSSLog): ";
  if (e.reports.empty())
    out << "none\n";
  else
    out << "\n";
  for (const std::string& r : e.reports) out << "  " << r << "\n";
  out << "Stored CSSLog rows of the day: ";
  if (e.stored_reports.empty())
    out << "none\n";
  else
    out << "\n";
  for (const StoredReport& r : e.stored_reports) {
    out << "  " << r.date << " " << r.time << "  " << r.comment << "\n";
  }
  if (!e.stored_found) {
    out << "Stored DayWork row: none (the day was not calculated yet)\n";
  } else if (e.differences.empty()) {
    out << "Stored DayWork row: the same as calculated now\n";
  } else {
    out << "Stored DayWork row differs (inputs changed since the last run):";
    for (const std::string& column : e.differences) {
      for (const ExplainTotal& t : e.totals) {
        if (t.column == column && t.stored) {
          out << " " << column << " stored " << *t.stored << ", now " << t.value << ";";
        }
      }
    }
    out << "\n";
  }
}

}  // namespace

std::string HoursMinutes(int64_t minutes) {
  const bool negative = minutes < 0;
  if (negative) minutes = -minutes;
  const int64_t m = minutes % 60;
  return (negative ? "-" : "") + std::to_string(minutes / 60) + ":" + (m < 10 ? "0" : "") +
         std::to_string(m);
}

std::string RenderText(const std::vector<DayExplanation>& days,
                       const std::vector<ColumnAmount>& month_totals) {
  std::ostringstream out;
  for (size_t i = 0; i < days.size(); ++i) {
    if (i) out << "\n";
    RenderDay(out, days[i]);
  }
  if (!month_totals.empty()) {
    out << "\nMonth totals (MahWork):";
    for (const ColumnAmount& a : month_totals) out << " " << a.column << " " << a.amount << ";";
    out << "\n";
  }
  return out.str();
}

}  // namespace zel::explain
