// Windows: the system names its COM ports itself, so port index n is the device "\\.\COM<n+1>"
// (the "\\.\" prefix reaches COM10 and above too) and no directory stands in for them.
#include "serial/port_names.h"

namespace {
constexpr const char kDevicePrefix[] = "\\\\.\\";
} // namespace

std::string ComDirectory() {
    return {};
}

std::string ComDevicePath(int index) {
    if (index < 0)
        return {};
    return kDevicePrefix + std::string("COM") + std::to_string(index + 1);
}

std::optional<int> ComIndexOfDevice(const std::string& device) {
    std::string name = device;
    if (name.rfind(kDevicePrefix, 0) == 0)
        name = name.substr(sizeof kDevicePrefix - 1);
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0' ||
        name.find_first_not_of("0123456789", 3) != std::string::npos)
        return std::nullopt;
    return std::stoi(name.substr(3)) - 1;
}
