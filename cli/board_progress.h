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
    bool repeat = false;     // board after board: the line shows the running count
    int passed = 0;          // boards passed and failed on this port
    int failed = 0;
};

// The live line of one board, at most width characters: port, identity, phase, block n/N, a
// progress bar, bytes/s and time left; the outcome and the pass/fail count once it is known.
QString RenderLine(const BoardProgress& progress, int width);

// The progress record of --json, and back (the gang's parent reads its children's records).
QJsonObject ProgressRecord(const BoardProgress& progress);
// Applies one record of a child (begin, identity, progress or end) to its row.
void ApplyRecord(const QJsonObject& record, BoardProgress& progress);
