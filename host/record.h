// Installer records: field 0 is the template, fields 1..n hold null, an
// integer or a string.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/handles.h"

namespace host {

class Session;

class Record : public HandleObject {
 public:
  using Field = std::variant<std::monostate, int, std::string>;

  explicit Record(unsigned int fieldCount) : fields_(fieldCount + 1) {}
  HandleKind Kind() const override { return HandleKind::kRecord; }

  unsigned int FieldCount() const { return static_cast<unsigned int>(fields_.size() - 1); }
  bool InRange(unsigned int field) const { return field < fields_.size(); }
  bool IsNull(unsigned int field) const;
  // The field as text: an integer in decimal, null as "".
  std::string Text(unsigned int field) const;
  std::optional<int> Integer(unsigned int field) const;
  void SetString(unsigned int field, const std::string& value);
  void SetInteger(unsigned int field, int value);
  void SetNull(unsigned int field);

 private:
  std::vector<Field> fields_;
};

// Formats a record by Windows Installer's formatted-text rules (host/format.cpp
// lists them): its template (field 0) with field, property, file, component,
// environment, escape and NUL references and {...} groups. Without a template
// the fields are listed as "1: a 2: b ". Without a session, only field
// references are replaced.
std::string FormatRecord(const Record& record, const Session* session);

// A field's value as it is put into formatted text: with a session its
// property references are resolved; its field references stay.
std::string FormatFieldValue(const std::string& value, const Session* session);

}  // namespace host
