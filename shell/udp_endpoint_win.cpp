// The UDP endpoint on Winsock 2. The listener waits on two events: the socket's "readable"
// event (WSAEventSelect) and a stop event of its own, which comes first, so stopping wakes the
// thread at once and ends it without a polling interval, and the destructor can join it before
// anything is freed.
#include "shell/udp_os.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string SystemText(int error) {
    return std::system_category().message(error) + " (error " + std::to_string(error) + ")";
}

// Takes one datagram when the socket says it has one. Winsock records the next FD_READ as the
// recv takes this one, so one datagram per wake-up never leaves one behind.
void Listen(SOCKET socket, WSAEVENT readable, HANDLE stop, std::size_t bufferSize,
            const udp_os::ReadHandler& handler) {
    std::vector<char> buffer(bufferSize);
    const int capacity = bufferSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(bufferSize);
    const WSAEVENT events[2] = {stop, readable}; // the lower index wins: stopping first
    for (;;) {
        const DWORD woken = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (woken != WSA_WAIT_EVENT_0 + 1)
            return; // asked to stop, or the wait itself failed
        WSANETWORKEVENTS happened{};
        if (::WSAEnumNetworkEvents(socket, readable, &happened) != 0)
            return;
        if ((happened.lNetworkEvents & FD_READ) == 0)
            continue;
        const int received = ::recv(socket, buffer.data(), capacity, 0);
        const auto* data = reinterpret_cast<const std::uint8_t*>(buffer.data());
        if (received >= 0) {
            if (handler)
                handler(data, static_cast<std::size_t>(received));
        } else if (::WSAGetLastError() == WSAEMSGSIZE) {
            // A longer datagram: Winsock filled the buffer with its start and dropped the rest.
            if (handler)
                handler(data, static_cast<std::size_t>(capacity));
        }
        // Any other error (a port-unreachable report of an earlier send, say) is consumed by
        // this read and otherwise ignored: the endpoint keeps listening.
    }
}

} // namespace

struct udp_os::Listener {
    // Open closes what it opened before it throws, so a failed construction leaves nothing.
    Listener(std::uint16_t localPort, std::size_t size, ReadHandler onRead)
        : port(localPort), handler(std::move(onRead)), bufferSize(size) {
        Open();
    }
    ~Listener() { Close(); }

    bool winsockStarted = false;
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT readable = WSA_INVALID_EVENT;
    HANDLE stop = nullptr;
    std::uint16_t port;
    ReadHandler handler;
    std::size_t bufferSize;
    std::thread listener;

    void Open();
    void Close();
    [[noreturn]] void Fail(const char* what, int error);
};

void udp_os::Listener::Fail(const char* what, int error) {
    Close();
    throw std::runtime_error(std::string(what) + std::to_string(port) + ": " + SystemText(error));
}

void udp_os::Listener::Open() {
    WSADATA data{};
    const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0)
        Fail("Cannot open a UDP socket for port ", started);
    winsockStarted = true;
    // Not inherited: handles must not leak into programs that the updater might start.
    socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET)
        Fail("Cannot open a UDP socket for port ", ::WSAGetLastError());
    // No address reuse, and none for others either: without SO_EXCLUSIVEADDRUSE a program
    // binding the port with SO_REUSEADDR would take its datagrams.
    const BOOL exclusive = TRUE;
    if (::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0)
        Fail("Cannot open a UDP socket for port ", ::WSAGetLastError());
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        Fail("Cannot bind UDP port ", ::WSAGetLastError());
    readable = ::WSACreateEvent();
    if (readable == WSA_INVALID_EVENT || ::WSAEventSelect(socket, readable, FD_READ) != 0)
        Fail("Cannot start the listener of UDP port ", ::WSAGetLastError());
    stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr)
        Fail("Cannot start the listener of UDP port ", static_cast<int>(::GetLastError()));
    try {
        listener = std::thread(Listen, socket, readable, stop, bufferSize, handler);
    } catch (const std::system_error& error) {
        Close(); // the socket, its events and Winsock: no destructor runs for a throwing
                 // constructor
        throw std::runtime_error("Cannot start the listener of UDP port " + std::to_string(port) +
                                 ": " + error.what());
    }
}

void udp_os::Listener::Close() {
    if (listener.joinable()) {
        // A manual-reset event stays set: the listener wakes whenever it next waits.
        ::SetEvent(stop);
        listener.join();
    }
    if (stop != nullptr)
        ::CloseHandle(stop);
    stop = nullptr;
    if (socket != INVALID_SOCKET)
        ::closesocket(socket);
    socket = INVALID_SOCKET;
    if (readable != WSA_INVALID_EVENT)
        ::WSACloseEvent(readable);
    readable = WSA_INVALID_EVENT;
    if (winsockStarted)
        ::WSACleanup();
    winsockStarted = false;
}

namespace udp_os {

Listener* Start(std::uint16_t port, std::size_t bufferSize, ReadHandler handler) {
    return new Listener(port, bufferSize, std::move(handler));
}

void Stop(Listener* listener) {
    delete listener;
}

bool SendTo(Listener& listener, const char* address, std::uint16_t port, const std::uint8_t* data,
            std::size_t size) {
    if (size > 0x7FFFFFFF)
        return false;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (::inet_pton(AF_INET, address, &remote.sin_addr) != 1)
        return false;
    const int sent =
        ::sendto(listener.socket, reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                 reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    return sent >= 0 && static_cast<std::size_t>(sent) == size;
}

} // namespace udp_os
