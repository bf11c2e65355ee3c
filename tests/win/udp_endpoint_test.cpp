// The UDP endpoint on Winsock: the result datagram reaches a listener on 127.0.0.1:3000 from
// port 3004, received datagrams reach the handler on the listener thread, and stopping ends
// that thread at once.
#include "shell/parent_link.h"
#include "shell/udp_endpoint.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A plain Winsock UDP socket on the loopback: the parent on port 3000, or a sender.
class TestSocket {
public:
    TestSocket() {
        WSADATA data{};
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    }
    ~TestSocket() {
        if (socket_ != INVALID_SOCKET)
            ::closesocket(socket_);
        if (started_)
            ::WSACleanup();
    }
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    bool Bind(std::uint16_t port) {
        const sockaddr_in local = Loopback(port);
        return ::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    bool SendTo(std::uint16_t port, const Bytes& bytes) {
        const sockaddr_in remote = Loopback(port);
        return ::sendto(socket_, reinterpret_cast<const char*>(bytes.data()),
                        static_cast<int>(bytes.size()), 0,
                        reinterpret_cast<const sockaddr*>(&remote),
                        sizeof remote) == static_cast<int>(bytes.size());
    }
    // One datagram and its source port, when one arrives within the timeout.
    std::optional<std::pair<Bytes, std::uint16_t>> Receive(std::chrono::milliseconds timeout) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval wait{0, static_cast<long>(timeout.count() * 1000)};
        if (::select(0, &readable, nullptr, nullptr, &wait) != 1)
            return std::nullopt;
        std::vector<char> buffer(0x10000);
        sockaddr_in source{};
        int sourceSize = sizeof source;
        const int received = ::recvfrom(socket_, buffer.data(), static_cast<int>(buffer.size()), 0,
                                        reinterpret_cast<sockaddr*>(&source), &sourceSize);
        if (received < 0)
            return std::nullopt;
        return std::make_pair(Bytes(buffer.begin(), buffer.begin() + received),
                              ntohs(source.sin_port));
    }

private:
    static sockaddr_in Loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    bool started_ = false;
    SOCKET socket_ = INVALID_SOCKET;
};

// What the read handler saw, handed safely from the listener thread to the test.
class Reads {
public:
    UdpServerEndpoint::ReadHandler Handler() {
        return [this](const std::uint8_t* data, std::size_t size) {
            std::lock_guard<std::mutex> lock(mutex_);
            datagrams_.emplace_back(data, data + size);
            threads_.push_back(std::this_thread::get_id());
            arrived_.notify_all();
        };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, 2s, [&] { return datagrams_.size() >= count; });
    }
    std::vector<Bytes> Datagrams() {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_;
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Bytes> datagrams_;
    std::vector<std::thread::id> threads_;
};

TEST(UdpEndpointWin, TheResultDatagramReachesTheParentFromPort3004) {
    TestSocket parent;
    ASSERT_TRUE(parent.Bind(kParentPort));
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kNotifierPort);
    endpoint.SetActive(true);
    const auto datagram = ResultDatagram(1);
    EXPECT_TRUE(endpoint.SendTo(kParentAddress, kParentPort, datagram.data(), datagram.size()));
    const auto received = parent.Receive(2s);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->first, (Bytes{0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(received->second, kNotifierPort);
    EXPECT_FALSE(endpoint.SendTo("not an address", kParentPort, datagram.data(), 12));
}

TEST(UdpEndpointWin, DatagramsReachTheHandlerOnTheListenerThreadCutToTheBuffer) {
    Reads reads;
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kNotifierPort);
    endpoint.SetReadHandler(reads.Handler());
    endpoint.SetReceiveBufferSize(16);
    EXPECT_FALSE(endpoint.Active());
    endpoint.SetActive(true);
    EXPECT_TRUE(endpoint.Active());

    TestSocket sender;
    ASSERT_TRUE(sender.SendTo(kNotifierPort, {1, 2, 3}));
    ASSERT_TRUE(sender.SendTo(kNotifierPort, Bytes(40, 9)));
    ASSERT_TRUE(reads.WaitFor(2));
    EXPECT_EQ(reads.Datagrams()[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(reads.Datagrams()[1], Bytes(16, 9)) << "a longer datagram is cut to the buffer";
    for (const auto id : reads.Threads())
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST(UdpEndpointWin, ASecondBindOfThePortFailsAndNamesIt) {
    UdpServerEndpoint first;
    first.SetDefaultPort(kNotifierPort);
    first.SetActive(true);
    UdpServerEndpoint second;
    second.SetDefaultPort(kNotifierPort);
    try {
        second.SetActive(true);
        ADD_FAILURE() << "bind succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("UDP port 3004"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(second.Active());
}

TEST(UdpEndpointWin, DeactivationEndsTheListenerAndFreesThePort) {
    Reads reads;
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kNotifierPort);
    endpoint.SetReadHandler(reads.Handler());
    endpoint.SetActive(true);
    endpoint.SetActive(false);
    EXPECT_FALSE(endpoint.Active());
    {
        TestSocket other;
        EXPECT_TRUE(other.Bind(kNotifierPort)) << "the port is free again";
    }
    endpoint.SetActive(true);
    TestSocket sender;
    ASSERT_TRUE(sender.SendTo(kNotifierPort, {5}));
    EXPECT_TRUE(reads.WaitFor(1));
}

TEST(UdpEndpointWin, DestructionWhileDatagramsPourInEndsCleanly) {
    std::atomic<bool> sending{true};
    std::thread flood([&] {
        TestSocket sender;
        while (sending.load())
            static_cast<void>(sender.SendTo(kNotifierPort, {1, 2, 3, 4}));
    });
    for (int round = 0; round < 10; ++round) {
        auto calls = std::make_unique<std::atomic<int>>(0);
        {
            UdpServerEndpoint endpoint;
            endpoint.SetDefaultPort(kNotifierPort);
            endpoint.SetReadHandler(
                [counter = calls.get()](const std::uint8_t*, std::size_t) { ++*counter; });
            ASSERT_NO_THROW(endpoint.SetActive(true));
            std::this_thread::sleep_for(5ms);
        }
        const int afterDestruction = calls->load();
        std::this_thread::sleep_for(2ms);
        EXPECT_EQ(calls->load(), afterDestruction);
    }
    sending = false;
    flood.join();
}

} // namespace
