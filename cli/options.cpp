#include "cli/options.h"

#include "serial/comport.h"
#include "serial/port_names.h"

#include "line/line_url.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <limits>

namespace {

const QCommandLineOption kPort(QStringLiteral("port"), QString(), QStringLiteral("port"));
const QCommandLineOption kRepeat(QStringLiteral("repeat"));
const QCommandLineOption kStrict(QStringLiteral("strict"));
const QCommandLineOption kJson(QStringLiteral("json"));
const QCommandLineOption kLog(QStringLiteral("log"), QString(), QStringLiteral("file"));
const QCommandLineOption kList(QStringLiteral("list"));
const QCommandLineOption kImages(QStringLiteral("images"));
const QCommandLineOption kHelp(QStringList{QStringLiteral("h"), QStringLiteral("help")});
const QCommandLineOption kVersion(QStringLiteral("version"));
const QCommandLineOption kChild(QStringLiteral("child"));
const QCommandLineOption kMqtt(QStringLiteral("mqtt"), QString(), QStringLiteral("url"));
const QCommandLineOption kWatch(QStringLiteral("watch"), QString(), QStringLiteral("url"));
const QCommandLineOption kStation(QStringLiteral("station"), QString(), QStringLiteral("name"));
const QCommandLineOption kMqttCa(QStringLiteral("mqtt-ca"), QString(), QStringLiteral("file"));
const QCommandLineOption kMqttCert(QStringLiteral("mqtt-cert"), QString(), QStringLiteral("file"));
const QCommandLineOption kMqttKey(QStringLiteral("mqtt-key"), QString(), QStringLiteral("file"));
const QCommandLineOption kMqttLogin(QStringLiteral("mqtt-login"), QString(),
                                    QStringLiteral("file"));
const QCommandLineOption kSpool(QStringLiteral("spool"), QString(), QStringLiteral("folder"));

// The line's options: the broker's URL and its companions. Empty when they are fine.
QString LineOptionsError(const QCommandLineParser& parser, CliOptions& o) {
    o.mqttUrl = parser.value(kMqtt);
    o.watchUrl = parser.value(kWatch);
    o.station = parser.value(kStation);
    o.mqttCa = parser.value(kMqttCa);
    o.mqttCert = parser.value(kMqttCert);
    o.mqttKey = parser.value(kMqttKey);
    o.mqttLogin = parser.value(kMqttLogin);
    o.spool = parser.value(kSpool);
    for (const QCommandLineOption* option :
         {&kMqtt, &kWatch, &kStation, &kMqttCa, &kMqttCert, &kMqttKey, &kMqttLogin, &kSpool}) {
        if (parser.isSet(*option) && parser.value(*option).isEmpty())
            return QStringLiteral("--%1 needs a value.").arg(option->names().first());
    }
    const QString url = o.mqttUrl.isEmpty() ? o.watchUrl : o.mqttUrl;
    if (!o.mqttUrl.isEmpty() && !o.watchUrl.isEmpty())
        return QStringLiteral("--mqtt and --watch do not go together.");
    if (url.isEmpty()) {
        for (const QCommandLineOption* option :
             {&kStation, &kMqttCa, &kMqttCert, &kMqttKey, &kMqttLogin, &kSpool}) {
            if (parser.isSet(*option))
                return QStringLiteral("--%1 goes with --mqtt%2.")
                    .arg(option->names().first(), option == &kStation || option == &kSpool
                                                      ? QString()
                                                      : QStringLiteral(" or --watch"));
        }
        return {};
    }
    const ParsedLineUrl parsed = ParseLineUrl(url);
    if (!parsed.error.isEmpty())
        return parsed.error + QLatin1Char('.');
    if (!parsed.url.tls && (!o.mqttCa.isEmpty() || !o.mqttCert.isEmpty() || !o.mqttKey.isEmpty()))
        return QStringLiteral("--mqtt-ca, --mqtt-cert and --mqtt-key go with mqtts://.");
    // Named, not taken from the system: OpenSSL on Windows does not read the system's store,
    // and a line's broker usually has a CA of its own.
    if (parsed.url.tls && o.mqttCa.isEmpty())
        return QStringLiteral("mqtts:// needs --mqtt-ca, the CA that signed the broker's "
                              "certificate.");
    if (o.mqttCert.isEmpty() != o.mqttKey.isEmpty())
        return QStringLiteral("--mqtt-cert and --mqtt-key go together.");
    if (!o.watchUrl.isEmpty() && (!o.station.isEmpty() || !o.spool.isEmpty()))
        return QStringLiteral("--station and --spool go with --mqtt.");
    if (!o.mqttUrl.isEmpty() && o.station.isEmpty())
        o.station = QSysInfo::machineHostName();
    if (const QString why = o.mqttUrl.isEmpty() ? QString() : StationNameError(o.station);
        !why.isEmpty())
        return why + QStringLiteral("; name the station with --station.");
    return {};
}

// "COM3" or "\\.\COM3": its number, which may lie past the driver's ports (INT_MAX when it
// is too long to read).
std::optional<int> ComNumber(const QString& name) {
    static const QRegularExpression com(QStringLiteral(R"(^(?:\\\\\.\\)?COM([0-9]+)$)"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int number = match.captured(1).toInt(&ok);
    if (!ok)
        return std::numeric_limits<int>::max();
    if (number < 1)
        return std::nullopt;
    return number;
}

} // namespace

ParsedOptions ParseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({kPort, kRepeat, kStrict, kJson, kLog, kList, kImages, kHelp, kVersion,
                       kChild, kMqtt, kWatch, kStation, kMqttCa, kMqttCert, kMqttKey, kMqttLogin,
                       kSpool});
    ParsedOptions parsed;
    if (!parser.parse(QStringList{QStringLiteral("quillet-cli")} + arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    CliOptions& o = parsed.options;
    o.ports = parser.values(kPort);
    o.repeat = parser.isSet(kRepeat);
    o.strict = parser.isSet(kStrict);
    o.json = parser.isSet(kJson);
    o.logPath = parser.value(kLog);
    o.list = parser.isSet(kList);
    o.images = parser.isSet(kImages);
    o.help = parser.isSet(kHelp);
    o.version = parser.isSet(kVersion);
    o.child = parser.isSet(kChild);
    if (o.help || o.version)
        return parsed;
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error =
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
        return parsed;
    }
    if (parser.isSet(kLog) && o.logPath.isEmpty()) {
        parsed.error = QStringLiteral("--log needs a file name.");
        return parsed;
    }
    if (const QString why = LineOptionsError(parser, o); !why.isEmpty()) {
        parsed.error = why;
        return parsed;
    }
    const int actions = (o.list ? 1 : 0) + (o.images ? 1 : 0) + (o.ports.isEmpty() ? 0 : 1) +
                        (o.watchUrl.isEmpty() ? 0 : 1);
    if (actions == 0) {
        parsed.error =
            QStringLiteral("Name a port with --port, or ask for --list, --images or --watch.");
        return parsed;
    }
    if (actions > 1) {
        parsed.error = QStringLiteral("--port, --list, --images and --watch do not go together.");
        return parsed;
    }
    if ((o.repeat || o.strict || !o.logPath.isEmpty() || !o.mqttUrl.isEmpty()) &&
        o.ports.isEmpty()) {
        parsed.error = QStringLiteral("--repeat, --strict, --log and --mqtt go with --port.");
        return parsed;
    }
    if (o.child && o.ports.size() != 1) {
        parsed.error = QStringLiteral("--child runs one port.");
        return parsed;
    }
    QList<int> indices;
    for (const QString& port : o.ports) {
        if (const std::optional<int> number = ComNumber(port); number && *number > kPortCount) {
            parsed.error = QStringLiteral("'%1' is past the last COM port that can be opened "
                                          "(COM%2).")
                               .arg(port)
                               .arg(kPortCount);
            return parsed;
        }
        const std::optional<int> index = PortIndexOf(port);
        if (!index) {
            parsed.error = QStringLiteral("'%1' is no COM port (COM1 to COM%2, or a serial device "
                                          "that has a COM number).")
                               .arg(port)
                               .arg(kPortCount);
            return parsed;
        }
        if (indices.contains(*index)) {
            parsed.error = QStringLiteral("Port '%1' is named twice.").arg(port);
            return parsed;
        }
        indices.append(*index);
    }
    return parsed;
}

std::optional<int> PortIndexOf(const QString& port) {
    if (const std::optional<int> number = ComNumber(port))
        return *number <= kPortCount ? std::optional<int>(*number - 1) : std::nullopt;
    const QString directory = QString::fromStdString(ComDirectory());
    if (!directory.isEmpty()) {
        // Only the directory's own entries are ports then, as for the driver.
        const QFileInfo info(port);
        if (QDir(info.absolutePath()) != QDir(directory))
            return std::nullopt;
        const std::optional<int> number = ComNumber(info.fileName());
        return number && *number <= kPortCount ? std::optional<int>(*number - 1) : std::nullopt;
    }
    // Windows reads "COM300" as a device name too: past the driver's ports it is none.
    const std::optional<int> index = ComIndexOfDevice(QDir::cleanPath(port).toStdString());
    return index && *index < kPortCount ? index : std::nullopt;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: quillet-cli --port PORT [--port PORT ...] [--repeat] [--strict] [--json]\n"
        "                   [--log FILE] [--mqtt URL [--station NAME] [--spool FOLDER]]\n"
        "       quillet-cli --watch URL [--json]\n"
        "       quillet-cli --list [--json]\n"
        "       quillet-cli --images [--json]\n"
        "       quillet-cli --version\n"
        "\n"
        "Updates the board on each PORT (COM3, or a device such as /dev/ttyUSB0) with this\n"
        "release's firmware. Several --port options update their boards at the same time.\n"
        "\n"
        "  --port PORT  the port of a board; give it once per board\n"
        "  --repeat     board after board on each port, until Ctrl-C\n"
        "  --strict     a program block that draws no reply fails the board (exit 6);\n"
        "               for bootloaders that answer every block they are sent\n"
        "  --json       one JSON object per line: begin, identity, progress, end\n"
        "  --log FILE   append each board's end record (JSON) to FILE\n"
        "  --mqtt URL   publish each board's end record and the station's state to the\n"
        "               line's MQTT broker: mqtt://host[:port]/prefix, or mqtts:// (TLS)\n"
        "  --station NAME\n"
        "               this station's topic level (default: the host name)\n"
        "  --spool FOLDER\n"
        "               where records wait until the broker has them (default: FILE.spool\n"
        "               beside --log FILE, else a folder in the user's data folder)\n"
        "  --mqtt-ca FILE\n"
        "               the CA that signed the broker's certificate (needed by mqtts://)\n"
        "  --mqtt-cert FILE, --mqtt-key FILE\n"
        "               a client certificate and its key\n"
        "  --mqtt-login FILE\n"
        "               the broker's user name (line 1) and password (line 2); else\n"
        "               QUILLET_MQTT_USER and QUILLET_MQTT_PASSWORD\n"
        "  --watch URL  the line view: a row per station and port, until Ctrl-C\n"
        "  --list       the serial ports and their states\n"
        "  --images     the release's device list and its image sets' SHA-256\n"
        "  --version    this tool's version and the release it carries\n"
        "  --help       this text\n"
        "\n"
        "Exit codes: 0 Program Ok; 1 log or child process failed; 2 usage error;\n"
        "3 port could not be opened; 4 device not found; 5 board, preparation or image\n"
        "refused; 6 transfer failed (no response, CHK error, hang-up); 7 stopped by the user;\n"
        "8 the broker refused the station (login, certificate).\n"
        "With several boards, 0 only when every board passed, else the first failure's code.\n");
}
