#include "tests/static/dist_dll_checks.h"

// The build run under Wine: a PE32+ DLL for AMD64.
INSTANTIATE_TEST_SUITE_P(Win64, DistDllTest, ::testing::Values(DistDll{"win64", host::kImageFileMachineAmd64, true}));
