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
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/wine/probe/msi_cases.h"

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
    std::vector<std::string> f = msicases::Split(line);
    if (f[0] == "cost") {
      for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"}) {
        UINT r = MsiDoActionA(hInstall, action);
        if (r != ERROR_SUCCESS) std::fprintf(stderr, "%s failed with %u\n", action, r);
      }
    } else if (f[0] == "env") {
      SetEnvironmentVariableA(f.size() > 1 ? f[1].c_str() : "", f.size() > 2 && !f[2].empty() ? f[2].c_str() : nullptr);
    } else if (std::optional<std::string> answer = msicases::Play(hInstall, f)) {
      std::fprintf(out, "%d\t%s\n", number, answer->c_str());
    }
  }
  MsiCloseHandle(hInstall);
  std::fclose(out);
  return 0;
}
