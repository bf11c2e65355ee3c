#include "cli/line_cli.h"

#include "cli/board_console.h"
#include "cli/board_progress.h"
#include "cli/board_runner.h"
#include "cli/console_os.h"
#include "cli/outcome.h"
#include "cli/release_info.h"

#include "line/line_link.h"
#include "line/line_rows.h"
#include "line/spool.h"

#include <QDir>
#include <QJsonDocument>
#include <QStandardPaths>
#include <chrono>
#include <thread>

namespace {

// At the end, how long the broker has to take what is still spooled.
constexpr int kFinishWaitMs = 5000;
constexpr auto kViewCycle = std::chrono::milliseconds(100);
constexpr int kViewRedrawMs = 250;

LineOptions LineOptionsOf(const CliOptions& options, const QString& spool) {
    LineOptions line;
    line.url = ParseLineUrl(options.mqttUrl.isEmpty() ? options.watchUrl : options.mqttUrl).url;
    line.station = options.station;
    line.spool = spool;
    line.caFile = options.mqttCa;
    line.certFile = options.mqttCert;
    line.keyFile = options.mqttKey;
    line.loginFile = options.mqttLogin;
    line.release = ReleaseJson();
    return line;
}

void WarnIfPlain(const LineOptions& line) {
    if (!line.url.tls && !IsLocalHost(line.url.host))
        PrintDiagnostic(QStringLiteral("quillet-cli: warning: mqtt:// sends the records and the "
                                       "login to %1 unencrypted; mqtts:// would not")
                            .arg(line.url.host));
}

QString Records(int count) {
    return count == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(count);
}

// One row of the line view, as wide as the terminal allows.
QString RenderRow(const LineRow& row, int width) {
    QString last = row.code < 0 ? QStringLiteral("-") : VisibleText(row.last.trimmed());
    if (!row.time.isEmpty() && row.code >= 0)
        last += QStringLiteral("  (%1)").arg(VisibleText(row.time.mid(11, 8)));
    QString line =
        QStringLiteral("%1 %2 %3 %4 %5  %6")
            .arg(VisibleText(row.station).leftJustified(16),
                 VisibleText(row.port.isEmpty() ? QStringLiteral("-") : row.port).leftJustified(8),
                 (row.online ? QStringLiteral("online") : QStringLiteral("offline"))
                     .leftJustified(7))
            .arg(row.passed, 6)
            .arg(row.failed, 6)
            .arg(last);
    line = line.left(std::max(width, 1));
    if (!row.online || row.code > 0)
        line = QStringLiteral("\x1b[31m") + line + QStringLiteral("\x1b[0m");
    return line;
}

QString PlainRow(const LineRow& row) {
    QString line = QStringLiteral("%1 %2: ").arg(
        VisibleText(row.station), VisibleText(row.port.isEmpty() ? QStringLiteral("-") : row.port));
    if (!row.online)
        line += QStringLiteral("offline, ");
    if (row.code >= 0)
        line += VisibleText(row.last.trimmed()) + QStringLiteral(", ");
    return line + QStringLiteral("passed %1, failed %2").arg(row.passed).arg(row.failed);
}

} // namespace

QString SpoolFolder(const CliOptions& options) {
    if (!options.spool.isEmpty())
        return options.spool;
    if (!options.logPath.isEmpty())
        return options.logPath + QStringLiteral(".spool");
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("spool"));
}

int StartLine(const CliOptions& options, const QString& spool, std::unique_ptr<LineLink>* link) {
    const LineOptions line = LineOptionsOf(options, spool);
    WarnIfPlain(line);
    QStringList levels;
    for (const QString& port : options.ports)
        levels << PortLevel(*PortIndexOf(port));
    auto started = std::make_unique<LineLink>();
    QString why;
    const int waiting = static_cast<int>(SpooledFiles(spool).size());
    switch (started->start(line, levels, &why)) {
    case LineStart::kRefused:
        PrintDiagnostic(QStringLiteral("quillet-cli: %1").arg(why));
        return kExitBroker;
    case LineStart::kUnreachable:
        PrintDiagnostic(QStringLiteral("quillet-cli: warning: %1; the records wait in %2 until "
                                       "it answers")
                            .arg(why, QDir::toNativeSeparators(spool)));
        break;
    case LineStart::kConnected:
        break;
    }
    if (waiting > 0)
        PrintDiagnostic(QStringLiteral("quillet-cli: sending first %1 left by an earlier run in %2")
                            .arg(Records(waiting), QDir::toNativeSeparators(spool)));
    *link = std::move(started);
    return kExitOk;
}

int FinishLine(std::unique_ptr<LineLink> link, const QString& spool, int code) {
    if (!link)
        return code;
    for (const QString& line : link->takeNews())
        PrintDiagnostic(QStringLiteral("quillet-cli: %1").arg(line));
    const int left = link->finish(kFinishWaitMs);
    if (left > 0)
        PrintDiagnostic(QStringLiteral("quillet-cli: the broker has not acknowledged %1: kept "
                                       "in %2 for the next run with this spool")
                            .arg(Records(left), QDir::toNativeSeparators(spool)));
    return console_os::EndAfterLine(code);
}

int WatchLine(const CliOptions& options) {
    const LineOptions line = LineOptionsOf(options, QString());
    WarnIfPlain(line);
    LineWatcher watcher;
    QString why;
    switch (watcher.start(line, &why)) {
    case LineStart::kRefused:
        PrintDiagnostic(QStringLiteral("quillet-cli: %1").arg(why));
        return kExitBroker;
    case LineStart::kUnreachable:
        PrintDiagnostic(QStringLiteral("quillet-cli: warning: %1; still trying").arg(why));
        break;
    case LineStart::kConnected:
        break;
    }
    console_os::CatchStopSignals();
    const bool live =
        !options.json && console_os::StdoutIsTerminal() && console_os::EnableTerminalSequences();
    std::vector<LineRow> rows;
    int shown = 0;
    bool dirty = true;
    bool wasUp = false;
    auto lastDraw = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    while (!console_os::StopRequested()) {
        const QStringList news = watcher.takeNews();
        if (!news.isEmpty() && live && shown > 0) {
            console_os::EraseRows(shown);
            shown = 0;
            dirty = true;
        }
        for (const QString& text : news)
            PrintDiagnostic(QStringLiteral("quillet-cli: %1").arg(text));
        for (const auto& [topic, payload] : watcher.takeMessages()) {
            std::vector<LineRow> before = rows;
            if (!ApplyLineMessage(line.url.prefix, topic, payload, &rows))
                continue;
            dirty = true;
            if (options.json) {
                // Written again rather than passed on: whatever a publisher sent, it stays one
                // line of JSON.
                PrintLine(QString::fromUtf8(
                    QJsonDocument::fromJson(payload).toJson(QJsonDocument::Compact)));
            } else if (!live) {
                // Plain: the rows this message changed.
                for (const LineRow& row : rows) {
                    const bool same = std::any_of(before.begin(), before.end(), [&](auto& b) {
                        return b.station == row.station && b.port == row.port &&
                               b.online == row.online && b.passed == row.passed &&
                               b.failed == row.failed && b.last == row.last && b.code == row.code;
                    });
                    if (!same)
                        PrintLine(PlainRow(row));
                }
            }
        }
        const bool up = watcher.connected();
        if (up != wasUp) {
            wasUp = up;
            dirty = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (live && dirty && now - lastDraw >= std::chrono::milliseconds(kViewRedrawMs)) {
            const int width = console_os::TerminalColumns() - 1;
            std::vector<std::string> lines{
                QStringLiteral("%1 %2 %3 %4 %5  %6")
                    .arg(QStringLiteral("STATION").leftJustified(16),
                         QStringLiteral("PORT").leftJustified(8),
                         QStringLiteral("STATE").leftJustified(7), QStringLiteral("PASSED"),
                         QStringLiteral("FAILED"),
                         up ? QStringLiteral("LAST")
                            : QStringLiteral("LAST   (broker out of reach: as it last said)"))
                    .left(std::max(width, 1))
                    .toStdString()};
            for (const LineRow& row : rows)
                lines.push_back(RenderRow(row, width).toStdString());
            console_os::RewriteRows(lines, shown);
            shown = static_cast<int>(lines.size());
            dirty = false;
            lastDraw = now;
        }
        std::this_thread::sleep_for(kViewCycle);
    }
    return kExitOk;
}
