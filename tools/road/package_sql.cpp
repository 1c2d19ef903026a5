#include "tools/road/package_sql.h"

#include "tools/road/kit_rows.h"

namespace vrintest {

std::string SqlText(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

std::vector<std::string> ErrorTableSql(const std::vector<std::pair<int, std::string>>& rows) {
  std::vector<std::string> sql = {
      "CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)"};
  for (const auto& [number, message] : rows) {
    sql.push_back("INSERT INTO `Error` (`Error`, `Message`) VALUES (" + std::to_string(number) + ", " +
                  SqlText(message) + ")");
  }
  return sql;
}

std::vector<std::string> TraceRowsSql() { return ErrorTableSql({{2, "Warning [1]. "}, {4, "Info [1]. "}}); }

// The kit's failure and warning rows. Its row 4, "[1]", is left out: without
// it the installer uses the same template, and the fault sweep replays no
// template reads of every trace line.
std::vector<std::string> RowMarkersSql(std::vector<std::pair<int, std::string>> rows) {
  for (const vrinkit::ErrorRow& row : vrinkit::ErrorRows()) {
    if (row.number == 1 || row.number == 2) rows.emplace_back(row.number, row.message);
  }
  return ErrorTableSql(rows);
}

}  // namespace vrintest
