// Port discovery: the serial ports present on this computer, each with the port name the driver
// opens it by ("COM3", see serial/port_names.h) and a friendly name a person recognises.
//
// Two layers behind one seam:
// - The platform part (port_discovery_<os>.cpp) takes a snapshot of the present serial-class
//   devices, in a stable order, as raw entries: the port name exactly as the system reports it
//   (which may be a printer port, a name too long to be a COM port, or unreadable) and a
//   display text. It judges nothing and never opens a device.
// - The listing rules over such a snapshot are portable (port_discovery.cpp): one port per
//   NextComPort call, names not starting with "com" (any case) skipped, and the listing ended,
//   keeping the ports before it, at an unreadable entry, a name longer than 6 characters or a
//   COM number below 1.
// Everything runs on the GUI thread; the listing state is one unlocked process-wide record.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One present device as the system reports it.
struct PortDevice {
    // "COM3", "LPT1", "COM1000", ...; nothing when the system could not read the device's
    // port name at all.
    std::optional<std::string> portName;
    std::string friendlyName; // UTF-8; empty when the system keeps no display text
};

// A snapshot of the present devices, in the order a listing walks them.
struct PortDeviceSet {
    bool obtained = true; // false: the system gave no device set at all (the invalid set)
    std::vector<PortDevice> devices;
};

// Platform part: the devices present now.
PortDeviceSet ListPortDevices();

inline constexpr std::size_t kPortNameMaxLength = 6;      // "COM999"; a longer name ends a listing
inline constexpr std::size_t kFriendlyNameMaxBytes = 299; // longer display texts are cut

// A device set for one listing; never null, but not obtained when the system gave none.
std::unique_ptr<PortDeviceSet> OpenPortDevices();

// Delivers the next COM port of a listing: its port name into *portName and, when
// friendlyName is given, its display text (cut to kFriendlyNameMaxBytes) into *friendlyName.
// Returns 1 for a port delivered; 0 when there are no more (end of the set, a stop rule, or a
// set that was not obtained), which also ends the listing so that the next call starts again
// at the first device; -1 when set or portName is null (and nothing else happens).
// Never releases the set.
int NextComPort(const PortDeviceSet* set, std::string* portName,
                std::string* friendlyName = nullptr);

// Releases a set: 1 when it was an obtained set, else 0.
int ClosePortDevices(std::unique_ptr<PortDeviceSet> set);

// The decimal number at the start of text as C's atoi reads it: leading blanks and one sign
// allowed, reading stops at the first non-digit, no digits give 0. Used for every COM number.
int LeadingDecimal(const std::string& text);
