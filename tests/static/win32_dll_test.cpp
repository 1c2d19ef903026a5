#include "tests/static/dist_dll_checks.h"

// The product: a PE32 DLL for i386.
INSTANTIATE_TEST_SUITE_P(Win32, DistDllTest, ::testing::Values(DistDll{"win32", host::kImageFileMachineI386, false}));
