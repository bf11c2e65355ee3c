// PumpDelay: the one waiting primitive. Every timed wait of a session is made of its cycles,
// so the window keeps repainting and its Stop button keeps working while the session waits.
#include "serial/comport.h"
#include "serial/pump_os.h"

#include <QCoreApplication>

void PumpDelay(int ms) {
    // A request that is not a multiple of the cycle is rounded up (7 ms makes two cycles).
    for (int left = ms; left > 0; left -= static_cast<int>(kPumpCycle.count())) {
        pump_os::Sleep(kPumpCycle);
        QCoreApplication::processEvents();
    }
}
