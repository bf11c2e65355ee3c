// A temporary settings store and COM directory for one test, restored afterwards.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempEnvironment {
public:
    TempEnvironment();
    ~TempEnvironment();
    TempEnvironment(const TempEnvironment&) = delete;
    TempEnvironment& operator=(const TempEnvironment&) = delete;

    QString configDir() const { return config_.path(); }
    QString comDir() const { return com_.path(); }
    // Path of the settings file Qt writes for the machine-wide store.
    QString settingsFile() const;
    // Writes the settings file with the given "com" value (no file when com is null).
    void writeComSetting(const QString& com) const;
    QString readComSetting() const;

private:
    QTemporaryDir config_;
    QTemporaryDir com_;
    QByteArray oldConfigDirs_;
    QByteArray oldComDir_;
};
