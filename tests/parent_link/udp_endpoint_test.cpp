// The UDP endpoint under the notifier: its listener thread, its read size and its shutdown.
#include "parent_link/udp_test_socket.h"

#include "shell/udp_endpoint.h"
#include "support/port_holder.h"

#include <atomic>
#include <condition_variable>
#include <dirent.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr std::uint16_t kPort = 3004;

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
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] { return datagrams_.size() >= count; });
    }
    std::vector<std::vector<std::uint8_t>> Datagrams() {
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
    std::vector<std::vector<std::uint8_t>> datagrams_;
    std::vector<std::thread::id> threads_;
};

TEST(UdpEndpointTest, NothingIsBoundUntilActive) {
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kPort);
    EXPECT_FALSE(endpoint.Active());
    EXPECT_TRUE(PortIsFree(kPort));
    const std::uint8_t byte = 1;
    EXPECT_FALSE(endpoint.SendTo("127.0.0.1", 3000, &byte, 1));
}

TEST(UdpEndpointTest, DatagramsReachTheHandlerOnTheListenerThread) {
    Reads reads;
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kPort);
    endpoint.SetReadHandler(reads.Handler());
    endpoint.SetReceiveBufferSize(0x10000);
    endpoint.SetActive(true);
    EXPECT_FALSE(PortIsFree(kPort));

    UdpTestSocket sender;
    ASSERT_TRUE(sender.SendTo(kPort, {1, 2, 3}));
    ASSERT_TRUE(sender.SendTo(kPort, std::vector<std::uint8_t>(65507, 7)));
    ASSERT_TRUE(reads.WaitFor(2, 2s));
    const auto datagrams = reads.Datagrams();
    EXPECT_EQ(datagrams[0], (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(datagrams[1].size(), 65507u) << "the largest datagram fits one read";
    for (const auto id : reads.Threads())
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST(UdpEndpointTest, AReadTakesNoMoreThanTheReceiveBuffer) {
    Reads reads;
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kPort);
    endpoint.SetReadHandler(reads.Handler());
    endpoint.SetReceiveBufferSize(16);
    endpoint.SetActive(true);
    UdpTestSocket sender;
    ASSERT_TRUE(sender.SendTo(kPort, std::vector<std::uint8_t>(40, 9)));
    ASSERT_TRUE(reads.WaitFor(1, 2s));
    EXPECT_EQ(reads.Datagrams()[0], std::vector<std::uint8_t>(16, 9));
}

TEST(UdpEndpointTest, SendingUsesTheBoundPort) {
    UdpTestSocket receiver;
    ASSERT_TRUE(receiver.Bind(3000));
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kPort);
    endpoint.SetActive(true);
    const std::uint8_t bytes[] = {0xDE, 0xAD};
    EXPECT_TRUE(endpoint.SendTo("127.0.0.1", 3000, bytes, sizeof bytes));
    const auto datagram = receiver.Receive(2s);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(datagram->sourcePort, kPort);
    EXPECT_EQ(datagram->bytes, (std::vector<std::uint8_t>{0xDE, 0xAD}));
    EXPECT_FALSE(endpoint.SendTo("not an address", 3000, bytes, sizeof bytes));
}

TEST(UdpEndpointTest, DeactivationStopsTheListenerAndFreesThePort) {
    Reads reads;
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kPort);
    endpoint.SetReadHandler(reads.Handler());
    endpoint.SetActive(true);
    const auto started = std::chrono::steady_clock::now();
    endpoint.SetActive(false);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << "no waiting for a poll period";
    EXPECT_FALSE(endpoint.Active());
    EXPECT_TRUE(PortIsFree(kPort));

    // And it can listen again.
    endpoint.SetActive(true);
    UdpTestSocket sender;
    ASSERT_TRUE(sender.SendTo(kPort, {5}));
    EXPECT_TRUE(reads.WaitFor(1, 2s));
}

// Sends to the port from a thread of its own until destroyed.
class Flood {
public:
    explicit Flood(std::uint16_t port)
        : thread_([this, port] {
              UdpTestSocket sender;
              while (sending_.load())
                  static_cast<void>(sender.SendTo(port, {1, 2, 3, 4}));
          }) {}
    ~Flood() {
        sending_ = false;
        thread_.join();
    }

private:
    std::atomic<bool> sending_{true};
    std::thread thread_;
};

TEST(UdpEndpointTest, DestructionWhileDatagramsPourInEndsCleanly) {
    // Run under the sanitizers this shows that the listener neither outlives the endpoint nor
    // calls a handler whose owner is gone.
    Flood flood(kPort);
    for (int round = 0; round < 20; ++round) {
        auto calls = std::make_unique<std::atomic<int>>(0);
        {
            UdpServerEndpoint endpoint;
            endpoint.SetDefaultPort(kPort);
            endpoint.SetReadHandler(
                [counter = calls.get()](const std::uint8_t*, std::size_t) { ++*counter; });
            ASSERT_NO_THROW(endpoint.SetActive(true));
            std::this_thread::sleep_for(5ms);
        }
        const int afterDestruction = calls->load();
        std::this_thread::sleep_for(2ms);
        EXPECT_EQ(calls->load(), afterDestruction);
    }
}

TEST(UdpEndpointTest, ABindFailureNamesThePortAndTheReason) {
    UdpTestSocket holder;
    ASSERT_TRUE(holder.Bind(kPort, false)); // one address is enough to block every-address binds
    UdpServerEndpoint endpoint;
    endpoint.SetDefaultPort(kPort);
    try {
        endpoint.SetActive(true);
        ADD_FAILURE() << "bind succeeded";
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("3004"), std::string::npos) << text;
        EXPECT_NE(text.find("in use"), std::string::npos) << text;
    }
    EXPECT_FALSE(endpoint.Active());
}

int OpenDescriptors() {
    int count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (const dirent* entry = fds ? ::readdir(fds) : nullptr)
        count += entry->d_name[0] != '.';
    if (fds != nullptr)
        ::closedir(fds);
    return count;
}

// In a child without the right to start a thread (a user at its process limit), the start
// fails with a reason and leaves no socket or pipe behind.
TEST(UdpEndpointTest, AListenerThatCannotStartLeavesNothingOpen) {
    const std::string outcome = RunAsUnprivileged([] {
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NPROC, &none) != 0)
            return std::string("setrlimit failed");
        const int before = OpenDescriptors();
        UdpServerEndpoint endpoint;
        endpoint.SetDefaultPort(kPort);
        try {
            endpoint.SetActive(true);
            return std::string("the listener started");
        } catch (const std::runtime_error& error) {
            const std::string text = error.what();
            if (text.find("3004") == std::string::npos)
                return "no port in \"" + text + "\"";
        }
        const int after = OpenDescriptors();
        return after == before ? std::string("ok")
                               : std::to_string(after - before) + " descriptors left open";
    });
    EXPECT_EQ(outcome, "ok");
}

} // namespace
