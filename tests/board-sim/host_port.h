// The host's side of the line for the simulator's tests: the published COM link opened with
// plain POSIX calls, the way the updater opens it, and frames built by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Appends the byte that makes the 8-bit sum of the frame 0.
inline Bytes withChecksum(Bytes command) {
    unsigned sum = 0;
    for (std::uint8_t b : command)
        sum += b;
    command.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    return command;
}

class HostPort {
public:
    explicit HostPort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~HostPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()))
            << std::strerror(errno);
    }

    // Reads until `count` bytes are in or `timeout` has passed; returns what arrived.
    Bytes read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{fd_, POLLIN, 0};
            if (left.count() < 0 || ::poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0)
                break;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) {
                hungUp_ = n == 0 || errno == EIO;
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // Whether the board hung up: poll reports POLLHUP or a read ends in EIO or EOF.
    bool waitForHangup(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!hungUp_ && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 5) > 0) {
                if (pfd.revents & (POLLHUP | POLLERR))
                    hungUp_ = true;
                else
                    read(1, std::chrono::milliseconds(0));
            }
        }
        return hungUp_;
    }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};
