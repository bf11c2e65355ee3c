#include "session/session_state.h"

#include <cstring>

std::uint8_t AckReceived = 0;
std::uint8_t NakReceived = 0;
std::uint8_t AbortRequested = 0;
std::uint8_t VersionRecordSeen = 0;
DeviceIdentity DeviceInfo;
DeviceIdentity PendingInfo;
std::uint8_t InfoPosition = kNoInfoRecord;
std::uint16_t BlockState = 0;
std::uint16_t BlockLength = 0;
std::uint16_t BlockPosition = 0;
std::uint16_t BlockComplete = 0;
char DeviceText[kDeviceTextLength + 1] = {};
std::uint16_t ProtectedStart = 0;
std::uint16_t ProtectedLength = 0;
std::int32_t SkipStart = 0;
std::int32_t SkipLength = 0;
std::vector<std::int32_t> UnansweredBlocks;
std::uint8_t PassOverSilentBlocks = 1;
std::uint8_t ImageBoardCode = 0;
std::uint8_t ImagePreparationCode = 0;
std::uint8_t CommandBuffer[kCommandBufferSize] = {};

void ResetSessionState() {
    AckReceived = NakReceived = AbortRequested = VersionRecordSeen = 0;
    DeviceInfo = DeviceIdentity{};
    PendingInfo = DeviceIdentity{};
    InfoPosition = kNoInfoRecord;
    BlockState = BlockLength = BlockPosition = BlockComplete = 0;
    std::memset(DeviceText, 0, sizeof DeviceText);
    ProtectedStart = ProtectedLength = 0;
    SkipStart = SkipLength = 0;
    UnansweredBlocks.clear();
    PassOverSilentBlocks = 1;
    ImageBoardCode = ImagePreparationCode = 0;
    std::memset(CommandBuffer, 0, sizeof CommandBuffer);
}
