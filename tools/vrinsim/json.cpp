#include "tools/vrinsim/json.h"

#include <cmath>
#include <cstdio>

namespace vrinsim {

namespace {

// The length of the well-formed UTF-8 sequence at text[at] of two to four
// bytes; 0 when there is none (overlong forms and surrogates are not).
size_t SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  if (length == 0 || at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (size_t length = c >= 0x80 ? SequenceLength(text, i) : 0) {
      out += text.substr(i, length);
      i += length - 1;
    } else {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    }
  }
  return out + "\"";
}

void JsonWriter::NewLine() {
  out_ += "\n";
  out_.append(2 * empty_.size(), ' ');
}

// Before a value: the comma after the one before it and the line it starts,
// unless it follows its key.
void JsonWriter::Value(const std::string& text) {
  if (afterKey_) {
    afterKey_ = false;
  } else if (!empty_.empty()) {
    if (!empty_.back()) out_ += ",";
    empty_.back() = false;
    NewLine();
  }
  out_ += text;
}

void JsonWriter::Key(const std::string& name) {
  Value(JsonString(name) + ": ");
  afterKey_ = true;
}

void JsonWriter::Open(char bracket) {
  Value(std::string(1, bracket));
  empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
  const bool wasEmpty = empty_.empty() || empty_.back();
  if (!empty_.empty()) empty_.pop_back();
  if (!wasEmpty) NewLine();
  out_ += bracket;
}

void JsonWriter::String(const std::string& text) { Value(JsonString(text)); }
void JsonWriter::Integer(int64_t number) { Value(std::to_string(number)); }
void JsonWriter::Unsigned(uint64_t number) { Value(std::to_string(number)); }
void JsonWriter::Bool(bool value) { Value(value ? "true" : "false"); }
void JsonWriter::Null() { Value("null"); }

void JsonWriter::Number(double number) {
  if (!std::isfinite(number)) return Null();
  char text[40];
  snprintf(text, sizeof(text), std::fabs(number) < 1e15 ? "%.3f" : "%.17g", number);
  Value(text);
}

void JsonWriter::Strings(const std::string& name, const std::vector<std::string>& texts) {
  Key(name);
  BeginArray();
  for (const std::string& text : texts) String(text);
  EndArray();
}

}  // namespace vrinsim
