#include "cli/gang.h"

#include "cli/board_progress.h"
#include "cli/board_runner.h"
#include "cli/console_os.h"
#include "cli/outcome.h"
#include "cli/release_info.h"

#include "line/line_link.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kTableRedrawMs = 250; // a few times a second, as the live line

// A child that did not exit by itself: what the system tells of it.
#ifdef Q_OS_WIN
constexpr char kDiedText[] = "the port's process died (status %1)";
#else
constexpr char kDiedText[] = "the port's process was killed (signal %1)";
#endif

struct Child {
    QString port;
    std::unique_ptr<QProcess> process;
    BoardProgress row;
    QByteArray partialDiagnostic; // the start of a stderr line still to come
    QString lastDiagnostic;       // its last whole stderr line: the likely reason it stopped
    std::vector<int> endCodes;    // of the end records it wrote
    bool boardOpen = false;       // a board began and its end record has not come
    bool done = false;
    int exitCode = kExitOther;
    bool stopSent = false;
};

QStringList ChildArguments(const CliOptions& options, const QString& port, const QString& spool) {
    QStringList arguments{QStringLiteral("--child"), QStringLiteral("--port"), port};
    if (options.repeat)
        arguments << QStringLiteral("--repeat");
    if (options.strict)
        arguments << QStringLiteral("--strict");
    if (!options.logPath.isEmpty())
        arguments << QStringLiteral("--log") << options.logPath;
    if (!options.mqttUrl.isEmpty()) {
        // The child only spools, but checks its line as its parent did: all of it, files by
        // name (the login's too, never the login itself).
        arguments << QStringLiteral("--mqtt") << options.mqttUrl << QStringLiteral("--station")
                  << options.station << QStringLiteral("--spool") << spool;
        const std::pair<const char*, const QString*> files[] = {
            {"--mqtt-ca", &options.mqttCa},
            {"--mqtt-cert", &options.mqttCert},
            {"--mqtt-key", &options.mqttKey},
            {"--mqtt-login", &options.mqttLogin}};
        for (const auto& [name, value] : files) {
            if (!value->isEmpty())
                arguments << QString::fromLatin1(name) << *value;
        }
    }
    return arguments;
}

class Gang {
public:
    Gang(const CliOptions& options, OutputMode mode, const QString& spool, LineLink* link)
        : options_(options), mode_(mode), spool_(spool), link_(link) {}

    int run();

private:
    void readRecords(Child& child);
    void readDiagnostics(Child& child);
    void printDiagnostic(const QByteArray& text);
    void failedToStart(Child& child);
    void finished(Child& child, int exitCode, QProcess::ExitStatus status);
    bool allDone() const;
    void stopAll();
    void tick();
    void drawTable();
    void printPlain(const Child& child, const BoardProgress& before, const QJsonObject& record);

    const CliOptions& options_;
    OutputMode mode_;
    const QString spool_;
    LineLink* link_;
    std::vector<std::unique_ptr<Child>> children_;
    QEventLoop loop_;
    int tableLines_ = 0;
    bool dirty_ = true;
    bool startFailed_ = false;
};

int Gang::run() {
    for (const QString& port : options_.ports) {
        auto child = std::make_unique<Child>();
        child->port = port;
        child->row.port = port;
        child->row.repeat = options_.repeat;
        child->process = std::make_unique<QProcess>();
        Child* c = child.get();
        QObject::connect(c->process.get(), &QProcess::readyReadStandardOutput,
                         [this, c] { readRecords(*c); });
        QObject::connect(c->process.get(), &QProcess::readyReadStandardError,
                         [this, c] { readDiagnostics(*c); });
        QObject::connect(
            c->process.get(), &QProcess::finished,
            [this, c](int code, QProcess::ExitStatus status) { finished(*c, code, status); });
        QObject::connect(c->process.get(), &QProcess::errorOccurred,
                         [this, c](QProcess::ProcessError e) {
                             if (e == QProcess::FailedToStart)
                                 failedToStart(*c);
                         });
        children_.push_back(std::move(child));
    }
    // Every child starts before any is waited for: a port that fails holds nobody back.
    for (auto& child : children_) {
        if (!startFailed_) {
            child->process->start(QCoreApplication::applicationFilePath(),
                                  ChildArguments(options_, child->port, spool_));
        } else {
            child->done = true; // a gang short of a port is not the gang asked for
            MarkStopped(child->row, QStringLiteral("not started"), false, kExitOther);
        }
    }

    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    timer.start(kTableRedrawMs);
    tick();
    // A start can fail before the loop runs; a quit then would be lost and the loop never end.
    if (!allDone())
        loop_.exec();
    timer.stop();
    dirty_ = true;
    drawTable();

    int passed = 0;
    int failed = 0;
    std::vector<int> codes;
    for (const auto& child : children_) {
        passed += child->row.passed;
        failed += child->row.failed;
        codes.push_back(child->exitCode);
    }
    if (mode_ != OutputMode::kJson) {
        PrintLine(QStringLiteral("passed %1, failed %2").arg(passed).arg(failed));
        for (const auto& child : children_)
            PrintLine(PortSummary(child->row));
    }
    if (startFailed_)
        return kExitOther;
    return CombinedExitCode(codes.data(), static_cast<int>(codes.size()));
}

void Gang::readRecords(Child& child) {
    while (child.process->canReadLine()) {
        const QByteArray line = child.process->readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        const QString kind = record.value(QStringLiteral("record")).toString();
        if (kind == QLatin1String("begin")) {
            child.boardOpen = true;
        } else if (kind == QLatin1String("end")) {
            child.boardOpen = false;
            child.endCodes.push_back(record.value(QStringLiteral("code")).toInt());
            // The child spooled it before it wrote this line.
            if (link_ != nullptr) {
                link_->recordSpooled();
                if (IsCountedBoard(record))
                    link_->boardEnded(PortLevel(*PortIndexOf(child.port)), record);
            }
        }
        const BoardProgress before = child.row;
        ApplyRecord(record, child.row);
        dirty_ = true;
        if (mode_ == OutputMode::kJson)
            PrintLine(QString::fromUtf8(line)); // each record names its port already
        else if (mode_ == OutputMode::kPlain)
            printPlain(child, before, record);
    }
}

void Gang::printPlain(const Child& child, const BoardProgress& before, const QJsonObject& record) {
    const QString kind = record.value(QStringLiteral("record")).toString();
    const BoardProgress& now = child.row;
    if (kind == QLatin1String("identity")) {
        QString line = QStringLiteral("%1: %2").arg(child.port, VisibleText(now.identity));
        const QJsonValue text = record.value(QStringLiteral("text"));
        if (text.isString() && !text.toString().isEmpty())
            line += QStringLiteral(" (%1)").arg(VisibleText(text.toString()));
        PrintLine(line);
    } else if (kind == QLatin1String("progress") && now.phase != before.phase) {
        QString line = QStringLiteral("%1: %2").arg(child.port, now.phase);
        if (now.phase == QLatin1String("program"))
            line += QStringLiteral(", %1 blocks").arg(now.blocks);
        PrintLine(line);
    } else if (kind == QLatin1String("end")) {
        PrintLine(QStringLiteral("%1: %2").arg(child.port, VisibleText(now.outcome)));
    }
}

void Gang::readDiagnostics(Child& child) {
    child.partialDiagnostic += child.process->readAllStandardError();
    const qsizetype end = child.partialDiagnostic.lastIndexOf('\n');
    if (end < 0)
        return;
    const QByteArray lines = child.partialDiagnostic.left(end + 1);
    child.partialDiagnostic.remove(0, end + 1);
    const QList<QByteArray> split = lines.trimmed().split('\n');
    if (!split.isEmpty())
        child.lastDiagnostic = QString::fromUtf8(split.last()).trimmed();
    printDiagnostic(lines);
}

// A diagnostic as it happens; in the live table it goes above the table, which is redrawn
// below it.
void Gang::printDiagnostic(const QByteArray& text) {
    if (mode_ == OutputMode::kLive && tableLines_ > 0) {
        console_os::EraseRows(tableLines_);
        tableLines_ = 0;
        dirty_ = true;
    }
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
    drawTable();
}

void Gang::failedToStart(Child& child) {
    if (child.done)
        return;
    child.done = true;
    child.exitCode = kExitOther;
    startFailed_ = true;
    const QString reason = QStringLiteral("cannot start %1: %2")
                               .arg(child.process->program(), child.process->errorString());
    child.lastDiagnostic = reason;
    MarkStopped(child.row, VisibleText(reason), false, kExitOther);
    printDiagnostic(QStringLiteral("%1: %2\n").arg(child.port, reason).toUtf8());
    stopAll();
    if (allDone())
        loop_.quit();
}

void Gang::finished(Child& child, int exitCode, QProcess::ExitStatus status) {
    if (child.done)
        return;
    readRecords(child);
    readDiagnostics(child);
    if (!child.partialDiagnostic.isEmpty()) {
        child.partialDiagnostic += '\n';
        readDiagnostics(child);
    }
    child.done = true;
    child.exitCode = status == QProcess::NormalExit ? exitCode : kExitOther;
    // A child that ended in the middle of a board, or with a code its own records do not
    // explain, did not finish its work: its row must not keep the last board's outcome.
    const bool unexplained = child.exitCode != kExitOk && child.exitCode != kExitStopped &&
                             std::find(child.endCodes.begin(), child.endCodes.end(),
                                       child.exitCode) == child.endCodes.end();
    const bool noBoard = !options_.repeat && child.endCodes.empty();
    if (status != QProcess::NormalExit || child.boardOpen || noBoard || unexplained) {
        QString reason = status == QProcess::NormalExit
                             ? QStringLiteral("exit code %1").arg(exitCode)
                             : QString::fromLatin1(kDiedText).arg(exitCode);
        if (status == QProcess::NormalExit && !child.lastDiagnostic.isEmpty())
            reason += QStringLiteral(", ") + child.lastDiagnostic;
        MarkStopped(child.row, VisibleText(reason), child.boardOpen, child.exitCode);
        if (mode_ == OutputMode::kPlain)
            PrintLine(QStringLiteral("%1: %2").arg(child.port, child.row.outcome));
        else if (mode_ == OutputMode::kJson)
            PrintLine(QString::fromUtf8(
                QJsonDocument(QJsonObject{{QStringLiteral("record"), QStringLiteral("stopped")},
                                          {QStringLiteral("port"), child.port},
                                          {QStringLiteral("reason"), reason},
                                          {QStringLiteral("code"), child.exitCode},
                                          {QStringLiteral("release"), ReleaseJson()}})
                    .toJson(QJsonDocument::Compact)));
    }
    dirty_ = true;
    drawTable();
    if (allDone())
        loop_.quit();
}

bool Gang::allDone() const {
    return std::all_of(children_.begin(), children_.end(),
                       [](const std::unique_ptr<Child>& c) { return c->done; });
}

// A child stops when its input ends; on a terminal Ctrl-C has reached it already.
void Gang::stopAll() {
    for (auto& child : children_) {
        if (!child->done && !child->stopSent && child->process->state() != QProcess::NotRunning) {
            child->process->closeWriteChannel();
            child->stopSent = true;
        }
    }
}

void Gang::tick() {
    if (console_os::StopRequested())
        stopAll();
    if (link_ != nullptr) {
        for (const QString& line : link_->takeNews())
            printDiagnostic(QStringLiteral("quillet-cli: %1\n").arg(line).toUtf8());
    }
    drawTable();
}

void Gang::drawTable() {
    if (mode_ != OutputMode::kLive || !dirty_)
        return;
    dirty_ = false;
    const int width = console_os::TerminalColumns() - 1;
    std::vector<std::string> rows;
    for (const auto& child : children_)
        rows.push_back(RenderLine(child->row, width).toStdString());
    console_os::RewriteRows(rows, tableLines_); // back to the table's first row
    tableLines_ = static_cast<int>(children_.size());
}

} // namespace

int RunGang(const CliOptions& options, OutputMode mode, const QString& spool, LineLink* link) {
    Gang gang(options, mode, spool, link);
    return gang.run();
}
