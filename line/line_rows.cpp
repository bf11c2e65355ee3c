#include "line/line_rows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>

namespace {

LineRow& RowOf(std::vector<LineRow>* rows, const QString& station, const QString& port) {
    const auto before = [](const LineRow& row, const std::pair<QString, QString>& key) {
        return std::make_pair(row.station, row.port) < key;
    };
    const auto key = std::make_pair(station, port);
    auto it = std::lower_bound(rows->begin(), rows->end(), key, before);
    if (it != rows->end() && it->station == station && it->port == port)
        return *it;
    // A station's first port takes the place of the row that stood for the station alone.
    if (!port.isEmpty()) {
        const auto alone = std::find_if(rows->begin(), rows->end(), [&](const LineRow& row) {
            return row.station == station && row.port.isEmpty();
        });
        if (alone != rows->end()) {
            LineRow row = *alone;
            rows->erase(alone);
            row.port = port;
            it = std::lower_bound(rows->begin(), rows->end(), key, before);
            return *rows->insert(it, row);
        }
    }
    LineRow row;
    row.station = station;
    row.port = port;
    it = std::lower_bound(rows->begin(), rows->end(), key, before);
    return *rows->insert(it, row);
}

} // namespace

bool ApplyLineMessage(const QString& prefix, const QString& topic, const QByteArray& payload,
                      std::vector<LineRow>* rows) {
    if (!topic.startsWith(prefix + QLatin1Char('/')))
        return false;
    const QStringList levels = topic.mid(prefix.size() + 1).split(QLatin1Char('/'));
    const QJsonObject record = QJsonDocument::fromJson(payload).object();
    if (record.isEmpty())
        return false;
    const QString time = record.value(QStringLiteral("time")).toString();
    if (levels.size() == 3 && levels[2] == QLatin1String("end") && !levels[0].isEmpty() &&
        !levels[1].isEmpty()) {
        LineRow& row = RowOf(rows, levels[0], levels[1]);
        row.online = true;
        row.last = record.value(QStringLiteral("outcome")).toString();
        row.code = record.value(QStringLiteral("code")).toInt(-1);
        row.time = time;
        return true;
    }
    if (levels.size() != 2 || levels[1] != QLatin1String("state") || levels[0].isEmpty())
        return false;
    const QString station = levels[0];
    const bool online = record.value(QStringLiteral("state")).toString() == QLatin1String("online");
    const QJsonValue ports = record.value(QStringLiteral("ports"));
    if (ports.isArray()) {
        for (const QJsonValue& value : ports.toArray()) {
            const QJsonObject port = value.toObject();
            const QString name = port.value(QStringLiteral("port")).toString();
            if (name.isEmpty())
                continue;
            LineRow& row = RowOf(rows, station, name);
            row.passed = port.value(QStringLiteral("passed")).toInt();
            row.failed = port.value(QStringLiteral("failed")).toInt();
            if (port.contains(QStringLiteral("code"))) {
                row.last = port.value(QStringLiteral("last")).toString();
                row.code = port.value(QStringLiteral("code")).toInt(-1);
            }
        }
    }
    // A last will names no ports: every row of the station goes offline, counts kept.
    bool any = false;
    for (LineRow& row : *rows) {
        if (row.station != station)
            continue;
        any = true;
        row.online = online;
    }
    if (!any)
        RowOf(rows, station, QString()).online = online;
    return true;
}
