// The network provider router of the simulated machine (mpr): the name of the
// provider of a network type and that provider's information.
#pragma once

#include "host/win32_types.h"

#define WNNC_NET_NETWARE 0x00030000
#define WNNC_NET_LANMAN 0x00020000

#define ERROR_BAD_PROVIDER 1204L
#define ERROR_NO_NETWORK 1222L

typedef struct _NETINFOSTRUCT {
  DWORD cbStructure;
  DWORD dwProviderVersion;
  DWORD dwStatus;
  DWORD dwCharacteristics;
  ULONG_PTR dwHandle;
  WORD wNetType;
  DWORD dwPrinters;
  DWORD dwDrives;
} NETINFOSTRUCT, *LPNETINFOSTRUCT;

extern "C" {
DWORD WNetGetProviderNameA(DWORD dwNetType, LPSTR lpProviderName, LPDWORD lpBufferSize);
DWORD WNetGetNetworkInformationA(LPCSTR lpProvider, LPNETINFOSTRUCT lpNetInfoStruct);
}

#define WNetGetProviderName WNetGetProviderNameA
#define WNetGetNetworkInformation WNetGetNetworkInformationA
