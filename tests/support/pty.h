// A pseudo-terminal held open for the length of a test: a serial device without hardware.
// The test keeps the master side and plays the board; the slave is left for the driver to
// open by its path, as the only opener, as with a real port.
#pragma once

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

class Pty {
public:
    Pty() {
        int slave = -1;
        char name[PATH_MAX] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        slavePath_ = name;
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // The board goes away: the slave side hangs up.
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    // Everything the driver sent within `timeout`, until `count` bytes are in.
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds timeout) const {
        using Clock = std::chrono::steady_clock;
        std::vector<std::uint8_t> bytes;
        const Clock::time_point deadline = Clock::now() + timeout;
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 10) <= 0)
                continue;
            std::uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};
