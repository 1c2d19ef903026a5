#include "server/products.h"

#include "runtime/action_frame.h"
#include "runtime/number_scan.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"

static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kOldKey[] = "Software\\Orvannic\\OV VRIN\\CurrentVersion";
static const char kProductsValue[] = "Products";

// The result of an empty PRODUCTS: the package did not say which product it is.
static const DWORD kNoProductNumber = 25003;

// Product n owns bit n - 1; 0 names no product.
static const long long kMaxProduct = 32;

static const ActionInfo kSetProducts = {"VrinNTSetProducts", ERROR_BAD_ARGUMENTS, "VrinNTSetProducts : hInstall",
                                        ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kUnSetProducts = {"VrinNTUnSetProducts", ERROR_BAD_ARGUMENTS, "VrinNTUnSetProducts : hInstall",
                                          ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kLastAgentUninstall = {"VrinNTLastAgentUninstall", ERROR_BAD_ARGUMENTS,
                                               "VrinNTLastAgentUninstall : hInstall", ERROR_INSTALL_FAILURE,
                                               kTraceAction};

struct ProductsLocals {
  char* szProducts;
};

static void ReleaseProducts(ProductsLocals& locals) { InstallFreeString(locals.szProducts); }

// PRODUCTS as a decimal scan reads it; 0 when the text does not start with a
// number. An over-long number is held at the limit, out of the products' range.
static long long ScanProductNumber(const char* szText) {
  int nProduct = 0;
  InstallScanInt(szText, &nProduct);
  return nProduct;
}

static bool IsProductNumber(long long nProduct) { return nProduct >= 0 && nProduct <= kMaxProduct; }

static DWORD ProductBit(long long nProduct) { return static_cast<DWORD>(1) << (nProduct - 1); }

// Reads PRODUCTS, which the setting and clearing actions cannot do without.
static void ReadRequiredProducts(MSIHANDLE hInstall, ProductsLocals& locals, const char* szContext) {
  locals.szProducts = InstallGetProperty(hInstall, "PRODUCTS");
  if (locals.szProducts[0] == '\0') {
    InstallRaise(szContext, kNoProductNumber);
  }
}

// A mask that could not be stored is raised: the package would otherwise go
// on believing the product registered when it is not.
static void WriteMask(MSIHANDLE hInstall, DWORD dwMask, const char* szContext) {
  LONG lResult = InstallSetRegValue(hInstall, kProductKey, kProductsValue, dwMask);
  if (lResult != ERROR_SUCCESS) {
    InstallRaise(szContext, static_cast<DWORD>(lResult));
  }
}

// Whether this generation has stored a mask of its own, 0 included. Once it
// has, a mask that came down to 0 is its own: taking the previous
// generation's over again would register products that have left since.
static bool MaskStored() {
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
    return false;
  }
  const bool bStored = RegQueryValueEx(hKey, kProductsValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(hKey);
  return bStored;
}

static void SetProductsBody(MSIHANDLE hInstall, ProductsLocals& locals) {
  ReadRequiredProducts(hInstall, locals, "VrinNTSetProducts : InstallGetProperty");
  long long nProduct = ScanProductNumber(locals.szProducts);
  if (!IsProductNumber(nProduct)) {
    return;
  }
  DWORD dwMask = InstallGetRegValue(hInstall, kProductKey, kProductsValue, 0);
  if (dwMask == 0 && !MaskStored()) {
    // The first run over the previous generation takes its products over.
    dwMask = InstallGetRegValue(hInstall, kOldKey, kProductsValue, 0);
  }
  if (nProduct != 0) {
    dwMask |= ProductBit(nProduct);
  }
  WriteMask(hInstall, dwMask, "VrinNTSetProducts : InstallSetRegValue");
}

static void UnSetProductsBody(MSIHANDLE hInstall, ProductsLocals& locals) {
  ReadRequiredProducts(hInstall, locals, "VrinNTUnSetProducts : InstallGetProperty");
  long long nProduct = ScanProductNumber(locals.szProducts);
  if (!IsProductNumber(nProduct)) {
    return;
  }
  DWORD dwMask = InstallGetRegValue(hInstall, kProductKey, kProductsValue, 0);
  if (nProduct != 0) {
    dwMask &= ~ProductBit(nProduct);
  }
  // A bit left standing only keeps the component for a product that no
  // longer needs it (the last-agent check then skips its removal): reported,
  // and the removal goes on.
  LONG lResult = InstallSetRegValue(hInstall, kProductKey, kProductsValue, dwMask);
  if (lResult != ERROR_SUCCESS) {
    InstallReportFailure(hInstall, kUnSetProducts.szName, "VrinNTUnSetProducts : InstallSetRegValue",
                         static_cast<DWORD>(lResult));
  }
}

static void LastAgentUninstallBody(MSIHANDLE hInstall, ProductsLocals& locals) {
  locals.szProducts = InstallGetProperty(hInstall, "PRODUCTS");
  if (locals.szProducts[0] == '\0') {
    return;
  }
  // Product 1 never keeps the component for others.
  if (ScanProductNumber(locals.szProducts) == 1) {
    return;
  }
  DWORD dwMask = InstallGetRegValue(hInstall, kProductKey, kProductsValue, 0);
  if ((dwMask & 0xFFFFFFFEu) == 0) {
    return;
  }
  InstallLog(hInstall, kLogRowTrace, "Setting SKIPUNINSTALL");
  // Unset, the package would remove a component that other products still
  // use: a refusal fails the removal instead.
  UINT uResult = MsiSetProperty(hInstall, "SKIPUNINSTALL", "1");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNTLastAgentUninstall : MsiSetProperty", uResult);
  }
}

extern "C" UINT __stdcall VrinNTSetProducts(MSIHANDLE hInstall) {
  ProductsLocals locals = {};
  return InstallRunAction(hInstall, kSetProducts, locals, SetProductsBody, ReleaseProducts);
}

extern "C" UINT __stdcall VrinNTUnSetProducts(MSIHANDLE hInstall) {
  ProductsLocals locals = {};
  return InstallRunAction(hInstall, kUnSetProducts, locals, UnSetProductsBody, ReleaseProducts);
}

extern "C" UINT __stdcall VrinNTLastAgentUninstall(MSIHANDLE hInstall) {
  ProductsLocals locals = {};
  return InstallRunAction(hInstall, kLastAgentUninstall, locals, LastAgentUninstallBody, ReleaseProducts);
}
