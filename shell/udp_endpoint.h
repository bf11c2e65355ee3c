// A UDP server endpoint: one socket bound to a local port on every IPv4 address, with a
// listener thread of its own that hands each received datagram to a read handler.
//
// Contract: nothing is bound until SetActive(true), which throws std::runtime_error naming the
// port and the system's reason when the socket cannot be opened or bound. The read handler runs
// on the listener thread, never on the caller's. SendTo may be called from any one thread while
// the listener receives; it never throws. Destruction stops and joins the listener thread, so
// the handler is never called once the destructor has returned.
#pragma once

#include "shell/udp_os.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class UdpServerEndpoint {
public:
    using ReadHandler = std::function<void(const std::uint8_t* data, std::size_t size)>;

    UdpServerEndpoint();
    ~UdpServerEndpoint();
    UdpServerEndpoint(const UdpServerEndpoint&) = delete;
    UdpServerEndpoint& operator=(const UdpServerEndpoint&) = delete;

    // Settings; they take effect at the next activation.
    void SetDefaultPort(std::uint16_t port);
    void SetReadHandler(ReadHandler handler);
    // The largest datagram that one read takes; longer ones are cut to this size.
    void SetReceiveBufferSize(std::size_t size);

    // Binds the socket and starts the listener (true), or stops and closes both (false).
    void SetActive(bool active);
    bool Active() const;

    // Sends one datagram from the bound socket to an IPv4 address in dotted form.
    // False when the endpoint is inactive or the system refused the datagram.
    bool SendTo(const char* address, std::uint16_t port, const std::uint8_t* data,
                std::size_t size);

private:
    std::uint16_t port_ = 0;
    ReadHandler handler_;
    std::size_t bufferSize_ = 8192;
    std::unique_ptr<udp_os::Listener, udp_os::ListenerStop> listener_;
};
