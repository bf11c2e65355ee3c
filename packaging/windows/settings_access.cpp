// quillet-settings-access: run elevated by the installer. Creates the settings key and lets the
// local Users group set values in it (and nothing more), so that a standard user's port choice
// is kept, as the dialout group may write the settings file on Linux. The key's other entries,
// and those of every other key, keep their rights.
//
//   quillet-settings-access [SUBKEY]     (of HKEY_LOCAL_MACHINE; default the settings key)
//
// Exit code 0 on success, 1 with a message on stderr otherwise.
#include <windows.h>

#include <aclapi.h>
#include <cstdio>

namespace {
// Qt opens the key for writing with KEY_WRITE (which holds KEY_CREATE_SUB_KEY besides
// KEY_SET_VALUE); with KEY_SET_VALUE alone its open fails and the value is never written.
constexpr DWORD kUsersRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

int Fail(const char* what, DWORD error) {
    std::fprintf(stderr, "quillet-settings-access: %s failed (error %lu)\n", what,
                 static_cast<unsigned long>(error));
    return 1;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* subkey = argc > 1 ? argv[1] : L"Software\\Tessaly\\Quillet";
    HKEY key = nullptr;
    // The 64-bit view, which the 64-bit program reads.
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return Fail("RegCreateKeyEx", static_cast<DWORD>(rc));

    PACL old_dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &old_dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        RegCloseKey(key);
        return Fail("GetSecurityInfo", error);
    }
    BYTE users[SECURITY_MAX_SID_SIZE];
    DWORD users_size = sizeof users;
    if (!CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &users_size)) {
        error = GetLastError();
        LocalFree(descriptor);
        RegCloseKey(key);
        return Fail("CreateWellKnownSid", error);
    }
    EXPLICIT_ACCESSW grant{};
    grant.grfAccessPermissions = kUsersRights;
    grant.grfAccessMode = GRANT_ACCESS;
    grant.grfInheritance = NO_INHERITANCE; // this key alone
    grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    grant.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    grant.Trustee.ptstrName = reinterpret_cast<LPWSTR>(users);
    PACL new_dacl = nullptr;
    error = SetEntriesInAclW(1, &grant, old_dacl, &new_dacl);
    if (error == ERROR_SUCCESS) {
        error = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                new_dacl, nullptr);
        LocalFree(new_dacl);
    }
    LocalFree(descriptor);
    RegCloseKey(key);
    return error == ERROR_SUCCESS ? 0 : Fail("SetSecurityInfo", error);
}
