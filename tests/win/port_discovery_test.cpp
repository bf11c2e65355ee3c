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
