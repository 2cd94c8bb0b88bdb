// Windows implementation of the security a new file is given: private
// until it is ready, then the old file's (with its owner) or what its
// directory passes on. Only code specific to Windows belongs here.
#include <vector>

#include <aclapi.h>

#include "platform/calls-win32.h"
#include "platform/platform.h"
#include "platform/system-win32.h"

namespace vlx {

namespace {

// Enables the caller's privilege to give files owners other than itself
// (SeRestorePrivilege, which an elevated administrator holds but has not
// enabled) for as long as it lives, where the token holds it; nothing
// where it does not.
struct RestorePrivilege {
  HANDLE token = nullptr;
  TOKEN_PRIVILEGES previous = {};
  bool enabled = false;

  RestorePrivilege() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      token = nullptr;
      return;
    }
    TOKEN_PRIVILEGES wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = sizeof previous;
    // Success with ERROR_NOT_ALL_ASSIGNED means the token lacks it.
    enabled = LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous, &size) &&
              GetLastError() == ERROR_SUCCESS;
  }
  ~RestorePrivilege() {
    KeepError kept;
    if (enabled) AdjustTokenPrivileges(token, FALSE, &previous, 0, nullptr, nullptr);
    if (token) file_calls().close_handle(token);
  }
};

}  // namespace

void with_restore_privilege(void (*action)(void*), void* context) {
  RestorePrivilege privilege;
  action(context);
}

PrivateSecurity::PrivateSecurity() {
  HANDLE token = nullptr;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size ? size : 1);
  bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size);
  file_calls().close_handle(token);
  if (!known) return;
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  list.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
  PACL acl = reinterpret_cast<PACL>(list.data());
  ready = InitializeAcl(acl, static_cast<DWORD>(list.size()), ACL_REVISION) &&
          AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
          InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// Makes the file at path one of the caller's like any new file there: its
// access list is what its directory passes on, and nothing else.
void inherit_security(const std::wstring& path) {
  ACL empty;
  if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return;
  SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, &empty,
                        nullptr);
}

// Gives the new file at path the owner, group and access list of the file
// target, all together and only where the new file keeps that owner, through
// a handle opened for just that. Owner and group go first: the access list
// could take away the right to set them. An owner other than the caller
// takes SeRestorePrivilege, enabled here for that step where the caller
// holds it. False when the old file's security was not carried: the caller
// then makes the new file a fresh one.
bool carry_security(const std::wstring& path, const std::wstring& target) {
  PSID owner = nullptr, group = nullptr;
  PACL access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, &group, &access, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = file_calls().create_file(path.c_str(), WRITE_OWNER | WRITE_DAC, share, nullptr, OPEN_EXISTING, 0, nullptr);
  bool carried = false;
  if (file != INVALID_HANDLE_VALUE) {
    RestorePrivilege privilege;
    carried = SetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner,
                              group, nullptr, nullptr) == ERROR_SUCCESS;
  }
  if (carried) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    // An access list that inherits nothing from the directory stays so.
    SECURITY_INFORMATION inheritance =
        (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    carried = SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, access,
                              nullptr) == ERROR_SUCCESS;
  }
  if (file != INVALID_HANDLE_VALUE) file_calls().close_handle(file);
  LocalFree(descriptor);
  return carried;
}

}  // namespace vlx
