// settings_acl_check SUBKEY: exits 0 when HKEY_LOCAL_MACHINE\SUBKEY exists and its DACL, as
// RegGetKeySecurity returns it, allows the local Users group (S-1-5-32-545) to set values;
// else 1, saying what it found. Run by the Windows tests after the installer.
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_acl_check SUBKEY\n");
        return 2;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, READ_CONTROL | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        std::printf("no key HKLM\\%ls\n", argv[1]);
        return 1;
    }
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> buffer(size);
    PSECURITY_DESCRIPTOR descriptor = buffer.data();
    const LONG rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size);
    RegCloseKey(key);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (rc != ERROR_SUCCESS ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        std::printf("RegGetKeySecurity failed (%ld)\n", rc);
        return 1;
    }
    if (!present || dacl == nullptr) {
        std::printf("the key has no DACL: everyone may do anything\n");
        return 1;
    }
    BYTE users[SECURITY_MAX_SID_SIZE];
    DWORD users_size = sizeof users;
    CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &users_size);
    ACCESS_MASK allowed = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (EqualSid(&ace->SidStart, users))
            allowed |= ace->Mask;
    }
    std::printf("S-1-5-32-545 allowed 0x%08lx on HKLM\\%ls\n", static_cast<unsigned long>(allowed),
                argv[1]);
    return (allowed & KEY_SET_VALUE) ? 0 : 1;
}
