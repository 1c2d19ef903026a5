#include "host/record.h"

#include <cctype>
#include <cstdlib>

#include "host/session.h"

namespace host {

bool Record::IsNull(unsigned int field) const {
  if (!InRange(field)) return true;
  const Field& value = fields_[field];
  if (std::holds_alternative<std::monostate>(value)) return true;
  // An empty string reads back as null, as in Windows Installer.
  const std::string* text = std::get_if<std::string>(&value);
  return text != nullptr && text->empty();
}

std::string Record::Text(unsigned int field) const {
  if (!InRange(field)) return "";
  const Field& value = fields_[field];
  if (const int* number = std::get_if<int>(&value)) return std::to_string(*number);
  if (const std::string* text = std::get_if<std::string>(&value)) return *text;
  return "";
}

std::optional<int> Record::Integer(unsigned int field) const {
  if (!InRange(field)) return std::nullopt;
  const Field& value = fields_[field];
  if (const int* number = std::get_if<int>(&value)) return *number;
  if (const std::string* text = std::get_if<std::string>(&value)) {
    if (text->empty()) return std::nullopt;
    char* end = nullptr;
    long parsed = std::strtol(text->c_str(), &end, 10);
    if (*end == '\0') return static_cast<int>(parsed);
  }
  return std::nullopt;
}

void Record::SetString(unsigned int field, const std::string& value) {
  if (InRange(field)) fields_[field] = value;
}

void Record::SetInteger(unsigned int field, int value) {
  if (InRange(field)) fields_[field] = value;
}

void Record::SetNull(unsigned int field) {
  if (InRange(field)) fields_[field] = std::monostate{};
}

namespace {

struct Expansion {
  std::string text;
  bool hadReference = false;
  bool anyEmpty = false;
};

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Expands one [...] reference; nullopt keeps it as written.
std::optional<std::string> ExpandReference(const std::string& name, const Record& record, const Session* session) {
  if (AllDigits(name)) return record.Text(static_cast<unsigned int>(std::strtoul(name.c_str(), nullptr, 10)));
  if (name.size() == 2 && name[0] == '\\') return name.substr(1);
  if (name == "~") return std::string(1, '\0');
  if (name.size() > 1 && name[0] == '%') {
    const char* value = std::getenv(name.c_str() + 1);
    return std::string(value != nullptr ? value : "");
  }
  if (session == nullptr) return std::nullopt;
  return session->GetProperty(name);
}

// Expands text from position pos up to the closing brace of a group (when
// inGroup) or the end.
Expansion Expand(const std::string& text, size_t& pos, bool inGroup, const Record& record, const Session* session) {
  Expansion out;
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '}' && inGroup) {
      ++pos;
      return out;
    }
    if (c == '{') {
      ++pos;
      Expansion group = Expand(text, pos, true, record, session);
      if (!group.hadReference) {
        out.text += "{" + group.text + "}";
      } else if (!group.anyEmpty) {
        out.text += group.text;
      }
      continue;
    }
    if (c == '[') {
      size_t close = text.find(']', pos + 1);
      if (close == std::string::npos) {
        out.text += text.substr(pos);
        pos = text.size();
        break;
      }
      std::string name = text.substr(pos + 1, close - pos - 1);
      pos = close + 1;
      std::optional<std::string> value = ExpandReference(name, record, session);
      if (!value) {
        out.text += "[" + name + "]";
        continue;
      }
      out.hadReference = true;
      if (value->empty()) out.anyEmpty = true;
      out.text += *value;
      continue;
    }
    out.text += c;
    ++pos;
  }
  return out;
}

}  // namespace

std::string FormatRecord(const Record& record, const Session* session) {
  if (record.IsNull(0)) {
    std::string listed;
    for (unsigned int field = 1; field <= record.FieldCount(); ++field) {
      listed += std::to_string(field) + ": " + record.Text(field) + " ";
    }
    return listed;
  }
  std::string templ = record.Text(0);
  size_t pos = 0;
  return Expand(templ, pos, false, record, session).text;
}

}  // namespace host
