#include "util/text.h"

#include <algorithm>

#include "util/utf8.h"

namespace zel::util {

std::string_view TrimLeftView(std::string_view text, std::string_view chars) {
  const auto first = text.find_first_not_of(chars);
  return text.substr(first == std::string_view::npos ? text.size() : first);
}

std::string_view TrimRightView(std::string_view text, std::string_view chars) {
  const auto last = text.find_last_not_of(chars);
  return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::string_view TrimView(std::string_view text, std::string_view chars) {
  return TrimRightView(TrimLeftView(text, chars), chars);
}

std::string TrimControls(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToUpperAscii(c);
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToLowerAscii(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ToLowerAscii(x) == ToLowerAscii(y);
         });
}

std::size_t Utf8Length(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !IsUtf8Continuation(c); }));
}

std::string Utf8Cut(std::string_view text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsUtf8Continuation(text[i])) continue;
    if (chars == max_chars) return std::string(text.substr(0, i));
    ++chars;
  }
  return std::string(text);
}

std::string Utf8PadRight(std::string_view text, std::size_t width) {
  const std::size_t chars = Utf8Length(text);
  std::string out(text);
  if (chars < width) out.append(width - chars, ' ');
  return out;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

std::string Join(const std::vector<std::string>& lines, std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += separator;
    text += lines[i];
  }
  return text;
}

}  // namespace zel::util
