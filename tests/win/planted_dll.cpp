// A cfgmgr32.dll planted beside a program, as an attacker would: it only tells that it was
// loaded, through an environment variable of the process that loaded it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        ::SetEnvironmentVariableA("QUILLET_PLANTED_DLL_LOADED", "1");
    return TRUE;
}
