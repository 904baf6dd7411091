// The dated parts of the log files: file names with today's Jalali date
// ("Log(1399-08-03).Log") and the stamped line "YYYY/MM/DD HH:MM:SS : text". The files
// themselves are written with util/log_file.h.
// Thread-safe: any thread may call these.
#pragma once

#include <string>
#include <string_view>

#include "dates/date_time.h"

namespace zel::dates {

// "(YYYY-MM-DD)" of today's Jalali date; raises when the date cannot be formed.
std::string LogDatePart();
// base_name + "(YYYY-MM-DD)" + suffix + ".Log" with today's Jalali date, or base_name + ".Log"
// when the date cannot be formed. Never raises.
std::string LogFileName(std::string_view base_name, std::string_view suffix = {});
// The line with its stamp: Jalali date of the moment, " ", "HH:MM:SS", " : ", text.
std::string StampedLine(std::string_view text, DateTime moment);
// StampedLine with Now(); when the clock cannot be read the stamp is left out.
std::string StampedLine(std::string_view text);

}  // namespace zel::dates
