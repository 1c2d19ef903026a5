// A small JSON writer for vrinsim's reports: objects and arrays written in
// order, indented two spaces, every string escaped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrinsim {

// The text as a JSON string, quotes included. Quotes, backslashes and
// control characters are escaped; a byte that is not part of well-formed
// UTF-8 is written as the character of the same number (\u00XX), as a
// Windows-1252 text's letters mostly are, so the result is always valid.
std::string JsonString(const std::string& text);

class JsonWriter {
 public:
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  // The next value's name in the object being written.
  void Key(const std::string& name);
  void String(const std::string& text);
  void Integer(int64_t number);
  void Unsigned(uint64_t number);
  void Number(double number);  // null when not finite
  void Bool(bool value);
  void Null();

  // Key and value in one.
  void Field(const std::string& name, const std::string& text) { Key(name), String(text); }
  void Field(const std::string& name, const char* text) { Key(name), String(text); }
  void Field(const std::string& name, int64_t number) { Key(name), Integer(number); }
  void Field(const std::string& name, uint64_t number) { Key(name), Unsigned(number); }
  void Field(const std::string& name, int number) { Key(name), Integer(number); }
  void Field(const std::string& name, double number) { Key(name), Number(number); }
  void Field(const std::string& name, bool value) { Key(name), Bool(value); }
  void Strings(const std::string& name, const std::vector<std::string>& texts);

  // The document, ended by a line end.
  std::string Text() const { return out_ + "\n"; }

 private:
  void Open(char bracket);
  void Close(char bracket);
  void Value(const std::string& text);
  void NewLine();

  std::string out_;
  std::vector<bool> empty_;  // per open object or array: nothing in it yet
  bool afterKey_ = false;
};

}  // namespace vrinsim
