// POSIX timers sleep to the microsecond: a plain sleep is exact enough.
#include "serial/pump_os.h"

#include <thread>

void pump_os::Sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}
