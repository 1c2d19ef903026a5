// Plays a table of installer calls (tests/wine/probe/msi_cases.txt) against
// Windows Installer, here Wine's msi.dll, and writes one result line per
// query: "<line number>\t<result>". The Wine differential test plays the same
// table against the simulated installer and compares the lines.
//
// Usage: msi_probe.exe <package.msi> <cases.txt> <results.txt>
//
// Directives, one a line, fields separated by tabs ('#' starts a comment):
//   cost                          CostInitialize, FileCost, CostFinalize
//   set NAME VALUE                MsiSetProperty (no VALUE: remove)
//   env NAME VALUE                SetEnvironmentVariable
//   feature NAME STATE            MsiSetFeatureState          -> result
//   featurestate NAME             MsiGetFeatureState          -> result installed action
//   target DIR / source DIR       MsiGetTargetPath / MsiGetSourcePath -> result path
//   settarget DIR PATH            MsiSetTargetPath            -> result
//   cond CONDITION                MsiEvaluateCondition        -> result
//   format TEMPLATE FIELD...      MsiFormatRecord with the session -> text
//   format0 TEMPLATE FIELD...     MsiFormatRecord without a session -> text
// A field "(null)" is null, "(int)N" an integer; a template "(null)" none.
// In formatted text a NUL is written "\0" and other control bytes "\xHH".
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u == 0) {
      out += "\\0";
    } else if (u < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Path(UINT (*get)(MSIHANDLE, LPCSTR, LPSTR, DWORD*), MSIHANDLE hInstall, const std::string& folder) {
  char buffer[1024] = "";
  DWORD cch = sizeof(buffer);
  UINT result = get(hInstall, folder.c_str(), buffer, &cch);
  return std::to_string(result) + (result == ERROR_SUCCESS ? std::string(" ") + buffer : std::string());
}

std::string Format(MSIHANDLE hInstall, const std::vector<std::string>& fields) {
  UINT count = fields.size() > 2 ? static_cast<UINT>(fields.size() - 2) : 0;
  MSIHANDLE hRecord = MsiCreateRecord(count);
  if (fields.size() > 1 && fields[1] != "(null)") MsiRecordSetStringA(hRecord, 0, fields[1].c_str());
  for (UINT i = 1; i <= count; ++i) {
    const std::string& field = fields[i + 1];
    if (field == "(null)") continue;
    if (field.compare(0, 5, "(int)") == 0) {
      MsiRecordSetInteger(hRecord, i, std::atoi(field.c_str() + 5));
    } else {
      MsiRecordSetStringA(hRecord, i, field.c_str());
    }
  }
  DWORD cch = 0;
  char empty[1] = "";
  UINT result = MsiFormatRecordA(hInstall, hRecord, empty, &cch);
  std::string text;
  if (result == ERROR_MORE_DATA || result == ERROR_SUCCESS) {
    std::vector<char> buffer(cch + 1);
    DWORD size = cch + 1;
    result = MsiFormatRecordA(hInstall, hRecord, buffer.data(), &size);
    text.assign(buffer.data(), size);
  }
  MsiCloseHandle(hRecord);
  if (result != ERROR_SUCCESS) return "error " + std::to_string(result);
  return Escape(text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: msi_probe <package.msi> <cases.txt> <results.txt>\n");
    return 2;
  }
  std::ifstream cases(argv[2], std::ios::binary);
  if (!cases) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 2;
  }
  FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 2;
  }
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MSIHANDLE hInstall = 0;
  UINT opened = MsiOpenPackageA(argv[1], &hInstall);
  if (opened != ERROR_SUCCESS) {
    std::fprintf(stderr, "MsiOpenPackage failed with %u\n", opened);
    return 3;
  }
  std::string line;
  int number = 0;
  while (std::getline(cases, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = Split(line);
    const std::string& verb = f[0];
    std::string arg1 = f.size() > 1 ? f[1] : "";
    std::string arg2 = f.size() > 2 ? f[2] : "";
    std::string result;
    if (verb == "cost") {
      for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"}) {
        UINT r = MsiDoActionA(hInstall, action);
        if (r != ERROR_SUCCESS) std::fprintf(stderr, "%s failed with %u\n", action, r);
      }
      continue;
    } else if (verb == "set") {
      MsiSetPropertyA(hInstall, arg1.c_str(), arg2.c_str());
      continue;
    } else if (verb == "env") {
      SetEnvironmentVariableA(arg1.c_str(), arg2.empty() ? nullptr : arg2.c_str());
      continue;
    } else if (verb == "feature") {
      result = std::to_string(
          MsiSetFeatureStateA(hInstall, arg1.c_str(), static_cast<INSTALLSTATE>(std::atoi(arg2.c_str()))));
    } else if (verb == "featurestate") {
      INSTALLSTATE installed = INSTALLSTATE_BROKEN, action = INSTALLSTATE_BROKEN;
      UINT r = MsiGetFeatureStateA(hInstall, arg1.c_str(), &installed, &action);
      result = std::to_string(r);
      if (r == ERROR_SUCCESS) result += " " + std::to_string(installed) + " " + std::to_string(action);
    } else if (verb == "target") {
      result = Path(MsiGetTargetPathA, hInstall, arg1);
    } else if (verb == "source") {
      result = Path(MsiGetSourcePathA, hInstall, arg1);
    } else if (verb == "settarget") {
      result = std::to_string(MsiSetTargetPathA(hInstall, arg1.c_str(), arg2.c_str()));
    } else if (verb == "cond") {
      result = std::to_string(MsiEvaluateConditionA(hInstall, arg1.c_str()));
    } else if (verb == "format") {
      result = Format(hInstall, f);
    } else if (verb == "format0") {
      result = Format(0, f);
    } else {
      result = "unknown directive";
    }
    std::fprintf(out, "%d\t%s\n", number, result.c_str());
  }
  MsiCloseHandle(hInstall);
  std::fclose(out);
  return 0;
}
