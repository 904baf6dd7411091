#include "db/embedded/lexer.h"

#include <cctype>

#include "db/client.h"

namespace zel::db::embedded {

namespace {

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c == '@' || c >= 0x80;
}

// The scanner: one step per kind of token, each called with the position at the token's
// first character and leaving it just past the token.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text), n_(text.size()) {}

  std::vector<Token> Run() {
    while (i_ < n_) {
      if (SkipBlankOrComment()) continue;
      ScanToken();
    }
    Token end;
    end.offset = n_;
    out_.push_back(end);
    return std::move(out_);
  }

 private:
  bool At(std::size_t k, char c) const { return k < n_ && s_[k] == c; }
  bool DigitAt(std::size_t k) const {
    return k < n_ && std::isdigit(static_cast<unsigned char>(s_[k]));
  }

  void Push(TokenKind kind, std::string text, std::size_t at) {
    Token t;
    t.kind = kind;
    t.upper = kind == TokenKind::Identifier ? UpperAscii(text) : std::string();
    t.text = std::move(text);
    t.offset = at;
    out_.push_back(std::move(t));
  }

  // White space, a -- line comment or a /* block comment */ (block comments nest).
  bool SkipBlankOrComment() {
    const unsigned char c = static_cast<unsigned char>(s_[i_]);
    if (std::isspace(c)) {
      ++i_;
      return true;
    }
    if (c == '-' && At(i_ + 1, '-')) {
      while (i_ < n_ && s_[i_] != '\n') ++i_;
      return true;
    }
    if (c == '/' && At(i_ + 1, '*')) {
      SkipBlockComment();
      return true;
    }
    return false;
  }

  void SkipBlockComment() {
    int depth = 1;
    i_ += 2;
    while (i_ < n_ && depth > 0) {
      if (s_[i_] == '/' && At(i_ + 1, '*')) {
        ++depth;
        i_ += 2;
      } else if (s_[i_] == '*' && At(i_ + 1, '/')) {
        --depth;
        i_ += 2;
      } else {
        ++i_;
      }
    }
    if (depth > 0) throw DbError("Missing end comment mark '*/'.");
  }

  void ScanToken() {
    const unsigned char c = static_cast<unsigned char>(s_[i_]);
    if ((c == 'N' || c == 'n') && At(i_ + 1, '\'')) return ScanString(true);
    if (c == '\'') return ScanString(false);
    if (c == '[' || c == '"') return ScanQuotedIdent(c == '[' ? ']' : '"');
    if (c == '@') return ScanWord(TokenKind::Variable);
    if (c == '#' || IsWordStart(c)) return ScanWord(TokenKind::Identifier);
    if (std::isdigit(c) || (c == '.' && DigitAt(i_ + 1))) return ScanNumber();
    if (c == '?') return ScanParam();
    ScanOperator();
  }

  // The text up to the closing character, a doubled closing character standing for one;
  // i_ is at the opening character.
  std::string ReadQuoted(char close) {
    std::string text;
    ++i_;
    while (i_ < n_) {
      if (s_[i_] == close) {
        if (At(i_ + 1, close)) {
          text += close;
          i_ += 2;
          continue;
        }
        ++i_;
        return text;
      }
      text += s_[i_++];
    }
    throw DbError("Unclosed quotation mark after the character string '" + text + "'.");
  }

  // '...' or N'...'.
  void ScanString(bool unicode) {
    const std::size_t start = i_;
    if (unicode) ++i_;
    Push(TokenKind::String, ReadQuoted('\''), start);
    out_.back().unicode = unicode;
  }

  // [name] or "name".
  void ScanQuotedIdent(char close) {
    const std::size_t start = i_;
    Push(TokenKind::QuotedIdent, ReadQuoted(close), start);
  }

  // A word, #temp name or @variable: the first character, then word characters.
  void ScanWord(TokenKind kind) {
    const std::size_t start = i_++;
    while (i_ < n_ && IsWordChar(static_cast<unsigned char>(s_[i_]))) ++i_;
    Push(kind, std::string(s_.substr(start, i_ - start)), start);
  }

  // Digits, an optional fraction and an optional exponent (only when digits follow it).
  void ScanNumber() {
    const std::size_t start = i_;
    SkipDigits();
    if (At(i_, '.')) {
      ++i_;
      SkipDigits();
    }
    if (At(i_, 'e') || At(i_, 'E')) {
      std::size_t j = i_ + 1;
      if (At(j, '+') || At(j, '-')) ++j;
      if (DigitAt(j)) {
        i_ = j;
        SkipDigits();
      }
    }
    Push(TokenKind::Number, std::string(s_.substr(start, i_ - start)), start);
  }

  void SkipDigits() {
    while (DigitAt(i_)) ++i_;
  }

  void ScanParam() {
    Push(TokenKind::Param, "?", i_++);
    out_.back().param_index = params_++;
  }

  // A two-character comparison first, then a one-character operator.
  void ScanOperator() {
    static const char* const kTwo[] = {"<>", "!=", "<=", ">=", "!<", "!>"};
    const char c = s_[i_];
    for (const char* op : kTwo) {
      if (c == op[0] && At(i_ + 1, op[1])) {
        Push(TokenKind::Operator, op, i_);
        i_ += 2;
        return;
      }
    }
    if (std::string_view("=<>+-*/%(),.;~&|^").find(c) != std::string_view::npos) {
      Push(TokenKind::Operator, std::string(1, c), i_++);
      return;
    }
    throw DbError(std::string("Incorrect syntax near '") + c + "'.");
  }

  std::string_view s_;
  std::size_t n_;
  std::size_t i_ = 0;
  int params_ = 0;
  std::vector<Token> out_;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view s) { return Scanner(s).Run(); }

}  // namespace zel::db::embedded
