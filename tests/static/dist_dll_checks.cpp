#include "tests/static/dist_dll_checks.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The first word of a line, ending at white space or at "=" of "name=internal".
std::string FirstWord(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  return word.substr(0, word.find('='));
}

// Reads a module-definition file: LIBRARY names the DLL; each line under
// EXPORTS names an export by its first word (a line may go on with "@1",
// "= internal", NONAME, ...). Another section keyword ends the exports.
bool ReadDefFile(const std::string& path, std::string* library, std::vector<std::string>* exports) {
  static const char* const kSectionKeywords[] = {"NAME",     "LIBRARY",  "DESCRIPTION", "STACKSIZE",
                                                 "HEAPSIZE", "SECTIONS", "VERSION",     "IMPORTS"};
  std::ifstream in(path);
  if (!in) return false;
  bool inExports = false;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find(';'));
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    if (first == "EXPORTS") {
      inExports = true;
      std::string rest;
      std::getline(words, rest);
      first = FirstWord(rest);
      if (first.empty()) continue;
    } else if (std::find(std::begin(kSectionKeywords), std::end(kSectionKeywords), first) !=
               std::end(kSectionKeywords)) {
      inExports = false;
      if (first == "LIBRARY") words >> *library;
      continue;
    } else {
      first = FirstWord(line);
    }
    if (inExports) exports->push_back(first);
  }
  return true;
}

}  // namespace

void DistDllTest::SetUp() {
  path_ = std::string(VRINCA_DIST_DIR) + "/" + GetParam().subdirectory + "/vrinca.dll";
  std::string error;
  image_ = host::PeImage::Load(path_, &error);
  ASSERT_TRUE(image_.has_value()) << path_ << ": " << error;

  const std::string defPath = VRINCA_SOURCE_DIR "/resources/vrinca.def";
  ASSERT_TRUE(ReadDefFile(defPath, &defLibrary_, &defExports_)) << "cannot read " << defPath;
  ASSERT_FALSE(defExports_.empty()) << defPath << " lists no exports";
}

TEST_P(DistDllTest, IsADllForTheTargetMachine) {
  EXPECT_EQ(image_->Machine(), GetParam().machine) << path_;
  EXPECT_EQ(image_->IsPe32Plus(), GetParam().pe32Plus) << path_;
  EXPECT_NE(image_->Characteristics() & host::kImageFileDll, 0) << path_ << " is not marked as a DLL";
}

TEST_P(DistDllTest, ExportsExactlyTheDefFileNames) {
  std::string error;
  std::vector<std::string> exported = image_->ExportNames(&error);
  ASSERT_EQ(error, "");
  std::vector<std::string> expected = defExports_;
  std::sort(exported.begin(), exported.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(exported, expected);
}

// Windows Installer finds a custom action's entry point by its plain name; a
// stdcall "_Name@4" or a C++ mangled name would not be found.
TEST_P(DistDllTest, ExportNamesAreUndecorated) {
  std::string error;
  std::vector<std::string> exported = image_->ExportNames(&error);
  ASSERT_EQ(error, "");
  ASSERT_FALSE(exported.empty());
  for (const std::string& name : exported) {
    EXPECT_EQ(name.find('@'), std::string::npos) << name;
    EXPECT_EQ(name.find('?'), std::string::npos) << name;
    EXPECT_FALSE(StartsWith(name, "_")) << name;
  }
}

TEST_P(DistDllTest, ExportDirectoryNamesTheLibrary) {
  ASSERT_FALSE(defLibrary_.empty()) << "the .def file has no LIBRARY line";
  std::string error;
  EXPECT_EQ(Lower(image_->ExportDllName(&error)), Lower(defLibrary_));
  EXPECT_EQ(error, "");
}

// The DLL is copied alone into the package's Binary table, so anything it
// imports must already be on every Windows system.
TEST_P(DistDllTest, ImportsOnlySystemDlls) {
  static const char* const kAllowed[] = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll", "version.dll",
                                         "mpr.dll",      "msi.dll",      "msvcrt.dll", "ole32.dll"};
  std::string error;
  std::vector<std::string> imported = image_->ImportDllNames(&error);
  ASSERT_EQ(error, "");
  ASSERT_FALSE(imported.empty()) << path_ << " has no import directory";
  for (const std::string& dll : imported) {
    EXPECT_NE(std::find(std::begin(kAllowed), std::end(kAllowed), Lower(dll)), std::end(kAllowed))
        << path_ << " imports " << dll;
  }
}

TEST_P(DistDllTest, ImportsNoMinGWRuntime) {
  std::string error;
  std::vector<std::string> imported = image_->ImportDllNames(&error);
  ASSERT_EQ(error, "");
  for (const std::string& dll : imported) {
    const std::string name = Lower(dll);
    EXPECT_FALSE(StartsWith(name, "libgcc")) << dll << ": libgcc must be linked statically";
    EXPECT_FALSE(StartsWith(name, "libstdc++")) << dll << ": libstdc++ must be linked statically";
    EXPECT_FALSE(StartsWith(name, "libwinpthread")) << dll << ": winpthread must be linked statically";
  }
}

// NETAPI32 is loaded at run time where it is needed; a static import would
// make the whole DLL fail to load where it is missing.
TEST_P(DistDllTest, DoesNotImportNetapi32) {
  std::string error;
  std::vector<std::string> imported = image_->ImportDllNames(&error);
  ASSERT_EQ(error, "");
  for (const std::string& dll : imported) EXPECT_NE(Lower(dll), "netapi32.dll");
}
