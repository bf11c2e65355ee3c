// Whole files that are on the disk once written, behind one small seam:
// durable_file_posix.cpp and durable_file_win.cpp, chosen by the build.
#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to a new file at path through a temporary file beside it, waits until both the
// file and its name are on the disk, and only then gives it its name: a reader sees the whole
// file or none. The OS's words on failure, or nothing.
QString WriteFileDurably(const QString& path, const QByteArray& bytes);
