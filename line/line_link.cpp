#include "line/line_link.h"

#include "line/line_client.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// How long a station waits for the broker's first answer before it goes on without it.
constexpr int kStartWaitMs = 5000;

QString Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

} // namespace

LineLogin ReadLineLogin(const QString& loginFile, QString* error) {
    LineLogin login;
    if (!loginFile.isEmpty()) {
        QFile file(loginFile);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *error = QStringLiteral("cannot read the login file %1: %2")
                         .arg(loginFile, file.errorString());
            return login;
        }
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        login.user = lines.value(0).trimmed();
        // The password as written: only the line end is not part of it.
        login.password = lines.value(1);
        if (login.password.endsWith(QLatin1Char('\r')))
            login.password.chop(1);
        if (login.user.isEmpty())
            *error = QStringLiteral("the login file %1 has no user name on its first line")
                         .arg(loginFile);
        return login;
    }
    login.user = qEnvironmentVariable("QUILLET_MQTT_USER");
    login.password = qEnvironmentVariable("QUILLET_MQTT_PASSWORD");
    return login;
}

// What the station's retained state says: who it is, its ports with their counts and last
// outcome, and the shift's totals.
struct StationState {
    struct Port {
        QString level;
        int passed = 0;
        int failed = 0;
        QString last;
        int code = -1;
    };
    QString station;
    QJsonObject release;
    std::vector<Port> ports;

    QByteArray payload(bool online) const {
        QJsonArray list;
        int passed = 0;
        int failed = 0;
        for (const Port& port : ports) {
            QJsonObject entry{{QStringLiteral("port"), port.level},
                              {QStringLiteral("passed"), port.passed},
                              {QStringLiteral("failed"), port.failed}};
            if (port.code >= 0) {
                entry.insert(QStringLiteral("last"), port.last);
                entry.insert(QStringLiteral("code"), port.code);
            }
            list.append(entry);
            passed += port.passed;
            failed += port.failed;
        }
        QJsonObject state{{QStringLiteral("record"), QStringLiteral("state")},
                          {QStringLiteral("state"),
                           online ? QStringLiteral("online") : QStringLiteral("offline")},
                          {QStringLiteral("station"), station},
                          {QStringLiteral("time"), Now()},
                          {QStringLiteral("release"), release}};
        if (!ports.empty()) {
            state.insert(QStringLiteral("passed"), passed);
            state.insert(QStringLiteral("failed"), failed);
            state.insert(QStringLiteral("ports"), list);
        }
        return QJsonDocument(state).toJson(QJsonDocument::Compact);
    }
};

LineLink::LineLink() = default;

LineLink::~LineLink() {
    if (client_)
        finish(0);
}

LineStart LineLink::start(const LineOptions& options, const QStringList& portLevels, QString* why) {
    state_ = std::make_unique<StationState>();
    state_->station = options.station;
    state_->release = options.release;
    for (const QString& level : portLevels)
        state_->ports.push_back({level, 0, 0, QString(), -1});
    client_ = std::make_unique<LineClient>(options, LineClient::Role::kStation);
    // The will cannot know the counts: it names no ports, and a line view keeps the last
    // counts it saw.
    StationState will = *state_;
    will.ports.clear();
    client_->setState(state_->payload(true));
    const LineStart result = client_->start(will.payload(false), kStartWaitMs, why);
    if (result == LineStart::kRefused)
        client_.reset();
    return result;
}

void LineLink::recordSpooled() {
    if (client_)
        client_->wake();
}

void LineLink::boardEnded(const QString& portLevel, const QJsonObject& record) {
    if (!client_)
        return;
    for (StationState::Port& port : state_->ports) {
        if (port.level != portLevel)
            continue;
        port.code = record.value(QStringLiteral("code")).toInt();
        port.last = record.value(QStringLiteral("outcome")).toString();
        if (port.code == 0)
            ++port.passed;
        else
            ++port.failed;
    }
    client_->setState(state_->payload(true));
    client_->wake();
}

QStringList LineLink::takeNews() {
    return client_ ? client_->takeNews() : QStringList();
}

int LineLink::finish(int timeoutMs) {
    if (!client_)
        return 0;
    // The records first, then the state that counts them says the station is gone.
    client_->drain(timeoutMs);
    client_->setState(state_->payload(false));
    const int left = client_->drain(timeoutMs);
    client_->stop(timeoutMs);
    client_.reset();
    return left;
}

LineWatcher::LineWatcher() = default;
LineWatcher::~LineWatcher() {
    if (client_)
        client_->stop(0);
}

LineStart LineWatcher::start(const LineOptions& options, QString* why) {
    client_ = std::make_unique<LineClient>(options, LineClient::Role::kWatcher);
    const LineStart result = client_->start(QByteArray(), kStartWaitMs, why);
    if (result == LineStart::kRefused)
        client_.reset();
    return result;
}

std::vector<std::pair<QString, QByteArray>> LineWatcher::takeMessages() {
    std::vector<std::pair<QString, QByteArray>> list;
    if (client_)
        for (LineMessage& message : client_->takeMessages())
            list.emplace_back(message.topic, message.payload);
    return list;
}

QStringList LineWatcher::takeNews() {
    return client_ ? client_->takeNews() : QStringList();
}

bool LineWatcher::connected() const {
    return client_ && client_->connected();
}
