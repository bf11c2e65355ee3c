// The UDP endpoint on POSIX sockets. The listener waits in poll() on the socket and on the read
// end of a pipe; stopping writes one byte into the pipe, so the thread wakes at once and ends
// without a polling interval, and the destructor can join it before anything is freed.
#include "shell/udp_endpoint.h"

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

void Listen(int socketFd, int wakeFd, std::size_t bufferSize,
            const UdpServerEndpoint::ReadHandler& handler) {
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

struct UdpServerEndpoint::Impl {
    std::uint16_t port = 0;
    ReadHandler handler;
    std::size_t bufferSize = 8192;
    int socketFd = -1;
    int wakePipe[2] = {-1, -1};
    std::thread listener;

    void Open();
    void Close();
};

void UdpServerEndpoint::Impl::Open() {
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
    listener = std::thread(Listen, socketFd, wakePipe[0], bufferSize, handler);
}

void UdpServerEndpoint::Impl::Close() {
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

UdpServerEndpoint::UdpServerEndpoint() : impl_(std::make_unique<Impl>()) {}

UdpServerEndpoint::~UdpServerEndpoint() {
    impl_->Close();
}

void UdpServerEndpoint::SetDefaultPort(std::uint16_t port) {
    impl_->port = port;
}

void UdpServerEndpoint::SetReadHandler(ReadHandler handler) {
    impl_->handler = std::move(handler);
}

void UdpServerEndpoint::SetReceiveBufferSize(std::size_t size) {
    impl_->bufferSize = size;
}

void UdpServerEndpoint::SetActive(bool active) {
    if (active == Active())
        return;
    if (active)
        impl_->Open();
    else
        impl_->Close();
}

bool UdpServerEndpoint::Active() const {
    return impl_->socketFd >= 0;
}

bool UdpServerEndpoint::SendTo(const char* address, std::uint16_t port, const std::uint8_t* data,
                               std::size_t size) {
    if (!Active())
        return false;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (::inet_pton(AF_INET, address, &remote.sin_addr) != 1)
        return false;
    const ssize_t sent = ::sendto(impl_->socketFd, data, size, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    return sent >= 0 && static_cast<std::size_t>(sent) == size;
}
