#include "serial/port_names.h"

#include <cstdlib>

namespace {
struct DeviceFamily {
    const char* prefix; // device node name without the number
    int firstIndex;     // port index of number 0
};
constexpr DeviceFamily kFamilies[] = {{"ttyS", 0}, {"ttyUSB", 32}, {"ttyACM", 64}};
constexpr int kFamilySize = 32;
} // namespace

// Set but empty is not set, for the driver and the command line alike.
std::string ComDirectory() {
    const char* dir = std::getenv("QUILLET_COM_DIR");
    return dir != nullptr ? std::string(dir) : std::string();
}

std::string ComDevicePath(int index) {
    if (index < 0)
        return {};
    if (const std::string dir = ComDirectory(); !dir.empty())
        return dir + "/COM" + std::to_string(index + 1);
    for (const DeviceFamily& family : kFamilies)
        if (index >= family.firstIndex && index < family.firstIndex + kFamilySize)
            return std::string("/dev/") + family.prefix + std::to_string(index - family.firstIndex);
    return {};
}

std::optional<int> ComIndexOfDevice(const std::string& device) {
    std::string name = device;
    if (name.rfind("/dev/", 0) == 0)
        name = name.substr(5);
    for (const DeviceFamily& family : kFamilies) {
        const std::string prefix = family.prefix;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int number = std::stoi(digits);
        if (number < kFamilySize)
            return family.firstIndex + number;
    }
    return std::nullopt;
}
