// What the console tests share: the registry paths, the trace and report
// lines as the installation log shows them (row 1 "ERR: ", row 2 "WARN: "),
// and checks that an action left no key, file, listing, installer handle,
// item list, allocator reference or library allocation behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/registry.h"
#include "host/shell_folders.h"
#include "tests/support/session_fixture.h"

namespace vrintest {

using Lines = std::vector<std::string>;

inline const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
inline const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
inline const std::string kProductPath = std::string("HKEY_LOCAL_MACHINE\\") + kProductKey;
inline const std::string kOldPath = std::string("HKEY_LOCAL_MACHINE\\") + kOldKey;
inline const char kIniPath[] = "C:\\WINDOWS\\skdwin.ini";

inline std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
inline std::string Warning(const std::string& text) { return "WARN: OV VRIN : " + text; }
// A failure report with the system's description of the number.
inline std::string Report(const std::string& name, long error, const std::string& context,
                          const std::string& description) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context +
         "\r\nDESCRIPTION = " + description + "\r\n";
}
// A failure report of a number the system has no text for.
inline std::string ShortReport(const std::string& name, long error, const std::string& context) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context;
}

inline const char kNotFoundText[] = "The system cannot find the file specified.";
inline const char kPathNotFoundText[] = "The system cannot find the path specified.";
inline const char kAccessDeniedText[] = "Access is denied.";

inline bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline int CountPrefixed(const Lines& lines, const std::string& prefix) {
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

// The count lines from the first that equals first.
inline Lines Slice(const Lines& lines, const std::string& first, size_t count) {
  auto it = std::find(lines.begin(), lines.end(), first);
  if (it == lines.end() || static_cast<size_t>(lines.end() - it) < count) return {"<" + first + " not found>"};
  return Lines(it, it + static_cast<std::ptrdiff_t>(count));
}

class ConsoleTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    allocations_ = host::LibraryAllocationCount();
  }

  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "an action left a key open";
    EXPECT_EQ(host::Files().OpenFileHandles(), 0) << "an action left a file open";
    EXPECT_EQ(host::Files().OpenFindHandles(), 0) << "an action left a listing open";
    EXPECT_EQ(OpenHandles(), 0) << "an action left an installer handle open";
    host::ShellFolders& shell = host::ShellFolders::Instance();
    EXPECT_EQ(shell.LiveBlocks(), 0) << "an item list was not freed";
    EXPECT_EQ(shell.AllocatorReferences(), 0) << "the shell's allocator was not released";
    EXPECT_TRUE(shell.Misuses().empty()) << shell.Misuses().front();
    EXPECT_EQ(host::LibraryAllocationCount(), allocations_) << "an action did not free what it allocated";
    SessionTest::TearDown();
  }

  MSIHANDLE Open() { return OpenSession(RowMarkersSql()); }

 private:
  size_t allocations_ = 0;
};

}  // namespace vrintest
