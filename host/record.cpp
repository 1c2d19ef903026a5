#include "host/record.h"

#include <cstdlib>

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

}  // namespace host
