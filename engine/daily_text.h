// Small text helpers of the daily engine: trimming, printf-style formatting of log comments,
// decimal integers read strictly or leniently, and the comma-separated data texts that travel
// with leave, mission and permission presences.
// Pure functions; any thread may call them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zel::engine {

// The text without leading and trailing blanks (spaces, tabs, line ends).
std::string TrimText(std::string_view text);

// printf-style formatting (the comments of CSSLog rows).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text as a decimal integer (blanks around it allowed). Raises zel::dates::EConvertError
// "'<text>' is not a valid integer value" when it is not one.
int StrToInt(std::string_view text);
// The same, 0 when the text is not a decimal integer.
int StrToIntDef0(std::string_view text);

// The items of a data text: the text split at every comma (item 1 is the text before the
// first comma). A text without commas is one item.
std::vector<std::string> SplitDataItems(std::string_view text);
// Item n (1-based) of the items, "" when there are fewer.
const std::string& DataItem(const std::vector<std::string>& items, int n);

// The first n characters of a UTF-8 text.
std::string FirstChars(std::string_view text, size_t n);

// A record text made safe to carry inside a data text: trimmed, commas replaced by the
// Persian comma so that a description cannot shift the items after it.
std::string DataTextField(std::string_view text);

}  // namespace zel::engine
