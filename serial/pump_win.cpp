// Windows: Sleep() and ordinary waitable timers end on the system's timer tick, 15.6 ms by
// default. A high-resolution waitable timer (Windows 10 1803 and later) ends on time without
// changing the tick for the whole machine; older systems get a 1 ms tick for as long as the
// updater runs.
#include "serial/pump_os.h"

#include <windows.h>

#include <timeapi.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

class PumpTimer {
public:
    PumpTimer() {
        timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
        if (timer_ == nullptr) {
            finerTick_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
            timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }
    }
    ~PumpTimer() {
        if (timer_ != nullptr)
            ::CloseHandle(timer_);
        if (finerTick_)
            ::timeEndPeriod(1);
    }
    PumpTimer(const PumpTimer&) = delete;
    PumpTimer& operator=(const PumpTimer&) = delete;

    void Sleep(std::chrono::milliseconds duration) {
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10000; // relative, 100 ns units
        if (timer_ != nullptr && ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE))
            ::WaitForSingleObject(timer_, INFINITE);
        else
            ::Sleep(static_cast<DWORD>(duration.count()));
    }

private:
    HANDLE timer_ = nullptr;
    bool finerTick_ = false;
};

} // namespace

void pump_os::Sleep(std::chrono::milliseconds duration) {
    static PumpTimer timer; // the GUI thread's; made at the first wait
    timer.Sleep(duration);
}
