// Package tables as SQL, for packages built in memory by tests and roads.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vrintest {

// A text as an SQL string literal: in single quotes, each quote doubled.
std::string SqlText(const std::string& text);

// An Error table with the given rows (number, template).
std::vector<std::string> ErrorTableSql(const std::vector<std::pair<int, std::string>>& rows);

// The rows a package of Windows Installer's standard user interface carries
// for the library's three trace rows.
std::vector<std::string> TraceRowsSql();

// The integration kit's rows that mark failure (1) and warning (2) lines with
// "ERR: " and "WARN: "; ordinary trace lines (4) stay as they are, so a test
// sees each line's row. The package's own rows may follow.
std::vector<std::string> RowMarkersSql(std::vector<std::pair<int, std::string>> rows = {});

}  // namespace vrintest
