// The line view's rows: one per station and port, kept up to date from the messages under the
// line's prefix.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

struct LineRow {
    QString station;
    QString port; // empty: a station that has said nothing of its ports yet
    bool online = true;
    int passed = 0;
    int failed = 0;
    QString last;  // the last board's outcome
    int code = -1; // and its exit code; -1: no board yet
    QString time;  // of the last end record
};

// Applies one message to the rows, which stay sorted by station and port. False for a topic or
// payload that is not the line's.
bool ApplyLineMessage(const QString& prefix, const QString& topic, const QByteArray& payload,
                      std::vector<LineRow>* rows);
