#include "line/spool.h"

#include "line/durable_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUuid>

namespace {

// <milliseconds since 1970, 15 digits>-<random>.json: the names sort oldest first, and two
// processes never pick the same one.
QString NewFileName() {
    return QStringLiteral("%1-%2.json")
        .arg(QDateTime::currentMSecsSinceEpoch(), 15, 10, QLatin1Char('0'))
        .arg(QUuid::createUuid().toString(QUuid::Id128));
}

} // namespace

QString SpoolUnusable(const QString& folder) {
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the folder");
    const QString probe = QDir(folder).filePath(
        QStringLiteral(".probe-%1").arg(QUuid::createUuid().toString(QUuid::Id128)));
    QFile file(probe);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.close();
    file.remove();
    return {};
}

QString SpoolRecord(const QString& folder, const QString& topic, const QJsonObject& record) {
    const QJsonObject entry{{QStringLiteral("topic"), topic}, {QStringLiteral("record"), record}};
    return WriteFileDurably(QDir(folder).filePath(NewFileName()),
                            QJsonDocument(entry).toJson(QJsonDocument::Compact));
}

QStringList SpooledFiles(const QString& folder) {
    const QDir dir(folder);
    QStringList files;
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

bool ReadSpooled(const QString& path, SpooledRecord* record) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject entry = QJsonDocument::fromJson(file.readAll()).object();
    const QString topic = entry.value(QStringLiteral("topic")).toString();
    const QJsonObject payload = entry.value(QStringLiteral("record")).toObject();
    if (topic.isEmpty() || payload.isEmpty())
        return false;
    record->path = path;
    record->topic = topic;
    record->payload = QJsonDocument(payload).toJson(QJsonDocument::Compact);
    return true;
}
