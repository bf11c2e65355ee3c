// The link to a parent program that started the updater with "\P": each outcome reported
// through ShowResult is sent to it as a UDP datagram.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class UdpServerEndpoint;

// Ports and address of the link; the parent listens on its port of the local machine.
inline constexpr std::uint16_t kNotifierPort = 3004;
inline constexpr std::uint16_t kParentPort = 3000;
inline constexpr const char* kParentAddress = "127.0.0.1";
// The largest datagram one read of the endpoint takes.
inline constexpr std::size_t kNotifierReceiveBufferSize = 0x10000;

// The result datagram: three 32-bit words, most significant byte first: 4, 0, the code.
inline std::array<std::uint8_t, 12> ResultDatagram(std::uint8_t code) {
    return {0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, code};
}

class StatusNotifier {
public:
    // Sets up the endpoint for the local port; nothing is bound until Activate.
    explicit StatusNotifier(std::uint16_t port);
    ~StatusNotifier();
    StatusNotifier(const StatusNotifier&) = delete;
    StatusNotifier& operator=(const StatusNotifier&) = delete;

    // Binds the port on every local IPv4 address and starts the listener thread.
    // Throws std::runtime_error naming the port when it cannot be bound.
    void Activate();
    // One 12-byte result datagram to the parent; a parent that is not listening loses it.
    void SendCode(std::uint8_t code);

    // Set and cleared around each received datagram, on the listener thread; read by nobody.
    std::atomic<bool> Busy{false};

private:
    // Received datagrams are not looked at: the parent has nothing to tell the updater.
    void DatagramRead(const std::uint8_t* data, std::size_t size);

    std::unique_ptr<UdpServerEndpoint> server_;
};

// Null unless the parent-program switch was given.
extern StatusNotifier* Notifier;

// Creates and activates the notifier when the first argument is "\P" (any letter case). Both
// main windows call it; once a notifier exists, later calls keep it.
void StartParentLink();
// Sends one result datagram through the notifier, when one exists.
void NotifyParent(std::uint8_t code);
// Destroys the notifier and stops its listener. The end of the process does this on its own;
// the tests use it to start each case without a link.
void EndParentLink();
