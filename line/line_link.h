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

struct LineOptions {
    LineUrl url;
    QString station;
    QString spool;     // the spool folder
    QString caFile;    // --mqtt-ca; empty: the system's CAs
    QString certFile;  // --mqtt-cert (a client certificate) ...
    QString keyFile;   // ... and its key, --mqtt-key
    QString loginFile; // --mqtt-login: the user name on the first line, the password on the second
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
    // Says offline and waits up to timeoutMs for the spool to empty; the records left.
    int finish(int timeoutMs);

private:
    std::unique_ptr<LineClient> client_;
};

// The line view: subscribes to the prefix and shows a row per station and port until Ctrl-C;
// json: the records as they come. Returns the exit code.
int WatchLine(const LineOptions& options, bool json);
