// How every part of the updater reports to the user: the result line, the working line and
// the port panel, and the fixed roles of the status-bar panels.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

class PanelStatusBar;
class QLabel;
class QProgressBar;
struct PortOpenResult;
class TForm1;
class TForm3;
class TForm4;
class TForm5;

// The windows of the process; a null pointer means that window does not exist.
extern TForm1* Form1;
extern TForm5* Form5; // the compact main window, only for "HGJ"/"KFN" products
extern TForm3* Form3;
extern TForm4* Form4;

// True until the full main window has been constructed; ShowResult leaves the buttons alone.
extern bool StartingUp;

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
QColor ToQColor(ColorValue value);

// 1 for the success line, 0 for every failure; forwarded to a parent program.
using ResultCode = std::uint8_t;

// Writes a line in its colours and shows it.
void ShowColouredLine(QLabel* line, const QString& text, ColorValue background,
                      ColorValue foreground);

// A final or error outcome: sent to the parent program first, then shown.
void ShowResult(const QString& text, ColorValue colour, ResultCode code);
// Why the port cannot be used, shown with "Invalid Port Com" until the next result or working
// line: a line above the result line (full window), the free chip panel (compact window).
void ShowPortFailure(const QString& reason);
// The neutral working line (" Programming... "); touches neither buttons nor parent program.
void ShowStatus(const QString& text, ColorValue colour);
// "COM<n>" for the selected port, or "-----" when no valid port is selected.
void ShowPortPanel(PanelStatusBar* statusBar);
// Why the chosen port cannot be used: a refused line or time-out setting in a message box of
// its own, then "Invalid Port Com" as a result with the port's state beside it
// (ShowPortFailure). Nothing when the port is usable.
void ShowPortOpenFailure(const PortOpenResult& result);

// The start/stop button pair of the window in use: idle shows the start button (focused),
// running shows the stop button in its place.
void ShowIdleButtons();
void ShowRunningButtons();

// The status bars of the two main windows; nullptr when that window does not exist.
PanelStatusBar* MainStatusBar();
PanelStatusBar* CompactStatusBar();
// Writes a panel and repaints it at once; a null bar or a negative index writes nothing.
void ShowPanelText(PanelStatusBar* statusBar, std::int32_t index, const QString& text);

// A session's progress on the bar it was given: the range 0..maximum, and the position.
void SetProgressRange(QProgressBar* progressBar, int maximum);
void ShowProgress(QProgressBar* progressBar, int position);

// The main window's identity lines: the device line, and beneath it the board's own text, or
// that line hidden when there is none. Both are repainted at once. Nothing without the window.
void ShowIdentityLines(const QString& device, const std::optional<QString>& boardText);
