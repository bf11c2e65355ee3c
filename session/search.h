// Finding the bootloader and showing its identity.
#pragma once

#include <cstdint>

class ProgressDisplay;
class PanelDisplay;

// Search results.
inline constexpr std::int16_t kSearchFound = 0;
inline constexpr std::int16_t kSearchPortUnusable = -1;
inline constexpr std::int16_t kSearchNotFound = -2;
inline constexpr std::int16_t kSearchStopped = -3;

// The probe byte: 0xC5 for a release with the compact window, else 0xC2.
std::uint8_t ProbeByte();
// Opens the chosen port and probes up to 100 times; returns one of the search results.
std::int16_t SearchDevice(ProgressDisplay* progressBar, PanelDisplay* statusBar);
// Writes the identity line (and the board's text for bootloaders 8..31) into the main window.
void ShowDeviceInfo();
