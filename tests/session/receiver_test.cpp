// The reply parser, byte by byte, and the priorities of the timed wait.
#include "session/receiver.h"
#include "session/session_state.h"

#include <QTimer>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSessionState(); }
    void TearDown() override { ResetSessionState(); }

    static void feed(const std::vector<std::uint8_t>& bytes) {
        ParseReplyBytes(bytes.data(), bytes.size());
    }
    // A committed identity with a given version, as after a probe's answer.
    static void commitVersion(std::uint8_t version) { feed({'V', version, 0xFE, 16, 0x02, 'K'}); }
};

TEST_F(ReceiverTest, VersionRecordCommitsAtItsK) {
    feed({'V', 0x0C, 'B', 0x05, 0x83});
    EXPECT_EQ(AckReceived, 0);
    EXPECT_EQ(DeviceInfo.BiosVersion, 0); // not committed before the 'K'
    feed({'K'});
    EXPECT_EQ(AckReceived, 1);
    EXPECT_EQ(VersionRecordSeen, 1);
    EXPECT_EQ(DeviceInfo.BiosVersion, 12);
    EXPECT_EQ(DeviceInfo.ChipCode, 'B');
    EXPECT_EQ(DeviceInfo.BoardCode, 5);
    EXPECT_EQ(DeviceInfo.PreparationCode, 0x83);
}

TEST_F(ReceiverTest, RecordSplitAcrossReadsGivesTheSameResult) {
    const std::vector<std::uint8_t> whole = {'V', 0x0C, 'B', 0x05, 0x83, 'K'};
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        ResetSessionState();
        feed({whole.begin(), whole.begin() + static_cast<long>(cut)});
        feed({whole.begin() + static_cast<long>(cut), whole.end()});
        EXPECT_EQ(DeviceInfo.BiosVersion, 12) << cut;
        EXPECT_EQ(DeviceInfo.PreparationCode, 0x83) << cut;
        EXPECT_EQ(AckReceived, 1) << cut;
    }
}

TEST_F(ReceiverTest, OlderBootloaderAnswersWithItsChipAlone) {
    feed({'V', 0x0C, 'B', 0x05, 0x83, 'K'});
    AckReceived = 0;
    feed({'F', 'K'});
    EXPECT_EQ(DeviceInfo.ChipCode, 'F');
    EXPECT_EQ(DeviceInfo.BiosVersion, 0);
    EXPECT_EQ(VersionRecordSeen, 0);
    EXPECT_EQ(DeviceInfo.BoardCode, 5); // whatever the pending fields held
    EXPECT_EQ(AckReceived, 1);
}

TEST_F(ReceiverTest, VThenKCommitsVersionOneAndKeepsThePendingRest) {
    feed({'V', 0x0C, 'D', 0x07, 0x01, 'K'});
    feed({'V', 'K'});
    EXPECT_EQ(DeviceInfo.BiosVersion, 1);
    EXPECT_EQ(DeviceInfo.ChipCode, 'D');
    EXPECT_EQ(DeviceInfo.BoardCode, 7);
    EXPECT_EQ(DeviceInfo.PreparationCode, 1);
}

TEST_F(ReceiverTest, TextBlockOfThirtyBytesFillsTextAndProtectedRange) {
    commitVersion(12);
    AckReceived = 0;
    std::vector<std::uint8_t> block = {'R', 30, 0x99};
    const char* text = "KJL board rev 2, lot 0042 ok";
    for (int i = 0; i < 24; ++i)
        block.push_back(static_cast<std::uint8_t>(text[i]));
    for (int b : {0x34, 0x12, 0x80, 0x00, int{'N'}, int{'V'}}) // 24..27, then 2 dropped bytes
        block.push_back(static_cast<std::uint8_t>(b));
    block.push_back('K');
    feed(block);
    EXPECT_EQ(std::string(DeviceText), std::string(text, 24));
    EXPECT_EQ(ProtectedStart, 0x1234);
    EXPECT_EQ(ProtectedLength, 0x0080);
    EXPECT_EQ(BlockComplete, 1);
    EXPECT_EQ(BlockState, 0);
    EXPECT_EQ(AckReceived, 0); // the closing 'K' acknowledges nothing
    EXPECT_EQ(NakReceived, 0);
}

TEST_F(ReceiverTest, ShortAndEmptyBlocks) {
    commitVersion(8); // the first version that sends a text block
    feed({'R', 5, 0, 'H', 'e', 'l', 'l', 'o', 'K'});
    EXPECT_STREQ(DeviceText, "Hello");
    EXPECT_EQ(BlockComplete, 1);

    ResetSessionState();
    commitVersion(31);
    AckReceived = 0;
    feed({'R', 0, 'K'}); // the 'K' here is the spare byte
    EXPECT_EQ(BlockComplete, 0);
    feed({'N', 'x', 'K'}); // bytes before the closing 'K' are ignored
    EXPECT_EQ(BlockComplete, 1);
    EXPECT_EQ(NakReceived, 0);
    EXPECT_EQ(AckReceived, 0);
}

TEST_F(ReceiverTest, RIsAnIdentityByteOutsideVersions8To31) {
    for (std::uint8_t version : {std::uint8_t{7}, std::uint8_t{32}}) {
        ResetSessionState();
        commitVersion(version);
        feed({'R', 'K'});
        EXPECT_EQ(BlockState, 0) << int(version);
        EXPECT_EQ(DeviceInfo.ChipCode, 'R') << int(version);
        EXPECT_EQ(VersionRecordSeen, 0) << int(version);
    }
}

TEST_F(ReceiverTest, NoiseInsideABlockNeverOverflowsTheText) {
    commitVersion(12);
    std::vector<std::uint8_t> block = {'R', 255, 0};
    block.insert(block.end(), 255, 'x');
    block.push_back('K');
    feed(block);
    EXPECT_EQ(std::strlen(DeviceText), 24u);
    EXPECT_EQ(BlockComplete, 1);
}

class WaitReplyTest : public ReceiverTest {};

TEST_F(WaitReplyTest, StopWinsOverKAndKOverN) {
    AbortRequested = 1;
    AckReceived = 1;
    EXPECT_EQ(WaitReply(100), kWaitStopped);
    EXPECT_EQ(AbortRequested, 0);             // consumed
    EXPECT_EQ(WaitReply(100), kWaitAccepted); // the flag is not cleared by the wait
    NakReceived = 1;
    EXPECT_EQ(WaitReply(100), kWaitAccepted);
    AckReceived = 0;
    EXPECT_EQ(WaitReply(100), kWaitRefused);
}

TEST_F(WaitReplyTest, StopPressedDuringTheWaitEndsItWithinACycle) {
    QTimer::singleShot(12, [] { AbortRequested = 1; });
    EXPECT_EQ(WaitReply(1000), kWaitStopped);
}

TEST_F(WaitReplyTest, LessThanOneCycleReturnsAtOnceWithoutLooking) {
    AckReceived = 1;
    EXPECT_EQ(WaitReply(4), kWaitNoReply);
    EXPECT_EQ(WaitReply(0), kWaitNoReply);
}

} // namespace
