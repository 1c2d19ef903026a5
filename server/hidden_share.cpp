#include "server/hidden_share.h"

#include <cstring>
#include <new>

#include "runtime/action_frame.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"

static const char kProductKey[] = "Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kConfigurationPathValue[] = "ConfigurationPath";
static const char kShareName[] = "VRIN$";
static const char kShareRemark[] = "OV Velmora";
static const char kNetApiDll[] = "NETAPI32.DLL";
static const DWORD kShareInfoLevel = 502;
// DeleteShare's answer when NETAPI32.DLL has no NetShareDel.
static const DWORD kNoNetShareDel = 1;

// The accounts of the share's access list, in ACE order: Administrators,
// Backup Operators, Server Operators, all in the built-in domain.
static const DWORD kShareAccountRids[] = {DOMAIN_ALIAS_RID_ADMINS, DOMAIN_ALIAS_RID_BACKUP_OPS,
                                          DOMAIN_ALIAS_RID_SYSTEM_OPS};
static const size_t kShareAccountCount = sizeof(kShareAccountRids) / sizeof(kShareAccountRids[0]);

typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETSHAREGETINFO)(LMSTR, LMSTR, DWORD, LPBYTE*);
typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETSHAREADD)(LMSTR, DWORD, LPBYTE, LPDWORD);
typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETSHAREDEL)(LMSTR, LMSTR, DWORD);
typedef NET_API_STATUS(NET_API_FUNCTION* PFNNETAPIBUFFERFREE)(LPVOID);

static const ActionInfo kCreateShare = {"VrinNTCreateShare", 0, nullptr, ERROR_SUCCESS, kTraceAction};
static const ActionInfo kDeleteShare = {"VrinNTDeleteShare", 0, nullptr, ERROR_INSTALL_FAILURE, kTraceAction};

// What AddShare holds while it works; all of it is released on every path.
struct ShareResources {
  HMODULE hNetApi;
  PSID apSid[kShareAccountCount];
  BYTE* pAcl;
  WCHAR* wszName;
  WCHAR* wszRemark;
  WCHAR* wszPath;
};

// GetProcAddress's untyped address as the entry point's real type; the cast
// through void (*)() is the one every compiler accepts between function types.
template <typename PFN>
static PFN GetNetApiEntry(HMODULE hModule, const char* szName) {
  return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, szName)));
}

static void FreeShareSids(ShareResources& res) {
  for (size_t i = 0; i < kShareAccountCount; ++i) {
    if (res.apSid[i] != nullptr) {
      FreeSid(res.apSid[i]);
      res.apSid[i] = nullptr;
    }
  }
}

static void ReleaseShareResources(ShareResources& res) {
  FreeShareSids(res);
  delete[] res.wszName;
  res.wszName = nullptr;
  delete[] res.wszRemark;
  res.wszRemark = nullptr;
  delete[] res.wszPath;
  res.wszPath = nullptr;
  if (res.hNetApi != nullptr) {
    FreeLibrary(res.hNetApi);
    res.hNetApi = nullptr;
  }
  delete[] res.pAcl;
  res.pAcl = nullptr;
}

// Allocates the SIDs of the accounts the local computer knows into res.apSid
// and returns the size of an ACL with one access-allowed ACE for each.
static DWORD CollectShareSids(ShareResources& res) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  DWORD cbAcl = sizeof(ACL);
  for (size_t i = 0; i < kShareAccountCount; ++i) {
    PSID pSid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, kShareAccountRids[i], 0, 0, 0, 0, 0, 0,
                                  &pSid)) {
      continue;
    }
    // Only whether the name exists matters: empty buffers answer that.
    DWORD cchName = 0;
    DWORD cchDomain = 0;
    SID_NAME_USE eUse = SidTypeUnknown;
    if (!LookupAccountSid(nullptr, pSid, nullptr, &cchName, nullptr, &cchDomain, &eUse) &&
        GetLastError() == ERROR_NONE_MAPPED) {
      FreeSid(pSid);
      continue;
    }
    res.apSid[i] = pSid;
    cbAcl += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(pSid);
  }
  return cbAcl;
}

// Builds the ACL from the collected SIDs into res.pAcl and attaches it to the
// descriptor; false (traced) when the share cannot get it as intended.
static bool BuildShareAcl(MSIHANDLE hInstall, ShareResources& res, DWORD cbAcl, SECURITY_DESCRIPTOR* pDescriptor) {
  if (!InitializeSecurityDescriptor(pDescriptor, SECURITY_DESCRIPTOR_REVISION)) {
    InstallLog(hInstall, kLogRowFailure, "Error %d initialising security descriptor", static_cast<int>(GetLastError()));
    return false;
  }
  res.pAcl = new (std::nothrow) BYTE[cbAcl];
  if (res.pAcl == nullptr) {
    InstallLog(hInstall, kLogRowFailure, "Error allocing %d bytes for ACL", static_cast<int>(cbAcl));
    return false;
  }
  memset(res.pAcl, 0, cbAcl);
  PACL pAcl = reinterpret_cast<PACL>(res.pAcl);
  if (!InitializeAcl(pAcl, cbAcl, ACL_REVISION)) {
    InstallLog(hInstall, kLogRowFailure, "Error %d initialising ACL of size %d", static_cast<int>(GetLastError()),
               static_cast<int>(cbAcl));
    return false;
  }
  for (size_t i = 0; i < kShareAccountCount; ++i) {
    // A missing ACE would leave the list other than intended.
    if (res.apSid[i] != nullptr && !AddAccessAllowedAce(pAcl, ACL_REVISION, GENERIC_ALL, res.apSid[i])) {
      InstallLog(hInstall, kLogRowFailure, "Error %d adding ACE to ACL", static_cast<int>(GetLastError()));
      return false;
    }
  }
  if (!SetSecurityDescriptorDacl(pDescriptor, TRUE, pAcl, FALSE)) {
    InstallLog(hInstall, kLogRowFailure, "Error %d setting DACL", static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

static bool BuildShareDescriptor(MSIHANDLE hInstall, ShareResources& res, SECURITY_DESCRIPTOR* pDescriptor) {
  DWORD cbAcl = CollectShareSids(res);
  bool bBuilt = BuildShareAcl(hInstall, res, cbAcl, pDescriptor);
  // The ACEs hold copies of the SIDs.
  FreeShareSids(res);
  return bBuilt;
}

static DWORD AddShareWith(MSIHANDLE hInstall, ShareResources& res, const char* szName, const char* szRemark,
                          const char* szPath, bool bRestrict) {
  SECURITY_DESCRIPTOR descriptor;
  memset(&descriptor, 0, sizeof(descriptor));
  bool bDescriptor = !bRestrict || BuildShareDescriptor(hInstall, res, &descriptor);

  PFNNETSHAREGETINFO pfnNetShareGetInfo = nullptr;
  PFNNETAPIBUFFERFREE pfnNetApiBufferFree = nullptr;
  PFNNETSHAREADD pfnNetShareAdd = nullptr;
  if (res.hNetApi != nullptr) {
    pfnNetShareGetInfo = GetNetApiEntry<PFNNETSHAREGETINFO>(res.hNetApi, "NetShareGetInfo");
    pfnNetApiBufferFree = GetNetApiEntry<PFNNETAPIBUFFERFREE>(res.hNetApi, "NetApiBufferFree");
    pfnNetShareAdd = GetNetApiEntry<PFNNETSHAREADD>(res.hNetApi, "NetShareAdd");
  }
  if (!bDescriptor || pfnNetShareGetInfo == nullptr || pfnNetApiBufferFree == nullptr || pfnNetShareAdd == nullptr) {
    return ERROR_MOD_NOT_FOUND;
  }

  // Converted before anything changes, so that a lack of memory cannot leave
  // an existing share deleted and none created.
  res.wszName = InstallAnsiToWide(szName);
  res.wszPath = InstallAnsiToWide(szPath);
  res.wszRemark = szRemark != nullptr ? InstallAnsiToWide(szRemark) : nullptr;
  if (res.wszName == nullptr || res.wszPath == nullptr || (szRemark != nullptr && res.wszRemark == nullptr)) {
    InstallLog(hInstall, kLogRowFailure, "Error %d converting the strings of share '%s'",
               static_cast<int>(ERROR_OUTOFMEMORY), InstallTraceText(szName));
    return ERROR_MOD_NOT_FOUND;
  }

  LPBYTE pInfo = nullptr;
  NET_API_STATUS nStatus = pfnNetShareGetInfo(nullptr, res.wszName, kShareInfoLevel, &pInfo);
  if (pInfo != nullptr) {
    pfnNetApiBufferFree(pInfo);
  }
  if (nStatus == NERR_Success) {
    // Replaced whatever folder it shares; a failed deletion shows in NetShareAdd's answer.
    DeleteShare(szName);
  } else if (nStatus != NERR_NetNameNotFound) {
    InstallLog(hInstall, kLogRowFailure, "Error %d getting share info for '%s'", static_cast<int>(nStatus), szName);
  }

  InstallLog(hInstall, kLogRowTrace, "Adding new share");
  SHARE_INFO_502 info;
  memset(&info, 0, sizeof(info));
  info.shi502_netname = res.wszName;
  info.shi502_type = STYPE_DISKTREE;
  info.shi502_remark = res.wszRemark;
  info.shi502_permissions = ACCESS_READ;
  info.shi502_max_uses = SHI_USES_UNLIMITED;
  info.shi502_current_uses = 0;
  info.shi502_path = res.wszPath;
  info.shi502_passwd = nullptr;
  info.shi502_security_descriptor = bRestrict ? &descriptor : nullptr;
  DWORD dwParameter = 0;
  nStatus = pfnNetShareAdd(nullptr, kShareInfoLevel, reinterpret_cast<LPBYTE>(&info), &dwParameter);
  if (nStatus != NERR_Success) {
    InstallLog(hInstall, kLogRowFailure, "Error %d in param %d adding share '%s' on path '%s'",
               static_cast<int>(nStatus), static_cast<int>(dwParameter), szName, szPath);
  }
  return nStatus;
}

DWORD AddShare(MSIHANDLE hInstall, const char* szName, const char* szRemark, const char* szPath, bool bRestrict) {
  ShareResources res = {};
  res.hNetApi = LoadLibrary(kNetApiDll);
  InstallLog(hInstall, kLogRowTrace, "AddShare('%s', '%s' )", InstallTraceText(szName), InstallTraceText(szPath));
  DWORD dwResult = AddShareWith(hInstall, res, szName, szRemark, szPath, bRestrict);
  ReleaseShareResources(res);
  InstallLog(hInstall, kLogRowTrace, "AddShare('%s', '%s' )  -> %d", InstallTraceText(szName), InstallTraceText(szPath),
             static_cast<int>(dwResult));
  return dwResult;
}

DWORD DeleteShare(const char* szName) {
  HMODULE hNetApi = LoadLibrary(kNetApiDll);
  if (hNetApi == nullptr) {
    return ERROR_MOD_NOT_FOUND;
  }
  PFNNETSHAREDEL pfnNetShareDel = GetNetApiEntry<PFNNETSHAREDEL>(hNetApi, "NetShareDel");
  if (pfnNetShareDel == nullptr) {
    FreeLibrary(hNetApi);
    return kNoNetShareDel;
  }
  WCHAR* wszName = InstallAnsiToWide(szName);
  NET_API_STATUS nStatus = wszName != nullptr ? pfnNetShareDel(nullptr, wszName, 0) : ERROR_OUTOFMEMORY;
  delete[] wszName;
  FreeLibrary(hNetApi);
  return nStatus == NERR_Success || nStatus == NERR_NetNameNotFound ? ERROR_SUCCESS : nStatus;
}

struct CreateShareLocals {
  char* szPath;
};

static void ReleaseCreateShare(CreateShareLocals& locals) { InstallFreeString(locals.szPath); }

// Removes one trailing backslash: not the trail byte of a double-byte
// character, and not that of a drive's root ("C:" would name the drive's
// current folder rather than its root).
static void RemoveTrailingBackslash(char* szPath) {
  size_t cch = strlen(szPath);
  const char* pchLast = nullptr;
  for (const char* pch = szPath; *pch != '\0';) {
    pchLast = pch;
    pch += IsDBCSLeadByte(static_cast<BYTE>(*pch)) && pch[1] != '\0' ? 2 : 1;
  }
  if (pchLast == nullptr || pchLast != szPath + cch - 1 || *pchLast != '\\') {
    return;
  }
  if (cch == 3 && szPath[1] == ':') {
    return;
  }
  szPath[cch - 1] = '\0';
}

static void CreateShareBody(MSIHANDLE hInstall, CreateShareLocals& locals) {
  locals.szPath = InstallGetRegString(hInstall, kProductKey, kConfigurationPathValue);
  if (locals.szPath == nullptr || locals.szPath[0] == '\0') {
    return;
  }
  RemoveTrailingBackslash(locals.szPath);
  AddShare(hInstall, kShareName, kShareRemark, locals.szPath, true);
}

static void DeleteShareBody(MSIHANDLE) { DeleteShare(kShareName); }

extern "C" UINT __stdcall VrinNTCreateShare(MSIHANDLE hInstall) {
  CreateShareLocals locals = {};
  return InstallRunAction(hInstall, kCreateShare, locals, CreateShareBody, ReleaseCreateShare);
}

extern "C" UINT __stdcall VrinNTDeleteShare(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kDeleteShare, DeleteShareBody);
}
