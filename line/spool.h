// The records a station has not yet had acknowledged by the broker, one file each in a folder:
// written and on the disk before they are published, removed when the broker acknowledges them.
// Any number of processes may write to one spool, and any of them may deliver what is in it.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

struct SpooledRecord {
    QString path;  // the file
    QString topic; // where it goes
    QByteArray payload;
};

// Why records cannot be spooled in folder (created when missing), or nothing when they can.
QString SpoolUnusable(const QString& folder);
// Writes the record for topic into the spool and waits until it is on the disk; the OS's words
// on failure, or nothing.
QString SpoolRecord(const QString& folder, const QString& topic, const QJsonObject& record);
// The spooled records' files, oldest first.
QStringList SpooledFiles(const QString& folder);
// Reads one spooled record; false when the file is gone or damaged.
bool ReadSpooled(const QString& path, SpooledRecord* record);
