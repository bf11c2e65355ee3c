// A station's link to the line's MQTT broker: publishes the spooled end records at QoS 1 and
// the station's retained state, keeps a last will that marks the station offline, and
// reconnects on its own thread, so that a broker outage never holds up a board.
#pragma once

#include "line/line_url.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct LineOptions {
    LineUrl url;
    QString station;
    QString spool;     // the spool folder
    QString caFile;    // --mqtt-ca; empty: the system's CAs
    QString certFile;  // --mqtt-cert (a client certificate) ...
    QString keyFile;   // ... and its key, --mqtt-key
    QString loginFile; // --mqtt-login: the user name on the first line, the password on the second
    QJsonObject release; // the release the station flashes, named in its state
};

// The broker's login: from --mqtt-login's file, else QUILLET_MQTT_USER and
// QUILLET_MQTT_PASSWORD; never from the command line. *error says why a file cannot be read.
struct LineLogin {
    QString user; // empty: no login
    QString password;
};
LineLogin ReadLineLogin(const QString& loginFile, QString* error);

// How the first connection went.
enum class LineStart {
    kConnected,   // the broker accepted the station
    kUnreachable, // not now (no route, refused, no answer yet): the link keeps trying
    kRefused,     // the broker refused the login or the TLS handshake failed: never will work
};

class LineClient;
struct StationState;

class LineLink {
public:
    LineLink();
    ~LineLink(); // says offline, delivers what it can within a few seconds, and disconnects

    // Connects (waiting at most a few seconds for the broker's answer) and starts publishing.
    // *why says what went wrong when it did not connect.
    LineStart start(const LineOptions& options, const QStringList& portLevels, QString* why);
    // A record was spooled: publish it now rather than at the next look at the spool.
    void recordSpooled();
    // A board on the port ended with this end record: the state's counts follow it.
    void boardEnded(const QString& portLevel, const QJsonObject& record);
    // What happened to the connection since the last call (lost, back, refused), a line each.
    QStringList takeNews();
    // Says offline and waits up to timeoutMs for the spool to empty; the records left.
    int finish(int timeoutMs);

private:
    std::unique_ptr<StationState> state_;
    std::unique_ptr<LineClient> client_;
};

// The line view's side of the broker: subscribed to every station's state and end records
// under the prefix.
class LineWatcher {
public:
    LineWatcher();
    ~LineWatcher();
    LineStart start(const LineOptions& options, QString* why);
    // The messages that came since the last call: (topic, payload) pairs.
    std::vector<std::pair<QString, QByteArray>> takeMessages();
    QStringList takeNews();
    // False while the broker is out of reach: the rows are then as it last told them.
    bool connected() const;

private:
    std::unique_ptr<LineClient> client_;
};
