// Windows Installer calls of the simulated installer, with the names and
// signatures of msi.dll's ANSI entry points.
#pragma once

#include "host/win32_types.h"

typedef uint32_t MSIHANDLE;

typedef enum tagINSTALLMESSAGE {
  INSTALLMESSAGE_FATALEXIT = 0x00000000L,
  INSTALLMESSAGE_ERROR = 0x01000000L,
  INSTALLMESSAGE_WARNING = 0x02000000L,
  INSTALLMESSAGE_USER = 0x03000000L,
  INSTALLMESSAGE_INFO = 0x04000000L,
  INSTALLMESSAGE_FILESINUSE = 0x05000000L,
  INSTALLMESSAGE_RESOLVESOURCE = 0x06000000L,
  INSTALLMESSAGE_OUTOFDISKSPACE = 0x07000000L,
  INSTALLMESSAGE_ACTIONSTART = 0x08000000L,
  INSTALLMESSAGE_ACTIONDATA = 0x09000000L,
  INSTALLMESSAGE_PROGRESS = 0x0A000000L,
  INSTALLMESSAGE_COMMONDATA = 0x0B000000L
} INSTALLMESSAGE;

typedef enum tagMSIMODIFY {
  MSIMODIFY_SEEK = -1,
  MSIMODIFY_REFRESH = 0,
  MSIMODIFY_INSERT = 1,
  MSIMODIFY_UPDATE = 2,
  MSIMODIFY_ASSIGN = 3,
  MSIMODIFY_REPLACE = 4,
  MSIMODIFY_MERGE = 5,
  MSIMODIFY_DELETE = 6,
  MSIMODIFY_INSERT_TEMPORARY = 7
} MSIMODIFY;

extern "C" {

UINT MsiGetProperty(MSIHANDLE hInstall, LPCSTR szName, LPSTR szValueBuf, DWORD* pcchValueBuf);
UINT MsiSetProperty(MSIHANDLE hInstall, LPCSTR szName, LPCSTR szValue);
UINT MsiGetSourcePath(MSIHANDLE hInstall, LPCSTR szFolder, LPSTR szPathBuf, DWORD* pcchPathBuf);
UINT MsiGetTargetPath(MSIHANDLE hInstall, LPCSTR szFolder, LPSTR szPathBuf, DWORD* pcchPathBuf);

MSIHANDLE MsiCreateRecord(UINT cParams);
UINT MsiRecordGetFieldCount(MSIHANDLE hRecord);
BOOL MsiRecordIsNull(MSIHANDLE hRecord, UINT iField);
UINT MsiRecordGetString(MSIHANDLE hRecord, UINT iField, LPSTR szValueBuf, DWORD* pcchValueBuf);
int MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField);
UINT MsiRecordSetString(MSIHANDLE hRecord, UINT iField, LPCSTR szValue);
UINT MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue);
UINT MsiFormatRecord(MSIHANDLE hInstall, MSIHANDLE hRecord, LPSTR szResultBuf, DWORD* pcchResultBuf);
UINT MsiCloseHandle(MSIHANDLE hAny);

int MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord);
MSIHANDLE MsiGetLastErrorRecord();

MSIHANDLE MsiGetActiveDatabase(MSIHANDLE hInstall);
UINT MsiDatabaseOpenView(MSIHANDLE hDatabase, LPCSTR szQuery, MSIHANDLE* phView);
UINT MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord);
UINT MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord);
UINT MsiViewClose(MSIHANDLE hView);
}

#define MSI_NULL_INTEGER 0x80000000
