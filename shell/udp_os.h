// The operating system's part of the UDP endpoint (shell/udp_endpoint.h): a bound socket with
// its listener thread. One implementation per platform beside this header, chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace udp_os {

using ReadHandler = std::function<void(const std::uint8_t* data, std::size_t size)>;

struct Listener;

// Binds `port` on every IPv4 address and starts a thread that hands each datagram, cut to
// `bufferSize`, to `handler`. Throws std::runtime_error naming the port and the system's reason
// when the socket cannot be opened or bound; nothing is left open then.
Listener* Start(std::uint16_t port, std::size_t bufferSize, ReadHandler handler);
// Wakes and joins the thread, then closes the socket and frees the listener. Never throws.
void Stop(Listener* listener);
// One datagram from the bound socket to an IPv4 address in dotted form; false when the system
// refused it or took only part of it.
bool SendTo(Listener& listener, const char* address, std::uint16_t port, const std::uint8_t* data,
            std::size_t size);

struct ListenerStop {
    void operator()(Listener* listener) const { Stop(listener); }
};

} // namespace udp_os
