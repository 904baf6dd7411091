// The explanation as JSON, for other programs (the desktop client may show it).
#include <cstdio>
#include <sstream>

#include "explain/render.h"

namespace zel::explain {

namespace {

class Json {
 public:
  explicit Json(std::ostringstream& out) : out_(out) {}
  void Key(const char* key) { out_ << '"' << key << "\":"; }
  void Str(const std::string& text) { out_ << '"' << JsonEscape(text) << '"'; }
  void Field(const char* key, const std::string& text, bool comma = true) {
    Key(key);
    Str(text);
    if (comma) out_ << ',';
  }
  void Field(const char* key, int64_t value, bool comma = true) {
    Key(key);
    out_ << value;
    if (comma) out_ << ',';
  }
  void Bool(const char* key, bool value, bool comma = true) {
    Key(key);
    out_ << (value ? "true" : "false");
    if (comma) out_ << ',';
  }
  void Reason(const char* key, const engine::TraceReason& r, bool comma = true) {
    Key(key);
    out_ << '{';
    Field("rule", r.rule);
    Field("setting", r.setting, false);
    out_ << '}';
    if (comma) out_ << ',';
  }
  void Amounts(const char* key, const std::vector<ColumnAmount>& amounts, const char* name,
               bool comma = true) {
    Key(key);
    out_ << '[';
    for (size_t i = 0; i < amounts.size(); ++i) {
      out_ << (i ? "," : "") << '{';
      Field(name, amounts[i].column);
      Field("amount", amounts[i].amount, false);
      out_ << '}';
    }
    out_ << ']';
    if (comma) out_ << ',';
  }
  std::ostringstream& out() { return out_; }

 private:
  std::ostringstream& out_;
};

void Day(Json& j, const DayExplanation& e) {
  std::ostringstream& o = j.out();
  o << '{';
  j.Field("year", e.year);
  j.Field("person", e.person);
  j.Field("person_name", e.person_name);
  j.Field("date", e.date);
  j.Bool("calculated", e.calculated);
  j.Field("not_calculated", e.not_calculated);
  j.Key("shape");
  o << '{';
  j.Field("work_group", e.work_group);
  j.Field("work_group_name", e.work_group_name);
  j.Field("group_type", e.group_type);
  j.Field("source", e.shape);
  j.Field("holiday", e.holiday);
  j.Field("day_length", e.day_length);
  j.Field("cal_work", e.cal_work);
  j.Field("day_begin", e.day_begin);
  j.Field("day_end", e.day_end);
  j.Field("extra_begin", e.extra_begin);
  j.Field("extra_end", e.extra_end);
  j.Field("duty_begin", e.duty_begin);
  j.Field("duty_end", e.duty_end);
  j.Field("break_begin", e.break_begin);
  j.Field("break_end", e.break_end, false);
  o << "},";
  j.Key("settings");
  o << '{';
  for (size_t i = 0; i < e.settings.size(); ++i) {
    j.Field(e.settings[i].first.c_str(), e.settings[i].second, i + 1 < e.settings.size());
  }
  o << "},";
  j.Key("sources");
  o << '[';
  for (size_t i = 0; i < e.sources.size(); ++i) {
    o << (i ? "," : "") << '{';
    j.Field("type", e.sources[i].type);
    j.Field("kind", e.sources[i].kind);
    j.Field("begin", e.sources[i].begin);
    j.Field("end", e.sources[i].end, false);
    o << '}';
  }
  o << "],";
  j.Key("stretches");
  o << '[';
  for (size_t i = 0; i < e.stretches.size(); ++i) {
    const ExplainStretch& s = e.stretches[i];
    o << (i ? "," : "") << '{';
    j.Field("begin", s.begin);
    j.Field("end", s.end);
    j.Field("minutes", s.minutes);
    j.Field("working_interval", s.working_interval);
    j.Field("interval", s.interval);
    j.Bool("present", s.present);
    j.Key("sources");
    o << '[';
    for (size_t k = 0; k < s.sources.size(); ++k) {
      o << (k ? "," : "");
      j.Str(s.sources[k]);
    }
    o << "],";
    j.Field("code", s.code);
    j.Field("status", s.status);
    j.Bool("ok", s.ok);
    j.Field("status_name", s.status_name);
    j.Field("status_fa", s.status_fa);
    j.Field("class", s.css_class);
    j.Field("sheet", s.sheet);
    j.Reason("classified", s.classified);
    if (s.reclassified) j.Reason("reclassified", *s.reclassified);
    j.Reason("processed", s.processed);
    j.Amounts("adds", s.adds, "column", false);
    o << '}';
  }
  o << "],";
  j.Key("day_notes");
  o << '[';
  for (size_t i = 0; i < e.day_notes.size(); ++i) {
    o << (i ? "," : "") << '{';
    j.Field("rule", e.day_notes[i].rule);
    j.Field("setting", e.day_notes[i].setting, false);
    o << '}';
  }
  o << "],";
  j.Key("steps");
  o << '[';
  for (size_t i = 0; i < e.steps.size(); ++i) {
    o << (i ? "," : "") << '{';
    j.Reason("reason", e.steps[i].reason);
    j.Amounts("changes", e.steps[i].changes, "column", false);
    o << '}';
  }
  o << "],";
  j.Key("totals");
  o << '[';
  for (size_t i = 0; i < e.totals.size(); ++i) {
    const ExplainTotal& t = e.totals[i];
    o << (i ? "," : "") << '{';
    j.Field("column", t.column);
    j.Field("value", t.value);
    j.Bool("minutes", t.minutes);
    if (t.stored) j.Field("stored", *t.stored);
    j.Amounts("parts", t.parts, "from", false);
    o << '}';
  }
  o << "],";
  j.Bool("daily_absence", e.daily_absence);
  j.Field("error_code", e.error_code);
  j.Field("error_message", e.error_message);
  j.Key("reports");
  o << '[';
  for (size_t i = 0; i < e.reports.size(); ++i) {
    o << (i ? "," : "");
    j.Str(e.reports[i]);
  }
  o << "],";
  j.Key("stored_reports");
  o << '[';
  for (size_t i = 0; i < e.stored_reports.size(); ++i) {
    o << (i ? "," : "") << '{';
    j.Field("date", e.stored_reports[i].date);
    j.Field("time", e.stored_reports[i].time);
    j.Field("comment", e.stored_reports[i].comment, false);
    o << '}';
  }
  o << "],";
  j.Bool("stored_found", e.stored_found);
  j.Key("differences");
  o << '[';
  for (size_t i = 0; i < e.differences.size(); ++i) {
    o << (i ? "," : "");
    j.Str(e.differences[i]);
  }
  o << "]}";
}

}  // namespace

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string RenderJson(const std::vector<DayExplanation>& days,
                       const std::vector<ColumnAmount>& month_totals) {
  std::ostringstream out;
  Json j(out);
  out << '{';
  j.Key("days");
  out << '[';
  for (size_t i = 0; i < days.size(); ++i) {
    if (i) out << ',';
    Day(j, days[i]);
  }
  out << "],";
  j.Amounts("month_totals", month_totals, "column", false);
  out << "}\n";
  return out.str();
}

}  // namespace zel::explain
