// Small text helpers every folder may use: trimming by a set of characters, ASCII case,
// UTF-8 counting and cutting by code points, and joining lines. Bytes outside ASCII are
// left as they are, so Persian text passes through untouched.
// Pure functions without shared state: any thread may call them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zel::util {

// Blank, tab, carriage return, line feed: what the service trims from database texts.
inline constexpr std::string_view kWhitespace = " \t\r\n";
// The C locale's white space (std::isspace): kWhitespace, vertical tab and form feed.
inline constexpr std::string_view kAsciiSpace = " \t\n\v\f\r";
// The blank alone, as T-SQL pads char columns.
inline constexpr std::string_view kBlank = " ";

// The text without the characters of `chars` at its start / end / both ends. The views point
// into `text`.
std::string_view TrimLeftView(std::string_view text, std::string_view chars = kWhitespace);
std::string_view TrimRightView(std::string_view text, std::string_view chars = kWhitespace);
std::string_view TrimView(std::string_view text, std::string_view chars = kWhitespace);
// The text without the characters of `chars` at both ends.
inline std::string TrimChars(std::string_view text, std::string_view chars) {
  return std::string(TrimView(text, chars));
}
// Without blanks, tabs, carriage returns and line feeds (kWhitespace): database texts.
inline std::string TrimWhitespace(std::string_view text) { return TrimChars(text, kWhitespace); }
// Without blanks (kBlank): the padding of char columns.
inline std::string TrimBlanks(std::string_view text) { return TrimChars(text, kBlank); }
// Without the C locale's white space (kAsciiSpace): hand-written files.
inline std::string TrimAsciiSpace(std::string_view text) { return TrimChars(text, kAsciiSpace); }
inline std::string TrimRight(std::string_view text, std::string_view chars = kWhitespace) {
  return std::string(TrimRightView(text, chars));
}
// The text without blanks and control characters (every byte up to ' ') at both ends.
std::string TrimControls(std::string_view text);

// One ASCII letter changed case; every other byte kept.
constexpr char ToUpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// ASCII letters changed case; every other byte kept.
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
// Equal when ASCII letters are compared without case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Code points of a UTF-8 text (bytes that do not continue a sequence).
std::size_t Utf8Length(std::string_view text);
// The first max_chars code points of a UTF-8 text; the whole text when it is not longer.
std::string Utf8Cut(std::string_view text, std::size_t max_chars);
// Blanks added on the right up to `width` code points; a longer text is kept whole.
std::string Utf8PadRight(std::string_view text, std::size_t width);

// Every line followed by "\n", as a multi-line statement text is built.
std::string JoinLines(const std::vector<std::string>& lines);
// The lines with `separator` between them (none after the last).
std::string Join(const std::vector<std::string>& lines, std::string_view separator);

}  // namespace zel::util
