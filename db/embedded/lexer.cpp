#include "db/embedded/lexer.h"

#include <cctype>

#include "db/client.h"

namespace zel::db::embedded {

namespace {

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c == '@' || c >= 0x80;
}

}  // namespace

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  int params = 0;
  std::size_t i = 0, n = s.size();
  auto push = [&](TokenKind kind, std::string text, std::size_t at) {
    Token t;
    t.kind = kind;
    t.upper = kind == TokenKind::Identifier ? UpperAscii(text) : std::string();
    t.text = std::move(text);
    t.offset = at;
    out.push_back(std::move(t));
  };
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      int depth = 1;
      i += 2;
      while (i < n && depth > 0) {
        if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      }
      if (depth > 0) throw DbError("Missing end comment mark '*/'.");
      continue;
    }
    std::size_t start = i;
    bool unicode = false;
    if ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'') {
      unicode = true;
      ++i;
      c = '\'';
    }
    if (c == '\'') {
      std::string text;
      ++i;
      bool closed = false;
      while (i < n) {
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            text += '\'';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        text += s[i++];
      }
      if (!closed)
        throw DbError("Unclosed quotation mark after the character string '" + text + "'.");
      push(TokenKind::String, std::move(text), start);
      out.back().unicode = unicode;
      continue;
    }
    if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      std::string text;
      ++i;
      bool closed = false;
      while (i < n) {
        if (s[i] == close) {
          if (i + 1 < n && s[i + 1] == close) {
            text += close;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        text += s[i++];
      }
      if (!closed)
        throw DbError("Unclosed quotation mark after the character string '" + text + "'.");
      push(TokenKind::QuotedIdent, std::move(text), start);
      continue;
    }
    if (c == '@') {
      ++i;
      while (i < n && IsWordChar(static_cast<unsigned char>(s[i]))) ++i;
      push(TokenKind::Variable, std::string(s.substr(start, i - start)), start);
      continue;
    }
    if (c == '#' || IsWordStart(c)) {
      ++i;
      while (i < n && IsWordChar(static_cast<unsigned char>(s[i]))) ++i;
      push(TokenKind::Identifier, std::string(s.substr(start, i - start)), start);
      continue;
    }
    if (std::isdigit(c) ||
        (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      if (i < n && s[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      }
      if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) {
          i = j;
          while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        }
      }
      push(TokenKind::Number, std::string(s.substr(start, i - start)), start);
      continue;
    }
    if (c == '?') {
      ++i;
      push(TokenKind::Param, "?", start);
      out.back().param_index = params++;
      continue;
    }
    static const char* const kTwo[] = {"<>", "!=", "<=", ">=", "!<", "!>"};
    bool matched = false;
    if (i + 1 < n) {
      for (const char* op : kTwo) {
        if (s[i] == op[0] && s[i + 1] == op[1]) {
          push(TokenKind::Operator, op, start);
          i += 2;
          matched = true;
          break;
        }
      }
    }
    if (matched) continue;
    if (std::string_view("=<>+-*/%(),.;~&|^").find(static_cast<char>(c)) !=
        std::string_view::npos) {
      push(TokenKind::Operator, std::string(1, static_cast<char>(c)), start);
      ++i;
      continue;
    }
    throw DbError(std::string("Incorrect syntax near '") + static_cast<char>(c) + "'.");
  }
  Token end;
  end.offset = n;
  out.push_back(end);
  return out;
}

}  // namespace zel::db::embedded
