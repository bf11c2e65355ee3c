// How much processor time the drain after each frame costs: frames of 261 bytes written to a
// COM port whose far end reads at 115200 baud, each drained before the next, as the session
// does. Prints the wall and processor time. Meant for a real port on Windows: under Wine a
// pseudo-terminal reports its output queue empty as soon as a write returns, so no drain
// waits there.
//   quillet_win32_drain_bench.exe COM FRAMES
#include "serial/serial_os.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double ProcessorSeconds() {
    FILETIME created, ended, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s COM FRAMES\n", argv[0]);
        return 2;
    }
    const std::string path = std::string("\\\\.\\COM") + argv[1];
    const int frames = std::atoi(argv[2]);
    serial_os::Handle handle = serial_os::kNoHandle;
    serial_os::Status status = serial_os::Open(path, handle);
    if (status.ok())
        status = serial_os::ConfigureLine(handle, serial_os::LineSettings{});
    if (status.ok())
        status = serial_os::SetReadsReturnAtOnce(handle);
    if (!status.ok()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), status.text.c_str());
        return 1;
    }
    const std::vector<std::uint8_t> frame(261, 0x55);
    const auto start = std::chrono::steady_clock::now();
    const double processorStart = ProcessorSeconds();
    for (int i = 0; i < frames && status.ok(); ++i) {
        std::size_t written = 0;
        status = serial_os::Write(handle, frame.data(), frame.size(),
                                  std::chrono::milliseconds(1000), written);
        if (status.ok())
            status = serial_os::Drain(handle, std::chrono::milliseconds(1000));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double processor = ProcessorSeconds() - processorStart;
    serial_os::Close(handle);
    if (!status.ok()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), status.text.c_str());
        return 1;
    }
    std::printf("%d frames: %.2f s, processor %.2f s (%.0f%%), %.1f ms a frame\n", frames, wall,
                processor, 100 * processor / wall, 1000 * wall / frames);
    return 0;
}
