#include "serial/port_discovery.h"

#include <climits>
#include <cstdint>

namespace {
// The listing in progress, kept between NextComPort calls. Idle between listings, so that the
// first call of a listing starts at the first device of its set.
struct PortListing {
    bool inProgress = false;
    std::uint32_t nextDevice = 0; // index, within the set, of the next device to examine
};
PortListing Listing;

int EndListing() {
    Listing = PortListing{};
    return 0;
}

bool StartsWithComAnyCase(const std::string& name) {
    if (name.size() < 3)
        return false;
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(name[0]) == 'c' && lower(name[1]) == 'o' && lower(name[2]) == 'm';
}

// Cuts a UTF-8 text to at most maxBytes without splitting a character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}
} // namespace

std::unique_ptr<PortDeviceSet> OpenPortDevices() {
    return std::make_unique<PortDeviceSet>(ListPortDevices());
}

int NextComPort(const PortDeviceSet* set, std::string* portName, std::string* friendlyName) {
    if (set == nullptr || portName == nullptr)
        return -1;
    if (!Listing.inProgress)
        Listing = PortListing{true, 0};
    for (;;) {
        if (!set->obtained || Listing.nextDevice >= set->devices.size())
            return EndListing();
        const PortDevice& device = set->devices[Listing.nextDevice];
        // A name that cannot be read, or would not fit "COM999", ends the listing: the ports
        // before it stay listed, the ones after it are not seen.
        if (!device.portName || device.portName->size() > kPortNameMaxLength)
            return EndListing();
        ++Listing.nextDevice;
        const std::string& name = *device.portName;
        if (!StartsWithComAnyCase(name))
            continue; // a printer port or another non-COM device of the same class
        if (LeadingDecimal(name.substr(3)) < 1)
            return EndListing();
        *portName = name;
        if (friendlyName != nullptr)
            *friendlyName = CutUtf8(device.friendlyName, kFriendlyNameMaxBytes);
        return 1;
    }
}

int ClosePortDevices(std::unique_ptr<PortDeviceSet> set) {
    return set != nullptr && set->obtained ? 1 : 0;
}

int LeadingDecimal(const std::string& text) {
    std::size_t i = 0;
    const auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value <= INT_MAX) // saturates instead of overflowing
            value = value * 10 + (text[i] - '0');
    if (negative)
        value = -value;
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}
