// One port's work in this process: one board's update, or board after board (--repeat).
#pragma once

#include <QString>

struct PortRun {
    QString port;  // as the user named it
    int index = 0; // its port index (0 = COM1)
    bool repeat = false;
    QString logPath; // empty: no log
};

// Runs the update(s) on the port and returns the exit code (cli/outcome.h).
int RunPort(const PortRun& run);

// Why the log at path cannot be appended to, or nothing when it can: asked before the first
// probe, so that a shift never flashes boards it cannot record.
QString LogUnusable(const QString& path);
