// MsiFormatRecord's formatted text. The rules are Windows Installer's as
// Wine's format conformance tests record them (including the cases Wine
// itself gets wrong, its todo_wine ones, where Windows is followed):
//
// - [n] is field n (0 the template itself, past the last field empty); [name]
//   a property; [%name] an environment variable; [#file] and [!file] a file's
//   full long or short path; [$component] a component's folder; [\x] the
//   character x; [~] a NUL character. Without a session only [n] is replaced;
//   every other reference stays as written.
// - References nest: "[[1]]" looks up the name that field 1 holds. "[]" stays
//   as written, and brackets holding a group keep their formatted content
//   between them ("[{[1]}]" is "[x]" when field 1 is "x").
// - An unmatched "[" leaves the rest of the text as it is.
// - A group "{...}" ends at the first "}" (groups do not nest): without
//   references it stays with its braces, as it does when a reference in it
//   could not be resolved; with references it becomes its content, or nothing
//   when one of them is empty. "{}" is nothing. Inside a group, "{" is text.
// - "{{" drops everything up to the next "}}"; without one, the rest of the
//   text keeps all its braces and only its references are replaced.
// - Field values are not formatted again for field references, but with a
//   session their property references are resolved.
// - A record without a template lists its fields as "1: a 2: b ".
// tests/wine/msi_differential_test.cpp lists where Wine's answers differ.
#include <string>
#include <vector>

#include "host/record.h"
#include "host/session.h"

namespace host {

namespace {

// References nested deeper than this are left as written, so that no input
// can exhaust the stack.
constexpr int kMaxNesting = 64;

struct Output {
  std::string text;
  bool reference = false;   // a reference was replaced
  bool empty = false;       // a replaced reference was empty
  bool unresolved = false;  // a reference stayed as written for want of a session
  bool brace = false;       // a group or "{{" was met

  void Merge(const Output& other) {
    text += other.text;
    reference = reference || other.reference;
    empty = empty || other.empty;
    unresolved = unresolved || other.unresolved;
    brace = brace || other.brace;
  }
};

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

class Formatter {
 public:
  // A null record formats a field's value: its field references stay.
  Formatter(const std::string& text, const Record* record, const Session* session)
      : text_(text),
        record_(record),
        session_(session),
        nextClose_(text.size() + 1),
        nextDoubleClose_(text.size() + 1) {
    size_t close = std::string::npos;
    size_t doubleClose = std::string::npos;
    for (size_t i = text.size(); i-- > 0;) {
      if (text[i] == '}') {
        if (i + 1 < text.size() && text[i + 1] == '}') doubleClose = i;
        close = i;
      }
      nextClose_[i] = close;
      nextDoubleClose_[i] = doubleClose;
    }
    nextClose_[text.size()] = std::string::npos;
    nextDoubleClose_[text.size()] = std::string::npos;
  }

  std::string Run() { return Sequence(0, text_.size(), true, false).text; }

 private:
  // Formats text_[begin, end). With groups, "{" opens a group or "{{" a
  // dropped stretch; without, braces are plain text. In a reference's
  // brackets a backslash takes the next character as part of the name.
  Output Sequence(size_t begin, size_t end, bool groups, bool inBrackets) {
    Output out;
    size_t i = begin;
    while (i < end) {
      char c = text_[i];
      if (c == '\\' && inBrackets) {
        out.text += c;
        if (i + 1 < end) out.text += text_[i + 1];
        i += 2;
        continue;
      }
      if (c == '[') {
        size_t close = MatchBracket(i, end);
        if (close == std::string::npos) {
          out.text.append(text_, i, end - i);
          break;
        }
        out.Merge(Reference(i, close));
        i = close + 1;
        continue;
      }
      if (c == '{' && groups) {
        if (i + 1 < end && text_[i + 1] == '{') {
          out.brace = true;
          size_t close = nextDoubleClose_[i + 2];
          if (close != std::string::npos && close + 2 <= end) {
            i = close + 2;
            continue;
          }
          out.Merge(Sequence(i, end, false, inBrackets));
          break;
        }
        size_t close = nextClose_[i + 1];
        if (close == std::string::npos || close >= end) {
          out.text += c;
          ++i;
          continue;
        }
        out.brace = true;
        out.text += Group(i + 1, close, inBrackets);
        i = close + 1;
        continue;
      }
      out.text += c;
      ++i;
    }
    return out;
  }

  std::string Group(size_t begin, size_t end, bool inBrackets) {
    if (begin == end) return "";
    Output content = Sequence(begin, end, false, inBrackets);
    if (content.unresolved || !content.reference) return "{" + content.text + "}";
    if (content.empty) return "";
    return content.text;
  }

  // The "]" that closes the "[" at open, before end; npos when none does.
  size_t MatchBracket(size_t open, size_t end) const {
    size_t depth = 0;
    for (size_t i = open; i < end; ++i) {
      char c = text_[i];
      if (c == '\\' && depth > 0) {
        ++i;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']' && --depth == 0) {
        return i;
      }
    }
    return std::string::npos;
  }

  // The reference text_[open, close], brackets included.
  Output Reference(size_t open, size_t close) {
    Output out;
    if (nesting_ >= kMaxNesting) {
      out.text = text_.substr(open, close - open + 1);
      return out;
    }
    ++nesting_;
    Output name = Sequence(open + 1, close, true, true);
    --nesting_;
    if (name.brace) {
      out.text = "[" + name.text + "]";
      return out;
    }
    return Resolve(name.text);
  }

  Output Resolve(const std::string& name) {
    Output out;
    if (name.empty()) {
      out.text = "[]";
      return out;
    }
    if (AllDigits(name) && record_ != nullptr) {
      out.reference = true;
      out.text = Field(name);
      out.empty = out.text.empty();
      return out;
    }
    if (session_ == nullptr || (record_ == nullptr && AllDigits(name))) {
      out.text = "[" + name + "]";
      out.unresolved = true;
      return out;
    }
    out.reference = true;
    if (name[0] == '\\') {
      out.text = name.substr(1, 1);
    } else if (name == "~") {
      out.text = std::string(1, '\0');
    } else if (name[0] == '%') {
      out.text = session_->Environment(name.substr(1));
    } else if (name[0] == '#' || name[0] == '!') {
      out.text = session_->FilePath(name.substr(1), name[0] == '!').value_or("");
    } else if (name[0] == '$') {
      out.text = session_->ComponentPath(name.substr(1)).value_or("");
    } else {
      out.text = session_->GetProperty(name);
    }
    out.empty = out.text.empty();
    return out;
  }

  std::string Field(const std::string& digits) const {
    unsigned long index = 0;
    for (char c : digits) {
      index = index * 10 + static_cast<unsigned long>(c - '0');
      if (index > record_->FieldCount()) return "";
    }
    if (index == 0) return record_->Text(0);
    return FormatFieldValue(record_->Text(static_cast<unsigned int>(index)), session_);
  }

  const std::string& text_;
  const Record* record_;
  const Session* session_;
  // For each position, the next "}" and the next "}}" at or after it.
  std::vector<size_t> nextClose_;
  std::vector<size_t> nextDoubleClose_;
  int nesting_ = 0;
};

}  // namespace

std::string FormatFieldValue(const std::string& value, const Session* session) {
  if (session == nullptr || value.find_first_of("[{") == std::string::npos) return value;
  return Formatter(value, nullptr, session).Run();
}

std::string FormatRecord(const Record& record, const Session* session) {
  if (record.IsNull(0)) {
    std::string listed;
    for (unsigned int field = 1; field <= record.FieldCount(); ++field) {
      listed += std::to_string(field) + ": " + FormatFieldValue(record.Text(field), session) + " ";
    }
    return listed;
  }
  std::string templ = record.Text(0);
  return Formatter(templ, &record, session).Run();
}

}  // namespace host
