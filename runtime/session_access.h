// Session accessors. Every returned string is allocated with new[] and owned
// by the caller (InstallFreeString); every accessor raises on failure.
#pragma once

#include "host/platform.h"

char* InstallGetProperty(MSIHANDLE hInstall, const char* szName);
char* InstallGetSourcePath(MSIHANDLE hInstall, const char* szDirectory);
char* InstallGetTargetPath(MSIHANDLE hInstall, const char* szDirectory);
char* InstallGetRecordString(MSIHANDLE hInstall, MSIHANDLE hRecord, unsigned int uField);

void InstallSetProperty(MSIHANDLE hInstall, const char* szName, int nValue);
void InstallDeleteProperty(MSIHANDLE hInstall, const char* szName);

// Frees a string of the runtime and nulls the owner's pointer.
void InstallFreeString(char*& szString);
// Closes an installer handle and nulls the owner's variable.
void InstallCloseHandle(MSIHANDLE& hHandle);
