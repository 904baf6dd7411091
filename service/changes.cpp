#include "service/changes.h"

#include <filesystem>
#include <ostream>
#include <regex>
#include <sstream>

#include "dates/clock.h"
#include "db/client.h"
#include "explain/render.h"
#include "service/calculate_service.h"
#include "service/config.h"
#include "service/status.h"
#include "util/text.h"

namespace zel::service {
namespace {

namespace fs = std::filesystem;

std::string Str(const std::string& text) { return "\"" + explain::JsonEscape(text) + "\""; }
std::string StrOrNull(const std::optional<std::string>& text) { return text ? Str(*text) : "null"; }
std::string Shown(const std::optional<std::string>& value) { return value ? *value : "NULL"; }

bool SamePass(const db::CalcPass& a, const db::CalcPass& b) {
  return a.schedule_id == b.schedule_id && a.date == b.date && a.time == b.time;
}

}  // namespace

std::optional<std::string> CheckChangesRequest(const ChangesRequest& request) {
  if (request.since.empty()) return std::nullopt;
  static const std::regex kMoment(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2})");
  bool ok = std::regex_match(request.since, kMoment);
  if (ok) {
    try {
      dates::ParseJalaliMoment(request.since);
    } catch (const std::exception&) {
      ok = false;
    }
  }
  if (!ok)
    return "--since must be a Jalali moment \"YYYY/MM/DD HH:MM\", not '" + request.since + "'";
  return std::nullopt;
}

std::string FormatChangesText(const ChangesRequest& request,
                              const std::vector<db::CalcChangeRow>& rows) {
  std::ostringstream o;
  o << "Changed results of " << request.year;
  if (!request.since.empty()) o << " since " << request.since;
  o << ": " << rows.size() << (rows.size() == 1 ? " column\n" : " columns\n");
  const db::CalcPass* pass = nullptr;
  for (const db::CalcChangeRow& r : rows) {
    if (!pass || !SamePass(*pass, r.pass)) {
      pass = &r.pass;
      o << "pass " << r.pass.date << " " << r.pass.time << " (schedule " << r.pass.schedule_id
        << ")\n";
    }
    o << "  " << r.of.perno << "  " << r.of.kind << " " << r.of.period << "  " << r.change.column
      << ": " << Shown(r.change.old_value) << " -> " << Shown(r.change.new_value) << "\n";
  }
  return o.str();
}

std::string FormatChangesJson(const ChangesRequest& request,
                              const std::vector<db::CalcChangeRow>& rows) {
  std::ostringstream o;
  o << "{\"year\":" << Str(request.year)
    << ",\"since\":" << (request.since.empty() ? "null" : Str(request.since)) << ",\"persons\":[";
  for (std::size_t i = 0; i < request.persons.size(); ++i)
    o << (i ? "," : "") << Str(util::TrimWhitespace(request.persons[i]));
  o << "],\"changes\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const db::CalcChangeRow& r = rows[i];
    o << (i ? "," : "") << "{\"person\":" << Str(r.of.perno) << ",\"kind\":" << Str(r.of.kind)
      << ",\"period\":" << Str(r.of.period) << ",\"pass\":{\"schedule_id\":" << r.pass.schedule_id
      << ",\"date\":" << Str(r.pass.date) << ",\"time\":" << Str(r.pass.time)
      << "},\"column\":" << Str(r.change.column) << ",\"old\":" << StrOrNull(r.change.old_value)
      << ",\"new\":" << StrOrNull(r.change.new_value) << "}";
  }
  o << "]}\n";
  return o.str();
}

int ChangesCommand(const std::string& home, const ChangesRequest& request, std::ostream& out,
                   std::ostream& err) {
  return ReadOnlyCommand(home, "changes", err, [&](db::Connection& base, const ServiceConfig&) {
    std::vector<db::CalcChangeRow> rows;
    // A home whose passes never ran since the journal came has none yet: nothing changed.
    if (!base.Execute("SELECT OBJECT_ID('ZELLog..CalcChanges', 'U')").rows.at(0).at(0).IsNull())
      rows = db::ReadCalcChanges(base, {request.year, request.since, request.persons});
    out << (request.format == "json" ? FormatChangesJson(request, rows)
                                     : FormatChangesText(request, rows));
    return 0;
  });
}

}  // namespace zel::service
