// Tokenizer for the Transact-SQL the system sends to the embedded engine: identifiers
// (plain, [bracketed], "quoted", #temp), @variables, N'...' strings, numbers, operators
// and the `?` parameter markers the client layer leaves in place of `:Name`.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/text.h"

namespace zel::db::embedded {

enum class TokenKind {
  End,
  Identifier,   // plain word (keyword or name); `upper` holds the upper-cased text
  QuotedIdent,  // [name] or "name": never a keyword
  Variable,     // @name or @@name (text keeps the @)
  String,       // text without quotes, '' undone; `unicode` for N'...'
  Number,       // integer or decimal literal as written
  Param,        // ? marker; `param_index` counts markers from 0 in text order
  Operator,     // = <> != < > <= >= !< !> + - * / % ( ) , . ; ~ & | ^
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;
  std::string upper;
  bool unicode = false;
  int param_index = -1;
  std::size_t offset = 0;  // byte offset in the batch text
};

// Splits a batch into tokens (comments dropped), ending with one End token.
// Raises DbError for an unterminated string, bracket or comment.
std::vector<Token> Tokenize(std::string_view text);

// Names are compared and keyed by ASCII case only, with the service's text helpers.
using util::EqualsNoCase;
using util::LowerAscii;
using util::UpperAscii;

}  // namespace zel::db::embedded
