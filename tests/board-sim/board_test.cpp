// The simulated board's protocol logic, driven without a pty or a clock.
#include "board.h"
#include "options.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using boardsim::Board;
using boardsim::BoardConfig;
using boardsim::TimePoint;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

const TimePoint kStart{};

Bytes framed(Bytes command) {
    unsigned sum = 0;
    for (std::uint8_t b : command)
        sum += b;
    command.push_back(static_cast<std::uint8_t>(-sum & 0xFF));
    return command;
}

// Feeds `bytes` at `at` and returns everything the board answered, in order.
Bytes feed(Board& board, const Bytes& bytes, TimePoint at = kStart) {
    for (std::uint8_t b : bytes)
        board.receive(b, at);
    Bytes out;
    for (const boardsim::Reply& reply : board.takeReplies())
        out.insert(out.end(), reply.bytes.begin(), reply.bytes.end());
    return out;
}

std::vector<std::string> framesLogged(Board& board) {
    std::vector<std::string> frames;
    for (const std::string& line : board.takeLog())
        if (line.rfind("FRAME", 0) == 0)
            frames.push_back(line.substr(line.find(" n=") + 1));
    return frames;
}

} // namespace

struct VersionCase {
    std::uint8_t bios;
    bool textBlock;
};

class TextBlockByVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(TextBlockByVersion, FollowsTheVersionRecordOnlyFrom8To31) {
    BoardConfig config;
    config.bios = GetParam().bios;
    const Bytes answer = Board(config, kStart).identityAnswer();
    EXPECT_EQ(answer.size(), GetParam().textBlock ? 6u + 3 + 28 + 1 : 6u);
}

INSTANTIATE_TEST_SUITE_P(Versions, TextBlockByVersion,
                         ::testing::Values(VersionCase{0, false}, VersionCase{7, false},
                                           VersionCase{8, true}, VersionCase{31, true},
                                           VersionCase{32, false}, VersionCase{255, false}));

TEST(BoardTextBlock, ShortBlockCutsTheTextAndLongBlockPadsWithZeros) {
    BoardConfig config;
    config.blockLength = 5;
    EXPECT_EQ(Board(config, kStart).identityAnswer(),
              (Bytes{'V', 12, 0xFE, 16, 0x02, 'K', 'R', 5, 0x00, 'S', 'I', 'M', ' ', 'B', 'K'}));

    config.blockLength = 30;
    config.text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"; // longer than the 24 text bytes
    config.protectedStart = 0xA123;
    config.protectedLength = 0x0456;
    const Bytes answer = Board(config, kStart).identityAnswer();
    ASSERT_EQ(answer.size(), 6u + 3 + 30 + 1);
    const Bytes data(answer.begin() + 9, answer.end() - 1);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 24), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(Bytes(data.begin() + 24, data.end()), (Bytes{0x23, 0xA1, 0x56, 0x04, 0, 0}));
    EXPECT_EQ(answer.back(), 'K');
}

TEST(BoardFrames, ResendsKeepTheirNumberUpToFiveSends) {
    BoardConfig config;
    config.chip = 'B';
    Board board(config, kStart);
    Bytes bad = framed({0x40, 0x01, 0x02, 0x01, 0x00});
    bad.back() ^= 0x01;
    for (int send = 1; send <= 5; ++send)
        EXPECT_EQ(feed(board, bad), Bytes{'N'}) << "send " << send;
    EXPECT_EQ(feed(board, framed({0x40, 0x01, 0x02, 0x01, 0x00})), Bytes{'K'});

    const std::vector<std::string> frames = framesLogged(board);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[0].substr(0, 10), "n=0 send=1");
    EXPECT_EQ(frames[4].substr(0, 10), "n=0 send=5");
    // The host gives up after five sends: the sixth frame is a new one.
    EXPECT_EQ(frames[5].substr(0, 10), "n=1 send=1");
    EXPECT_EQ(board.wireEeprom()[1], 0x02);
}

TEST(BoardFrames, ProbeAfterRefusalStartsAFreshFrame) {
    Board board(BoardConfig{}, kStart);
    Bytes bad = framed({0x40, 0x01, 0x02, 0x01, 0x00});
    bad.back() ^= 0x80;
    EXPECT_EQ(feed(board, bad), Bytes{'N'});
    feed(board, {0xC2});
    EXPECT_EQ(feed(board, framed({0x40, 0x01, 0x02, 0x01, 0x00})), Bytes{'K'});
    const std::vector<std::string> frames = framesLogged(board);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].substr(0, 10), "n=1 send=1");
}

TEST(BoardFrames, HangupFollowsOnlyTheAcceptingReply) {
    BoardConfig config;
    config.hangupAfter = 0;
    config.naks[0] = 1;
    Board board(config, kStart);
    const Bytes frame = framed({0x40, 0x00, 0x00, 0x01, 0x00});
    for (std::uint8_t b : frame)
        board.receive(b, kStart);
    std::vector<boardsim::Reply> replies = board.takeReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_FALSE(replies[0].hangUpAfter);
    for (std::uint8_t b : frame)
        board.receive(b, kStart);
    replies = board.takeReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, Bytes{'K'});
    EXPECT_TRUE(replies[0].hangUpAfter);
}

TEST(BoardFrames, LateRepliesGarbageAndProgrammingModeAnswerAsConfigured) {
    BoardConfig config;
    config.progModeReply = 0;
    config.lateFrames[1] = 950ms;
    config.frameGarbage = {0x13, 0x00};
    Board board(config, kStart);
    EXPECT_EQ(feed(board, {0xCC}), Bytes{});
    const Bytes frame = framed({0x40, 0x00, 0x00, 0x01, 0x00});
    for (int n = 0; n < 2; ++n)
        for (std::uint8_t b : frame)
            board.receive(b, kStart);
    const std::vector<boardsim::Reply> replies = board.takeReplies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].bytes, (Bytes{0x13, 0x00, 'K'}));
    EXPECT_EQ(replies[0].notBefore, kStart);
    EXPECT_EQ(replies[1].notBefore, kStart + 950ms);
    const std::vector<std::string> log = board.takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "PROGMODE t=0.000 byte=CC reply=none");
    EXPECT_EQ(log[2].substr(log[2].size() - 16), "reply=K late=950");

    config.progModeReply = 'N';
    Board refusing(config, kStart);
    EXPECT_EQ(feed(refusing, {0xCC}), Bytes{'N'});
}

TEST(BoardFrames, StalledFrameIsDroppedAndTheNextOneParses) {
    BoardConfig config;
    config.chip = 'B';
    Board board(config, kStart);
    feed(board, {0x00, 0x01}, kStart);
    feed(board, {0x02}, kStart + 200ms); // a late byte keeps the frame alive
    board.tick(kStart + 499ms);
    ASSERT_TRUE(board.deadline().has_value());
    EXPECT_EQ(*board.deadline(), kStart + 500ms);
    board.tick(kStart + 500ms);
    EXPECT_FALSE(board.deadline().has_value());

    const TimePoint later = kStart + 600ms;
    EXPECT_EQ(feed(board, {0x77}, later), Bytes{}); // stray byte while idle
    EXPECT_EQ(feed(board, framed({0x00, 0x00, 0x10, 0x02, 0xAB, 0xCD}), later), Bytes{'K'});
    Bytes expected(16, 0xFF); // address 0x10, one byte per address unit
    expected.push_back(0xAB);
    expected.push_back(0xCD);
    EXPECT_EQ(board.wireFlash(), expected);

    const std::vector<std::string> log = board.takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "DROP t=500.000 cmd=00 bytes=3");
    EXPECT_EQ(log[1], "UNKNOWN t=600.000 byte=77");
    EXPECT_EQ(log[2].substr(0, 16), "FRAME t=600.000 ");
}

// The board unscrambles with the key of 0, except the block at its fix block's address, which
// it unscrambles with the key of that address's low byte.
TEST(BoardMemory, FixBlockAddressByChipAndVersion) {
    struct Case {
        std::uint8_t chip, bios;
        int address;
    };
    const Case cases[] = {{'B', 4, 0x7EC0},  {'C', 5, 0x7E40},   {'D', 4, 0x3EC0},
                          {'E', 12, 0x3E40}, {'F', 4, 0x1EC0},   {'F', 5, 0x1E40},
                          {0xC7, 4, 0x3BC0}, {0xFE, 12, 0xA780}, {'Z', 5, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(boardsim::wire::fixBlockAddress(c.chip, c.bios), c.address)
            << c.chip << " " << int{c.bios};
}

TEST(BoardMemory, KeepsImageBytesAndTheFixBlockUnscrambled) {
    BoardConfig config;
    config.chip = 'C';
    config.bios = 4;
    Board board(config, kStart);
    EXPECT_EQ(feed(board, framed({0x00, 0x00, 0x00, 0x02, 0x6B, 0x00})), Bytes{'K'});
    EXPECT_EQ(feed(board, framed({0x00, 0x7E, 0xC0, 0x02, 0x2B, 0x8E})), Bytes{'K'});
    const Bytes flash = board.flash();
    ASSERT_EQ(flash.size(), 0x7EC2u);
    EXPECT_EQ(flash[0], 0x00);
    EXPECT_EQ(flash[1], 0x6B);
    EXPECT_EQ(flash[2], 0xFF);      // never written
    EXPECT_EQ(flash[0x7EC0], 0x00); // key of 0xC0: 0x2B
    EXPECT_EQ(flash[0x7EC1], 0xA5);
    EXPECT_EQ(board.wireFlash()[0x7EC1], 0x8E);
}

struct OptionCase {
    std::vector<std::string> args;
    bool ok;
};

class OptionLines : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionLines, AreAcceptedOrRefused) {
    const boardsim::ParseResult r = boardsim::parseOptions(GetParam().args, "/tmp");
    EXPECT_EQ(r.error.empty(), GetParam().ok) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionLines,
    ::testing::Values(
        OptionCase{{"--chip", "B"}, true}, OptionCase{{"--chip", "0xC7"}, true},
        OptionCase{{"--chip", "0x1FE"}, false}, OptionCase{{"--nak", "3:2"}, true},
        OptionCase{{"--nak", "3"}, false}, OptionCase{{"--garbage", "00 ff:13"}, true},
        OptionCase{{"--garbage", "0f1"}, false}, OptionCase{{"--bios", "-1"}, false},
        OptionCase{{"--protected-start", "65536"}, false},
        OptionCase{{"--late-probe-reply", "150:1"}, true},
        OptionCase{{"--late-reply", "4:950"}, true}, OptionCase{{"--late-reply", "4"}, false},
        OptionCase{{"--progmode-reply", "none"}, true},
        OptionCase{{"--progmode-reply", "A"}, false}, OptionCase{{"--com", "0"}, false},
        OptionCase{{"--bogus", "1"}, false}, OptionCase{{"--silent"}, false}));

TEST(Options, ParseIntoTheBoardConfig) {
    const boardsim::ParseResult r = boardsim::parseOptions(
        {"--chip", "C", "--prep", "0x83", "--nak", "4:2", "--nak", "7:1", "--silent", "2",
         "--garbage", "00FF13", "--late-probe-reply", "150", "--line-rate"},
        nullptr);
    ASSERT_EQ(r.error, "--com-dir: required (or set QUILLET_COM_DIR)");
    const BoardConfig& b = r.options.board;
    EXPECT_EQ(b.chip, 'C');
    EXPECT_EQ(b.prep, 0x83);
    EXPECT_EQ(b.naks, (std::map<int, int>{{4, 2}, {7, 1}}));
    EXPECT_EQ(b.silent, std::set<int>{2});
    EXPECT_EQ(b.garbage, (Bytes{0x00, 0xFF, 0x13}));
    EXPECT_EQ(b.lateProbeReply, 150ms);
    EXPECT_EQ(b.lateProbeCount, -1);
    EXPECT_TRUE(r.options.lineRate);
}
