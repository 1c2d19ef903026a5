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
#include "runtime/file_helpers.h"
#include "runtime/install_exception.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"

#ifndef _WIN32
#include "host/filesystem.h"
#endif

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '|')) fields.push_back(field);
  return fields;
}

DWORD Number(const std::string& text) { return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10)); }

// Test files are made with the platform's own calls: the real file system on
// Windows, the simulated one natively.
bool MakeDirectory(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
#else
  host::Files().AddDirectory(path);
  return true;
#endif
}

bool MakeFile(const std::string& path, const std::string& content) {
#ifdef _WIN32
  HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(hFile, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(hFile);
  return ok != FALSE;
#else
  host::Files().AddFile(path, content);
  return true;
#endif
}

#ifdef _WIN32
HANDLE g_hHeld = INVALID_HANDLE_VALUE;
#endif

// Keeps a file open without sharing, as a running program would.
bool Hold(const std::string& path) {
#ifdef _WIN32
  g_hHeld = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return g_hHeld != INVALID_HANDLE_VALUE;
#else
  host::Files().HoldOpen(path, GENERIC_READ, 0);
  return true;
#endif
}

void Release(const std::string& path) {
#ifdef _WIN32
  (void)path;
  CloseHandle(g_hHeld);
  g_hHeld = INVALID_HANDLE_VALUE;
#else
  host::Files().Release(path);
#endif
}

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
  } else if (command == "mkdir" && f.size() == 2) {
    printf("= %d\n", MakeDirectory(f[1]) ? 1 : 0);
  } else if (command == "mkfile" && f.size() == 3) {
    printf("= %d\n", MakeFile(f[1], f[2]) ? 1 : 0);
  } else if (command == "readonly" && f.size() == 2) {
    printf("= %d\n", SetFileAttributesA(f[1].c_str(), FILE_ATTRIBUTE_READONLY) ? 1 : 0);
  } else if (command == "exists" && f.size() == 2) {
    printf("= %d\n", GetFileAttributesA(f[1].c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
  } else if (command == "hold" && f.size() == 2) {
    printf("= %d\n", Hold(f[1]) ? 1 : 0);
  } else if (command == "release" && f.size() == 2) {
    Release(f[1]);
  } else if (command == "delfile" && f.size() == 2) {
    printf("= %d\n", InstallDeleteFile(0, f[1].c_str()) ? 1 : 0);
  } else if (command == "deldir" && f.size() == 3) {
    InstallDeleteDirectory(0, f[1].c_str(), f[2] == "recursive" ? TRUE : FALSE);
  } else if (command == "deltree" && f.size() == 2) {
    try {
      InstallDeleteEntireDirectory(0, f[1].c_str());
    } catch (CInstallException* pException) {
      printf("raised %s %lu\n", pException->m_szContext, static_cast<unsigned long>(pException->m_dwError));
      delete pException;
    }
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
