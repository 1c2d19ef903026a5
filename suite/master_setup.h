// The three exports the backup suite's master setup calls outside any
// installer session: examine the local or a remote machine, write the
// configuration profile the package later reads, and a step with nothing to
// do. They keep nothing between calls and raise nothing to the caller.
#pragma once

#include <cstddef>

#include "host/platform.h"

// The master setup's record for this product. The master setup owns it and
// the parts the library never touches; the offsets are shared by both
// programs and must not move.
struct ComponentInstallInfo {
  BYTE abMasterSetup[104];
  INT bWriteInstallDir;  // non-zero: CreateConfigProfile may write the folder
  INT bInstallDirFixed;  // set (never cleared) for a folder that stays
  char szInstallDir[MAX_PATH];
  BYTE abUntouched[16];
  // The components found, in the order found; the count is not stored.
  char szComponents[2][MAX_PATH];
};

static_assert(offsetof(ComponentInstallInfo, bWriteInstallDir) == 104, "bWriteInstallDir moved");
static_assert(offsetof(ComponentInstallInfo, bInstallDirFixed) == 108, "bInstallDirFixed moved");
static_assert(offsetof(ComponentInstallInfo, szInstallDir) == 112, "szInstallDir moved");
static_assert(offsetof(ComponentInstallInfo, szComponents) == 388, "szComponents moved");
static_assert(sizeof(ComponentInstallInfo::szComponents[0]) == 260, "component entries are 260 bytes");

// Result flags of CheckInstallInfo.
const int kCheckCannotContinue = 0;
const int kCheckNothingFound = 1;
const int kCheckCurrent = 4;
const int kCheckUpgrade = 9;
const int kCheckSmallBusinessServer = 2;

extern "C" {

// Examines machineName (null or the local name: this machine) and fills
// info; fullCheck 0 only fills the installation folder. Arguments 2, 3, 5
// and 8 belong to the master setup and are not read.
int __cdecl CheckInstallInfo(const char* machineName, ULONG_PTR uUnused2, ULONG_PTR uUnused3, char* message,
                             ULONG_PTR uUnused5, ComponentInstallInfo* info, const char* profilePath,
                             ULONG_PTR uUnused8, int fullCheck);

// Writes VRIN/INSTALLDIR (unless the folder is fixed or not to be written)
// and VRIN/MASTERSETUP = "1" into profilePath: 1, or 0 when a write failed.
// Reads only info and profilePath.
int __cdecl CreateConfigProfile(const char* machineName, ULONG_PTR uUnused2, ULONG_PTR uUnused3, char* message,
                                ULONG_PTR uUnused5, ComponentInstallInfo* info, const char* profilePath,
                                ULONG_PTR uUnused8, int fullCheck);

// Nothing to do after the configuration: always 1; reads no argument.
int __cdecl GetPostConfigInfo();
}
