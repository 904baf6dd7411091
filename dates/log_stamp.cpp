#include "dates/log_stamp.h"

#include "dates/clock.h"
#include "dates/date_parser.h"
#include "dates/jalali.h"

namespace zel::dates {
namespace {

std::string JalaliDateText(DateTime moment) {
  const JalaliDate d = DecodeJalaliDate(moment);
  return TZELDateParser::Format_YYYYMMDD(d.year, d.month, d.day);
}

}  // namespace

std::string LogDatePart() {
  const std::string today = JalaliToday();  // "YYYY/MM/DD"
  return "(" + today.substr(0, 4) + "-" + today.substr(5, 2) + "-" + today.substr(8, 2) + ")";
}

std::string LogFileName(std::string_view base_name, std::string_view suffix) {
  try {
    return std::string(base_name) + LogDatePart() + std::string(suffix) + ".Log";
  } catch (...) {
    return std::string(base_name) + ".Log";
  }
}

std::string StampedLine(std::string_view text, DateTime moment) {
  return JalaliDateText(moment) + " " + FormatTime_HHNNSS(moment) + " : " + std::string(text);
}

std::string StampedLine(std::string_view text) {
  try {
    return StampedLine(text, Now());
  } catch (...) {
    return std::string(text);
  }
}

}  // namespace zel::dates
