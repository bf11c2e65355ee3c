// The listing rules over device sets built by hand: a test machine has no printer ports, no
// COM1000 and no device with an unreadable port name, so the sets are made up here and driven
// through the same NextComPort the dialog uses.
#include "serial/port_discovery.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {
PortDevice Device(std::optional<std::string> portName, std::string friendlyName = {}) {
    return PortDevice{std::move(portName), std::move(friendlyName)};
}

PortDeviceSet Set(std::vector<PortDevice> devices) {
    PortDeviceSet set;
    set.devices = std::move(devices);
    return set;
}

// Runs one listing to its end, as the dialog does; the port names delivered.
std::vector<std::string> ListAll(const PortDeviceSet& set) {
    std::vector<std::string> names;
    std::string name;
    while (NextComPort(&set, &name) == 1)
        names.push_back(name);
    return names;
}

using Names = std::vector<std::string>;

// What one device between COM1 and COM9 does to a listing.
enum class Outcome { kListed, kSkipped, kEndsListing };

struct RuleCase {
    const char* label;
    std::optional<std::string> portName;
    Outcome outcome;
};

void PrintTo(const RuleCase& rule, std::ostream* out) {
    *out << rule.label;
}

class NextComPortRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(NextComPortRule, DeviceBetweenTwoPorts) {
    const RuleCase& rule = GetParam();
    const PortDeviceSet set = Set({Device("COM1"), Device(rule.portName), Device("COM9")});
    switch (rule.outcome) {
    case Outcome::kListed:
        EXPECT_EQ(ListAll(set), (Names{"COM1", *rule.portName, "COM9"}));
        break;
    case Outcome::kSkipped:
        EXPECT_EQ(ListAll(set), (Names{"COM1", "COM9"}));
        break;
    case Outcome::kEndsListing:
        EXPECT_EQ(ListAll(set), (Names{"COM1"}));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, NextComPortRule,
    ::testing::Values(RuleCase{"Com3", "COM3", Outcome::kListed},
                      RuleCase{"LowerCase", "com4", Outcome::kListed},
                      RuleCase{"MixedCase", "cOm5", Outcome::kListed},
                      RuleCase{"Com10", "COM10", Outcome::kListed},
                      RuleCase{"Com999", "COM999", Outcome::kListed},
                      RuleCase{"BlankAndSign", "COM +7", Outcome::kListed},
                      RuleCase{"PrinterPort", "LPT1", Outcome::kSkipped},
                      RuleCase{"ShortName", "CO", Outcome::kSkipped},
                      RuleCase{"EmptyName", "", Outcome::kSkipped},
                      RuleCase{"Com1000", "COM1000", Outcome::kEndsListing},
                      RuleCase{"LongPrinterName", "LPTENUM", Outcome::kEndsListing},
                      RuleCase{"Com0", "COM0", Outcome::kEndsListing},
                      RuleCase{"NoNumber", "COM", Outcome::kEndsListing},
                      RuleCase{"LettersAfterCom", "COMX", Outcome::kEndsListing},
                      RuleCase{"Negative", "COM-2", Outcome::kEndsListing},
                      RuleCase{"Unreadable", std::nullopt, Outcome::kEndsListing}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return info.param.label; });

TEST(NextComPort, FriendlyNameTravelsWithItsPort) {
    const PortDeviceSet set =
        Set({Device("LPT1", "Printer Port (LPT1)"), Device("COM3", "USB Serial Port")});
    std::string name;
    std::string friendly;
    ASSERT_EQ(NextComPort(&set, &name, &friendly), 1);
    EXPECT_EQ(name, "COM3");
    EXPECT_EQ(friendly, "USB Serial Port");
    EXPECT_EQ(NextComPort(&set, &name, &friendly), 0);
}

TEST(NextComPort, ListingThatEndedEarlyLeavesTheNextOneStartingAtTheFirstDevice) {
    const PortDeviceSet broken = Set({Device("COM1"), Device(std::nullopt), Device("COM3")});
    EXPECT_EQ(ListAll(broken), (Names{"COM1"}));
    const PortDeviceSet full = Set({Device("COM5"), Device("COM6"), Device("COM7")});
    EXPECT_EQ(ListAll(full), (Names{"COM5", "COM6", "COM7"}));
    // And the same set listed again starts over, too.
    EXPECT_EQ(ListAll(broken), (Names{"COM1"}));
}
} // namespace
