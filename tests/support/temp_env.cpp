#include "support/temp_env.h"

#include <QDir>
#include <QFile>
#include <QSettings>

TempEnvironment::TempEnvironment()
    : oldConfigDirs_(qgetenv("XDG_CONFIG_DIRS")), oldComDir_(qgetenv("QUILLET_COM_DIR")) {
    qputenv("XDG_CONFIG_DIRS", config_.path().toLocal8Bit());
    qputenv("QUILLET_COM_DIR", com_.path().toLocal8Bit());
    // Qt caches the system-scope location; point it at this test's directory.
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, config_.path());
}

TempEnvironment::~TempEnvironment() {
    qputenv("XDG_CONFIG_DIRS", oldConfigDirs_);
    if (oldComDir_.isNull())
        qunsetenv("QUILLET_COM_DIR");
    else
        qputenv("QUILLET_COM_DIR", oldComDir_);
}

QString TempEnvironment::settingsFile() const {
    return config_.path() + QStringLiteral("/Tessaly/Quillet.conf");
}

void TempEnvironment::writeComSetting(const QString& com) const {
    QDir().mkpath(config_.path() + QStringLiteral("/Tessaly"));
    QFile file(settingsFile());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QStringLiteral("[General]\ncom=%1\n").arg(com).toUtf8());
}

QString TempEnvironment::readComSetting() const {
    QSettings store(settingsFile(), QSettings::IniFormat);
    return store.value(QStringLiteral("com")).toString();
}
