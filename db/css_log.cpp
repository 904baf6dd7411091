#include "db/css_log.h"

#include <vector>

#include "dates/clock.h"
#include "dates/jalali.h"
#include "util/text.h"

namespace zel::db {
namespace {

constexpr const char* kInsert =
    " Insert Into CSSLog \n"
    " ( ScheduleId, PerNo, LogDate, LogTime, Comment, Status) \n"
    "Values \n"
    " ( :ScheduleId, :PerNo, :LogDate, :LogTime, :Comment,0) \n";

constexpr const char* kInsertOnce =
    " If Not Exists (Select 1 From CSSLog Where PerNo = :PerNo And Comment = :Comment) \n"
    " Insert Into CSSLog \n"
    " ( ScheduleId, PerNo, LogDate, LogTime, Comment, Status) \n"
    "Values \n"
    " ( :ScheduleId, :PerNo, :LogDate, :LogTime, :Comment,0) \n";

std::int64_t Write(Connection& base, const char* text, int schedule_id, const std::string& perno,
                   const std::string& comment) {
  std::vector<std::string> names;
  const std::string sql = ConvertNamedParams(text, &names);
  const Value person(util::TrimWhitespace(perno));
  const Value cut(util::Utf8Cut(comment, 255));
  std::vector<Param> params;
  for (const std::string& name : names) {
    if (name == "ScheduleId")
      params.push_back({name, ParamType::Integer, 0, Value(std::int64_t{schedule_id})});
    else if (name == "PerNo")
      params.push_back({name, ParamType::String, 10, person});
    else if (name == "LogDate")
      params.push_back({name, ParamType::String, 10, Value(dates::JalaliToday())});
    else if (name == "LogTime")
      params.push_back({name, ParamType::String, 5, Value(dates::NowTime_HHNNSS().substr(0, 5))});
    else
      params.push_back({name, ParamType::String, 255, cut});
  }
  return base.Execute(sql, params).rows_affected;
}

}  // namespace

void InsertCSSLog(Connection& base, int schedule_id, const std::string& perno,
                  const std::string& comment) {
  Write(base, kInsert, schedule_id, perno, comment);
}

bool InsertCSSLogOnce(Connection& base, int schedule_id, const std::string& perno,
                      const std::string& comment) {
  return Write(base, kInsertOnce, schedule_id, perno, comment) > 0;
}

}  // namespace zel::db
