// Where a station's records go: the broker named by --mqtt or --watch, and the topics under
// its prefix.
#pragma once

#include <QString>

struct LineUrl {
    bool tls = false; // mqtts://
    QString host;
    int port = 0;
    QString prefix; // the topic levels every record goes under, without a trailing '/'
};

struct ParsedLineUrl {
    LineUrl url;
    QString error; // empty when the URL is fine
};

// mqtt://host[:port]/prefix or mqtts://host[:port]/prefix (ports 1883 and 8883 by default); an
// IPv6 host in brackets. The prefix is one or more topic levels, "quillet" when none is given.
ParsedLineUrl ParseLineUrl(const QString& text);
// Why a station name cannot be a topic level, or nothing when it can.
QString StationNameError(const QString& name);
// True for a host on this machine: plain MQTT to it never crosses a network.
bool IsLocalHost(const QString& host);

// <prefix>/<station>/<port>/end: each board's end record.
QString EndTopic(const QString& prefix, const QString& station, const QString& portLevel);
// <prefix>/<station>/state: the station's retained state.
QString StateTopic(const QString& prefix, const QString& station);
