// The pump's sleep between two passes over the window's events. Every timed wait of a session
// is made of 5 ms cycles, so a sleep that oversleeps stretches every wait of the protocol with
// it: Windows' default timer resolution (15.6 ms) would make a 5 ms cycle three times as long.
#pragma once

#include <chrono>

namespace pump_os {

// Sleeps for about the given time, never much longer than the system's finest timer allows.
void Sleep(std::chrono::milliseconds duration);

} // namespace pump_os
