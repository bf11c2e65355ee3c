// The COM port driver against real pseudo-terminals: the test holds the master side and plays
// the board; the driver opens the slave through a COM<n> link in a temporary QUILLET_COM_DIR.
#include "serial/comport.h"
#include "support/port_holder.h"
#include "support/pty.h"
#include "support/temp_env.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A file descriptor owned by the test.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                ++count;
        ::closedir(dir);
    }
    return count;
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = OpenDescriptorCount();
        pty_ = std::make_unique<Pty>();
        ASSERT_TRUE(pty_->ok()) << "no pseudo-terminal: " << std::strerror(errno);
        SelectedPortIndex = 0;
        OpenPortIndex = -1;
    }
    void TearDown() override {
        for (int index = 0; index < kPortCount; ++index)
            ClosePort(index);
        pty_.reset();
        EXPECT_EQ(OpenDescriptorCount(), baseline_) << "the driver leaked a descriptor";
    }

    // COM<number> in the test's COM directory, pointing at `target`.
    void link(int number, const std::string& target) const {
        const std::string path = com(number);
        ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
    }
    std::string com(int number) const {
        return env_.comDir().toStdString() + "/COM" + std::to_string(number);
    }
    PortRecord* open(int index) { return OpenPort(index, 115200, 0, 2, 8).record; }

    TempEnvironment env_;
    std::unique_ptr<Pty> pty_;
    int baseline_ = 0;
};

TEST_F(ComPortTest, SelectedPortRunsAt115200EightDataBitsNoParityTwoStopBitsRaw) {
    link(1, pty_->slavePath());
    OpenSelectedPort();
    ASSERT_TRUE(PortTable[0].open);

    // The master of a pseudo-terminal reports the slave's settings.
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty_->master(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST_F(ComPortTest, OpenPortAppliesTheBaudRateAndStopBitsItIsGiven) {
    link(1, pty_->slavePath());
    ASSERT_NE(OpenPort(0, 9600, 0, 0, 8).record, nullptr); // 9600 baud, one stop bit

    termios tio{};
    ASSERT_EQ(::tcgetattr(pty_->master(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
}

struct RefusedCase {
    const char* name;
    int baud;
    std::uint8_t parityCode;
    std::uint8_t stopBitCode;
    std::uint8_t dataBits;
};

class ComPortRefusedLineTest : public ComPortTest,
                               public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ComPortRefusedLineTest, IsARefusedLineAndLeavesThePortClosed) {
    const RefusedCase& c = GetParam();
    link(1, pty_->slavePath());
    const PortOpenResult result = OpenPort(0, c.baud, c.parityCode, c.stopBitCode, c.dataBits);
    EXPECT_EQ(result.record, nullptr);
    EXPECT_EQ(result.failure, PortFailure::kLineRefused);
    EXPECT_FALSE(PortTable[0].open);
}

// A pseudo-terminal carries 8-bit characters without parity only: the kernel quietly changes
// other framings back, which the driver must notice rather than run with the wrong line.
INSTANTIATE_TEST_SUITE_P(
    Lines, ComPortRefusedLineTest,
    ::testing::Values(RefusedCase{"NoSuchBaudRate", 12345, 0, 2, 8},
                      RefusedCase{"OneAndAHalfStopBits", 115200, 0, 1, 8},
                      RefusedCase{"NineDataBits", 115200, 0, 2, 9},
                      RefusedCase{"SevenDataBitsEvenParityOnAPseudoTerminal", 115200, 2, 2, 7}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(ComPortTest, SomethingThatIsNoSerialLineIsRefused) {
    const std::string file = env_.comDir().toStdString() + "/plain-file";
    Fd created(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    ASSERT_GE(created.get(), 0);
    created.reset();
    link(1, file);
    const PortOpenResult result = OpenPort(0, 115200, 0, 2, 8);
    EXPECT_EQ(result.record, nullptr);
    EXPECT_EQ(result.failure, PortFailure::kOpenRefused);
    EXPECT_EQ(result.os.error, serial_os::Error::kUnsupported);
    EXPECT_FALSE(PortTable[0].open);
}

TEST_F(ComPortTest, APortHeldByOneRecordCannotBeOpenedAgain) {
    link(1, pty_->slavePath());
    link(2, pty_->slavePath()); // the same device under a second name
    ASSERT_NE(open(0), nullptr);

    EXPECT_EQ(open(1), nullptr);
    EXPECT_FALSE(PortTable[1].open);

    // Another program: a non-root open is refused outright; root gets past that and finds
    // the device locked.
    Fd other(::open(pty_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (other.get() < 0) {
        EXPECT_EQ(errno, EBUSY);
    } else {
        EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(errno, EWOULDBLOCK);
    }
    other.reset();

    ClosePort(0);
    EXPECT_NE(open(1), nullptr) << "closing the port releases it";
}

TEST_F(ComPortTest, AReadWithNothingQueuedReturnsAtOnceWithNothing) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    std::uint8_t buffer[3072];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ReadPort(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(ReadPort(0, buffer, sizeof buffer), 0);
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    EXPECT_EQ(FlushPort(0), 0) << "an idle port with its board present is not hung up";
    EXPECT_TRUE(PortTable[0].open);
}

TEST_F(ComPortTest, ReadDeliversWhatTheBoardSent) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    const std::uint8_t reply[] = {'V', 0x0C, 'B', 0x05, 0x83, 'K', 0x0D, 0x0A};
    ASSERT_EQ(::write(pty_->master(), reply, sizeof reply), static_cast<ssize_t>(sizeof reply));

    std::vector<std::uint8_t> received;
    const Clock::time_point deadline = Clock::now() + milliseconds(2000);
    while (received.size() < sizeof reply && Clock::now() < deadline) {
        std::uint8_t buffer[3072];
        const int n = ReadPort(0, buffer, sizeof buffer);
        ASSERT_GE(n, 0);
        received.insert(received.end(), buffer, buffer + n);
        PumpDelay(5);
    }
    // Raw line: CR and LF arrive untranslated.
    EXPECT_EQ(received, std::vector<std::uint8_t>(reply, reply + sizeof reply));
}

TEST_F(ComPortTest, AWriteIsOnTheLineWhenWritePortReturns) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    const std::uint8_t frame[] = {0xC2, 0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF};
    ASSERT_TRUE(WritePort(0, frame, sizeof frame));
    EXPECT_EQ(pty_->receive(sizeof frame, milliseconds(2000)),
              std::vector<std::uint8_t>(frame, frame + sizeof frame));
}

TEST_F(ComPortTest, AWriteThatCannotLeaveGivesUpAfterItsTimeBound) {
    link(1, pty_->slavePath());
    // A second writer, opened before the port is held exclusively, fills the line's buffer
    // while the board reads nothing.
    Fd filler(::open(pty_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(filler.get(), 0);
    ASSERT_NE(open(0), nullptr);
    // The kernel moves bytes on towards the master in the background, which makes room again
    // for a while: fill until a round after a pause takes nothing more.
    const std::uint8_t chunk[1024] = {};
    for (int round = 0; round < 100; ++round) {
        std::size_t taken = 0;
        ssize_t n;
        while ((n = ::write(filler.get(), chunk, sizeof chunk)) > 0)
            taken += static_cast<std::size_t>(n);
        ASSERT_EQ(errno, EAGAIN);
        if (round > 0 && taken == 0)
            break;
        ::poll(nullptr, 0, 20);
    }

    const std::uint8_t probe = 0xC2;
    bool eventsProcessed = false; // what keeps Stop and the close box working
    QTimer::singleShot(10, [&eventsProcessed] { eventsProcessed = true; });
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(WritePort(0, &probe, 1));
    EXPECT_TRUE(eventsProcessed) << "the window froze while the write waited";
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, milliseconds(1000)); // 1000 ms + 10 ms for the one byte
    EXPECT_LT(elapsed, milliseconds(5000));
    EXPECT_EQ(FlushPort(0), 0) << "a slow line is no vanished device";
}

// The exclusive flag belongs to the tty, which outlives our close while the master is open;
// left set, only root could open the port again. Root opens it anyway, so read the flag.
TEST_F(ComPortTest, ClosingReleasesTheExclusiveHoldForLaterOpens) {
    link(1, pty_->slavePath());
    auto exclusiveFlag = [this] {
        Fd other(::open(pty_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        int exclusive = -1;
        EXPECT_EQ(::ioctl(other.get(), TIOCGEXCL, &exclusive), 0);
        return exclusive;
    };
    ASSERT_NE(open(0), nullptr);
    ClosePort(0);
    EXPECT_EQ(exclusiveFlag(), 0);

    // An open refused by a holder's flock leaves the flag as the holder had it.
    // (A holder's own flag keeps users other than root out, this check among them.)
    for (HeldPort::Hold hold : {HeldPort::Hold::kFlockOnly, HeldPort::Hold::kLocked}) {
        if (hold == HeldPort::Hold::kLocked && ::geteuid() != 0)
            continue;
        HeldPort held(pty_->slavePath(), hold);
        ASSERT_TRUE(held.holding());
        EXPECT_EQ(open(0), nullptr);
        EXPECT_EQ(exclusiveFlag(), hold == HeldPort::Hold::kLocked ? 1 : 0);
    }
}

TEST_F(ComPortTest, ClearingModemLinesOnALineWithoutThemKeepsThePort) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    // What this kernel answers for the modem lines of a pseudo-terminal, the one failure the
    // driver tolerates there.
    int bits = TIOCM_DTR;
    EXPECT_EQ(::ioctl(PortTable[0].handle, TIOCMBIC, &bits), -1);
    EXPECT_EQ(errno, ENOTTY);

    ClearModemLines(0);
    EXPECT_TRUE(PortTable[0].open);
    EXPECT_EQ(FlushPort(0), 0);
}

TEST_F(ComPortTest, ClearingModemLinesOfAVanishedDeviceClosesThePort) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    pty_->closeMaster();
    ClearModemLines(0);
    EXPECT_FALSE(PortTable[0].open);
}

TEST_F(ComPortTest, AHangUpIsSeenByFlushPortAndClosesThePort) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    pty_->closeMaster();
    EXPECT_EQ(FlushPort(0), -2);
    EXPECT_FALSE(PortTable[0].open);
    EXPECT_EQ(FlushPort(0), -2);
}

TEST_F(ComPortTest, AHangUpIsSeenByReadPortThoughTheReadItselfReturnsNothing) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    pty_->closeMaster();
    std::uint8_t buffer[64];
    EXPECT_EQ(ReadPort(0, buffer, sizeof buffer), -1);
    EXPECT_FALSE(PortTable[0].open);
    EXPECT_EQ(FlushPort(0), -2);
}

TEST_F(ComPortTest, AHangUpIsSeenByWritePort) {
    link(1, pty_->slavePath());
    ASSERT_NE(open(0), nullptr);
    pty_->closeMaster();
    const std::uint8_t probe = 0xC2;
    EXPECT_FALSE(WritePort(0, &probe, 1));
    EXPECT_EQ(FlushPort(0), -2);
}

TEST_F(ComPortTest, ReopeningAnOpenIndexLeavesExactlyOneDescriptor) {
    link(1, pty_->slavePath());
    const int before = OpenDescriptorCount();
    ASSERT_NE(open(0), nullptr);
    ASSERT_NE(open(0), nullptr);
    EXPECT_EQ(OpenDescriptorCount(), before + 1);
    ClosePort(0);
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_FALSE(PortTable[0].open);
}

TEST_F(ComPortTest, ClosedPortsRefuseEveryOperation) {
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(FlushPort(3), -2);
    EXPECT_FALSE(WritePort(3, buffer, 1));
    EXPECT_EQ(ReadPort(3, buffer, sizeof buffer), -1);
    ClearModemLines(3);
    ClosePort(3);
    EXPECT_FALSE(PortTable[3].open);
}

TEST_F(ComPortTest, OpenSelectedPortWithAnUnchangedIndexMakesNoCall) {
    SelectedPortIndex = 4;
    OpenPortIndex = 4;

    // COM5 does not even exist: an open would fail and say so.
    EXPECT_EQ(OpenSelectedPort().failure, PortFailure::kNone);
    EXPECT_FALSE(PortTable[4].open);

    link(5, pty_->slavePath()); // and with a device there, nothing opens it either
    EXPECT_EQ(OpenSelectedPort().failure, PortFailure::kNone);
    EXPECT_FALSE(PortTable[4].open);
}

TEST_F(ComPortTest, OpenSelectedPortOnAnAbsentPortReportsItOnce) {
    SelectedPortIndex = 2;
    OpenPortIndex = 1;

    const PortOpenResult result = OpenSelectedPort();
    EXPECT_EQ(result.failure, PortFailure::kOpenRefused);
    EXPECT_EQ(result.os.error, serial_os::Error::kAbsent);
    EXPECT_FALSE(PortTable[2].open);
    EXPECT_EQ(OpenPortIndex, 2);

    // A failed open is not retried until the selection changes.
    link(3, pty_->slavePath());
    EXPECT_EQ(OpenSelectedPort().failure, PortFailure::kNone);
    EXPECT_FALSE(PortTable[2].open);
}

TEST_F(ComPortTest, ChangingTheSelectionOpensTheNewPortAndReleasesTheOldOne) {
    Pty second;
    ASSERT_TRUE(second.ok());
    link(1, pty_->slavePath());
    link(2, second.slavePath());

    OpenSelectedPort();
    EXPECT_TRUE(PortTable[0].open);

    SelectedPortIndex = 1;
    OpenSelectedPort();
    EXPECT_TRUE(PortTable[1].open);
    EXPECT_FALSE(PortTable[0].open);
    EXPECT_EQ(FlushPort(1), 0);
}

// Port indices and the COM name each one opens; out-of-range indices must not open anything,
// even when an entry of the name they would map to exists.
struct IndexCase {
    const char* name;
    int index;
    int comNumber;
    bool opens;
};

class ComPortIndexTest : public ComPortTest, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(ComPortIndexTest, OpensExactlyTheIndicesOfTheTable) {
    const IndexCase& c = GetParam();
    link(c.comNumber, pty_->slavePath());
    const int before = OpenDescriptorCount();
    PortRecord* record = open(c.index);
    if (!c.opens) {
        EXPECT_EQ(record, nullptr);
        EXPECT_EQ(FlushPort(static_cast<std::int16_t>(c.index)), -2);
        EXPECT_EQ(OpenDescriptorCount(), before);
        return;
    }
    ASSERT_EQ(record, &PortTable[c.index]);
    EXPECT_EQ(FlushPort(static_cast<std::int16_t>(c.index)), 0);
    const std::uint8_t probe = 0xC5;
    EXPECT_TRUE(WritePort(c.index, &probe, 1));
    EXPECT_EQ(pty_->receive(1, milliseconds(2000)), std::vector<std::uint8_t>{0xC5});
}

INSTANTIATE_TEST_SUITE_P(Indices, ComPortIndexTest,
                         ::testing::Values(IndexCase{"Com1", 0, 1, true},
                                           IndexCase{"Com257", 256, 257, true},
                                           IndexCase{"Index257", 257, 258, false},
                                           IndexCase{"IndexMinus1", -1, 0, false}),
                         [](const ::testing::TestParamInfo<IndexCase>& info) {
                             return info.param.name;
                         });

} // namespace
