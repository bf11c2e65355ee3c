// The console's side of the status operations: what one board's session reports, shown as a
// live line (terminal), plain lines per phase (pipe or file) or JSON records (--json), and the
// board's end record.
#pragma once

#include "cli/board_progress.h"
#include "cli/image_sets.h"
#include "shell/status.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

enum class OutputMode {
    kLive,  // one line rewritten in place
    kPlain, // one line per phase
    kJson,  // one JSON object per line
};

class BoardConsole : public ProgressDisplay, public PanelDisplay {
public:
    void setMode(OutputMode mode) { mode_ = mode; }
    // Board after board on one port: the live line keeps the running pass/fail count.
    void setRepeat(bool repeat) { progress_.repeat = repeat; }
    OutputMode mode() const { return mode_; }
    // Publishing to the line: every end record names the station and gets an id of its own,
    // by which a consumer knows a record that came twice.
    void setStation(const QString& station) { station_ = station; }

    // A board's session begins on the port (named as the user gave it).
    void begin(const QString& port);
    // The board's outcome (found: its search found it): shows it and returns its end record.
    // keep, when given, keeps the record (the log) before it is shown and returns why it could
    // not, or nothing; a record that was not kept ends with code 1 and says why.
    QJsonObject finish(int exitCode, const QString& outcome, bool found,
                       const std::function<QString(const QJsonObject&)>& keep = {});
    // The port's device went away during the session (the OS's words): finish says so on
    // stderr and in the end record.
    void portLost(const QString& osText);
    // Repeat: the port waits for the next board.
    void showWaiting(const QString& port, int passed, int failed);
    // Ends the live line, so that what follows starts on a line of its own.
    void endLiveLine();

    // The last result line of the session; empty when it showed none.
    const QString& resultText() const { return resultText_; }
    // Why the port could not be used, when it could not.
    const QString& portFailure() const { return portFailure_; }

    // From the status operations.
    void setMaximum(int maximum) override;
    void setValue(int position) override;
    void setPanelText(int index, const QString& text) override;
    void result(const QString& text);
    void portFailure(const QString& reason);
    void status(const QString& text);
    void identity(const QString& line, const std::optional<QString>& boardText);

private:
    void phase(const QString& name);
    void changed(bool phaseChanged);
    void emitRecord(QJsonObject record);
    void drawLive(bool force);
    QJsonObject deviceJson() const;

    OutputMode mode_ = OutputMode::kPlain;
    BoardProgress progress_;
    QString resultText_;
    QString portFailure_;
    QString portLost_;
    QString station_;
    QElapsedTimer started_;
    QElapsedTimer phaseStarted_;
    QElapsedTimer lastDraw_;
    bool liveShown_ = false;
    bool identityKnown_ = false;
    std::uint8_t chip_ = 0;
    std::uint8_t bios_ = 0;
    std::uint8_t board_ = 0;
    std::uint8_t preparation_ = 0;
    bool versionRecord_ = false;
    QString boardText_;
    ImageSetInfo image_;
    int maximum_ = 0;
    int frames_ = 0;
    int resends_ = 0;
    int lastTenth_ = -1;        // the last tenth of the phase a progress record was written for
    bool blockPending_ = false; // a full block's text came; its progress tells if it is skipped
};

// The one console of this process, which the status operations write to.
BoardConsole& Console();

// Writes a line to stdout and flushes it.
void PrintLine(const QString& line);
// Writes a line to stderr.
void PrintDiagnostic(const QString& line);
