// The common part of playing tests/wine/probe/msi_cases.txt: splitting a
// line, running the directives that are plain installer calls, and writing
// their answers the same way. msi_probe.exe plays it on Windows Installer
// (Wine's msi.dll) and the differential test on the simulated installer; each
// side handles "cost" and "env" itself.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "host/platform.h"

namespace msicases {

inline std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// Formatted text with a NUL written "\0" and other control bytes "\xHH".
inline std::string Escape(const std::string& text) {
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

inline std::string Path(UINT(WINAPI* get)(MSIHANDLE, LPCSTR, LPSTR, DWORD*), MSIHANDLE hInstall,
                        const std::string& folder) {
  char buffer[1024] = "";
  DWORD cch = sizeof(buffer);
  UINT result = get(hInstall, folder.c_str(), buffer, &cch);
  return std::to_string(result) + (result == ERROR_SUCCESS ? std::string(" ") + buffer : std::string());
}

// A field "(null)" is null, "(int)N" an integer; a template "(null)" none.
inline std::string Format(MSIHANDLE hInstall, const std::vector<std::string>& fields) {
  UINT count = fields.size() > 2 ? static_cast<UINT>(fields.size() - 2) : 0;
  MSIHANDLE hRecord = MsiCreateRecord(count);
  if (fields.size() > 1 && fields[1] != "(null)") MsiRecordSetString(hRecord, 0, fields[1].c_str());
  for (UINT i = 1; i <= count; ++i) {
    const std::string& field = fields[i + 1];
    if (field == "(null)") continue;
    if (field.compare(0, 5, "(int)") == 0) {
      MsiRecordSetInteger(hRecord, i, std::atoi(field.c_str() + 5));
    } else {
      MsiRecordSetString(hRecord, i, field.c_str());
    }
  }
  DWORD cch = 0;
  char empty[1] = "";
  UINT result = MsiFormatRecord(hInstall, hRecord, empty, &cch);
  std::string text;
  if (result == ERROR_MORE_DATA || result == ERROR_SUCCESS) {
    std::vector<char> buffer(cch + 1);
    DWORD size = cch + 1;
    result = MsiFormatRecord(hInstall, hRecord, buffer.data(), &size);
    text.assign(buffer.data(), size);
  }
  MsiCloseHandle(hRecord);
  if (result != ERROR_SUCCESS) return "error " + std::to_string(result);
  return Escape(text);
}

// The answer to one directive that is a plain installer call; nullopt for
// "set" (no answer) and for directives the caller handles ("cost", "env").
inline std::optional<std::string> Play(MSIHANDLE hInstall, const std::vector<std::string>& f) {
  const std::string& verb = f[0];
  std::string arg1 = f.size() > 1 ? f[1] : "";
  std::string arg2 = f.size() > 2 ? f[2] : "";
  if (verb == "set") {
    MsiSetProperty(hInstall, arg1.c_str(), arg2.c_str());
    return std::nullopt;
  }
  if (verb == "feature") {
    return std::to_string(
        MsiSetFeatureState(hInstall, arg1.c_str(), static_cast<INSTALLSTATE>(std::atoi(arg2.c_str()))));
  }
  if (verb == "featurestate") {
    INSTALLSTATE installed = INSTALLSTATE_BROKEN, action = INSTALLSTATE_BROKEN;
    UINT result = MsiGetFeatureState(hInstall, arg1.c_str(), &installed, &action);
    std::string answer = std::to_string(result);
    if (result == ERROR_SUCCESS) answer += " " + std::to_string(installed) + " " + std::to_string(action);
    return answer;
  }
  if (verb == "target") return Path(MsiGetTargetPath, hInstall, arg1);
  if (verb == "source") return Path(MsiGetSourcePath, hInstall, arg1);
  if (verb == "settarget") return std::to_string(MsiSetTargetPath(hInstall, arg1.c_str(), arg2.c_str()));
  if (verb == "cond") return std::to_string(MsiEvaluateCondition(hInstall, arg1.c_str()));
  if (verb == "format") return Format(hInstall, f);
  if (verb == "format0") return Format(0, f);
  if (verb == "cost" || verb == "env") return std::nullopt;
  return std::string("unknown directive");
}

}  // namespace msicases
