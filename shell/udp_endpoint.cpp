// The UDP endpoint's settings and life cycle; the sockets and the thread are the platform's
// (shell/udp_os.h).
#include "shell/udp_endpoint.h"

#include <utility>

UdpServerEndpoint::UdpServerEndpoint() = default;

// Stopping joins the listener, so the handler never runs once this has returned.
UdpServerEndpoint::~UdpServerEndpoint() = default;

void UdpServerEndpoint::SetDefaultPort(std::uint16_t port) {
    port_ = port;
}

void UdpServerEndpoint::SetReadHandler(ReadHandler handler) {
    handler_ = std::move(handler);
}

void UdpServerEndpoint::SetReceiveBufferSize(std::size_t size) {
    bufferSize_ = size;
}

void UdpServerEndpoint::SetActive(bool active) {
    if (active == Active())
        return;
    listener_.reset(active ? udp_os::Start(port_, bufferSize_, handler_) : nullptr);
}

bool UdpServerEndpoint::Active() const {
    return listener_ != nullptr;
}

bool UdpServerEndpoint::SendTo(const char* address, std::uint16_t port, const std::uint8_t* data,
                               std::size_t size) {
    return listener_ != nullptr && udp_os::SendTo(*listener_, address, port, data, size);
}
