// Network share management of the simulated machine (netapi32): the types,
// records and codes. The functions themselves are not declared: as on
// Windows, where the library does not link to NETAPI32.DLL, a caller finds
// them with LoadLibrary and GetProcAddress ("NetShareGetInfo", "NetShareAdd",
// "NetShareDel", "NetApiBufferFree"), the simulated DLL's only exports.
#pragma once

#include "host/win32_security.h"
#include "host/win32_types.h"

typedef DWORD NET_API_STATUS;
typedef WCHAR* LMSTR;
typedef BYTE* LPBYTE;

#define NET_API_FUNCTION WINAPI

typedef struct _SHARE_INFO_502 {
  LMSTR shi502_netname;
  DWORD shi502_type;
  LMSTR shi502_remark;
  DWORD shi502_permissions;
  DWORD shi502_max_uses;
  DWORD shi502_current_uses;
  LMSTR shi502_path;
  LMSTR shi502_passwd;
  DWORD shi502_reserved;
  PSECURITY_DESCRIPTOR shi502_security_descriptor;
} SHARE_INFO_502, *PSHARE_INFO_502, *LPSHARE_INFO_502;

#define STYPE_DISKTREE 0
#define STYPE_PRINTQ 1
#define STYPE_DEVICE 2
#define STYPE_IPC 3
#define STYPE_SPECIAL 0x80000000
#define SHI_USES_UNLIMITED ((DWORD)-1)
#define ACCESS_READ 0x01

#define NNLEN 80
#define MAXCOMMENTSZ 256

// Indexes NetShareAdd returns in parm_err for the member it refused.
#define SHARE_NETNAME_PARMNUM 1
#define SHARE_TYPE_PARMNUM 3
#define SHARE_REMARK_PARMNUM 4
#define SHARE_PERMISSIONS_PARMNUM 5
#define SHARE_MAX_USES_PARMNUM 6
#define SHARE_CURRENT_USES_PARMNUM 7
#define SHARE_PATH_PARMNUM 8
#define SHARE_PASSWD_PARMNUM 9
#define SHARE_FILE_SD_PARMNUM 501

#define NERR_Success 0
#define NERR_BASE 2100
#define NERR_UnknownDevDir (NERR_BASE + 16)
#define NERR_DuplicateShare (NERR_BASE + 18)
#define NERR_NetNameNotFound (NERR_BASE + 210)
