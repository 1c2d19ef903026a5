// The licence probe's custom action (license_probe.cpp).
#pragma once

#include "host/platform.h"

#ifdef _WIN32
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT
#endif

extern "C" PROBE_EXPORT UINT __stdcall ProbeLicense(MSIHANDLE hInstall);
