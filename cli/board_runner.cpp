#include "cli/board_runner.h"

#include "cli/board_console.h"
#include "cli/console_os.h"
#include "cli/outcome.h"

#include "serial/comport.h"
#include "session/programming.h"
#include "session/protocol.h"
#include "session/receiver.h"
#include "session/search.h"
#include "session/session_state.h"

#include <QJsonDocument>
#include <vector>

namespace {

// Repeat: how many unanswered probes in a row mean the board has been taken away.
constexpr int kRemovedAfterMisses = 3;
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
    return WaitReply(static_cast<int>(kProbeReplyWait.count())) == kWaitAccepted;
}

void WaitForRemoval(int index) {
    for (int misses = 0; misses < kRemovedAfterMisses && !console_os::StopRequested();)
        misses = BootloaderAnswers(index) ? 0 : misses + 1;
}

void WaitForBoard(int index) {
    while (!console_os::StopRequested() && !BootloaderAnswers(index)) {
    }
}

// Appends the end record; false (after saying why) when it could not be written.
bool AppendToLog(const QString& path, const QJsonObject& record) {
    if (path.isEmpty())
        return true;
    std::string error;
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    if (console_os::AppendLineDurably(path.toStdString(), line.toStdString(), &error))
        return true;
    Console().endLiveLine();
    PrintDiagnostic(
        QStringLiteral("cannot write the log %1: %2").arg(path, QString::fromStdString(error)));
    return false;
}

// One board from search to outcome; its exit code.
int UpdateBoard(const PortRun& run, bool* logged) {
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
    const QJsonObject record = console.finish(code, text, search == kSearchFound);
    *logged = AppendToLog(run.logPath, record);
    return code;
}

} // namespace

int RunPort(const PortRun& run) {
    SelectedPortIndex = static_cast<std::int16_t>(run.index);
    OpenPortIndex = static_cast<std::int16_t>(run.index - 1); // the first search opens it
    bool logged = true;
    Console().setRepeat(run.repeat);
    if (!run.repeat) {
        const int code = UpdateBoard(run, &logged);
        return code == kExitOk && !logged ? kExitOther : code;
    }

    std::vector<int> codes;
    int passed = 0;
    for (bool first = true; !console_os::StopRequested(); first = false) {
        Console().showWaiting(passed, static_cast<int>(codes.size()) - passed);
        if (!first)
            WaitForRemoval(run.index);
        WaitForBoard(run.index);
        if (console_os::StopRequested())
            break;
        const int code = UpdateBoard(run, &logged);
        codes.push_back(code);
        if (code == kExitOk)
            ++passed;
        if (!logged) {
            codes.push_back(kExitOther); // a production log with holes is no log: stop
            break;
        }
    }
    Console().endLiveLine();
    return CombinedExitCode(codes.data(), static_cast<int>(codes.size()));
}
