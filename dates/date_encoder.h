// TZELDateEncoder: turns a Gregorian date into a nine-character code (a random key letter and
// eight substituted, reordered digits) and back; the deep-log pass code of "Log.inf" is such a
// code for the day it is valid. Class-level operations without shared state; any thread.
#pragma once

#include <string>

#include "dates/date_time.h"

namespace zel::dates {

class TZELDateEncoder {
 public:
  TZELDateEncoder() = delete;

  // Key letter ("A".."Y", random) followed by the eight code characters of "YYYYMMDD".
  static std::string Encode(DateTime ADate);
  // The date of a code; raises EConvertError when the code is not one.
  static DateTime Decode(const std::string& Encoded);
  // Decode that reports failure: writes the exception line to "LoadError.Log", sets Date to
  // 0 and returns false.
  static bool TryDecode(const std::string& Encoded, DateTime& Date);
  // True when the code decodes to the calendar day of TheDate (times ignored); raises
  // EConvertError for a malformed code.
  static bool CheckEncoded(const std::string& EncodedDate, DateTime TheDate);
};

}  // namespace zel::dates
