// Window manager calls of the simulated machine (user32): the existence of a
// window and posting a message to it.
#pragma once

#include "host/win32_files.h"
#include "host/win32_types.h"

typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef intptr_t INT_PTR;

#define WM_USER 0x0400

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONEXCLAMATION 0x00000030L

#define IDOK 1
#define IDCANCEL 2

#define ERROR_INVALID_WINDOW_HANDLE 1400L

extern "C" {
BOOL IsWindow(HWND hWnd);
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
}

#define PostMessage PostMessageA
