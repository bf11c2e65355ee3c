// The programming run that follows a successful search.
#pragma once

#include <cstdint>

class ProgressDisplay;
class PanelDisplay;

// Chip parameters of the run.
extern std::int32_t AddressUnit; // image bytes per device address unit: 1, or 2 for 0xFE
extern std::int32_t
    BootAreaSize; // protected top area of chips 'B'..'F': 320, or 448 from version 5
extern std::int32_t LargeBootAreaSize; // protected top area of chip 0xC7: 1088
inline constexpr int kResetPatchCapacity = 10;
extern std::uint8_t ResetPatch[kResetPatchCapacity];
extern std::int32_t ResetPatchLength; // 4, or 8 for 0xFE

// Values of one run.
extern std::int32_t BlockSize;
extern std::int32_t ProgramLimit;  // first address unit above the programmable area
extern std::int32_t ProgramLength; // image bytes that are sent

// Why an image does not fit the device: bit 0 another board, bit 1 another preparation.
int BoardCheckMask(std::uint8_t deviceBoard, std::uint8_t devicePreparation,
                   std::uint8_t imageBoard, std::uint8_t imagePreparation);

void SetupChipParameters(std::uint8_t chipCode, std::uint8_t biosVersion);
void ProgramDevice(ProgressDisplay* progressBar, PanelDisplay* statusBar);
void NoImageWarning();
void ImageTooBigWarning();
