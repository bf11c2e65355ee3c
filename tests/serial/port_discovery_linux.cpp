// The Linux device sets: a COM directory of links to real pseudo-terminals, and the machine's
// own ports (looked at, never opened).
#include "serial/port_discovery.h"
#include "support/temp_env.h"

#include "support/pty.h"

#include <gtest/gtest.h>

#include <QFile>

#include <climits>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
std::vector<std::string> PortNames(const PortDeviceSet& set) {
    std::vector<std::string> names;
    for (const PortDevice& device : set.devices)
        names.push_back(device.portName.value_or("<unreadable>"));
    return names;
}

class ComDirectoryListing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(pty_.slavePath().empty()); }

    std::string Entry(const char* name) const { return env_.comDir().toStdString() + "/" + name; }
    void Link(const char* name, const std::string& target) const {
        ASSERT_EQ(::symlink(target.c_str(), Entry(name).c_str()), 0) << name;
    }

    TempEnvironment env_;
    Pty pty_;
};

TEST_F(ComDirectoryListing, OnlyComEntriesLeadingToADeviceInNumberOrder) {
    Link("COM12", pty_.slavePath());
    Link("COM3", pty_.slavePath());
    Link("COM1000", pty_.slavePath());
    Link("COM03", pty_.slavePath()); // not a name the driver opens
    Link("com4", pty_.slavePath());  // nor this
    Link("COM7", Entry("gone"));     // a board that has stopped
    QFile(QString::fromStdString(Entry("COM5"))).open(QIODevice::WriteOnly); // not a device
    QFile(QString::fromStdString(Entry("notes.txt"))).open(QIODevice::WriteOnly);

    const PortDeviceSet set = ListPortDevices();
    EXPECT_TRUE(set.obtained);
    EXPECT_EQ(PortNames(set), (std::vector<std::string>{"COM3", "COM12", "COM1000"}));
}

TEST_F(ComDirectoryListing, PseudoTerminalIsCalledWhatItIs) {
    Link("COM3", pty_.slavePath());
    const PortDeviceSet set = ListPortDevices();
    ASSERT_EQ(set.devices.size(), 1U);
    // "/dev/pts/7" -> "Pseudo-terminal (pts/7)"
    EXPECT_EQ(set.devices[0].friendlyName, "Pseudo-terminal (" + pty_.slavePath().substr(5) + ")");
}

// Without a COM directory the machine's own ports are listed; whatever they are, each carries
// a COM name of the fixed mapping and its device node, in COM order.
TEST(SystemPortListing, NamesFollowTheDriversMappingInOrder) {
    const QByteArray saved = qgetenv("QUILLET_COM_DIR");
    qunsetenv("QUILLET_COM_DIR");
    const PortDeviceSet set = ListPortDevices();
    if (!saved.isNull())
        qputenv("QUILLET_COM_DIR", saved);

    int previous = 0;
    for (const PortDevice& device : set.devices) {
        ASSERT_TRUE(device.portName.has_value());
        const std::string& name = *device.portName;
        ASSERT_EQ(name.rfind("COM", 0), 0U) << name;
        const int number = LeadingDecimal(name.substr(3));
        EXPECT_GE(number, 1) << name;
        EXPECT_LE(number, 96) << name;
        EXPECT_GT(number, previous) << name;
        previous = number;
        EXPECT_NE(device.friendlyName.find("(tty"), std::string::npos) << device.friendlyName;
    }
}
} // namespace
