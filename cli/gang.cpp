#include "cli/gang.h"

#include "cli/board_progress.h"
#include "cli/console_os.h"
#include "cli/outcome.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <memory>
#include <vector>

namespace {

constexpr int kTableRedrawMs = 250; // a few times a second, as the live line

struct Child {
    QString port;
    std::unique_ptr<QProcess> process;
    BoardProgress row;
    QByteArray diagnostics; // its stderr, shown below the table when it is done
    bool done = false;
    int exitCode = kExitOther;
    bool stopSent = false;
};

QStringList ChildArguments(const CliOptions& options, const QString& port) {
    QStringList arguments{QStringLiteral("--child"), QStringLiteral("--port"), port};
    if (options.repeat)
        arguments << QStringLiteral("--repeat");
    if (!options.logPath.isEmpty())
        arguments << QStringLiteral("--log") << options.logPath;
    return arguments;
}

class Gang {
public:
    Gang(const CliOptions& options, OutputMode mode) : options_(options), mode_(mode) {}

    int run();

private:
    void readRecords(Child& child);
    void readDiagnostics(Child& child);
    void finished(Child& child, int exitCode, QProcess::ExitStatus status);
    void tick();
    void drawTable();
    void printPlain(const Child& child, const BoardProgress& before, const QJsonObject& record);

    const CliOptions& options_;
    OutputMode mode_;
    std::vector<std::unique_ptr<Child>> children_;
    QEventLoop loop_;
    int tableLines_ = 0;
    bool dirty_ = true;
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
                             if (e == QProcess::FailedToStart) {
                                 c->diagnostics += QStringLiteral("%1: cannot start %2\n")
                                                       .arg(c->port, c->process->program())
                                                       .toUtf8();
                                 finished(*c, kExitOther, QProcess::CrashExit);
                             }
                         });
        children_.push_back(std::move(child));
    }
    // Every child starts before any is waited for: a port that fails holds nobody back.
    for (auto& child : children_)
        child->process->start(QCoreApplication::applicationFilePath(),
                              ChildArguments(options_, child->port));

    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    timer.start(kTableRedrawMs);
    tick();
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
        if (!child->diagnostics.isEmpty())
            std::fwrite(child->diagnostics.constData(), 1,
                        static_cast<std::size_t>(child->diagnostics.size()), stderr);
    }
    if (mode_ != OutputMode::kJson) {
        PrintLine(QStringLiteral("passed %1, failed %2").arg(passed).arg(failed));
        for (const auto& child : children_)
            if (child->exitCode != kExitOk)
                PrintLine(QStringLiteral("%1: %2 (exit %3)")
                              .arg(child->port, child->row.outcome.trimmed())
                              .arg(child->exitCode));
    }
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
        PrintLine(QStringLiteral("%1: %2").arg(child.port, now.identity));
    } else if (kind == QLatin1String("progress") && now.phase != before.phase) {
        QString line = QStringLiteral("%1: %2").arg(child.port, now.phase);
        if (now.phase == QLatin1String("program"))
            line += QStringLiteral(", %1 blocks").arg(now.blocks);
        PrintLine(line);
    } else if (kind == QLatin1String("end")) {
        PrintLine(QStringLiteral("%1: %2").arg(child.port, now.outcome));
    }
}

void Gang::readDiagnostics(Child& child) {
    const QByteArray text = child.process->readAllStandardError();
    if (mode_ == OutputMode::kLive)
        child.diagnostics += text; // would tear the table; shown below it at the end
    else
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
}

void Gang::finished(Child& child, int exitCode, QProcess::ExitStatus status) {
    if (child.done)
        return;
    readRecords(child);
    readDiagnostics(child);
    child.done = true;
    child.exitCode = status == QProcess::NormalExit ? exitCode : kExitOther;
    if (child.row.phase != QLatin1String("done") && child.exitCode != kExitOk) {
        child.row.phase = QStringLiteral("done");
        if (child.row.outcome.isEmpty())
            child.row.outcome = QStringLiteral("ended with exit code %1").arg(child.exitCode);
    }
    dirty_ = true;
    for (const auto& c : children_)
        if (!c->done)
            return;
    loop_.quit();
}

void Gang::tick() {
    if (console_os::StopRequested()) {
        // A child stops when its input ends; on a terminal Ctrl-C has reached it already.
        for (auto& child : children_) {
            if (!child->done && !child->stopSent && child->process->state() == QProcess::Running) {
                child->process->closeWriteChannel();
                child->stopSent = true;
            }
        }
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

int RunGang(const CliOptions& options, OutputMode mode) {
    Gang gang(options, mode);
    return gang.run();
}
