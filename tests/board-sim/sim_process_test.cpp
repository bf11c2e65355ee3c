// quillet-board-sim as a process: started by SimBoard, played against through its COM link.
#include "host_port.h"
#include "support/sim_board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

// 11 bits a byte at 115200 baud.
constexpr auto kByteTime = std::chrono::nanoseconds(11 * 1'000'000'000LL / 115200);

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 7);
    return data;
}

Bytes flashBlock(std::uint16_t address, const Bytes& data, bool twoByteLength) {
    Bytes command = {0x00, static_cast<std::uint8_t>(address >> 8),
                     static_cast<std::uint8_t>(address & 0xFF)};
    if (twoByteLength)
        command.push_back(static_cast<std::uint8_t>(data.size() >> 8));
    command.push_back(static_cast<std::uint8_t>(data.size() & 0xFF));
    command.insert(command.end(), data.begin(), data.end());
    return withChecksum(command);
}

std::vector<std::string> linesStarting(const std::vector<std::string>& lines,
                                       const std::string& prefix) {
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                 [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    return out;
}

bool contains(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

class SimProcess : public ::testing::Test {
protected:
    void start(std::vector<std::string> args) {
        sim_ = std::make_unique<SimBoard>(std::move(args));
        ASSERT_TRUE(sim_->ready()) << sim_->error();
        host_ = std::make_unique<HostPort>(sim_->portPath());
        ASSERT_TRUE(host_->isOpen()) << sim_->portPath();
    }

    Bytes exchange(const Bytes& bytes, std::size_t replyBytes = 1) {
        host_->send(bytes);
        return host_->read(replyBytes);
    }

    // Nothing more is on its way (replies come out in order, so a short look is enough
    // once a later reply has been read).
    void expectQuiet() { EXPECT_EQ(host_->read(1, 30ms), Bytes{}); }

    std::unique_ptr<SimBoard> sim_;
    std::unique_ptr<HostPort> host_; // closed before the simulator stops
};

} // namespace

TEST_F(SimProcess, ProbeIsAnsweredWithVersionRecordAndTextBlock) {
    ASSERT_NO_FATAL_FAILURE(
        start({"--bios", "9", "--board", "5", "--prep", "0x83", "--text", "HELLO",
               "--protected-start", "0x1234", "--protected-length", "256"}));
    Bytes expected = {'V', 9, 0xFE, 5, 0x83, 'K', 'R', 28, 0x00, 'H', 'E', 'L', 'L', 'O'};
    expected.resize(9 + 24, 0x00);
    expected.insert(expected.end(), {0x34, 0x12, 0x00, 0x01, 'K'});

    EXPECT_EQ(exchange({0xC2}, expected.size()), expected);
    expectQuiet();
    const std::vector<std::string> log = sim_->logLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(contains(log[0], "PROBE t=")) << log[0];
    EXPECT_TRUE(contains(log[0], " n=0 byte=C2 reply=id")) << log[0];
}

TEST_F(SimProcess, OldIdentityIsChipAndAckOnly) {
    ASSERT_NO_FATAL_FAILURE(start({"--old-identity", "--chip", "B"}));
    EXPECT_EQ(exchange({0xC5}, 2), (Bytes{'B', 'K'}));
    expectQuiet(); // no text block, although the version would have one
}

TEST_F(SimProcess, IgnoredProbesGarbageAndNakProbes) {
    ASSERT_NO_FATAL_FAILURE(
        start({"--answer-from", "2", "--garbage", "00FF13", "--old-identity", "--chip", "C"}));
    for (std::size_t probe = 1; probe <= 2; ++probe) {
        host_->send({0xC2});
        ASSERT_TRUE(sim_->waitForLog("PROBE", probe));
    }
    EXPECT_EQ(exchange({0xC2}, 5), (Bytes{0x00, 0xFF, 0x13, 'C', 'K'}));
    expectQuiet();
    const std::vector<std::string> probes = linesStarting(sim_->logLines(), "PROBE");
    ASSERT_EQ(probes.size(), 3u);
    EXPECT_TRUE(contains(probes[1], "n=1 byte=C2 reply=none"));
    EXPECT_TRUE(contains(probes[2], "n=2 byte=C2 reply=id"));

    SimBoard nakking({"--nak-probes"});
    ASSERT_TRUE(nakking.ready()) << nakking.error();
    HostPort host(nakking.portPath());
    host.send({0xC2});
    EXPECT_EQ(host.read(1), Bytes{'N'});
    EXPECT_EQ(host.read(1, 30ms), Bytes{});
}

TEST_F(SimProcess, WideChipBlocksHaveTwoLengthBytesAndTwoBytesPerAddressUnit) {
    ASSERT_NO_FATAL_FAILURE(start({})); // chip 0xFE
    EXPECT_EQ(exchange({0xCC}), Bytes{'K'});

    const Bytes first = pattern(256, 1);
    const Bytes last = pattern(99, 50); // the short last block of an image
    Bytes fix(256, 0xFF);
    std::fill(fix.end() - 8, fix.end(), 0x5A);
    EXPECT_EQ(exchange(flashBlock(0x0000, first, true)), Bytes{'K'});
    EXPECT_EQ(exchange(flashBlock(0x0080, last, true)), Bytes{'K'});
    EXPECT_EQ(exchange(flashBlock(0xA780, fix, true)), Bytes{'K'});

    const Bytes wire = sim_->wireFlash();
    ASSERT_EQ(wire.size(), 0xA780u * 2 + 256);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 256), first);
    EXPECT_EQ(Bytes(wire.begin() + 256, wire.begin() + 355), last);
    EXPECT_TRUE(std::all_of(wire.begin() + 355, wire.begin() + 0xA780 * 2,
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(Bytes(wire.begin() + 0xA780 * 2, wire.end()), fix);
    // The board keeps image bytes XOR the key of 0 (0x6B) and the fix block's XOR the key of
    // its address's low byte (0x80 + 0x6B); what it never wrote stays 0xFF.
    const Bytes flash = sim_->flash();
    ASSERT_EQ(flash.size(), wire.size());
    for (std::size_t i = 0; i < flash.size(); ++i) {
        const std::uint8_t key = i >= 0xA780 * 2 ? 0xEB : i < 355 ? 0x6B : 0x00;
        ASSERT_EQ(flash[i], wire[i] ^ key) << i;
    }

    const std::vector<std::string> frames = linesStarting(sim_->logLines(), "FRAME");
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(contains(frames[1], "n=1 send=1 cmd=00 addr=0080 len=99 data=99 sum=ok reply=K"))
        << frames[1];
    EXPECT_TRUE(contains(frames[2], "n=2 send=1 cmd=00 addr=A780 len=256")) << frames[2];
}

TEST_F(SimProcess, ByteChipBlocksHaveOneLengthByte) {
    ASSERT_NO_FATAL_FAILURE(start({"--chip", "B"}));
    const Bytes block = pattern(64, 3);
    EXPECT_EQ(exchange(flashBlock(0x0100, block, false)), Bytes{'K'});
    EXPECT_EQ(exchange(flashBlock(0x0140, pattern(5, 9), false)), Bytes{'K'});

    const Bytes flash = sim_->wireFlash();
    ASSERT_EQ(flash.size(), 0x145u);
    EXPECT_EQ(flash[0xFF], 0xFF);
    EXPECT_EQ(Bytes(flash.begin() + 0x100, flash.begin() + 0x140), block);
    EXPECT_EQ(Bytes(flash.begin() + 0x140, flash.end()), pattern(5, 9));
}

TEST_F(SimProcess, EepromByteLandsAtItsAddress) {
    ASSERT_NO_FATAL_FAILURE(start({"--chip", "B"}));
    EXPECT_EQ(sim_->eeprom(), Bytes(256, 0xFF)); // written before READY
    EXPECT_EQ(exchange({0x40, 0x10, 0xAA, 0x01, 0x00, 0x05}), Bytes{'K'});
    Bytes expected(256, 0xFF);
    expected[0x10] = 0xAA;
    EXPECT_EQ(sim_->wireEeprom(), expected);
    expected[0x10] = 0xAA ^ 0x6B; // unscrambled with the key of 0
    EXPECT_EQ(sim_->eeprom(), expected);
    EXPECT_TRUE(sim_->flash().empty());
    const std::vector<std::string> frames = linesStarting(sim_->logLines(), "FRAME");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(contains(frames[0], "cmd=40 addr=0010 len=- data=1 sum=ok reply=K")) << frames[0];
}

TEST_F(SimProcess, BadChecksumIsRefusedAndChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(start({"--chip", "B"}));
    Bytes frame = flashBlock(0x0000, pattern(64, 0), false);
    frame[10] ^= 0x01; // corrupted on the way: the sum no longer comes to 0
    EXPECT_EQ(exchange(frame), Bytes{'N'});
    EXPECT_TRUE(sim_->wireFlash().empty());

    frame[10] ^= 0x01;
    EXPECT_EQ(exchange(frame), Bytes{'K'});
    EXPECT_EQ(sim_->wireFlash(), pattern(64, 0));
    const std::vector<std::string> frames = linesStarting(sim_->logLines(), "FRAME");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(contains(frames[0], "n=0 send=1") && contains(frames[0], "sum=bad reply=N"));
    EXPECT_TRUE(contains(frames[1], "n=0 send=2") && contains(frames[1], "sum=ok reply=K"));
}

TEST_F(SimProcess, NakFaultRefusesTheFrameMTimes) {
    ASSERT_NO_FATAL_FAILURE(start({"--chip", "B", "--nak", "1:3"}));
    const Bytes e0 = withChecksum({0x40, 0x00, 0x11, 0x01, 0x00});
    const Bytes e1 = withChecksum({0x40, 0x01, 0x22, 0x01, 0x00});
    const Bytes e2 = withChecksum({0x40, 0x02, 0x33, 0x01, 0x00});
    EXPECT_EQ(exchange(e0), Bytes{'K'});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(exchange(e1), Bytes{'N'}) << "send " << i + 1;
        EXPECT_EQ(sim_->wireEeprom()[1], 0xFF);
    }
    EXPECT_EQ(exchange(e1), Bytes{'K'});
    EXPECT_EQ(exchange(e2), Bytes{'K'});
    EXPECT_EQ(sim_->wireEeprom()[1], 0x22);

    const std::vector<std::string> frames = linesStarting(sim_->logLines(), "FRAME");
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_TRUE(contains(frames[3], "n=1 send=3") && contains(frames[3], "fault=nak"));
    EXPECT_TRUE(contains(frames[4], "n=1 send=4") && contains(frames[4], "reply=K"));
    EXPECT_TRUE(contains(frames[5], "n=2 send=1"));
}

TEST_F(SimProcess, SilentFrameGetsNoReplyAndIsNotWritten) {
    ASSERT_NO_FATAL_FAILURE(start({"--chip", "B", "--silent", "1"}));
    EXPECT_EQ(exchange(withChecksum({0x40, 0x00, 0x11, 0x01, 0x00})), Bytes{'K'});
    host_->send(withChecksum({0x40, 0x01, 0x22, 0x01, 0x00}));
    ASSERT_TRUE(sim_->waitForLog("FRAME", 2));
    // The host does not resend after a time-out; the next frame is answered alone.
    EXPECT_EQ(exchange(withChecksum({0x40, 0x02, 0x33, 0x01, 0x00})), Bytes{'K'});
    expectQuiet();
    EXPECT_EQ(sim_->wireEeprom()[1], 0xFF);
    EXPECT_EQ(sim_->wireEeprom()[2], 0x33);
    const std::vector<std::string> frames = linesStarting(sim_->logLines(), "FRAME");
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(contains(frames[1], "n=1 send=1") &&
                contains(frames[1], "reply=none fault=silent"));
}

TEST_F(SimProcess, HangupAfterFrameClosesTheLineAndRemovesTheLink) {
    ASSERT_NO_FATAL_FAILURE(start({"--chip", "B", "--hangup-after", "1"}));
    EXPECT_EQ(exchange(withChecksum({0x40, 0x00, 0x11, 0x01, 0x00})), Bytes{'K'});
    EXPECT_EQ(exchange(withChecksum({0x40, 0x01, 0x22, 0x01, 0x00})), Bytes{'K'});
    host_->send(withChecksum({0x40, 0x02, 0x33, 0x01, 0x00}));
    EXPECT_TRUE(host_->waitForHangup(2s));
    EXPECT_EQ(sim_->waitForExit(), 0);
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim_->portPath(), ec)));
    const std::vector<std::string> log = sim_->logLines();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(contains(log.back(), "HANGUP") && contains(log.back(), "frame=1")) << log.back();
    EXPECT_EQ(sim_->wireEeprom()[2], 0xFF);
}

TEST_F(SimProcess, PortSurvivesTheHostClosingAndReopeningIt) {
    ASSERT_NO_FATAL_FAILURE(start({"--old-identity", "--chip", "D"}));
    EXPECT_EQ(exchange({0xC2}, 2), (Bytes{'D', 'K'}));
    host_.reset();
    host_ = std::make_unique<HostPort>(sim_->portPath());
    ASSERT_TRUE(host_->isOpen());
    EXPECT_EQ(exchange({0xC2}, 2), (Bytes{'D', 'K'}));
}

TEST_F(SimProcess, StopsOnSigtermAndRemovesTheLink) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    host_.reset();
    EXPECT_EQ(sim_->stop(), 0);
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim_->portPath(), ec)));
}

TEST_F(SimProcess, LineRatePacesFramesAndReplies) {
    ASSERT_NO_FATAL_FAILURE(start({"--line-rate"}));
    using Clock = std::chrono::steady_clock;

    // A frame may only count as received once it could have crossed the wire.
    const Bytes frame = flashBlock(0x0000, pattern(256, 0), true);
    auto begin = Clock::now();
    EXPECT_EQ(exchange(frame), Bytes{'K'});
    EXPECT_GE(Clock::now() - begin, 8 * (frame.size() + 1) * kByteTime / 10);

    // The identity and text block come out byte by byte.
    begin = Clock::now();
    const Bytes answer = exchange({0xC2}, 38);
    EXPECT_EQ(answer.size(), 38u);
    EXPECT_GE(Clock::now() - begin, 8 * (1 + 38) * kByteTime / 10);
}

TEST_F(SimProcess, ReplyDelayAndLateProbeReply) {
    ASSERT_NO_FATAL_FAILURE(start(
        {"--reply-delay", "40", "--late-probe-reply", "150:1", "--old-identity", "--chip", "E"}));
    using Clock = std::chrono::steady_clock;
    auto begin = Clock::now();
    EXPECT_EQ(exchange({0xCC}), Bytes{'K'});
    EXPECT_GE(Clock::now() - begin, 40ms);

    begin = Clock::now();
    host_->send({0xC2});
    EXPECT_EQ(host_->read(1, 100ms), Bytes{}); // past the host's 100 ms probe wait
    EXPECT_EQ(host_->read(2), (Bytes{'E', 'K'}));
    EXPECT_GE(Clock::now() - begin, 190ms);

    EXPECT_EQ(exchange({0xC2}, 2), (Bytes{'E', 'K'})); // only the first answer was late
    const std::vector<std::string> probes = linesStarting(sim_->logLines(), "PROBE");
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_TRUE(contains(probes[0], "late=150"));
    EXPECT_FALSE(contains(probes[1], "late="));
}

TEST(SimBoardLauncher, LeavesNoDescriptorsOrFilesBehind) {
    const std::filesystem::path fds = "/proc/self/fd";
    if (!std::filesystem::exists(fds))
        GTEST_SKIP() << "no /proc/self/fd to count descriptors";
    auto count = [&] {
        return std::distance(std::filesystem::directory_iterator(fds),
                             std::filesystem::directory_iterator());
    };
    const auto before = count();
    std::string comDir;
    {
        SimBoard sim({"--chip", "B"});
        ASSERT_TRUE(sim.ready()) << sim.error();
        comDir = sim.comDir();
        EXPECT_TRUE(std::filesystem::is_symlink(sim.portPath()));
    }
    EXPECT_EQ(count(), before);
    EXPECT_FALSE(std::filesystem::exists(comDir));
}

TEST(SimBoardLauncher, ReportsASimulatorThatCannotStart) {
    SimBoard sim({"--no-such-option"});
    EXPECT_FALSE(sim.ready());
    EXPECT_FALSE(sim.error().empty());
}

#ifdef TIOCGEXCL
// The updater opens its port with TIOCEXCL. On a real port that ends with its last close;
// here the simulator's own slave descriptor would keep it, and the updater could not
// reopen the port (root ignores it, so look at the flag instead of trying as a user).
TEST_F(SimProcess, ExclusiveModeEndsWhenTheHostCloses) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    ASSERT_EQ(::ioctl(host_->fd(), TIOCEXCL), 0);
    host_.reset();

    int exclusive = 1;
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    while (exclusive != 0 && std::chrono::steady_clock::now() < deadline) {
        const int fd = ::open(sim_->portPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        ::close(fd);
        if (exclusive != 0)
            std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(exclusive, 0);
}
#endif
