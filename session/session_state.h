// Process-wide state of the one running bootloader session.
#pragma once

#include <cstdint>
#include <vector>

// Reply flags (0 or 1).
extern std::uint8_t AckReceived;       // a 'K' outside a text block
extern std::uint8_t NakReceived;       // an 'N' outside a text block
extern std::uint8_t AbortRequested;    // the Stop button; consumed by WaitReply
extern std::uint8_t VersionRecordSeen; // the bootloader sent a 'V' identity record

struct DeviceIdentity {
    std::uint8_t ChipCode = 0;
    std::uint8_t BiosVersion = 0;
    std::uint8_t BoardCode = 0;
    std::uint8_t PreparationCode = 0;
};
extern DeviceIdentity DeviceInfo;  // committed by the 'K' that answers the probe
extern DeviceIdentity PendingInfo; // being received

inline constexpr std::uint8_t kNoInfoRecord = 255;
extern std::uint8_t InfoPosition; // next identity byte of an open V record; 255: none open

// Text block that bootloaders 8..31 send after their identity.
extern std::uint16_t BlockState; // 0 idle, 1 length next, 2 spare next, 3 data and terminator
extern std::uint16_t BlockLength;
extern std::uint16_t BlockPosition;
extern std::uint16_t BlockComplete;
inline constexpr int kDeviceTextLength = 24;
extern char DeviceText[kDeviceTextLength + 1];
extern std::uint16_t ProtectedStart;
extern std::uint16_t ProtectedLength;

// Protected range of address units whose blocks are not sent (set by the programming run).
extern std::int32_t SkipStart;
extern std::int32_t SkipLength;

// Full blocks of the last programming run that drew no reply (their first address units), in
// sending order. Older bootloaders stay silent on blocks in their own protected area, so the run
// passes them over; this says which.
extern std::vector<std::int32_t> UnansweredBlocks;
// 1: a full block that draws no reply is passed over (the window's behaviour); 0: it ends the
// run as " not Response " (for boards whose bootloader answers every block it is sent).
extern std::uint8_t PassOverSilentBlocks;

// The image's own codes, read from its header bytes by the programming run.
extern std::uint8_t ImageBoardCode;
extern std::uint8_t ImagePreparationCode;

// The one buffer in which the probe and every frame are built.
inline constexpr int kCommandBufferSize = 600;
extern std::uint8_t CommandBuffer[kCommandBufferSize];

// Puts every session variable back to its value at program start (for a fresh process state).
void ResetSessionState();
