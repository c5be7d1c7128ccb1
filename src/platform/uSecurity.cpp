#include "uSecurity.h"

#include <windows.h>
#include <aclapi.h>

#include "uExceptions.h"
#include "uHandles.h"

void GrantEveryoneFullAccess(const std::wstring& Folder) {
  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  TSid everyone;
  if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.OutPtr()))
    RaiseOSError(GetLastError());

  PACL dacl = nullptr;  // points into `descriptor`
  TLocalPtr<PSECURITY_DESCRIPTOR> descriptor;
  DWORD rc = GetNamedSecurityInfoW(Folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &dacl, nullptr, descriptor.OutPtr());
  if (rc != ERROR_SUCCESS) RaiseOSError(rc);
  // No DACL means everybody already has every right.
  if (!dacl) return;

  ACL_SIZE_INFORMATION sizeInfo{};
  if (GetAclInformation(dacl, &sizeInfo, sizeof(sizeInfo), AclSizeInformation)) {
    for (DWORD i = 0; i < sizeInfo.AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      if (allowed->Mask == GENERIC_ALL && EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone.Get())) return;
    }
  }

  EXPLICIT_ACCESSW access{};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(everyone.Get());
  TLocalPtr<PACL> newDacl;
  rc = SetEntriesInAclW(1, &access, dacl, newDacl.OutPtr());
  if (rc != ERROR_SUCCESS) RaiseOSError(rc);
  SetNamedSecurityInfoW(const_cast<LPWSTR>(Folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, newDacl.Get(), nullptr);
}
