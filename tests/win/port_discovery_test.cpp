// Port discovery through the device-setup interface, and the names the driver opens ports by.
#include "win_support.h"

#include "serial/port_discovery.h"
#include "serial/port_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

namespace {

TEST(PortNamesWin, PortIndexNamesTheComDevice) {
    EXPECT_EQ(ComDevicePath(0), "\\\\.\\COM1");
    EXPECT_EQ(ComDevicePath(9), "\\\\.\\COM10");
    EXPECT_EQ(ComDevicePath(256), "\\\\.\\COM257");
    EXPECT_EQ(ComDevicePath(-1), "");
    EXPECT_EQ(ComIndexOfDevice("\\\\.\\COM3"), 2);
    EXPECT_EQ(ComIndexOfDevice("COM10"), 9);
    EXPECT_EQ(ComIndexOfDevice("COM0"), std::nullopt);
    EXPECT_EQ(ComIndexOfDevice("LPT1"), std::nullopt);
}

// A copy of the tests listing ports from a folder that also holds a cfgmgr32.dll: the library
// comes from the system folder, never from beside the program. (Wine loads its own copy of a
// system library whatever the path, unless told to prefer others for that program.)
TEST(PortDiscoveryWin, AConfigurationManagerBesideTheProgramIsNotLoaded) {
    char self[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    std::string dir(self);
    dir.erase(dir.find_last_of('\\') + 1);
    const std::string planted = dir + "planted\\";
    const std::string copy = planted + "planted_listing.exe";
    ASSERT_TRUE(::CopyFileA(self, copy.c_str(), FALSE)) << copy;
    ASSERT_NE(::GetFileAttributesA((planted + "cfgmgr32.dll").c_str()), INVALID_FILE_ATTRIBUTES);
    const char* const overrides = "Software\\Wine\\AppDefaults\\planted_listing.exe\\DllOverrides";
    if (UnderWine()) {
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, overrides, "cfgmgr32", REG_SZ,
                                    "native,builtin", sizeof "native,builtin"),
                  ERROR_SUCCESS);
    }
    std::string commandLine = "\"" + copy + "\" " + kListPortsSwitch;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, planted.c_str(), &startup, &process);
    DWORD code = 1;
    if (started) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::GetExitCodeProcess(process.hProcess, &code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    if (UnderWine())
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\planted_listing.exe");
    ::DeleteFileA(copy.c_str());
    ASSERT_TRUE(started);
    EXPECT_EQ(code, 0u) << (code == kPlantedDllLoaded ? "the planted cfgmgr32.dll was loaded"
                                                      : "the listing failed");
}

TEST(PortDiscoveryWin, TheSystemListingRunsThroughTheRules) {
    std::unique_ptr<PortDeviceSet> set = OpenPortDevices();
    ASSERT_TRUE(set->obtained) << "the setup interface gave no device set for \"Ports\"";
    std::vector<std::string> listed;
    std::string name;
    std::string friendly;
    while (NextComPort(set.get(), &name, &friendly) == 1) {
        std::cout << "[ listed   ] " << name << ": " << friendly << "\n";
        listed.push_back(name);
    }
    std::cout << "[ listed   ] " << set->devices.size() << " device(s) of class Ports, "
              << listed.size() << " COM port(s)\n";
    EXPECT_EQ(ClosePortDevices(std::move(set)), 1);
    for (const std::string& port : listed)
        EXPECT_TRUE(ComIndexOfDevice(port).has_value()) << port;
    // Wine maps a COM port to its pseudo-terminal without a setup-class device; when a system
    // does list the board's port, it is among the listed ones.
    const std::string board = Environment("QUILLET_WIN_TEST_COM");
    if (!board.empty() && !listed.empty()) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), "COM" + board), listed.end());
    }
}

} // namespace
