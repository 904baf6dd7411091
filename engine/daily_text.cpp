#include "engine/daily_text.h"

#include <cstdarg>
#include <cstdio>

#include "dates/date_time.h"
#include "util/parse_int.h"
#include "util/text.h"

namespace zel::engine {

namespace {

std::optional<int> ReadDecimal(std::string_view text) {
  return util::ParseInt<int>(util::TrimView(text), util::PlusSign::kAccepted);
}

}  // namespace

std::string TrimText(std::string_view text) { return util::TrimWhitespace(text); }

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (size > 0) {
    out.resize(static_cast<size_t>(size) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(size));
  }
  va_end(args);
  return out;
}

int StrToInt(std::string_view text) {
  const auto value = ReadDecimal(text);
  if (!value) {
    throw dates::EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return *value;
}

int StrToIntDef0(std::string_view text) { return ReadDecimal(text).value_or(0); }

std::vector<std::string> SplitDataItems(std::string_view text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      items.emplace_back(text.substr(start));
      return items;
    }
    items.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
}

const std::string& DataItem(const std::vector<std::string>& items, int n) {
  static const std::string kEmpty;
  return n >= 1 && static_cast<size_t>(n) <= items.size() ? items[static_cast<size_t>(n) - 1]
                                                          : kEmpty;
}

std::string FirstChars(std::string_view text, size_t n) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == n) return std::string(text.substr(0, i));
      ++chars;
    }
  }
  return std::string(text);
}

std::string DataTextField(std::string_view text) {
  const std::string trimmed = TrimText(text);
  std::string out;
  out.reserve(trimmed.size());
  for (char c : trimmed) {
    if (c == ',') {
      out += "\xD8\x8C";  // U+060C ARABIC COMMA
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace zel::engine
