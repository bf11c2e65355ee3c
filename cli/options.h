// The command line of quillet-cli.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct CliOptions {
    QStringList ports; // as given: "COM3", "/dev/ttyUSB0", ...
    bool repeat = false;
    bool strict = false; // a full block without a reply fails the board
    bool json = false;
    QString logPath;
    bool list = false;
    bool images = false;
    bool help = false;
    bool version = false;
    bool child = false; // one port of a gang, run by its parent
    // The line: each board's end record to an MQTT broker (--mqtt), or the line view (--watch).
    QString mqttUrl;
    QString watchUrl;
    QString station; // the topic level of this station; the host name by default
    QString mqttCa;
    QString mqttCert;
    QString mqttKey;
    QString mqttLogin;
    QString spool; // where records wait for the broker's acknowledgement
};

struct ParsedOptions {
    CliOptions options;
    QString error; // a usage error; empty when the line is fine
};

// Parses the arguments (without the program name).
ParsedOptions ParseOptions(const QStringList& arguments);
// The port index (0 = COM1) a --port value names: "COM3", "\\.\COM3", a device node with a
// COM number ("/dev/ttyUSB0"), or an entry "COM<n>" of QUILLET_COM_DIR.
std::optional<int> PortIndexOf(const QString& port);

QString UsageText();
