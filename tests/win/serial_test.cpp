// The Win32 serial calls against the simulated board, which scripts/test-windows.sh runs on a
// pseudo-terminal that Wine reaches as a COM port: QUILLET_WIN_TEST_COM names a board that
// answers everything, QUILLET_WIN_TEST_HANGUP_COM one that hangs up after its first frame,
// QUILLET_WIN_TEST_STALLED_COM a line that nobody reads.
#include "win_support.h"

#include "serial/port_names.h"
#include "serial/serial_os.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t kProbe = 0xC2;
constexpr std::uint8_t kAck = 'K';

// The identity the simulator sends by default: 'V' version chip board preparation 'K', then
// the text block 'R' length spare, 28 bytes of text and protected range, 'K'.
constexpr std::size_t kIdentityReplySize = 6 + 3 + 28 + 1;

// Port index of the COM number in an environment variable; -1 when it is not set.
int BoardPort(const char* variable) {
    const std::string number = Environment(variable);
    return number.empty() ? -1 : std::stoi(number) - 1;
}

// A flash block frame for the simulator's default chip (two length bytes), with the checksum
// that makes all bytes sum to zero.
Bytes FlashFrame(std::uint16_t address, const Bytes& data) {
    Bytes frame = {
        0x00, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
        static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size() & 0xFF)};
    for (const std::uint8_t byte : data)
        frame.push_back(byte);
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : frame)
        sum = static_cast<std::uint8_t>(sum + byte);
    frame.push_back(static_cast<std::uint8_t>(0x100 - sum));
    return frame;
}

// The port opened and set up as the COM port driver does it.
class BoardPortTest : public ::testing::Test {
protected:
    void OpenBoard(const char* variable) {
        const int index = BoardPort(variable);
        if (index < 0)
            GTEST_SKIP() << variable << " not set: scripts/test-windows.sh puts the simulated "
                         << "board behind a COM port";
        ASSERT_TRUE(serial_os::Open(ComDevicePath(index), handle_).ok());
        ASSERT_TRUE(serial_os::DiscardOutput(handle_).ok());
        ASSERT_TRUE(serial_os::QueryLine(handle_).ok());
        ASSERT_TRUE(serial_os::ConfigureLine(handle_, serial_os::LineSettings{}).ok());
        ASSERT_TRUE(serial_os::SetReadsReturnAtOnce(handle_).ok());
        for (const auto line : {serial_os::ModemLine::kDtr, serial_os::ModemLine::kRts}) {
            const serial_os::Status status = serial_os::ClearModemLine(handle_, line);
            // A pseudo-terminal has no modem lines; Wine says so.
            if (!(UnderWine() && status.error == serial_os::Error::kUnsupported)) {
                EXPECT_TRUE(status.ok()) << status.text;
            }
        }
    }
    void TearDown() override {
        if (handle_ != serial_os::kNoHandle)
            serial_os::Close(handle_);
    }

    void Send(const Bytes& bytes) {
        std::size_t written = 0;
        ASSERT_TRUE(serial_os::Write(handle_, bytes.data(), bytes.size(), 1000ms, written).ok());
        ASSERT_EQ(written, bytes.size());
        ASSERT_TRUE(serial_os::Drain(handle_, 1000ms).ok());
    }
    // Polls as the session does, every 5 ms, until `wanted` bytes came or `limit` passed.
    Bytes Receive(std::size_t wanted, std::chrono::milliseconds limit) {
        Bytes received;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (received.size() < wanted && std::chrono::steady_clock::now() < end) {
            std::uint8_t buffer[256];
            std::size_t count = 0;
            const serial_os::Status status = serial_os::Read(handle_, buffer, sizeof buffer, count);
            EXPECT_TRUE(status.ok()) << status.text;
            if (!status.ok())
                break;
            received.insert(received.end(), buffer, buffer + count);
            if (count == 0)
                std::this_thread::sleep_for(5ms);
        }
        return received;
    }

    serial_os::Handle handle_ = serial_os::kNoHandle;
};

TEST(SerialWin, AnAbsentPortIsReportedAbsent) {
    serial_os::Handle handle = serial_os::kNoHandle;
    const serial_os::Status status = serial_os::Open(ComDevicePath(199), handle);
    EXPECT_EQ(status.error, serial_os::Error::kAbsent) << status.text;
    EXPECT_EQ(handle, serial_os::kNoHandle);
}

TEST_F(BoardPortTest, TheLineIs115200With8N2AndReadsReturnAtOnce) {
    OpenBoard("QUILLET_WIN_TEST_COM");
    const HANDLE device = ::LongToHandle(handle_);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(device, &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutX || dcb.fInX) << "no flow control";
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(::GetCommTimeouts(device, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);

    std::uint8_t buffer[16];
    std::size_t count = 99;
    EXPECT_TRUE(serial_os::Read(handle_, buffer, sizeof buffer, count).ok());
    EXPECT_EQ(count, 0u) << "nothing was sent, nothing is queued";
}

TEST_F(BoardPortTest, ASecondOpenIsRefused) {
    OpenBoard("QUILLET_WIN_TEST_COM");
    if (UnderWine())
        GTEST_SKIP() << "Wine does not enforce share mode 0 on serial devices";
    serial_os::Handle second = serial_os::kNoHandle;
    const serial_os::Status status =
        serial_os::Open(ComDevicePath(BoardPort("QUILLET_WIN_TEST_COM")), second);
    EXPECT_EQ(status.error, serial_os::Error::kBusy) << status.text;
    if (second != serial_os::kNoHandle)
        serial_os::Close(second);
}

TEST_F(BoardPortTest, AProbeIsAnsweredWithTheIdentityAndK) {
    OpenBoard("QUILLET_WIN_TEST_COM");
    Send({kProbe});
    const Bytes reply = Receive(kIdentityReplySize, 2s);
    ASSERT_EQ(reply.size(), kIdentityReplySize);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), (Bytes{'V', 12, 0xFE, 16, 0x02, kAck}));
    EXPECT_EQ(reply[6], 'R');
    EXPECT_EQ(reply.back(), kAck);
}

TEST_F(BoardPortTest, AWholeFrameIsAnsweredK) {
    OpenBoard("QUILLET_WIN_TEST_COM");
    Send(FlashFrame(0x0000, Bytes(256, 0x5A)));
    EXPECT_EQ(Receive(1, 2s), Bytes{kAck});
}

TEST_F(BoardPortTest, AWaitForAReplyThatDoesNotComeRunsOut) {
    OpenBoard("QUILLET_WIN_TEST_COM");
    Send({0x77}); // no command: the board ignores it
    EXPECT_TRUE(Receive(1, 100ms).empty());
}

TEST_F(BoardPortTest, ABoardThatHangsUpIsReportedGone) {
    OpenBoard("QUILLET_WIN_TEST_HANGUP_COM");
    Send(FlashFrame(0x0000, Bytes(16, 0x11)));
    ASSERT_EQ(Receive(1, 2s), Bytes{kAck});

    // The board closes its end once its 'K' has been read; the next reads find it gone.
    serial_os::Status status;
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (status.ok() && std::chrono::steady_clock::now() < end) {
        std::uint8_t buffer[16];
        std::size_t count = 0;
        status = serial_os::Read(handle_, buffer, sizeof buffer, count);
        EXPECT_EQ(count, 0u);
        if (status.ok())
            std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(status.error, serial_os::Error::kGone) << status.text;
    EXPECT_EQ(serial_os::CheckConnected(handle_).error, serial_os::Error::kGone);
    const std::uint8_t probe = kProbe;
    std::size_t written = 0;
    EXPECT_EQ(serial_os::Write(handle_, &probe, 1, 1000ms, written).error, serial_os::Error::kGone);
    EXPECT_EQ(serial_os::Drain(handle_, 1000ms).error, serial_os::Error::kGone);
}

TEST_F(BoardPortTest, AWriteTheLineDoesNotTakeEndsAtItsBound) {
    OpenBoard("QUILLET_WIN_TEST_STALLED_COM");
    const Bytes bytes(1 << 20, 0x55); // far more than a pseudo-terminal buffers
    std::size_t written = 0;
    const serial_os::Status status =
        serial_os::Write(handle_, bytes.data(), bytes.size(), 50ms, written);
    EXPECT_EQ(status.error, serial_os::Error::kTimedOut) << status.text;
    EXPECT_LT(written, bytes.size());
    EXPECT_TRUE(serial_os::DiscardOutput(handle_).ok());
}

} // namespace
