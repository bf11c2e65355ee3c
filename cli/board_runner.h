// One port's work in this process: one board's update, or board after board (--repeat).
#pragma once

#include <QString>

class LineLink;

struct PortRun {
    QString port;  // as the user named it
    int index = 0; // its port index (0 = COM1)
    bool repeat = false;
    QString logPath; // empty: no log
    // Publishing: each end record goes into the spool for endTopic, and the link (absent in a
    // gang's child: its parent publishes) is told of it.
    QString spool; // empty: not publishing
    QString endTopic;
    LineLink* link = nullptr;
};

// The topic level of the port with this index: "COM3". A device node's name would bring its
// slashes into the topic.
QString PortLevel(int index);

// Runs the update(s) on the port and returns the exit code (cli/outcome.h).
int RunPort(const PortRun& run);

// Why the log at path cannot be appended to, or nothing when it can: asked before the first
// probe, so that a shift never flashes boards it cannot record.
QString LogUnusable(const QString& path);
