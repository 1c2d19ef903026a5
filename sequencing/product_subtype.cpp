#include "sequencing/product_subtype.h"

#include <climits>
#include <cstring>

#include "runtime/action_frame.h"
#include "runtime/number_scan.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"

static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kSubTypeValue[] = "ProdSubType";
static const char kSubTypeProperty[] = "PRODUCTSUBTYPE";
static const char kSubTypeCopyProperty[] = "PRODSUBTYPE";
static const char kProductsProperty[] = "PRODUCTS";
static const char kStillOpen[] = "-1";
static const int kAlwaysRecordingProduct = 1;

static const ActionInfo kSetProductSubType = {"VrinSetProductSubType", ERROR_BAD_ARGUMENTS,
                                              "VrinSetProductSubType : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kWriteProductSubType = {"VrinWriteProductSubType", ERROR_BAD_ARGUMENTS,
                                                "VrinWriteProductSubType : hInstall", ERROR_SUCCESS, kTraceAction};

struct SubTypeLocals {
  char* szProducts;
  char* szSubType;
};

static void ReleaseSubTypeLocals(SubTypeLocals& locals) {
  InstallFreeString(locals.szProducts);
  InstallFreeString(locals.szSubType);
}

// The decimal number the text starts with, read as "%d" reads it; false, with
// 0, when it starts with no number or with one that does not fit an int.
static bool ReadDecimal(const char* szText, int* pnValue) {
  bool bClamped = false;
  if (!InstallScanInt(szText, pnValue, nullptr, &bClamped) || bClamped) {
    *pnValue = 0;
    return false;
  }
  return true;
}

// 0 stands for a missing sub-type and -1 for one still to be looked up:
// neither is a sub-type to record, nor does either stored count as one.
static bool IsSubType(int nValue) { return nValue > 0; }

static void SetProductSubType(MSIHANDLE hInstall, SubTypeLocals& locals) {
  locals.szSubType = InstallGetProperty(hInstall, kSubTypeProperty);
  if (strcmp(locals.szSubType, kStillOpen) != 0) {
    return;
  }
  // Stored as REG_DWORD; read back as the signed number it was written from.
  int nStored = static_cast<int>(InstallGetRegValue(hInstall, kProductKey, kSubTypeValue, static_cast<DWORD>(-1)));
  InstallSetProperty(hInstall, kSubTypeProperty, nStored);
  InstallSetProperty(hInstall, kSubTypeCopyProperty, nStored);
}

static void WriteProductSubType(MSIHANDLE hInstall, SubTypeLocals& locals) {
  locals.szProducts = InstallGetProperty(hInstall, kProductsProperty);
  if (locals.szProducts[0] == '\0') {
    return;
  }
  int nProduct = 0;
  ReadDecimal(locals.szProducts, &nProduct);
  if (nProduct != kAlwaysRecordingProduct &&
      IsSubType(static_cast<int>(InstallGetRegValue(hInstall, kProductKey, kSubTypeValue, 0)))) {
    return;
  }
  locals.szSubType = InstallGetProperty(hInstall, kSubTypeProperty);
  int nSubType = 0;
  if (!ReadDecimal(locals.szSubType, &nSubType) || !IsSubType(nSubType)) {
    // Writing it would put a missing or unknown sub-type over a recorded one,
    // or block the next product that has one.
    InstallLog(hInstall, kLogRowWarning, "No product sub-type to write (%s)", locals.szSubType);
    return;
  }
  LONG lResult = InstallSetRegValue(hInstall, kProductKey, kSubTypeValue, static_cast<DWORD>(nSubType));
  if (lResult != ERROR_SUCCESS) {
    InstallRaise("VrinWriteProductSubType : InstallSetRegValue", static_cast<DWORD>(lResult));
  }
}

extern "C" UINT __stdcall VrinSetProductSubType(MSIHANDLE hInstall) {
  SubTypeLocals locals = {};
  return InstallRunAction(hInstall, kSetProductSubType, locals, SetProductSubType, ReleaseSubTypeLocals);
}

extern "C" UINT __stdcall VrinWriteProductSubType(MSIHANDLE hInstall) {
  SubTypeLocals locals = {};
  return InstallRunAction(hInstall, kWriteProductSubType, locals, WriteProductSubType, ReleaseSubTypeLocals);
}
