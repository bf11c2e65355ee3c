// Where the COM port with a given index lives on this machine.
//
// With QUILLET_COM_DIR set, port index n is the entry "COM<n+1>" of that directory (normally a
// symbolic link to a device node) and nothing else: an absent entry is an absent port, so tests
// and the demo never touch a real device. Without it, a fixed mapping:
//   COM1..COM32  -> /dev/ttyS0..ttyS31
//   COM33..COM64 -> /dev/ttyUSB0..ttyUSB31
//   COM65..COM96 -> /dev/ttyACM0..ttyACM31
// and no device for the indices above.
// On Windows (port_names_win.cpp) port index n is the device "\\.\COM<n+1>" and there is no
// directory.
#pragma once

#include <optional>
#include <string>

// The device path of port index n (0 = COM1), or an empty string when it has none.
std::string ComDevicePath(int index);
// The inverse for the fixed mapping: the index of a device node such as "/dev/ttyUSB0"
// (or "ttyUSB0"), or nothing when the node has no COM number.
std::optional<int> ComIndexOfDevice(const std::string& device);
// The directory named by QUILLET_COM_DIR, or an empty string when it is not set.
std::string ComDirectory();
