// UTF-8 at the level of single code points: whether a byte continues a sequence, decoding
// one code point (a byte that starts no well-formed sequence stands for itself, so every
// byte string reads as one consistent sequence of characters) and encoding one back.
// Header only, so that the T-SQL runtime's loadable extension can use it without a library.
// Pure functions without shared state: any thread may call them.
#pragma once

#include <string>

namespace zel::util {

// An ill-formed byte b decodes as kUtf8InvalidBase + b: above every code point, and encoded
// back as the byte itself.
inline constexpr char32_t kUtf8InvalidBase = 0x110000;

// Whether the byte continues a multi-byte sequence (10xxxxxx).
constexpr bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }
constexpr bool IsUtf8Continuation(char c) {
  return IsUtf8Continuation(static_cast<unsigned char>(c));
}

// Decodes the code point at p (p < end) and advances p past it. Overlong forms, surrogates,
// values above U+10FFFF, truncated sequences and stray bytes decode one byte at a time as
// kUtf8InvalidBase + byte.
inline char32_t DecodeUtf8(const unsigned char*& p, const unsigned char* end) {
  const unsigned char b0 = *p;
  if (b0 < 0x80) {
    ++p;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++p;
    return kUtf8InvalidBase + b0;
  }
  if (end - p <= extra) {
    ++p;
    return kUtf8InvalidBase + b0;
  }
  for (int i = 1; i <= extra; ++i) {
    if (!IsUtf8Continuation(p[i])) {
      ++p;
      return kUtf8InvalidBase + b0;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++p;
    return kUtf8InvalidBase + b0;
  }
  p += extra + 1;
  return cp;
}

// Appends the UTF-8 bytes of a code point (or the byte an ill-formed one stood for).
inline void AppendUtf8(std::string& out, char32_t cp) {
  if (cp >= kUtf8InvalidBase) {
    out.push_back(static_cast<char>(cp - kUtf8InvalidBase));
  } else if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace zel::util
