// Single-row lookups in the running package's tables, and formatting of
// installer records. All raise on failure; returned strings are the caller's
// (InstallFreeString) and so is a returned record handle (MsiCloseHandle).
#pragma once

#include "host/platform.h"

// Runs the query and fetches its first record into *phRecord (which may be
// null: the record is then closed). A query that matches nothing raises the
// fetch failure with ERROR_NO_MORE_ITEMS.
void InstallGetARecord(MSIHANDLE hInstall, MSIHANDLE hDatabase, const char* szQuery, MSIHANDLE* phRecord);

// The Feature_ of the component's first FeatureComponents row.
char* InstallComponentGetFeature(MSIHANDLE hInstall, const char* szComponent);

// The Version of the File row whose FileName is szFileName, as stored.
char* InstallGetSourceFileVersion(MSIHANDLE hInstall, MSIHANDLE hDatabase, const char* szFileName);

// The record formatted with the session's properties.
char* InstallSetWarning(MSIHANDLE hInstall, MSIHANDLE hRecord);

// The Message of the package's Error row nError.
char* InstallGetErrorFormat(MSIHANDLE hInstall, int nError);
