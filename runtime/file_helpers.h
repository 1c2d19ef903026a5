// File-system helpers: version of a file, deletion of files and folders
// (what is in use is scheduled for deletion at the next restart), and opening
// a document of the installation source with the shell.
#pragma once

#include "host/platform.h"

// A copy of the file's fixed version block (52 bytes), owned by the caller
// (delete). Raises on every failure.
VS_FIXEDFILEINFO* InstallGetFileVersion(MSIHANDLE hInstall, const char* szPath);

// TRUE only when the file is gone now; a read-only file is made writable
// first; a file that cannot be deleted now is scheduled for the restart.
// Never raises: failures are reported.
BOOL InstallDeleteFile(MSIHANDLE hInstall, const char* szPath);

// Removes the folder, or schedules it for the restart; with bRecursive the
// ancestors follow, up to the drive. Never raises: failures are reported.
void InstallDeleteDirectory(MSIHANDLE hInstall, const char* szPath, BOOL bRecursive);

// Deletes the folder's files and subfolders, then the folder. Raises only
// when the folder cannot be listed.
void InstallDeleteEntireDirectory(MSIHANDLE hInstall, const char* szPath);

// Opens szFile, relative to the source folder "UnCompressedFolder", with the
// shell's default verb. Raises on failure.
void InstallLaunch(MSIHANDLE hInstall, const char* szFile);
