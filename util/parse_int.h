// One integer parser for every text the service reads as a number (settings, codes, years,
// record numbers): the whole text must be a decimal integer that fits the type, else there is
// no value. Callers trim first when their input may carry blanks.
// Pure functions without shared state: any thread may call them.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <type_traits>

namespace zel::util {

// Whether a leading '+' is read as a sign (as std::stoi does) or refused.
enum class PlusSign { kRefused, kAccepted };

// The integer written by the whole text: an optional '-' (and '+' when accepted), then
// digits, nothing before or after. No value when the text is empty, holds anything else or
// the number does not fit T.
template <typename T>
std::optional<T> ParseInt(std::string_view text, PlusSign plus = PlusSign::kRefused) {
  static_assert(std::is_integral_v<T>);
  if (plus == PlusSign::kAccepted && !text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace zel::util
