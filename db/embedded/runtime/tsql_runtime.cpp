// SQL Server semantics for SQLite: the collation "TSQL" and the scalar functions the
// embedded engine's emitted SQL calls. Built twice: into the engine (calling SQLite
// directly) and into the loadable extension (calling SQLite through the host's routine
// table, ZEL_TSQL_EXTENSION).
#ifdef ZEL_TSQL_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#else
#include <sqlite3.h>
#endif

#include "db/embedded/runtime/tsql_runtime.h"
#include "util/text.h"
#include "util/utf8.h"

#ifdef ZEL_TSQL_PROCESS_CLOCK
#include "dates/clock.h"
#include "dates/date_time.h"
#endif

#include <time.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zel::db::embedded {
namespace {

// A failure with SQL Server's message text, reported through sqlite3_result_error.
struct SqlError {
  std::string message;
};

[[noreturn]] void Fail(std::string message) { throw SqlError{std::move(message)}; }

// ---------------------------------------------------------------------------------------
// UTF-8 and case mapping

using util::AppendUtf8;
using util::DecodeUtf8;

bool In(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }
bool Even(char32_t c) { return (c & 1) == 0; }

// Unicode simple lower-case mapping for Latin (Basic, Latin-1, Extended-A/B, Additional),
// Greek, Cyrillic, Armenian and full-width Latin. Other scripts (Persian and Arabic
// included) have no case and stay unchanged.
char32_t ToLowerCp(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c < 0x100) return (In(c, 0xC0, 0xDE) && c != 0xD7) ? c + 32 : c;
  if (c < 0x250) {
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    if ((In(c, 0x100, 0x12F) || In(c, 0x132, 0x137) || In(c, 0x14A, 0x177) || In(c, 0x1DE, 0x1EF) ||
         In(c, 0x1F8, 0x21F) || In(c, 0x222, 0x233)) &&
        Even(c))
      return c + 1;
    if ((In(c, 0x139, 0x148) || In(c, 0x179, 0x17E) || In(c, 0x1CD, 0x1DC)) && !Even(c))
      return c + 1;
    return c;
  }
  if (In(c, 0x370, 0x3FF)) {
    if (c == 0x386) return 0x3AC;
    if (In(c, 0x388, 0x38A)) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (In(c, 0x38E, 0x38F)) return c + 63;
    if (In(c, 0x391, 0x3AB) && c != 0x3A2) return c + 32;
    return c;
  }
  if (In(c, 0x400, 0x52F)) {
    if (In(c, 0x400, 0x40F)) return c + 80;
    if (In(c, 0x410, 0x42F)) return c + 32;
    if (c == 0x4C0) return 0x4CF;
    if ((In(c, 0x460, 0x481) || In(c, 0x48A, 0x4BF) || In(c, 0x4D0, 0x52F)) && Even(c))
      return c + 1;
    if (In(c, 0x4C1, 0x4CE) && !Even(c)) return c + 1;
    return c;
  }
  if (In(c, 0x531, 0x556)) return c + 48;
  if (c == 0x1E9E) return 0xDF;
  if ((In(c, 0x1E00, 0x1E95) || In(c, 0x1EA0, 0x1EFF)) && Even(c)) return c + 1;
  if (In(c, 0xFF21, 0xFF3A)) return c + 32;
  return c;
}

// Unicode simple upper-case mapping over the same scripts as ToLowerCp.
char32_t ToUpperCp(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c < 0x100) {
    if (c == 0xB5) return 0x39C;
    if (c == 0xFF) return 0x178;
    return (In(c, 0xE0, 0xFE) && c != 0xF7) ? c - 32 : c;
  }
  if (c < 0x250) {
    if (c == 0x131) return 'I';
    if (c == 0x17F) return 'S';
    if ((In(c, 0x101, 0x12F) || In(c, 0x133, 0x137) || In(c, 0x14B, 0x177) || In(c, 0x1DF, 0x1EF) ||
         In(c, 0x1F9, 0x21F) || In(c, 0x223, 0x233)) &&
        !Even(c))
      return c - 1;
    if ((In(c, 0x13A, 0x148) || In(c, 0x17A, 0x17E) || In(c, 0x1CE, 0x1DC)) && Even(c))
      return c - 1;
    return c;
  }
  if (In(c, 0x370, 0x3FF)) {
    if (c == 0x3AC) return 0x386;
    if (In(c, 0x3AD, 0x3AF)) return c - 37;
    if (c == 0x3C2) return 0x3A3;
    if (In(c, 0x3B1, 0x3CB)) return c - 32;
    if (c == 0x3CC) return 0x38C;
    if (In(c, 0x3CD, 0x3CE)) return c - 63;
    return c;
  }
  if (In(c, 0x400, 0x52F)) {
    if (In(c, 0x430, 0x44F)) return c - 32;
    if (In(c, 0x450, 0x45F)) return c - 80;
    if (c == 0x4CF) return 0x4C0;
    if ((In(c, 0x461, 0x481) || In(c, 0x48B, 0x4BF) || In(c, 0x4D1, 0x52F)) && !Even(c))
      return c - 1;
    if (In(c, 0x4C2, 0x4CE) && Even(c)) return c - 1;
    return c;
  }
  if (In(c, 0x561, 0x586)) return c - 48;
  if ((In(c, 0x1E01, 0x1E95) || In(c, 0x1EA1, 0x1EFF)) && !Even(c)) return c - 1;
  if (In(c, 0xFF41, 0xFF5A)) return c - 32;
  return c;
}

// The comparison key of one character: the lower case of its upper case, so that every
// spelling of a letter (final sigma, dotless i, long s) lands on one key.
char32_t FoldCp(char32_t c) { return ToLowerCp(ToUpperCp(c)); }

struct AsciiLower {
  unsigned char map[128];
  constexpr AsciiLower() : map() {
    for (int i = 0; i < 128; ++i)
      map[i] = static_cast<unsigned char>(util::ToLowerAscii(static_cast<char>(i)));
  }
};
constexpr AsciiLower kAsciiLower;

// Next comparison key of a text, ASCII without decoding.
char32_t NextKey(const unsigned char*& p, const unsigned char* end) {
  if (*p < 0x80) return kAsciiLower.map[*p++];
  return FoldCp(DecodeUtf8(p, end));
}

// A text as its characters: folded keys (or the characters themselves) and the byte
// offset where each begins (one more entry: the text's length).
struct Chars {
  std::vector<char32_t> cp;
  std::vector<size_t> offset;
};

Chars SplitChars(std::string_view s, bool fold) {
  Chars out;
  out.cp.reserve(s.size());
  out.offset.reserve(s.size() + 1);
  auto* begin = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* p = begin;
  const unsigned char* end = p + s.size();
  while (p < end) {
    out.offset.push_back(static_cast<size_t>(p - begin));
    char32_t c = DecodeUtf8(p, end);
    out.cp.push_back(fold ? FoldCp(c) : c);
  }
  out.offset.push_back(s.size());
  return out;
}

// Byte offset of character index `n` (0-based) in s, or s.size() when s is shorter.
size_t ByteOffsetOfChar(std::string_view s, int64_t n) {
  auto* begin = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* p = begin;
  const unsigned char* end = p + s.size();
  for (int64_t i = 0; i < n && p < end; ++i) DecodeUtf8(p, end);
  return static_cast<size_t>(p - begin);
}

int64_t CharCount(std::string_view s) {
  auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* end = p + s.size();
  int64_t n = 0;
  while (p < end) {
    if (*p < 0x80) {
      ++p;
    } else {
      DecodeUtf8(p, end);
    }
    ++n;
  }
  return n;
}

// T-SQL trims and pads with the blank alone.
std::string_view TrimRightBlanks(std::string_view s) {
  return util::TrimRightView(s, util::kBlank);
}
std::string_view TrimLeftBlanks(std::string_view s) { return util::TrimLeftView(s, util::kBlank); }
std::string_view TrimBlanks(std::string_view s) { return util::TrimView(s, util::kBlank); }

// Cuts s to at most n characters.
std::string_view CutChars(std::string_view s, int64_t n) {
  return s.substr(0, ByteOffsetOfChar(s, n));
}

std::string MapCase(std::string_view s, char32_t (*map)(char32_t)) {
  std::string out;
  out.reserve(s.size());
  auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* end = p + s.size();
  while (p < end) AppendUtf8(out, map(DecodeUtf8(p, end)));
  return out;
}

// Position (0-based character index) of the first case-insensitive match of `find` in
// `in` at or after character `from`, or -1.
int64_t FindFolded(const std::vector<char32_t>& in, const std::vector<char32_t>& find,
                   size_t from) {
  if (find.empty() || find.size() > in.size()) return -1;
  for (size_t i = from; i + find.size() <= in.size(); ++i) {
    if (std::equal(find.begin(), find.end(), in.begin() + static_cast<std::ptrdiff_t>(i))) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

// ---------------------------------------------------------------------------------------
// Values and SQL Server's conversions

enum class SqlType { Int, BigInt, Float, Text };

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// One argument read once from SQLite: its SQL Server type and value. The text view stays
// valid for the duration of the function call.
struct Arg {
  bool null = false;
  SqlType type = SqlType::Text;
  int64_t i = 0;
  double r = 0;
  std::string_view text;
};

Arg ReadArg(sqlite3_value* v) {
  Arg a;
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      a.null = true;
      break;
    case SQLITE_INTEGER:
      a.i = sqlite3_value_int64(v);
      a.type = FitsInt32(a.i) ? SqlType::Int : SqlType::BigInt;
      break;
    case SQLITE_FLOAT:
      a.r = sqlite3_value_double(v);
      a.type = SqlType::Float;
      break;
    default: {  // text, and blobs read as their bytes
      const auto* t = sqlite3_value_type(v) == SQLITE_BLOB
                          ? static_cast<const char*>(sqlite3_value_blob(v))
                          : reinterpret_cast<const char*>(sqlite3_value_text(v));
      int n = sqlite3_value_bytes(v);
      a.text = t ? std::string_view(t, static_cast<size_t>(n)) : std::string_view();
      a.type = SqlType::Text;
      break;
    }
  }
  return a;
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int k = 0; k < argc; ++k)
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return true;
  return false;
}

// A float in SQL Server's default text form (style 0): at most six significant digits,
// scientific notation with a three-digit exponent when the number is very large or small.
std::string FormatFloat(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  std::string s = buf;
  size_t e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e + 2);  // through the exponent's sign
    std::string digits = s.substr(e + 2);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    s = mant + digits;
  }
  return s;
}

// The value as SQL Server converts it to text.
std::string TextOf(const Arg& a) {
  switch (a.type) {
    case SqlType::Int:
    case SqlType::BigInt:
      return std::to_string(a.i);
    case SqlType::Float:
      return FormatFloat(a.r);
    case SqlType::Text:
      return std::string(a.text);
  }
  return {};
}

std::string_view TextView(const Arg& a, std::string& storage) {
  if (a.type == SqlType::Text) return a.text;
  storage = TextOf(a);
  return storage;
}

enum class IntKind { TinyInt, SmallInt, Int, BigInt };

struct IntKindInfo {
  const char* name;
  int64_t min, max;
};

IntKindInfo Info(IntKind k) {
  switch (k) {
    case IntKind::TinyInt:
      return {"tinyint", 0, 255};
    case IntKind::SmallInt:
      return {"smallint", -32768, 32767};
    case IntKind::Int:
      return {"int", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    case IntKind::BigInt:
      return {"bigint", std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
  }
  return {"int", 0, 0};
}

[[noreturn]] void FailTextToInt(std::string_view text, IntKind kind) {
  if (kind == IntKind::BigInt) Fail("Error converting data type varchar to bigint.");
  Fail("Conversion failed when converting the varchar value '" + std::string(text) +
       "' to data type " + Info(kind).name + ".");
}

[[noreturn]] void FailTextIntOverflow(std::string_view text, IntKind kind) {
  switch (kind) {
    case IntKind::TinyInt:
      Fail("The conversion of the varchar value '" + std::string(text) +
           "' overflowed an INT1 column. Use a larger integer column.");
    case IntKind::SmallInt:
      Fail("The conversion of the varchar value '" + std::string(text) +
           "' overflowed an INT2 column. Use a larger integer column.");
    case IntKind::Int:
      Fail("The conversion of the varchar value '" + std::string(text) +
           "' overflowed an int column.");
    case IntKind::BigInt:
      Fail("Error converting data type varchar to bigint.");
  }
  Fail("Error converting data type varchar to bigint.");
}

[[noreturn]] void FailExpressionOverflow(const char* type_name) {
  Fail(std::string("Arithmetic overflow error converting expression to data type ") + type_name +
       ".");
}

// Text to an integer type: blanks around are allowed, an optional sign, decimal digits
// only; an empty (or sign-only) text is 0.
int64_t ParseIntText(std::string_view text, IntKind kind) {
  std::string_view t = TrimBlanks(text);
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  const IntKindInfo info = Info(kind);
  // Accumulate as a negative number so that the minimum of bigint fits.
  int64_t acc = 0;
  bool overflow = false;
  for (char ch : t) {
    if (ch < '0' || ch > '9') FailTextToInt(text, kind);
    const int d = ch - '0';
    if (acc < (std::numeric_limits<int64_t>::min() + d) / 10) {
      overflow = true;
    } else {
      acc = acc * 10 - d;
    }
  }
  if (!negative && acc == std::numeric_limits<int64_t>::min()) overflow = true;
  const int64_t v = negative ? acc : -acc;
  if (overflow || v < info.min || v > info.max) FailTextIntOverflow(text, kind);
  return v;
}

// Syntax check of a decimal number text (sign, digits, point, exponent); true when the
// trimmed text is one.
bool IsDecimalText(std::string_view t, bool allow_exponent) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (allow_exponent && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == t.size();
}

// Text to float: blanks around allowed; empty text is 0.
double ParseFloatText(std::string_view text) {
  std::string_view t = TrimBlanks(text);
  if (t.empty()) return 0;
  if (!IsDecimalText(t, true)) Fail("Error converting data type varchar to float.");
  if (t[0] == '+') t.remove_prefix(1);
  double v = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range) {
    Fail("Arithmetic overflow error converting expression to data type float.");
  }
  if (ec != std::errc() || ptr != t.data() + t.size())
    Fail("Error converting data type varchar to float.");
  return v;
}

IntKind IntKindOf(SqlType t) { return t == SqlType::BigInt ? IntKind::BigInt : IntKind::Int; }

// The value converted to an integer type as CAST does: reals truncated toward zero.
int64_t ToInt(const Arg& a, IntKind kind) {
  const IntKindInfo info = Info(kind);
  switch (a.type) {
    case SqlType::Int:
    case SqlType::BigInt:
      if (a.i < info.min || a.i > info.max) FailExpressionOverflow(info.name);
      return a.i;
    case SqlType::Float: {
      const double t = std::trunc(a.r);
      // 2^63 is exactly representable; anything at or beyond it does not fit bigint.
      if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
        FailExpressionOverflow(info.name);
      const auto v = static_cast<int64_t>(t);
      if (v < info.min || v > info.max) FailExpressionOverflow(info.name);
      return v;
    }
    case SqlType::Text:
      return ParseIntText(a.text, kind);
  }
  return 0;
}

double ToFloat(const Arg& a) {
  switch (a.type) {
    case SqlType::Int:
    case SqlType::BigInt:
      return static_cast<double>(a.i);
    case SqlType::Float:
      return a.r;
    case SqlType::Text:
      return ParseFloatText(a.text);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Results

void ResultText(sqlite3_context* ctx, std::string_view s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// Runs one function body, turning its failures into SQL errors.
template <void (*Body)(sqlite3_context*, int, sqlite3_value**)>
void Guarded(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  try {
    Body(ctx, argc, argv);
  } catch (const SqlError& e) {
    sqlite3_result_error(ctx, e.message.c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(ctx);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// ---------------------------------------------------------------------------------------
// Arithmetic: + - * / % by run-time types

enum class Op { Add, Subtract, Multiply, Divide, Modulo };

const char* OpName(Op op) {
  switch (op) {
    case Op::Add:
      return "add";
    case Op::Subtract:
      return "subtract";
    case Op::Multiply:
      return "multiply";
    case Op::Divide:
      return "divide";
    case Op::Modulo:
      return "modulo";
  }
  return "add";
}

void Arithmetic(sqlite3_context* ctx, Op op, sqlite3_value** argv) {
  if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
  const Arg a = ReadArg(argv[0]);
  const Arg b = ReadArg(argv[1]);
  if (a.type == SqlType::Text && b.type == SqlType::Text) {
    if (op == Op::Add) {
      std::string s;
      s.reserve(a.text.size() + b.text.size());
      s.append(a.text).append(b.text);
      return ResultText(ctx, s);
    }
    Fail(std::string("The data types varchar and varchar are incompatible in the ") + OpName(op) +
         " operator.");
  }
  // The text side takes the other side's type (numbers rank above text).
  const SqlType type = a.type == SqlType::Text                                    ? b.type
                       : b.type == SqlType::Text                                  ? a.type
                       : (a.type == SqlType::Float || b.type == SqlType::Float)   ? SqlType::Float
                       : (a.type == SqlType::BigInt || b.type == SqlType::BigInt) ? SqlType::BigInt
                                                                                  : SqlType::Int;
  if (type == SqlType::Float) {
    const double x = ToFloat(a), y = ToFloat(b);
    double r = 0;
    switch (op) {
      case Op::Add:
        r = x + y;
        break;
      case Op::Subtract:
        r = x - y;
        break;
      case Op::Multiply:
        r = x * y;
        break;
      case Op::Divide:
        if (y == 0) Fail("Divide by zero error encountered.");
        r = x / y;
        break;
      case Op::Modulo:
        if (y == 0) Fail("Divide by zero error encountered.");
        r = std::fmod(x, y);
        break;
    }
    if (!std::isfinite(r)) FailExpressionOverflow("float");
    return sqlite3_result_double(ctx, r);
  }
  const IntKind kind = IntKindOf(type);
  const int64_t x = ToInt(a, kind), y = ToInt(b, kind);
  __int128 r = 0;
  switch (op) {
    case Op::Add:
      r = static_cast<__int128>(x) + y;
      break;
    case Op::Subtract:
      r = static_cast<__int128>(x) - y;
      break;
    case Op::Multiply:
      r = static_cast<__int128>(x) * y;
      break;
    case Op::Divide:
      if (y == 0) Fail("Divide by zero error encountered.");
      r = static_cast<__int128>(x) / y;
      break;
    case Op::Modulo:
      if (y == 0) Fail("Divide by zero error encountered.");
      r = static_cast<__int128>(x) % y;
      break;
  }
  const IntKindInfo info = Info(kind);
  if (r < info.min || r > info.max) FailExpressionOverflow(info.name);
  sqlite3_result_int64(ctx, static_cast<int64_t>(r));
}

void FnAdd(sqlite3_context* ctx, int, sqlite3_value** argv) { Arithmetic(ctx, Op::Add, argv); }
void FnSubtract(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Arithmetic(ctx, Op::Subtract, argv);
}
void FnMultiply(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Arithmetic(ctx, Op::Multiply, argv);
}
void FnDivide(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Arithmetic(ctx, Op::Divide, argv);
}
void FnModulo(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Arithmetic(ctx, Op::Modulo, argv);
}

// Comparison by SQL Server's rules: texts through the collation, a text against a number
// converted to the number's type, numbers by value. -1, 0 or 1; NULL when either is NULL.
void FnCompare(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
  const Arg a = ReadArg(argv[0]);
  const Arg b = ReadArg(argv[1]);
  int c = 0;
  if (a.type == SqlType::Text && b.type == SqlType::Text) {
    c = CompareTsqlText(a.text, b.text);
  } else {
    const SqlType type = a.type == SqlType::Text                                  ? b.type
                         : b.type == SqlType::Text                                ? a.type
                         : (a.type == SqlType::Float || b.type == SqlType::Float) ? SqlType::Float
                                                                                  : SqlType::BigInt;
    if (type == SqlType::Float) {
      const double x = ToFloat(a), y = ToFloat(b);
      c = x < y ? -1 : x > y ? 1 : 0;
    } else {
      const IntKind kind = IntKindOf(type);
      const int64_t x = ToInt(a, kind), y = ToInt(b, kind);
      c = x < y ? -1 : x > y ? 1 : 0;
    }
  }
  sqlite3_result_int(ctx, c < 0 ? -1 : c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------------------
// Strings

void FnConcat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
  std::string sa, sb;
  const std::string_view a = TextView(ReadArg(argv[0]), sa);
  const std::string_view b = TextView(ReadArg(argv[1]), sb);
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a).append(b);
  ResultText(ctx, s);
}

void FnSubstring(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(3, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  const std::string_view s = TextView(ReadArg(argv[0]), storage);
  const int64_t start = ToInt(ReadArg(argv[1]), IntKind::BigInt);
  const int64_t length = ToInt(ReadArg(argv[2]), IntKind::BigInt);
  if (length < 0) Fail("Invalid length parameter passed to the substring function.");
  // Characters start .. start+length-1 (1-based) that exist; a start below 1 eats into
  // the length.
  const __int128 last = static_cast<__int128>(start) + length - 1;
  const int64_t first = start < 1 ? 1 : start;
  if (last < first) return ResultText(ctx, "");
  const size_t from = ByteOffsetOfChar(s, first - 1);
  const __int128 count = last - first + 1;
  const int64_t n = count > std::numeric_limits<int64_t>::max()
                        ? std::numeric_limits<int64_t>::max()
                        : static_cast<int64_t>(count);
  ResultText(ctx, CutChars(s.substr(from), n));
}

void FnLen(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  sqlite3_result_int64(ctx, CharCount(TrimRightBlanks(TextView(ReadArg(argv[0]), storage))));
}

void LeftOrRight(sqlite3_context* ctx, sqlite3_value** argv, bool left) {
  if (AnyNull(2, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  const std::string_view s = TextView(ReadArg(argv[0]), storage);
  const int64_t n = ToInt(ReadArg(argv[1]), IntKind::BigInt);
  if (n < 0)
    Fail(std::string("Invalid length parameter passed to the ") + (left ? "left" : "right") +
         " function.");
  if (left) return ResultText(ctx, CutChars(s, n));
  const int64_t total = CharCount(s);
  ResultText(ctx, n >= total ? s : s.substr(ByteOffsetOfChar(s, total - n)));
}

void FnLeft(sqlite3_context* ctx, int, sqlite3_value** argv) { LeftOrRight(ctx, argv, true); }
void FnRight(sqlite3_context* ctx, int, sqlite3_value** argv) { LeftOrRight(ctx, argv, false); }

// CHARINDEX(find, in[, start]): 1-based character position of the first case-insensitive
// match at or after start (below 1 counts as 1), 0 when there is none or find is empty.
void FnCharIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string sf, si;
  const Chars find = SplitChars(TextView(ReadArg(argv[0]), sf), true);
  const Chars in = SplitChars(TextView(ReadArg(argv[1]), si), true);
  int64_t start = argc > 2 ? ToInt(ReadArg(argv[2]), IntKind::BigInt) : 1;
  if (start < 1) start = 1;
  if (start > static_cast<int64_t>(in.cp.size())) return sqlite3_result_int(ctx, 0);
  const int64_t at = FindFolded(in.cp, find.cp, static_cast<size_t>(start - 1));
  sqlite3_result_int64(ctx, at + 1);
}

// REPLACE(s, from, to): every non-overlapping case-insensitive match of from, left to
// right, replaced; s unchanged when from is empty.
void FnReplace(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(3, argv)) return sqlite3_result_null(ctx);
  std::string ss, sf, st;
  const std::string_view s = TextView(ReadArg(argv[0]), ss);
  const std::string_view from = TextView(ReadArg(argv[1]), sf);
  const std::string_view to = TextView(ReadArg(argv[2]), st);
  if (from.empty()) return ResultText(ctx, s);
  const Chars in = SplitChars(s, true);
  const Chars find = SplitChars(from, true);
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (true) {
    const int64_t at = FindFolded(in.cp, find.cp, i);
    if (at < 0) break;
    const auto pos = static_cast<size_t>(at);
    out.append(s.substr(in.offset[i], in.offset[pos] - in.offset[i]));
    out.append(to);
    i = pos + find.cp.size();
  }
  out.append(s.substr(in.offset[i]));
  ResultText(ctx, out);
}

void FnLTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  ResultText(ctx, TrimLeftBlanks(TextView(ReadArg(argv[0]), storage)));
}

void FnRTrim(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  ResultText(ctx, TrimRightBlanks(TextView(ReadArg(argv[0]), storage)));
}

void FnUpper(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  ResultText(ctx, MapCase(TextView(ReadArg(argv[0]), storage), ToUpperCp));
}

void FnLower(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  std::string storage;
  ResultText(ctx, MapCase(TextView(ReadArg(argv[0]), storage), ToLowerCp));
}

// ---------------------------------------------------------------------------------------
// CAST / CONVERT

// The value as the text of a character type of n characters (n = -1: MAX). Texts are cut;
// an int that does not fit becomes "*"; a bigint or float that does not fit is an error.
std::string ToCharacterText(const Arg& a, int64_t n, const char* type_name) {
  if (n == 0 || n < -1) Fail("Length or precision " + std::to_string(n) + " is invalid.");
  if (a.type == SqlType::Text) return std::string(n < 0 ? a.text : CutChars(a.text, n));
  std::string text = TextOf(a);
  if (n < 0 || static_cast<int64_t>(text.size()) <= n) return text;
  if (a.type == SqlType::Int) return "*";
  if (a.type == SqlType::BigInt) FailExpressionOverflow(type_name);
  char buf[400];
  std::snprintf(buf, sizeof buf, "Arithmetic overflow error for type %s, value = %f.", type_name,
                a.r);
  Fail(buf);
}

void FnChar(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  const Arg n_arg = ReadArg(argv[1]);
  if (n_arg.null) Fail("Length or precision NULL is invalid.");
  const int64_t n = ToInt(n_arg, IntKind::Int);
  if (n < 1) Fail("Length or precision " + std::to_string(n) + " is invalid.");
  std::string s = ToCharacterText(ReadArg(argv[0]), n, "char");
  const int64_t have = CharCount(s);
  if (have < n) s.append(static_cast<size_t>(n - have), ' ');
  ResultText(ctx, s);
}

void FnVarchar(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  const Arg n_arg = ReadArg(argv[1]);
  if (n_arg.null) Fail("Length or precision NULL is invalid.");
  ResultText(ctx, ToCharacterText(ReadArg(argv[0]), ToInt(n_arg, IntKind::Int), "varchar"));
}

IntKind ParseIntKind(std::string_view name) {
  const std::string_view t = TrimBlanks(name);
  struct Entry {
    const char* name;
    IntKind kind;
  };
  static constexpr Entry kKinds[] = {{"int", IntKind::Int},
                                     {"integer", IntKind::Int},
                                     {"smallint", IntKind::SmallInt},
                                     {"tinyint", IntKind::TinyInt},
                                     {"bigint", IntKind::BigInt}};
  for (const Entry& e : kKinds)
    if (CompareTsqlText(t, e.name) == 0) return e.kind;
  Fail("Type " + std::string(name) + " is not a defined system type.");
}

void FnInt(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  IntKind kind = IntKind::Int;
  if (argc > 1) {
    std::string storage;
    kind = ParseIntKind(TextView(ReadArg(argv[1]), storage));
  }
  sqlite3_result_int64(ctx, ToInt(ReadArg(argv[0]), kind));
}

void FnBit(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  const Arg a = ReadArg(argv[0]);
  switch (a.type) {
    case SqlType::Int:
    case SqlType::BigInt:
      return sqlite3_result_int(ctx, a.i != 0);
    case SqlType::Float:
      return sqlite3_result_int(ctx, a.r != 0);
    case SqlType::Text: {
      const std::string_view t = TrimBlanks(a.text);
      if (CompareTsqlText(t, "true") == 0) return sqlite3_result_int(ctx, 1);
      if (CompareTsqlText(t, "false") == 0) return sqlite3_result_int(ctx, 0);
      std::string_view digits = t;
      if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
      bool nonzero = false;
      for (char ch : digits) {
        if (ch < '0' || ch > '9') {
          Fail("Conversion failed when converting the varchar value '" + std::string(a.text) +
               "' to data type bit.");
        }
        nonzero = nonzero || ch != '0';
      }
      return sqlite3_result_int(ctx, nonzero);
    }
  }
}

void FnFloat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, ToFloat(ReadArg(argv[0])));
}

// Rounds the decimal number text `t` (validated, no exponent) half away from zero to
// `scale` fraction digits; gives the digit string of the rounded magnitude scaled by
// 10^scale (no sign), the sign, and how many digits it has before the point.
struct ScaledDecimal {
  bool negative = false;
  std::string digits;  // |value| * 10^scale, rounded, without leading zeros ("" for 0)
};

ScaledDecimal RoundDecimalText(std::string_view t, int scale) {
  ScaledDecimal out;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    out.negative = t[0] == '-';
    t.remove_prefix(1);
  }
  const size_t point = t.find('.');
  std::string_view whole = t.substr(0, point);
  std::string_view frac =
      point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
  std::string digits(whole);
  for (int k = 0; k < scale; ++k)
    digits.push_back(k < static_cast<int>(frac.size()) ? frac[static_cast<size_t>(k)] : '0');
  const bool round_up =
      static_cast<int>(frac.size()) > scale && frac[static_cast<size_t>(scale)] >= '5';
  if (round_up) {
    int k = static_cast<int>(digits.size()) - 1;
    while (k >= 0 && digits[static_cast<size_t>(k)] == '9') digits[static_cast<size_t>(k--)] = '0';
    if (k < 0) {
      digits.insert(digits.begin(), '1');
    } else {
      ++digits[static_cast<size_t>(k)];
    }
  }
  const size_t nz = digits.find_first_not_of('0');
  out.digits = nz == std::string::npos ? std::string() : digits.substr(nz);
  if (out.digits.empty()) out.negative = false;
  return out;
}

// A float as a plain decimal text (no exponent) of its shortest round-trip digits.
std::string PlainDecimal(double v) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general);
  std::string s(buf, ec == std::errc() ? ptr : buf);
  const size_t e = s.find_first_of("eE");
  if (e == std::string::npos) return s;
  // Expand mantissa * 10^exp into plain digits.
  const int exp = std::stoi(s.substr(e + 1));
  std::string mant = s.substr(0, e);
  bool negative = false;
  if (!mant.empty() && mant[0] == '-') {
    negative = true;
    mant.erase(0, 1);
  }
  const size_t point = mant.find('.');
  std::string digits = mant;
  int int_len = static_cast<int>(point == std::string::npos ? mant.size() : point);
  if (point != std::string::npos) digits.erase(point, 1);
  int_len += exp;
  std::string plain;
  if (int_len <= 0) {
    plain = "0." + std::string(static_cast<size_t>(-int_len), '0') + digits;
  } else if (int_len >= static_cast<int>(digits.size())) {
    plain = digits + std::string(static_cast<size_t>(int_len) - digits.size(), '0');
  } else {
    plain = digits.substr(0, static_cast<size_t>(int_len)) + "." +
            digits.substr(static_cast<size_t>(int_len));
  }
  return negative ? "-" + plain : plain;
}

// CAST to NUMERIC(precision, scale) / DECIMAL: rounded half away from zero to the scale;
// a value with more than precision - scale integer digits is an overflow. The result is
// an integer when the scale is 0, else a real.
void FnNumeric(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  const int64_t precision = argc > 1 ? ToInt(ReadArg(argv[1]), IntKind::Int) : 18;
  const int64_t scale = argc > 2 ? ToInt(ReadArg(argv[2]), IntKind::Int) : 0;
  if (precision < 1 || precision > 38) {
    Fail("Column or parameter has an invalid precision value " + std::to_string(precision) + ".");
  }
  if (scale < 0 || scale > precision) {
    Fail("The scale " + std::to_string(scale) +
         " for 'numeric' column must be within the range 0 to " + std::to_string(precision) + ".");
  }
  const Arg a = ReadArg(argv[0]);
  std::string text;
  const char* source = "int";
  switch (a.type) {
    case SqlType::Int:
    case SqlType::BigInt:
      text = std::to_string(a.i);
      source = a.type == SqlType::Int ? "int" : "bigint";
      break;
    case SqlType::Float:
      if (!std::isfinite(a.r))
        Fail("Arithmetic overflow error converting float to data type numeric.");
      text = PlainDecimal(a.r);
      source = "float";
      break;
    case SqlType::Text:
      text = std::string(TrimBlanks(a.text));
      source = "varchar";
      if (!IsDecimalText(text, false)) Fail("Error converting data type varchar to numeric.");
      break;
  }
  const ScaledDecimal d = RoundDecimalText(text, static_cast<int>(scale));
  if (static_cast<int64_t>(d.digits.size()) > precision) {
    Fail(std::string("Arithmetic overflow error converting ") + source + " to data type numeric.");
  }
  std::string plain = d.digits;
  if (plain.size() < static_cast<size_t>(scale) + 1)
    plain.insert(0, static_cast<size_t>(scale) + 1 - plain.size(), '0');
  if (scale > 0) plain.insert(plain.size() - static_cast<size_t>(scale), ".");
  if (d.negative) plain.insert(0, "-");
  if (scale == 0 && precision <= 18) {
    int64_t v = 0;
    std::from_chars(plain.data(), plain.data() + plain.size(), v);
    return sqlite3_result_int64(ctx, v);
  }
  double v = 0;
  std::from_chars(plain.data(), plain.data() + plain.size(), v);
  sqlite3_result_double(ctx, v);
}

// ISNUMERIC: 1 for numbers and for texts SQL Server would convert to some numeric type
// (blanks around, a currency sign, a sign, digits with thousands separators, one point,
// an exponent), else 0; NULL gives 0.
void FnIsNumeric(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const Arg a = ReadArg(argv[0]);
  if (a.null) return sqlite3_result_int(ctx, 0);
  if (a.type != SqlType::Text) return sqlite3_result_int(ctx, 1);
  std::string_view t = TrimBlanks(a.text);
  if (t.empty()) return sqlite3_result_int(ctx, 0);
  size_t i = 0;
  bool sign = false, currency = false;
  for (int k = 0; k < 2 && i < t.size(); ++k) {
    if (!sign && (t[i] == '+' || t[i] == '-')) {
      sign = true, ++i;
    } else if (!currency && t[i] == '$') {
      currency = true, ++i;
    }
  }
  size_t digits = 0;
  bool point = false;
  while (i < t.size()) {
    const char ch = t[i];
    if (ch >= '0' && ch <= '9') {
      ++digits;
    } else if (ch == ',' && !point) {
    } else if (ch == '.' && !point) {
      point = true;
    } else {
      break;
    }
    ++i;
  }
  if (i < t.size() && digits > 0 && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return sqlite3_result_int(ctx, 0);
  }
  sqlite3_result_int(ctx, i == t.size() ? 1 : 0);
}

// GETDATE(): the local date and time as "YYYY-MM-DD HH:MM:SS.mmm". Inside the service it
// is the process clock (which tests and replays may set); in the loadable extension it is
// the system clock.
void FnGetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
#ifdef ZEL_TSQL_PROCESS_CLOCK
  const zel::dates::DateTimeParts parts = zel::dates::DecodeDateTime(zel::dates::Now());
  year = parts.year, month = parts.month, day = parts.day;
  hour = parts.hour, minute = parts.minute, second = parts.second, millisecond = parts.millisecond;
#else
  const auto now = std::chrono::system_clock::now();
  const time_t secs = std::chrono::system_clock::to_time_t(now);
  struct tm local {};
  if (localtime_r(&secs, &local) == nullptr) Fail("The local time is not available.");
  year = local.tm_year + 1900, month = local.tm_mon + 1, day = local.tm_mday;
  hour = local.tm_hour, minute = local.tm_min, second = local.tm_sec;
  millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
#endif
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day, hour,
                minute, second, millisecond);
  ResultText(ctx, buf);
}

// ---------------------------------------------------------------------------------------
// Storing into character columns

// zel_char(v, n) / zel_varchar(v, n): a value stored into a char(n) / varchar(n) column
// (n = -1: MAX). Numbers become text; a longer text fails unless only blanks are cut;
// char pads with blanks. Unlike CAST, which cuts silently.
void StoreText(sqlite3_context* ctx, sqlite3_value** argv, bool pad) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const int64_t n = sqlite3_value_int64(argv[1]);
  std::string s = ValueText(argv[0]);
  int64_t chars = CharCount(s);
  if (n >= 0 && chars > n) {
    const size_t cut = ByteOffsetOfChar(s, n);
    if (s.find_first_not_of(' ', cut) != std::string::npos)
      Fail("String or binary data would be truncated.");
    s.resize(cut);
    chars = n;
  }
  if (pad && n > chars) s.append(static_cast<size_t>(n - chars), ' ');
  ResultText(ctx, s);
}

void FnStoreChar(sqlite3_context* ctx, int, sqlite3_value** argv) { StoreText(ctx, argv, true); }
void FnStoreVarchar(sqlite3_context* ctx, int, sqlite3_value** argv) {
  StoreText(ctx, argv, false);
}

// ---------------------------------------------------------------------------------------
// incDate / decDate on "MM/DD" texts of a year database (no year, no leap day)

struct MonthDay {
  int64_t month, day;
};

// The argument as the functions' char(5) parameter sees it (cut or blank-padded to five
// characters), month from characters 1-2 and day from 4-5.
MonthDay ReadMonthDay(const Arg& a) {
  std::string storage;
  std::string s(CutChars(TextView(a, storage), 5));
  const int64_t have = CharCount(s);
  if (have < 5) s.append(static_cast<size_t>(5 - have), ' ');
  const std::string month(CutChars(s, 2));
  const std::string day(CutChars(s.substr(ByteOffsetOfChar(s, 3)), 2));
  return {ParseIntText(month, IntKind::Int), ParseIntText(day, IntKind::Int)};
}

std::string Pad2(int64_t v) {
  std::string s = std::to_string(v);
  if (v >= 0 && v < 10) s.insert(s.begin(), '0');
  return s;
}

void ResultMonthDay(sqlite3_context* ctx, MonthDay md) {
  ResultText(ctx, CutChars(Pad2(md.month) + "/" + Pad2(md.day), 5));
}

void FnDecDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  MonthDay md = ReadMonthDay(ReadArg(argv[0]));
  if (md.day == 1) {
    md.month -= 1;
    md.day = md.month >= 7 ? 30 : 31;
  } else {
    md.day -= 1;
  }
  ResultMonthDay(ctx, md);
}

void FnIncDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(1, argv)) return sqlite3_result_null(ctx);
  MonthDay md = ReadMonthDay(ReadArg(argv[0]));
  if ((md.month > 6 && md.day == 30) || (md.month <= 6 && md.day == 31)) {
    md.month += 1;
    md.day = 1;
  } else {
    md.day += 1;
  }
  ResultMonthDay(ctx, md);
}

// ---------------------------------------------------------------------------------------
// Registration

int CollationCompare(void*, int n1, const void* s1, int n2, const void* s2) {
  return CompareTsqlText(std::string_view(static_cast<const char*>(s1), static_cast<size_t>(n1)),
                         std::string_view(static_cast<const char*>(s2), static_cast<size_t>(n2)));
}

using ScalarFn = void (*)(sqlite3_context*, int, sqlite3_value**);

struct FunctionEntry {
  const char* name;
  int nargs;
  ScalarFn fn;
  bool deterministic;
};

constexpr FunctionEntry kFunctions[] = {
    {"tsql_add", 2, Guarded<FnAdd>, true},
    {"tsql_sub", 2, Guarded<FnSubtract>, true},
    {"tsql_mul", 2, Guarded<FnMultiply>, true},
    {"tsql_div", 2, Guarded<FnDivide>, true},
    {"tsql_mod", 2, Guarded<FnModulo>, true},
    {"tsql_compare", 2, Guarded<FnCompare>, true},
    {"tsql_concat", 2, Guarded<FnConcat>, true},
    {"tsql_substring", 3, Guarded<FnSubstring>, true},
    {"tsql_len", 1, Guarded<FnLen>, true},
    {"tsql_left", 2, Guarded<FnLeft>, true},
    {"tsql_right", 2, Guarded<FnRight>, true},
    {"tsql_charindex", 2, Guarded<FnCharIndex>, true},
    {"tsql_charindex", 3, Guarded<FnCharIndex>, true},
    {"tsql_replace", 3, Guarded<FnReplace>, true},
    {"tsql_ltrim", 1, Guarded<FnLTrim>, true},
    {"tsql_rtrim", 1, Guarded<FnRTrim>, true},
    {"tsql_upper", 1, Guarded<FnUpper>, true},
    {"tsql_lower", 1, Guarded<FnLower>, true},
    {"tsql_char", 2, Guarded<FnChar>, true},
    {"tsql_varchar", 2, Guarded<FnVarchar>, true},
    {"tsql_int", 1, Guarded<FnInt>, true},
    {"tsql_int", 2, Guarded<FnInt>, true},
    {"tsql_bit", 1, Guarded<FnBit>, true},
    {"tsql_float", 1, Guarded<FnFloat>, true},
    {"tsql_numeric", 1, Guarded<FnNumeric>, true},
    {"tsql_numeric", 2, Guarded<FnNumeric>, true},
    {"tsql_numeric", 3, Guarded<FnNumeric>, true},
    {"tsql_isnumeric", 1, Guarded<FnIsNumeric>, true},
    {"tsql_getdate", 0, Guarded<FnGetDate>, false},
    {"zel_char", 2, Guarded<FnStoreChar>, true},
    {"zel_varchar", 2, Guarded<FnStoreVarchar>, true},
    {"incDate", 1, Guarded<FnIncDate>, true},
    {"decDate", 1, Guarded<FnDecDate>, true},
};

}  // namespace

std::string ValueText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT: {
      char buf[64];
      sqlite3_snprintf(sizeof buf, buf, "%!.15g", sqlite3_value_double(v));
      return buf;
    }
    default: {
      const unsigned char* t = sqlite3_value_text(v);
      return t ? std::string(reinterpret_cast<const char*>(t),
                             static_cast<size_t>(sqlite3_value_bytes(v)))
               : std::string();
    }
  }
}

int CompareTsqlText(std::string_view a, std::string_view b) {
  const auto* p = reinterpret_cast<const unsigned char*>(a.data());
  const auto* q = reinterpret_cast<const unsigned char*>(b.data());
  const unsigned char* pe = p + a.size();
  const unsigned char* qe = q + b.size();
  using util::IsUtf8Continuation;
  while (true) {
    // Identical bytes compare equal; skip them, then step back to the start of a
    // character that the run may have ended inside (every other byte starts one).
    const unsigned char* run = p;
    while (p < pe && q < qe && *p == *q) ++p, ++q;
    while (p > run && ((p < pe && IsUtf8Continuation(*p)) || (q < qe && IsUtf8Continuation(*q))))
      --p, --q;
    if (p == pe || q == qe) break;
    if ((*p | *q) < 0x80) {
      // ASCII differing at most in case: compare lower-cased bytes while both are ASCII.
      do {
        const unsigned char lx = kAsciiLower.map[*p], ly = kAsciiLower.map[*q];
        if (lx != ly) return lx < ly ? -1 : 1;
        ++p, ++q;
      } while (p < pe && q < qe && (*p | *q) < 0x80);
      continue;
    }
    const char32_t cx = NextKey(p, pe), cy = NextKey(q, qe);
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  // The shorter text counts as padded with blanks.
  while (p < pe) {
    const char32_t c = NextKey(p, pe);
    if (c != ' ') return c < ' ' ? -1 : 1;
  }
  while (q < qe) {
    const char32_t c = NextKey(q, qe);
    if (c != ' ') return c < ' ' ? 1 : -1;
  }
  return 0;
}

void RegisterTsqlRuntime(sqlite3* db) {
  if (sqlite3_create_collation_v2(db, "TSQL", SQLITE_UTF8, nullptr, CollationCompare, nullptr) !=
      SQLITE_OK) {
    throw std::runtime_error(std::string("cannot register collation TSQL: ") + sqlite3_errmsg(db));
  }
  for (const FunctionEntry& f : kFunctions) {
    const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    if (sqlite3_create_function_v2(db, f.name, f.nargs, flags, nullptr, f.fn, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register function ") + f.name + ": " +
                               sqlite3_errmsg(db));
    }
  }
}

}  // namespace zel::db::embedded
