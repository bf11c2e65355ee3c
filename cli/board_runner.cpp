#include "cli/board_runner.h"

#include "cli/board_console.h"
#include "cli/console_os.h"
#include "cli/outcome.h"

#include "line/line_link.h"
#include "line/spool.h"
#include "serial/comport.h"
#include "session/programming.h"
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/search.h"
#include "session/session_state.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <vector>

namespace {

// Repeat: a board counts as taken off once its port is gone, or once it sent nothing at all
// for this long while probed every kProbeReplyWait. A bootloader answers a probe within a few
// ms; a loaded host only delays our reading, and bytes that came meanwhile wait in the
// driver's queue, so only a board that really stopped answering gives a second of silence.
constexpr std::chrono::milliseconds kRemovedAfterSilence{1000};
// ... and over at least this many probes: a host stalled for a second has sent only one.
constexpr int kRemovedAfterProbes = 8;
// Repeat: once a board answers, the line must stay quiet this long (within the limit) before
// its search begins.
constexpr int kAnswerSettleQuietMs = 50;
constexpr int kAnswerSettleLimitMs = 500;
// Repeat: the pause between looks at a port that has no device.
constexpr int kAbsentPortPauseMs = 200;

// Makes the port the open one again if it was lost (an adapter unplugged and plugged back),
// without a word: between boards an absent port is normal. True when it is usable.
bool PortUsableQuietly(int index) {
    if (FlushPort(static_cast<std::int16_t>(index)) >= 0)
        return true;
    OpenPortIndex = static_cast<std::int16_t>(index - 1);
    OpenSelectedPort();
    return FlushPort(static_cast<std::int16_t>(index)) >= 0;
}

// One probe, as the search makes it: true when a bootloader answered.
bool BootloaderAnswers(int index) {
    if (!PortUsableQuietly(index)) {
        PumpDelay(kAbsentPortPauseMs);
        return false;
    }
    DrainInput();
    ClearDeviceInfo();
    AckReceived = 0;
    NakReceived = 0;
    CommandBuffer[0] = ProbeByte();
    WritePort(index, CommandBuffer, 1);
    if (WaitReply(static_cast<int>(kProbeReplyWait.count())) != kWaitAccepted)
        return false;
    // The answer counts from the identity's 'K', but the rest of a text block may still be on
    // its way (a loaded host, an adapter's packets): left for the search, its last bytes would
    // read as an old bootloader's answer, an unknown chip.
    SettleAfterSilence(kAnswerSettleQuietMs, kAnswerSettleLimitMs);
    return true;
}

// Reads and drops what the board sent: any byte at all (an identity, a late one, the rest of a
// text block, an 'N') shows that it is still there.
bool AnythingArrived(int index) {
    std::uint8_t buffer[kRxBufferSize];
    bool any = false;
    while (ReadPort(index, buffer, kRxBufferSize) > 0)
        any = true;
    return any;
}

void WaitForRemoval(int index) {
    QElapsedTimer silence;
    silence.start();
    int unanswered = 0;
    while (!console_os::StopRequested()) {
        if (FlushPort(static_cast<std::int16_t>(index)) < 0)
            return; // the port went away with the board
        if (AnythingArrived(index)) {
            silence.restart();
            unanswered = 0;
        } else if (unanswered >= kRemovedAfterProbes &&
                   silence.elapsed() >= kRemovedAfterSilence.count()) {
            return;
        }
        CommandBuffer[0] = ProbeByte();
        WritePort(index, CommandBuffer, 1);
        ++unanswered;
        PumpDelay(static_cast<int>(kProbeReplyWait.count()));
    }
}

void WaitForBoard(int index) {
    while (!console_os::StopRequested() && !BootloaderAnswers(index)) {
    }
}

// Appends the end record; why it could not be written, after saying so, or nothing.
QString AppendToLog(const QString& path, const QJsonObject& record) {
    if (path.isEmpty())
        return {};
    std::string error;
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    if (console_os::AppendLineDurably(path.toStdString(), line.toStdString(), &error))
        return {};
    Console().endLiveLine();
    const QString reason = QString::fromStdString(error);
    PrintDiagnostic(QStringLiteral("cannot write the log %1: %2").arg(path, reason));
    return reason;
}

// Spools the end record as the log has it (with why the log failed, if it did); why it could
// not, after saying so, or nothing.
QString Spool(const PortRun& run, QJsonObject record, const QString& logFailure) {
    if (run.spool.isEmpty())
        return {};
    if (!logFailure.isEmpty()) {
        record.insert(QStringLiteral("code"), kExitOther);
        record.insert(QStringLiteral("log_failure"), logFailure);
    }
    const QString why = SpoolRecord(run.spool, run.endTopic, record);
    if (why.isEmpty()) {
        if (run.link != nullptr)
            run.link->recordSpooled();
        return {};
    }
    Console().endLiveLine();
    PrintDiagnostic(QStringLiteral("cannot write the spool %1: %2").arg(run.spool, why));
    return QStringLiteral("the spool: %1").arg(why);
}

// What the line link has to say, between boards.
void PrintLineNews(const PortRun& run) {
    if (run.link == nullptr)
        return;
    const QStringList news = run.link->takeNews();
    if (news.isEmpty())
        return;
    Console().endLiveLine();
    for (const QString& line : news)
        PrintDiagnostic(QStringLiteral("quillet-cli: %1").arg(line));
}

// One board from search to outcome; its exit code. *counted: false for a board the user
// stopped before anything was written to it (a Ctrl-C during the search of board after board).
int UpdateBoard(const PortRun& run, bool* logged, bool* counted) {
    BoardConsole& console = Console();
    console.begin(run.port);
    SelectedPortIndex = static_cast<std::int16_t>(run.index);
    const std::int16_t search = SearchDevice(&console, &console);
    if (search == kSearchFound)
        ProgramDevice(&console, &console);
    if (const std::string lost = PortLostReason(run.index); !lost.empty())
        console.portLost(QString::fromStdString(lost));
    QString text = console.resultText();
    const ExitCode code = ClassifyOutcome(search, text);
    if (search == kSearchNotFound)
        text = QString::fromLatin1(kNotFoundText);
    if (text.isEmpty())
        text = QStringLiteral("Invalid Port Com");
    *logged = true;
    const QJsonObject record =
        console.finish(code, text, search == kSearchFound, [&](const QJsonObject& end) {
            QString lost = AppendToLog(run.logPath, end);
            if (const QString spoolLost = Spool(run, end, lost);
                !spoolLost.isEmpty() && lost.isEmpty())
                lost = spoolLost;
            *logged = lost.isEmpty();
            return lost;
        });
    *counted = IsCountedBoard(record);
    if (run.link != nullptr && *counted)
        run.link->boardEnded(PortLevel(run.index), record);
    PrintLineNews(run);
    return record.value(QStringLiteral("code")).toInt();
}

} // namespace

QString PortLevel(int index) {
    return QStringLiteral("COM%1").arg(index + 1);
}

QString LogUnusable(const QString& path) {
    QFile file(path);
    // Opened as every record will be (appended, created if missing); nothing is written.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return {};
    return file.errorString();
}

int RunPort(const PortRun& run) {
    SelectedPortIndex = static_cast<std::int16_t>(run.index);
    OpenPortIndex = static_cast<std::int16_t>(run.index - 1); // the first search opens it
    bool logged = true;
    bool counted = true;
    Console().setRepeat(run.repeat);
    if (!run.repeat)
        return UpdateBoard(run, &logged, &counted);

    std::vector<int> codes;
    int passed = 0;
    for (bool first = true; !console_os::StopRequested(); first = false) {
        PrintLineNews(run);
        Console().showWaiting(run.port, passed, static_cast<int>(codes.size()) - passed);
        if (!first)
            WaitForRemoval(run.index);
        WaitForBoard(run.index);
        if (console_os::StopRequested())
            break;
        const int code = UpdateBoard(run, &logged, &counted);
        if (counted)
            codes.push_back(code);
        if (code == kExitOk)
            ++passed;
        if (!logged)
            break; // a production log with holes is no log
    }
    Console().endLiveLine();
    return CombinedExitCode(codes.data(), static_cast<int>(codes.size()));
}
