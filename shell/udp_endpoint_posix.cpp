// The UDP endpoint on POSIX sockets. The listener waits in poll() on the socket and on the read
// end of a pipe; stopping writes one byte into the pipe, so the thread wakes at once and ends
// without a polling interval, and the destructor can join it before anything is freed.
#include "shell/udp_os.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string SystemText(int error) {
    return std::system_category().message(error);
}

void CloseDescriptor(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Descriptors must not leak into programs that the updater might start.
void SetCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

void Listen(int socketFd, int wakeFd, std::size_t bufferSize, const udp_os::ReadHandler& handler) {
    std::vector<std::uint8_t> buffer(bufferSize);
    pollfd watched[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0)
            return; // asked to stop
        if ((watched[0].revents & POLLNVAL) != 0)
            return;
        if ((watched[0].revents & (POLLIN | POLLERR)) == 0)
            continue;
        // A pending socket error (a port-unreachable report, say) is consumed by this read and
        // otherwise ignored: the endpoint keeps listening.
        const ssize_t received = ::recv(socketFd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received >= 0 && handler)
            handler(buffer.data(), static_cast<std::size_t>(received));
    }
}

} // namespace

struct udp_os::Listener {
    std::uint16_t port;
    ReadHandler handler;
    std::size_t bufferSize;
    int socketFd = -1;
    int wakePipe[2] = {-1, -1};
    std::thread listener;

    // Open closes what it opened before it throws, so a failed construction leaves nothing.
    Listener(std::uint16_t localPort, std::size_t size, ReadHandler onRead)
        : port(localPort), handler(std::move(onRead)), bufferSize(size) {
        Open();
    }
    ~Listener() { Close(); }

    void Open();
    void Close();
};

void udp_os::Listener::Open() {
    socketFd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socketFd < 0) {
        const int error = errno;
        throw std::runtime_error("Cannot open a UDP socket for port " + std::to_string(port) +
                                 ": " + SystemText(error));
    }
    SetCloseOnExec(socketFd);
    // No SO_REUSEADDR: a port that another program holds must fail here, not be shared.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (::bind(socketFd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        CloseDescriptor(socketFd);
        throw std::runtime_error("Cannot bind UDP port " + std::to_string(port) + ": " +
                                 SystemText(error));
    }
    if (::pipe(wakePipe) != 0) {
        const int error = errno;
        CloseDescriptor(socketFd);
        throw std::runtime_error("Cannot start the listener of UDP port " + std::to_string(port) +
                                 ": " + SystemText(error));
    }
    SetCloseOnExec(wakePipe[0]);
    SetCloseOnExec(wakePipe[1]);
    try {
        listener = std::thread(Listen, socketFd, wakePipe[0], bufferSize, handler);
    } catch (const std::system_error& error) {
        Close(); // the socket and the pipe: no destructor runs for a throwing constructor
        throw std::runtime_error("Cannot start the listener of UDP port " + std::to_string(port) +
                                 ": " + error.what());
    }
}

void udp_os::Listener::Close() {
    if (listener.joinable()) {
        // The pipe is ours, blocking and holds at most this one byte, so the write can only be
        // interrupted, never refused: the listener always wakes and the join always returns.
        const char stop = 1;
        while (::write(wakePipe[1], &stop, 1) < 0 && errno == EINTR) {
        }
        listener.join();
    }
    CloseDescriptor(wakePipe[0]);
    CloseDescriptor(wakePipe[1]);
    CloseDescriptor(socketFd);
}

namespace udp_os {

bool SendTo(Listener& listener, const char* address, std::uint16_t port, const std::uint8_t* data,
            std::size_t size) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (::inet_pton(AF_INET, address, &remote.sin_addr) != 1)
        return false;
    const ssize_t sent = ::sendto(listener.socketFd, data, size, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    return sent >= 0 && static_cast<std::size_t>(sent) == size;
}

Listener* Start(std::uint16_t port, std::size_t bufferSize, ReadHandler handler) {
    return new Listener(port, bufferSize, std::move(handler));
}

void Stop(Listener* listener) {
    delete listener;
}

} // namespace udp_os
