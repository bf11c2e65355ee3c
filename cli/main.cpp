// quillet-cli: the update from a terminal, a script or a test rig, on one board or many.
#include "cli/board_console.h"
#include "cli/board_runner.h"
#include "cli/console_os.h"
#include "cli/gang.h"
#include "cli/image_sets.h"
#include "cli/line_cli.h"
#include "cli/options.h"
#include "cli/outcome.h"
#include "cli/release_info.h"

#include "catalogue/catalogue.h"
#include "catalogue/device_listing.h"
#include "line/line_link.h"
#include "line/spool.h"
#include "serial/comport.h"
#include "serial/port_discovery.h"
#include "serial/port_state.h"
#include "session/session_state.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

void PrintJson(QJsonObject record) {
    record.insert(QStringLiteral("release"), ReleaseJson());
    PrintLine(QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)));
}

QString StateName(PortState state) {
    switch (state) {
    case PortState::kFree:
        return QStringLiteral("free");
    case PortState::kBusy:
        return QStringLiteral("busy");
    case PortState::kDenied:
        return QStringLiteral("denied");
    case PortState::kGone:
        return QStringLiteral("gone");
    case PortState::kNotSerial:
        return QStringLiteral("not_serial");
    case PortState::kFailed:
        break;
    }
    return QStringLiteral("failed");
}

// The ports as the "Setup" dialog lists them, each with its state; no port is opened.
int ListPorts(bool json) {
    std::unique_ptr<PortDeviceSet> devices = OpenPortDevices();
    std::string portName;
    std::string friendlyName;
    while (NextComPort(devices.get(), &portName, &friendlyName) == 1) {
        const PortCheck check = CheckComPort(LeadingDecimal(portName.substr(3)) - 1);
        const QString name = QString::fromStdString(portName);
        const QString friendly = QString::fromStdString(friendlyName);
        if (json) {
            QJsonObject record{{QStringLiteral("record"), QStringLiteral("port")},
                               {QStringLiteral("port"), name},
                               {QStringLiteral("state"), StateName(check.state)},
                               {QStringLiteral("label"), PortStateLabel(check)},
                               {QStringLiteral("name"), friendly}};
            if (check.holder)
                record.insert(QStringLiteral("holder"),
                              QJsonObject{{QStringLiteral("pid"), check.holder->pid},
                                          {QStringLiteral("name"),
                                           QString::fromStdString(check.holder->name)}});
            PrintJson(record);
        } else {
            // The names come from drivers and other processes: shown, never obeyed.
            PrintLine(QStringLiteral("%1 %2 %3")
                          .arg(VisibleText(name).leftJustified(7),
                               VisibleText(PortStateLabel(check)).leftJustified(28),
                               VisibleText(friendly)));
        }
    }
    ClosePortDevices(std::move(devices));
    return kExitOk;
}

// The device list dialog's lines, then every image set with its hashes.
int ListImages(bool json) {
    if (json) {
        PrintJson({{QStringLiteral("record"), QStringLiteral("release")}});
    } else {
        for (const QString& line : ReleaseLines())
            PrintLine(line);
        PrintLine(QString());
    }
    const QStringList lines = DeviceListingLines();
    for (const QString& line : lines) {
        if (json)
            PrintJson({{QStringLiteral("record"), QStringLiteral("device_line")},
                       {QStringLiteral("line"), line}});
        else
            PrintLine(line);
    }
    if (!json)
        PrintLine(QString());
    for (const ImageSetInfo& set : StoredImageSets()) {
        if (json) {
            QJsonObject record = ImageSetJson(set);
            record.insert(QStringLiteral("record"), QStringLiteral("image_set"));
            PrintJson(record);
        } else {
            const QString head =
                QStringLiteral("row %1  %2  ").arg(set.row, -3).arg(set.family.leftJustified(6));
            const QString blank(head.size(), QLatin1Char(' '));
            PrintLine(head + QStringLiteral("image   ") + set.imageSha256);
            const auto hash = [](const QString& sha) {
                return sha.isEmpty() ? QStringLiteral("none") : sha;
            };
            PrintLine(blank + QStringLiteral("fix     ") + hash(set.fixSha256));
            PrintLine(blank + QStringLiteral("eeprom  ") + hash(set.eepromSha256));
        }
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    console_os::UseUtf8Console();
    const ParsedOptions parsed = ParseOptions(QCoreApplication::arguments().mid(1));
    if (!parsed.error.isEmpty()) {
        PrintDiagnostic(
            QStringLiteral("quillet-cli: %1\nTry 'quillet-cli --help'.").arg(parsed.error));
        return kExitUsage;
    }
    const CliOptions& options = parsed.options;
    if (options.help) {
        std::fputs(UsageText().toUtf8().constData(), stdout);
        return kExitOk;
    }
    if (!options.logPath.isEmpty()) {
        // Before the first probe: a shift that cannot be recorded must not flash a board.
        if (const QString why = LogUnusable(options.logPath); !why.isEmpty()) {
            PrintDiagnostic(QStringLiteral("quillet-cli: cannot append to the log %1: %2")
                                .arg(options.logPath, why));
            return kExitUsage;
        }
    }

    BuildImageCatalogue();
    RememberStoredImageSets(); // before any run writes its reset patch into an image
    RememberRelease();
    if (options.version) {
        PrintLine(QStringLiteral("quillet-cli %1").arg(QStringLiteral(QUILLET_TOOL_VERSION)));
        for (const QString& line : ReleaseLines())
            PrintLine(line);
        return kExitOk;
    }
    if (options.list)
        return ListPorts(options.json);
    if (options.images)
        return ListImages(options.json);
    if (!options.watchUrl.isEmpty())
        return console_os::EndAfterLine(WatchLine(options));

    // Publishing: the spool must take records and the broker the station before any probe.
    QString spool;
    std::unique_ptr<LineLink> link;
    if (!options.mqttUrl.isEmpty()) {
        spool = SpoolFolder(options);
        if (const QString why = SpoolUnusable(spool); !why.isEmpty()) {
            PrintDiagnostic(QStringLiteral("quillet-cli: cannot keep records in the spool %1: %2")
                                .arg(spool, why));
            return kExitUsage;
        }
        // A gang's child spools; its parent publishes.
        if (!options.child) {
            if (const int code = StartLine(options, spool, &link); code != kExitOk)
                return console_os::EndAfterLine(code);
        }
    }

    console_os::CatchStopSignals();
    OutputMode mode = OutputMode::kPlain;
    if (options.json || options.child)
        mode = OutputMode::kJson;
    else if (console_os::StdoutIsTerminal() && console_os::EnableTerminalSequences())
        mode = OutputMode::kLive;

    if (options.ports.size() > 1) {
        const int code = RunGang(options, mode, spool, link.get());
        return FinishLine(std::move(link), spool, code);
    }

    if (options.child)
        console_os::StopOnInputEnd();
    PassOverSilentBlocks = options.strict ? 0 : 1;
    Console().setMode(mode);
    if (!options.mqttUrl.isEmpty())
        Console().setStation(options.station);
    // Ctrl-C acts as Stop: the request is renewed every cycle, so a wait that consumes it
    // without ending the session (the programming-mode wait) cannot lose it.
    constexpr int kStopPollMs = 25;
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [] {
        if (console_os::StopRequested())
            AbortRequested = 1;
    });
    // Not every pump cycle: Qt on Windows serves a timer of 20 ms or less from a multimedia
    // timer, whose own thread ends when this one stops, right at the process's exit; under
    // Wine that race hung or crashed the exit now and then.
    stop.start(kStopPollMs);

    PortRun run;
    run.port = options.ports.first();
    run.index = *PortIndexOf(run.port);
    run.repeat = options.repeat;
    run.logPath = options.logPath;
    if (!options.mqttUrl.isEmpty()) {
        run.spool = spool;
        run.endTopic = EndTopic(ParseLineUrl(options.mqttUrl).url.prefix, options.station,
                                PortLevel(run.index));
        run.link = link.get();
    }
    const int code = RunPort(run);
    ClosePort(run.index);
    return FinishLine(std::move(link), spool, code);
}
