// The licence probe's custom action (license_probe.cpp).
#pragma once

#include "tests/wine/probe_support.h"

extern "C" PROBE_EXPORT UINT __stdcall ProbeLicense(MSIHANDLE hInstall);
