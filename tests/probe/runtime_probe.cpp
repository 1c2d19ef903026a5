// Runs the library's helpers from a script and prints their trace and
// results, so that one script can be played on the simulated machine and,
// built for win64, on Wine's real registry and file system, and the two
// outputs compared line by line.
//
// Script lines: a command and its arguments separated by '|'; blank lines and
// lines starting with '#' are skipped.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/platform.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '|')) fields.push_back(field);
  return fields;
}

DWORD Number(const std::string& text) { return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10)); }

// Runs one command; false for an unknown command or wrong arguments.
bool Run(const std::vector<std::string>& f) {
  const std::string& command = f[0];
  if (command == "regget" && f.size() == 3) {
    char* szValue = InstallGetRegString(0, f[1].c_str(), f[2].c_str());
    printf("= %s\n", szValue != nullptr ? szValue : "(null)");
    InstallFreeString(szValue);
  } else if (command == "regval" && f.size() == 4) {
    printf("= %lu\n", static_cast<unsigned long>(InstallGetRegValue(0, f[1].c_str(), f[2].c_str(), Number(f[3]))));
  } else if (command == "regset" && f.size() == 4) {
    printf("= %ld\n", static_cast<long>(InstallSetRegValue(0, f[1].c_str(), f[2].c_str(), Number(f[3]))));
  } else if (command == "regstr" && f.size() == 4) {
    printf("= %ld\n", static_cast<long>(InstallSetRegString(0, f[1].c_str(), f[2].c_str(), f[3].c_str())));
  } else if (command == "regdel" && f.size() == 3) {
    printf("= %ld\n", static_cast<long>(InstallDelRegValue(0, f[1].c_str(), f[2].c_str())));
  } else if (command == "regtree" && f.size() == 2) {
    printf("= %d\n", InstallDelRegTree(0, HKEY_LOCAL_MACHINE, f[1].c_str()) ? 1 : 0);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s SCRIPT\n", argv[0]);
    return 2;
  }
  std::ifstream script(argv[1]);
  if (!script) {
    fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  std::string line;
  int number = 0;
  while (std::getline(script, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    printf("> %s\n", line.c_str());
    fflush(stdout);
    if (!Run(Split(line))) {
      fprintf(stderr, "%s:%d: unknown command or wrong arguments: %s\n", argv[1], number, line.c_str());
      return 2;
    }
    fflush(stdout);
  }
  return 0;
}
