#include "line/line_url.h"

#include <QStringList>
#include <QUrl>

namespace {

constexpr int kMqttPort = 1883;
constexpr int kMqttsPort = 8883;

// A topic level may not hold the separators or wildcards, and nothing a broker treats specially.
QString TopicLevelError(const QString& level) {
    if (level.isEmpty())
        return QStringLiteral("is empty");
    for (const QChar c : level) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#'))
            return QStringLiteral("contains '%1'").arg(c);
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("contains a control character");
    }
    if (level.startsWith(QLatin1Char('$')))
        return QStringLiteral("starts with '$'");
    return {};
}

} // namespace

ParsedLineUrl ParseLineUrl(const QString& text) {
    ParsedLineUrl parsed;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty()) {
        parsed.error =
            QStringLiteral("'%1' is not mqtt://host[:port]/prefix nor mqtts://host[:port]/prefix")
                .arg(text);
        return parsed;
    }
    if (!url.userInfo().isEmpty()) {
        // Other users see a command line: the login comes from a file or the environment.
        parsed.error = QStringLiteral("'%1' carries a login; give it with --mqtt-login or "
                                      "QUILLET_MQTT_USER and QUILLET_MQTT_PASSWORD")
                           .arg(url.toDisplayString(QUrl::RemoveUserInfo));
        return parsed;
    }
    if (url.hasQuery() || url.hasFragment()) {
        parsed.error =
            QStringLiteral("'%1' has a query or fragment a broker URL does not take").arg(text);
        return parsed;
    }
    parsed.url.tls = scheme == QLatin1String("mqtts");
    parsed.url.host = url.host();
    parsed.url.port = url.port(parsed.url.tls ? kMqttsPort : kMqttPort);
    QString path = url.path();
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty())
        path = QStringLiteral("quillet");
    for (const QString& level : path.split(QLatin1Char('/'))) {
        if (const QString why = TopicLevelError(level); !why.isEmpty()) {
            parsed.error =
                QStringLiteral("the topic prefix '%1' of '%2' %3 in a level").arg(path, text, why);
            return parsed;
        }
    }
    parsed.url.prefix = path;
    return parsed;
}

QString StationNameError(const QString& name) {
    if (const QString why = TopicLevelError(name); !why.isEmpty())
        return QStringLiteral("the station name '%1' %2").arg(name, why);
    return {};
}

bool IsLocalHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    if (host == QLatin1String("::1"))
        return true;
    // 127.0.0.0/8, written as four decimal parts.
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts.first() != QLatin1String("127"))
        return false;
    for (const QString& part : parts) {
        bool number = false;
        if (part.toUInt(&number) > 255 || !number)
            return false;
    }
    return true;
}

QString EndTopic(const QString& prefix, const QString& station, const QString& portLevel) {
    return QStringLiteral("%1/%2/%3/end").arg(prefix, station, portLevel);
}

QString StateTopic(const QString& prefix, const QString& station) {
    return QStringLiteral("%1/%2/state").arg(prefix, station);
}
