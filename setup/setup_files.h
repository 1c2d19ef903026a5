// The standalone package's setup information (inf) and installation
// configuration (icf) files, and the component selection they steer.
#pragma once

#include "host/platform.h"

extern "C" {
UINT __stdcall VrinReadInfFile(MSIHANDLE hInstall);
UINT __stdcall VrinReadIcfFile(MSIHANDLE hInstall);
UINT __stdcall VrinSetSelectedComponents(MSIHANDLE hInstall);
UINT __stdcall VRINSetSelectedFeatureState(MSIHANDLE hInstall);
}

// Sets szTargetProperty to the uncompressed source folder joined with the
// relative file name held in szFileProperty. Raises on failure.
void ResolveFileName(MSIHANDLE hInstall, const char* szFileProperty, const char* szTargetProperty);
