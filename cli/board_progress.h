// One board's update as the console shows it: the live line of one board, a row of the gang's
// table, and the records of --json.
#pragma once

#include <QJsonObject>
#include <QString>

struct BoardProgress {
    QString port;     // as the user named it
    QString identity; // "BIOS:12 - KJL_R02 - Preparation02" once the board answered
    QString phase;    // "search", "progmode", "program", "fix", "eeprom", "done", "waiting"
    int attempt = 0;  // search: the probe
    int block = 0;    // program: the block being sent, 1..blocks
    int blocks = 0;
    double fraction = 0; // of the phase, 0..1
    double bytesPerSecond = 0;
    double secondsLeft = -1; // unknown below 0
    QString outcome;         // the outcome text once the board is done
    bool lastFailed = false; // the outcome is a failure: it stays, in red, until the next board
    bool repeat = false;     // board after board: the line shows the running count
    int passed = 0;          // boards passed and failed on this port
    int failed = 0;
    QString firstFailure; // the outcome of the port's first failed board
    int firstFailureCode = 0;
};

// The live line of one board, at most width characters: port, identity, phase, block n/N, a
// progress bar, bytes/s and time left; the outcome and the pass/fail count once it is known.
// A failed board's line comes between the terminal's red and reset sequences.
QString RenderLine(const BoardProgress& progress, int width);

// Text from outside the program (the board's text, port and process names) as the console
// shows it: control characters, and the Unicode ones that break or reorder a line, as visible
// escapes ("\x1b", "\n", "\u202e"), so that such text can never forge or erase a line.
QString VisibleText(const QString& text);

// Whether an end record counts as a board passed or failed: not one the user stopped before
// anything was written to it (a Ctrl-C while the next board was being searched for).
bool IsCountedBoard(const QJsonObject& endRecord);
// Counts a board's failure on its port: its outcome stays on the row until the next board.
void CountFailure(BoardProgress& progress, const QString& outcome, int code);
// The port's process ended without the end record of the board it had begun, or with an exit
// code its records do not explain: the row says so (reason: why, as the user should read it).
void MarkStopped(BoardProgress& progress, const QString& reason, bool boardOpen, int code);
// One port's line of a gang's summary: "COM2: passed 3, failed 1, first failure: CHK Error !!
// (exit 6)".
QString PortSummary(const BoardProgress& progress);

// The progress record of --json, and back (the gang's parent reads its children's records).
QJsonObject ProgressRecord(const BoardProgress& progress);
// Applies one record of a child (begin, identity, progress or end) to its row.
void ApplyRecord(const QJsonObject& record, BoardProgress& progress);
