// The computer name and remote registries of the simulated machine.
#pragma once

#include "host/win32_registry.h"
#include "host/win32_types.h"

#define MAX_COMPUTERNAME_LENGTH 15
#define ERROR_BUFFER_OVERFLOW 111L

extern "C" {

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult);
}

#define GetComputerName GetComputerNameA
#define RegConnectRegistry RegConnectRegistryA
