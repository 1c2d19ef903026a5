#include "host/condition.h"

#include <cstdint>
#include <optional>

#include "host/session.h"

namespace host {

namespace {

// Deeper nesting of parentheses or NOT is refused rather than recursed into.
constexpr int kMaxDepth = 200;

enum class TokenKind {
  kEnd,
  kLeftParen,
  kRightParen,
  kNot,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
  kInteger,
  kLiteral,
  kSymbol,  // text holds the name; sigil is 0 for a property
  kCompare,
};

enum class CompareOp { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual, kContains, kStarts, kEnds };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  char sigil = 0;
  int64_t number = 0;
  CompareOp op = CompareOp::kEqual;
  bool foldCase = false;
};

struct SyntaxError {};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentifierStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentifierChar(char c) { return IsIdentifierStart(c) || IsDigit(c) || c == '.'; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& a, const char* keyword) {
  size_t i = 0;
  for (; i < a.size() && keyword[i] != '\0'; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(keyword[i])) return false;
  }
  return i == a.size() && keyword[i] == '\0';
}

// Digits past this saturate: integers beyond the installer's range are not
// meaningful, but must not overflow.
constexpr int64_t kSaturation = int64_t{1} << 40;

int64_t AccumulateDigit(int64_t value, char digit) {
  if (value >= kSaturation) return value;
  return value * 10 + (digit - '0');
}

// A symbol's text as an integer: an optional "-" and at least one digit,
// nothing else (no blanks, no "+", no "0x").
std::optional<int64_t> TextAsInteger(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = AccumulateDigit(value, text[i]);
  }
  return negative ? -value : value;
}

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    Token token;
    if (pos_ >= text_.size()) return token;
    char c = text_[pos_];
    if (c == '(') {
      ++pos_;
      token.kind = TokenKind::kLeftParen;
      return token;
    }
    if (c == ')') {
      ++pos_;
      token.kind = TokenKind::kRightParen;
      return token;
    }
    if (c == '"') {
      size_t close = text_.find('"', pos_ + 1);
      if (close == std::string::npos) throw SyntaxError{};
      token.kind = TokenKind::kLiteral;
      token.text = text_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
      return token;
    }
    if (IsDigit(c) || (c == '-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
      bool negative = c == '-';
      if (negative) ++pos_;
      int64_t value = 0;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) value = AccumulateDigit(value, text_[pos_++]);
      token.kind = TokenKind::kInteger;
      token.number = negative ? -value : value;
      return token;
    }
    if (c == '%' || c == '$' || c == '?' || c == '&' || c == '!') {
      ++pos_;
      token.kind = TokenKind::kSymbol;
      token.sigil = c;
      token.text = Identifier();
      return token;
    }
    if (IsIdentifierStart(c)) {
      std::string word = Identifier();
      static const struct {
        const char* keyword;
        TokenKind kind;
      } kKeywords[] = {{"NOT", TokenKind::kNot}, {"AND", TokenKind::kAnd}, {"OR", TokenKind::kOr},
                       {"XOR", TokenKind::kXor}, {"EQV", TokenKind::kEqv}, {"IMP", TokenKind::kImp}};
      for (const auto& entry : kKeywords) {
        if (EqualsIgnoringCase(word, entry.keyword)) {
          token.kind = entry.kind;
          return token;
        }
      }
      token.kind = TokenKind::kSymbol;
      token.text = word;
      return token;
    }
    if (c == '~') {
      ++pos_;
      token.foldCase = true;
    }
    token.kind = TokenKind::kCompare;
    token.op = Operator();
    return token;
  }

 private:
  std::string Identifier() {
    if (pos_ >= text_.size() || !IsIdentifierStart(text_[pos_])) throw SyntaxError{};
    size_t start = pos_;
    while (pos_ < text_.size() && IsIdentifierChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  // The comparison operator at the current position, longest match first.
  CompareOp Operator() {
    static const struct {
      const char* text;
      CompareOp op;
    } kOperators[] = {{"<>", CompareOp::kNotEqual}, {"<=", CompareOp::kLessEqual}, {">=", CompareOp::kGreaterEqual},
                      {"><", CompareOp::kContains}, {"<<", CompareOp::kStarts},    {">>", CompareOp::kEnds},
                      {"<", CompareOp::kLess},      {">", CompareOp::kGreater},    {"=", CompareOp::kEqual}};
    for (const auto& entry : kOperators) {
      size_t length = std::char_traits<char>::length(entry.text);
      if (text_.compare(pos_, length, entry.text) == 0) {
        pos_ += length;
        return entry.op;
      }
    }
    throw SyntaxError{};
  }

  const std::string& text_;
  size_t pos_ = 0;
};

struct Value {
  enum class Kind { kInteger, kLiteral, kSymbol } kind = Kind::kLiteral;
  int64_t number = 0;
  std::string text;
};

bool NumericCompare(CompareOp op, int64_t left, int64_t right) {
  uint32_t bits = static_cast<uint32_t>(left);
  switch (op) {
    case CompareOp::kEqual:
      return left == right;
    case CompareOp::kNotEqual:
      return left != right;
    case CompareOp::kLess:
      return left < right;
    case CompareOp::kGreater:
      return left > right;
    case CompareOp::kLessEqual:
      return left <= right;
    case CompareOp::kGreaterEqual:
      return left >= right;
    case CompareOp::kContains:
      return (bits & static_cast<uint32_t>(right)) != 0;
    case CompareOp::kStarts:
      return static_cast<int64_t>(bits >> 16) == right;
    case CompareOp::kEnds:
      return static_cast<int64_t>(bits & 0xFFFF) == right;
  }
  return false;
}

// Byte-wise ordering; fold selects ASCII case folding.
int TextOrder(const std::string& left, const std::string& right, bool fold) {
  size_t common = left.size() < right.size() ? left.size() : right.size();
  for (size_t i = 0; i < common; ++i) {
    unsigned char a = static_cast<unsigned char>(fold ? FoldAscii(left[i]) : left[i]);
    unsigned char b = static_cast<unsigned char>(fold ? FoldAscii(right[i]) : right[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

bool SameText(const std::string& left, size_t offset, const std::string& right, bool fold) {
  for (size_t i = 0; i < right.size(); ++i) {
    char a = left[offset + i];
    char b = right[i];
    if (fold ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
  }
  return true;
}

bool TextCompare(CompareOp op, const std::string& left, const std::string& right, bool fold) {
  switch (op) {
    case CompareOp::kEqual:
      return TextOrder(left, right, fold) == 0;
    case CompareOp::kNotEqual:
      return TextOrder(left, right, fold) != 0;
    case CompareOp::kLess:
      return TextOrder(left, right, fold) < 0;
    case CompareOp::kGreater:
      return TextOrder(left, right, fold) > 0;
    case CompareOp::kLessEqual:
      return TextOrder(left, right, fold) <= 0;
    case CompareOp::kGreaterEqual:
      return TextOrder(left, right, fold) >= 0;
    default:
      break;
  }
  // The substring operators: nothing is found in an empty text, and an empty
  // pattern is found in any other.
  if (left.empty()) return false;
  if (right.empty()) return true;
  if (right.size() > left.size()) return false;
  if (op == CompareOp::kStarts) return SameText(left, 0, right, fold);
  if (op == CompareOp::kEnds) return SameText(left, left.size() - right.size(), right, fold);
  for (size_t offset = 0; offset + right.size() <= left.size(); ++offset) {
    if (SameText(left, offset, right, fold)) return true;
  }
  return false;
}

bool Compare(CompareOp op, bool fold, const Value& left, const Value& right) {
  using Kind = Value::Kind;
  if (left.kind == Kind::kInteger || right.kind == Kind::kInteger) {
    const Value& other = left.kind == Kind::kInteger ? right : left;
    std::optional<int64_t> otherNumber;
    if (other.kind == Kind::kInteger) {
      otherNumber = other.number;
    } else if (other.kind == Kind::kSymbol) {
      otherNumber = TextAsInteger(other.text);
    }
    if (!otherNumber) return op == CompareOp::kNotEqual;
    int64_t l = left.kind == Kind::kInteger ? left.number : *otherNumber;
    int64_t r = right.kind == Kind::kInteger ? right.number : *otherNumber;
    return NumericCompare(op, l, r);
  }
  if (left.kind == Kind::kSymbol && right.kind == Kind::kSymbol) {
    std::optional<int64_t> l = TextAsInteger(left.text);
    std::optional<int64_t> r = TextAsInteger(right.text);
    if (l && r) return NumericCompare(op, *l, *r);
  }
  return TextCompare(op, left.text, right.text, fold);
}

bool Truth(const Value& value) { return value.kind == Value::Kind::kInteger ? value.number != 0 : !value.text.empty(); }

class Parser {
 public:
  Parser(const std::string& text, const Session* session) : lexer_(text), session_(session) { Advance(); }

  bool Run() {
    bool result = Expression();
    if (token_.kind != TokenKind::kEnd) throw SyntaxError{};
    return result;
  }

 private:
  void Advance() { token_ = lexer_.Next(); }

  bool Expression() {
    if (++depth_ > kMaxDepth) throw SyntaxError{};
    bool left = Equivalence();
    while (token_.kind == TokenKind::kImp) {
      Advance();
      bool right = Equivalence();
      left = !left || right;
    }
    --depth_;
    return left;
  }

  bool Equivalence() {
    bool left = ExclusiveOr();
    while (token_.kind == TokenKind::kEqv) {
      Advance();
      bool right = ExclusiveOr();
      left = left == right;
    }
    return left;
  }

  bool ExclusiveOr() {
    bool left = Or();
    while (token_.kind == TokenKind::kXor) {
      Advance();
      bool right = Or();
      left = left != right;
    }
    return left;
  }

  bool Or() {
    bool left = And();
    while (token_.kind == TokenKind::kOr) {
      Advance();
      bool right = And();
      left = left || right;
    }
    return left;
  }

  bool And() {
    bool left = Factor();
    while (token_.kind == TokenKind::kAnd) {
      Advance();
      bool right = Factor();
      left = left && right;
    }
    return left;
  }

  bool Factor() {
    if (token_.kind != TokenKind::kNot) return Term();
    if (++depth_ > kMaxDepth) throw SyntaxError{};
    Advance();
    bool result = !Factor();
    --depth_;
    return result;
  }

  bool Term() {
    if (token_.kind == TokenKind::kLeftParen) {
      Advance();
      bool result = Expression();
      if (token_.kind != TokenKind::kRightParen) throw SyntaxError{};
      Advance();
      return result;
    }
    Value left = Operand();
    if (token_.kind != TokenKind::kCompare) return Truth(left);
    CompareOp op = token_.op;
    bool fold = token_.foldCase;
    Advance();
    Value right = Operand();
    return Compare(op, fold, left, right);
  }

  Value Operand() {
    Value value;
    switch (token_.kind) {
      case TokenKind::kInteger:
        value.kind = Value::Kind::kInteger;
        value.number = token_.number;
        break;
      case TokenKind::kLiteral:
        value.kind = Value::Kind::kLiteral;
        value.text = token_.text;
        break;
      case TokenKind::kSymbol:
        value = Symbol(token_.sigil, token_.text);
        break;
      default:
        throw SyntaxError{};
    }
    Advance();
    return value;
  }

  Value Symbol(char sigil, const std::string& name) const {
    Value value;
    value.kind = Value::Kind::kSymbol;
    if (session_ == nullptr) return value;
    std::optional<ItemState> state;
    switch (sigil) {
      case 0:
        value.text = session_->GetProperty(name);
        return value;
      case '%':
        value.text = session_->Environment(name);
        return value;
      case '&':
      case '!':
        state = session_->FeatureState(name);
        break;
      default:
        state = session_->ComponentState(name);
        break;
    }
    // An unknown feature or component reads as an empty text.
    if (!state) return value;
    value.kind = Value::Kind::kInteger;
    value.number = (sigil == '&' || sigil == '$') ? state->action : state->installed;
    return value;
  }

  Lexer lexer_;
  const Session* session_;
  Token token_;
  int depth_ = 0;
};

}  // namespace

MSICONDITION EvaluateCondition(const std::string& condition, const Session* session) {
  bool blank = true;
  for (char c : condition) blank = blank && IsSpace(c);
  if (blank) return MSICONDITION_NONE;
  try {
    Parser parser(condition, session);
    return parser.Run() ? MSICONDITION_TRUE : MSICONDITION_FALSE;
  } catch (const SyntaxError&) {
    return MSICONDITION_ERROR;
  }
}

}  // namespace host
