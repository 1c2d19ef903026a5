#include "tools/road/package_sql.h"

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
    sql.push_back("INSERT INTO `Error` (`Error`, `Message`) VALUES (" + std::to_string(number) + ", '" + message +
                  "')");
  }
  return sql;
}

std::vector<std::string> TraceRowsSql() { return ErrorTableSql({{2, "Warning [1]. "}, {4, "Info [1]. "}}); }

std::vector<std::string> RowMarkersSql() { return ErrorTableSql({{1, "ERR: [1]"}, {2, "WARN: [1]"}}); }

}  // namespace vrintest
