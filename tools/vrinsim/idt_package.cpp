#include "tools/vrinsim/idt_package.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/road/package_sql.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Fields(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> fields;
  std::string field;
  for (char c : line) {
    if (c == '\t') {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(field);
  return fields;
}

// The control characters an export translates, back to themselves.
std::string Untranslate(const std::string& field) {
  std::string text;
  for (char c : field) {
    switch (c) {
      case 0x15:
        text += '\0';
        break;
      case 0x1B:
        text += '\b';
        break;
      case 0x10:
        text += '\t';
        break;
      case 0x19:
        text += '\n';
        break;
      case 0x18:
        text += '\f';
        break;
      case 0x11:
        text += '\r';
        break;
      default:
        text += c;
    }
  }
  return text;
}

struct Column {
  std::string name;
  char type;  // s, l, i (lower case)
  bool nullable;
};

std::vector<std::string> TableSql(const fs::path& path) {
  const std::string file = path.string();
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(file, 0, "cannot be read");
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(Fields(line));
  if (lines.size() < 3) throw ScenarioError(file, 0, "a table needs its column names, definitions and key line");

  std::vector<Column> columns;
  std::string definitions;
  for (size_t i = 0; i < lines[0].size(); ++i) {
    if (lines[1].size() != lines[0].size()) throw ScenarioError(file, 2, "one definition per column");
    const std::string& name = lines[0][i];
    const std::string& definition = lines[1][i];
    if (name.empty() || definition.size() < 2) throw ScenarioError(file, 2, "column \"" + name + "\" is malformed");
    char kind = static_cast<char>(std::tolower(static_cast<unsigned char>(definition[0])));
    bool nullable = std::isupper(static_cast<unsigned char>(definition[0])) != 0;
    std::string size = definition.substr(1);
    if (!std::all_of(size.begin(), size.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      throw ScenarioError(file, 2, "column \"" + name + "\" has a malformed size \"" + size + "\"");
    }
    std::string type;
    if (kind == 's' || kind == 'l') {
      type = size == "0" ? "LONGCHAR" : "CHAR(" + size + ")";
    } else if (kind == 'i') {
      if (size != "2" && size != "4") throw ScenarioError(file, 2, "integer column \"" + name + "\" is i2 or i4");
      type = size == "2" ? "SHORT" : "LONG";
    } else {
      throw ScenarioError(file, 2, "column \"" + name + "\": only string and integer columns are supported");
    }
    if (!nullable) type += " NOT NULL";
    if (kind == 'l') type += " LOCALIZABLE";
    definitions += (definitions.empty() ? "" : ", ") + ("`" + name + "` ") + type;
    columns.push_back({name, kind, nullable});
  }

  std::vector<std::string> key = lines[2];
  // A code page before the table's name: the rows are in that code page,
  // which the simulated installer reads as they are.
  if (!key.empty() && !key[0].empty() && std::isdigit(static_cast<unsigned char>(key[0][0]))) key.erase(key.begin());
  if (key.size() < 2) throw ScenarioError(file, 3, "the third line is the table's name and its key columns");
  std::string table = key[0];
  std::string primary;
  for (size_t i = 1; i < key.size(); ++i) {
    if (std::none_of(columns.begin(), columns.end(), [&](const Column& c) { return c.name == key[i]; })) {
      throw ScenarioError(file, 3, "key column \"" + key[i] + "\" is not a column");
    }
    primary += (primary.empty() ? "`" : ", `") + key[i] + "`";
  }
  std::vector<std::string> sql = {"CREATE TABLE `" + table + "` (" + definitions + " PRIMARY KEY " + primary + ")"};

  for (size_t row = 3; row < lines.size(); ++row) {
    const std::vector<std::string>& fields = lines[row];
    if (fields.size() == 1 && fields[0].empty()) continue;
    if (fields.size() != columns.size()) {
      throw ScenarioError(
          file, static_cast<int>(row + 1),
          std::to_string(fields.size()) + " fields where the table has " + std::to_string(columns.size()) + " columns");
    }
    // Empty fields are left out: they stay null.
    std::string names, values;
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string value;
      if (fields[i].empty()) {
        if (!columns[i].nullable) {
          throw ScenarioError(file, static_cast<int>(row + 1), "column \"" + columns[i].name + "\" may not be empty");
        }
        continue;
      } else if (columns[i].type == 'i') {
        const std::string& number = fields[i];
        size_t start = number[0] == '-' ? 1 : 0;
        if (start == number.size() || !std::all_of(number.begin() + start, number.end(), [](char c) {
              return std::isdigit(static_cast<unsigned char>(c));
            })) {
          throw ScenarioError(file, static_cast<int>(row + 1), "\"" + number + "\" is not an integer");
        }
        value = number;
      } else {
        value = vrintest::SqlText(Untranslate(fields[i]));
      }
      names += (names.empty() ? "`" : ", `") + columns[i].name + "`";
      values += (values.empty() ? "" : ", ") + value;
    }
    sql.push_back("INSERT INTO `" + table + "` (" + names + ") VALUES (" + values + ")");
  }
  return sql;
}

}  // namespace

std::vector<std::string> IdtTablesSql(const std::string& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".idt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> sql;
  for (const fs::path& file : files) {
    std::string stem = file.stem().string();
    // Summary information and forced code pages are not tables.
    if (stem == "_SummaryInformation" || stem == "_ForceCodepage") continue;
    std::vector<std::string> table = TableSql(file);
    sql.insert(sql.end(), table.begin(), table.end());
  }
  if (sql.empty()) throw ScenarioError(folder, 0, "holds no .idt table");
  return sql;
}

}  // namespace vrinsim
