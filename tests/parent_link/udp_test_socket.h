// A plain UDP socket for the parent-link tests: plays the parent on port 3000, or a stranger
// that sends to or holds port 3004. Closed on destruction.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// What the parent program must receive for a success and for a failure, written out byte for
// byte so the tests do not take the updater's own encoding on trust.
inline const std::vector<std::uint8_t> kSuccessDatagram = {0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 1};
inline const std::vector<std::uint8_t> kFailureDatagram = {0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0};

struct ReceivedDatagram {
    std::vector<std::uint8_t> bytes;
    std::string sourceAddress;
    std::uint16_t sourcePort = 0;
};

class UdpTestSocket {
public:
    UdpTestSocket() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~UdpTestSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UdpTestSocket(const UdpTestSocket&) = delete;
    UdpTestSocket& operator=(const UdpTestSocket&) = delete;

    // Binds without address reuse; any = every local address, else 127.0.0.1.
    bool Bind(std::uint16_t port, bool any = false) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = htonl(any ? INADDR_ANY : INADDR_LOOPBACK);
        return fd_ >= 0 &&
               ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }

    bool SendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes) {
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
        return sent == static_cast<ssize_t>(bytes.size());
    }

    // True when a datagram is waiting or arrives within the timeout; nothing is consumed.
    bool Pending(std::chrono::milliseconds timeout) {
        pollfd watched{fd_, POLLIN, 0};
        return ::poll(&watched, 1, static_cast<int>(timeout.count())) == 1;
    }

    std::optional<ReceivedDatagram> Receive(std::chrono::milliseconds timeout) {
        if (!Pending(timeout))
            return std::nullopt;
        std::vector<std::uint8_t> buffer(0x10000);
        sockaddr_in source{};
        socklen_t sourceSize = sizeof source;
        const ssize_t received = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&source), &sourceSize);
        if (received < 0)
            return std::nullopt;
        buffer.resize(static_cast<std::size_t>(received));
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &source.sin_addr, address, sizeof address);
        return ReceivedDatagram{buffer, address, ntohs(source.sin_port)};
    }

private:
    int fd_;
};

// Whether a program could bind the port on every local address right now.
inline bool PortIsFree(std::uint16_t port) {
    UdpTestSocket probe;
    return probe.Bind(port, true);
}

// Bytes waiting unread in the receive queues of the UDP sockets bound to a local port, as the
// kernel reports them; -1 when no such socket exists.
inline long QueuedBytesOnPort(std::uint16_t port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line); // column titles
    long total = -1;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const auto colon = local.find(':');
        if (colon == std::string::npos || std::stoul(local.substr(colon + 1), nullptr, 16) != port)
            continue;
        // "tx_queue:rx_queue", both hexadecimal.
        const long rx = std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
        total = (total < 0 ? 0 : total) + rx;
    }
    return total;
}
