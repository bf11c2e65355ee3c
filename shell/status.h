// How every part of the updater reports to the user: the result line, the working line and
// the port panel, and the fixed roles of the status-bar panels.
//
// The session and the serial driver see only this header. Each front end implements it once:
// the windows (shell/status.cpp) and the console (cli/console_status.cpp); nothing here names
// a widget.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

struct PortOpenResult;

// What a session shows its progress on: the window's progress bar, or the console's line.
class ProgressDisplay {
public:
    virtual void setMaximum(int maximum) = 0;
    virtual void setValue(int position) = 0;

protected:
    ~ProgressDisplay() = default;
};

// A row of text panels addressed by number: a window's status bar, or the console's line.
class PanelDisplay {
public:
    // An index outside the panels is ignored.
    virtual void setPanelText(int index, const QString& text) = 0;

protected:
    ~PanelDisplay() = default;
};

// The layout in use: the compact window's (it probes with 0xC5 and writes fewer texts).
bool CompactLayout();
// Whether the identity lines of the full main window are there to be written.
bool IdentityLinesShown();

// Panel roles; a negative chip or image panel index means the panel is not written.
extern std::int32_t PortPanelIndex;   // 0
extern std::int32_t StatusPanelIndex; // 1
extern std::int32_t ChipPanelIndex;   // 2, or -2 in the compact layout
extern std::int32_t ImagePanelIndex;  // 3

// Colour values: 0x00BBGGRR, or a system colour (high bit set, low byte its number).
using ColorValue = std::uint32_t;
inline constexpr ColorValue kColorRed = 0x000000FF;
inline constexpr ColorValue kColorGreen = 0x00008000;
inline constexpr ColorValue kColorButtonFace = 0x8000000F;
inline constexpr ColorValue kColorWhite = 0x00FFFFFF;
inline constexpr ColorValue kColorBlack = 0x00000000;

// 1 for the success line, 0 for every failure; forwarded to a parent program.
using ResultCode = std::uint8_t;

// A final or error outcome: sent to the parent program first, then shown.
void ShowResult(const QString& text, ColorValue colour, ResultCode code);
// Why the port cannot be used, shown with "Invalid Port Com" until the next result or working
// line: a line above the result line (full window), the free chip panel (compact window).
void ShowPortFailure(const QString& reason);
// The neutral working line (" Programming... "); touches neither buttons nor parent program.
void ShowStatus(const QString& text, ColorValue colour);
// "COM<n>" for the selected port, or "-----" when no valid port is selected.
void ShowPortPanel(PanelDisplay* statusBar);
// Why the chosen port cannot be used: a refused line or time-out setting in a message box of
// its own, then "Invalid Port Com" as a result with the port's state beside it
// (ShowPortFailure). Nothing when the port is usable.
void ShowPortOpenFailure(const PortOpenResult& result);

// The start/stop button pair of the window in use: idle shows the start button (focused),
// running shows the stop button in its place.
void ShowIdleButtons();
void ShowRunningButtons();

// The status bars of the two main windows; nullptr when that window does not exist.
PanelDisplay* MainStatusBar();
PanelDisplay* CompactStatusBar();
// Writes a panel and repaints it at once; a null bar or a negative index writes nothing.
void ShowPanelText(PanelDisplay* statusBar, std::int32_t index, const QString& text);

// A session's progress on the bar it was given: the range 0..maximum, and the position.
void SetProgressRange(ProgressDisplay* progressBar, int maximum);
void ShowProgress(ProgressDisplay* progressBar, int position);

// The main window's identity lines: the device line, and beneath it the board's own text, or
// that line hidden when there is none. Both are repainted at once. Nothing without the window.
void ShowIdentityLines(const QString& device, const std::optional<QString>& boardText);
