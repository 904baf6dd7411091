#include "dates/date_encoder.h"

#include <array>
#include <cstdio>
#include <random>
#include <string_view>

#include "dates/log_stamp.h"
#include "util/log_file.h"

namespace zel::dates {
namespace {

constexpr int kPositions = 8;

// Code character of each digit (row) at each position of "YYYYMMDD" (column).
constexpr std::array<std::string_view, kPositions> kSubstitution = {
    "QhZ3mXa8Kt",  // position 1: digits 0..9
    "w7PfRj2NcE",  //
    "Lb5TzUy9Gd",  //
    "nV4sHkC6qW",  //
    "Mx8YgJ3rAe",  //
    "tF2DpS7uBi",  //
    "oK9cNv4ZhR",  //
    "Gj6aWm5XyP",  // position 8
};

// Output slot i takes the substituted character of position kPermutations[p][i].
constexpr int kPermutations[15][kPositions] = {
    {3, 7, 0, 5, 2, 6, 1, 4}, {6, 2, 4, 0, 7, 1, 5, 3}, {1, 5, 7, 3, 0, 4, 2, 6},
    {4, 0, 6, 2, 5, 3, 7, 1}, {7, 3, 1, 6, 4, 0, 2, 5}, {2, 6, 5, 1, 3, 7, 0, 4},
    {5, 1, 3, 7, 6, 2, 4, 0}, {0, 4, 2, 6, 1, 5, 3, 7}, {6, 0, 7, 4, 1, 3, 5, 2},
    {3, 5, 1, 0, 6, 7, 4, 2}, {7, 6, 4, 2, 3, 1, 0, 5}, {1, 3, 0, 7, 5, 4, 6, 2},
    {4, 7, 2, 1, 0, 5, 3, 6}, {2, 1, 6, 5, 7, 0, 4, 3}, {5, 4, 3, 0, 2, 6, 7, 1},
};

int PermutationOf(char key) { return static_cast<unsigned char>(key) % 15; }

char RandomKeyLetter() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> letter(0, 'Y' - 'A');
  return static_cast<char>('A' + letter(generator));
}

std::string Padded25(const std::string& text) {
  return text.size() >= 25 ? text : text + std::string(25 - text.size(), ' ');
}

}  // namespace

std::string TZELDateEncoder::Encode(DateTime ADate) {
  int year = 0;
  int month = 0;
  int day = 0;
  DecodeDate(ADate, year, month, day);
  const std::string digits = PadNumber(year, 4) + PadNumber(month, 2) + PadNumber(day, 2);
  if (digits.size() != kPositions) throw EConvertError("Invalid date to encode");
  std::array<char, kPositions> substituted{};
  for (int i = 0; i < kPositions; ++i) {
    substituted[i] = kSubstitution[i][static_cast<size_t>(digits[i] - '0')];
  }
  const char key = RandomKeyLetter();
  std::string result(1, key);
  for (int i = 0; i < kPositions; ++i) result += substituted[kPermutations[PermutationOf(key)][i]];
  return result;
}

DateTime TZELDateEncoder::Decode(const std::string& Encoded) {
  if (Encoded.size() != kPositions + 1) {
    throw EConvertError("'" + Encoded + "' is not a valid encoded date");
  }
  const int p = PermutationOf(Encoded[0]);
  std::string digits(kPositions, '!');
  for (int i = 0; i < kPositions; ++i) {
    const int position = kPermutations[p][i];
    const size_t digit = kSubstitution[position].find(Encoded[static_cast<size_t>(i) + 1]);
    if (digit != std::string_view::npos) digits[position] = static_cast<char>('0' + digit);
  }
  return EncodeDate(StrToInt(digits.substr(0, 4)), StrToInt(digits.substr(4, 2)),
                    StrToInt(digits.substr(6, 2)));
}

bool TZELDateEncoder::TryDecode(const std::string& Encoded, DateTime& Date) {
  try {
    Date = Decode(Encoded);
    return true;
  } catch (const std::exception& e) {
    Date = 0;
    try {
      const std::string line =
          "SF:" + Padded25("date_encoder.TZELDateEncoder") + "; E:" + Padded25("EConvertError") +
          "; MD:" + Padded25("TryDecodeDate") + "; MSG: " + e.what() + "; En: " + Encoded;
      std::string folder = util::LogFolder();
      if (!util::EnsureFolder(folder)) folder = util::HomeFolder();
      util::AppendLogLine(folder, LogFileName("LoadError.Log"), StampedLine(line));
    } catch (...) {
      // A failed report does not change the answer.
    }
    return false;
  }
}

bool TZELDateEncoder::CheckEncoded(const std::string& EncodedDate, DateTime TheDate) {
  return DateOf(Decode(EncodedDate)) == DateOf(TheDate);
}

}  // namespace zel::dates
