// The status operations for the console, and the console they write to.
#include "cli/board_console.h"
#include "cli/console_os.h"
#include "cli/outcome.h"
#include "cli/release_info.h"

#include "catalogue/catalogue.h"
#include "serial/comport.h"
#include "session/chip_families.h"
#include "session/programming.h"
#include "session/protocol.h"
#include "session/session_state.h"
#include "shell/status.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>
#include <cmath>

std::int32_t PortPanelIndex = 0;
std::int32_t StatusPanelIndex = 1;
std::int32_t ChipPanelIndex = 2;
std::int32_t ImagePanelIndex = 3;

namespace {

// The live line is redrawn at most this often: a few times a second is all an eye reads, and
// some consoles (Wine's) take long over each write.
constexpr qint64 kLiveRedrawMs = 250;

QString Timestamp() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

// The number after a fixed prefix of a panel text ("Try 12", "Program 00128 (00080)").
std::optional<int> NumberAfter(const QString& text, QLatin1String prefix) {
    if (!text.startsWith(prefix))
        return std::nullopt;
    bool ok = false;
    const int value = text.mid(prefix.size()).section(QLatin1Char(' '), 0, 0).toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// Beside the outcome: full blocks the board never acknowledged, which the run passed over.
QString UnansweredNote() {
    const auto n = UnansweredBlocks.size();
    if (n == 0)
        return QString();
    return QStringLiteral("  (%1 %2 unanswered)").arg(n).arg(n == 1 ? "block" : "blocks");
}

QString Hex2(std::uint8_t value) {
    return QString::asprintf("0x%02x", value);
}

} // namespace

void PrintLine(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void PrintDiagnostic(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

BoardConsole& Console() {
    static BoardConsole console;
    return console;
}

void BoardConsole::begin(const QString& port) {
    const OutputMode mode = mode_;
    const BoardProgress last = progress_;
    const QString station = station_;
    *this = BoardConsole{};
    mode_ = mode;
    station_ = station;
    progress_.port = port;
    progress_.repeat = last.repeat;
    progress_.passed = last.passed;
    progress_.failed = last.failed;
    started_.start();
    phaseStarted_.start();
    if (mode_ == OutputMode::kJson)
        emitRecord({{QStringLiteral("record"), QStringLiteral("begin")},
                    {QStringLiteral("port"), port},
                    {QStringLiteral("time"), Timestamp()}});
}

void BoardConsole::phase(const QString& name) {
    const bool changedPhase = progress_.phase != name;
    if (changedPhase) {
        progress_.phase = name;
        progress_.fraction = 0;
        progress_.bytesPerSecond = 0;
        progress_.secondsLeft = -1;
        phaseStarted_.start();
        lastTenth_ = -1;
    }
    changed(changedPhase);
}

void BoardConsole::setMaximum(int maximum) {
    maximum_ = maximum;
}

void BoardConsole::setValue(int position) {
    if (progress_.phase == QLatin1String("program")) {
        // A full block's progress comes right after its text, before it is sent: a block
        // ending in the protected range is not sent at all.
        if (blockPending_ && SkipStart != 0 && SkipStart <= position &&
            position <= SkipStart + SkipLength)
            --frames_;
        blockPending_ = false;
        if (maximum_ > 0 && ProgramLength > 0) {
            progress_.fraction = static_cast<double>(position) / maximum_;
            const double bytes = static_cast<double>(position) * AddressUnit;
            const double seconds = static_cast<double>(phaseStarted_.elapsed()) / 1000;
            if (seconds > 0.2 && bytes > 0) {
                progress_.bytesPerSecond = bytes / seconds;
                progress_.secondsLeft = (ProgramLength - bytes) / progress_.bytesPerSecond;
            }
        }
        changed(false);
    } else if (progress_.phase == QLatin1String("eeprom") && maximum_ > 0) {
        progress_.fraction = static_cast<double>(position) / maximum_;
        changed(false);
    }
}

void BoardConsole::setPanelText(int index, const QString& text) {
    if (index != StatusPanelIndex)
        return; // the chip and image panels say nothing the identity and outcome do not
    if (const auto attempt = NumberAfter(text, QLatin1String("Try "))) {
        progress_.attempt = *attempt;
        phase(QStringLiteral("search"));
    } else if (text.startsWith(QLatin1String("Resend "))) {
        ++resends_;
    } else if (text == QLatin1String("Entry in PrgMode")) {
        phase(QStringLiteral("progmode"));
    } else if (const auto address = NumberAfter(text, QLatin1String("Program EEP "))) {
        ++frames_;
        phase(QStringLiteral("eeprom"));
    } else if (const auto unit = NumberAfter(text, QLatin1String("Program "))) {
        ++frames_;
        blockPending_ = true;
        if (BlockSize > 0) {
            progress_.blocks = (ProgramLength + BlockSize - 1) / BlockSize;
            progress_.block = *unit * AddressUnit / BlockSize + 1;
        }
        phase(QStringLiteral("program"));
    } else if (text == QLatin1String("Fix Program")) {
        ++frames_;
        phase(QStringLiteral("fix"));
        progress_.fraction = 1; // the program memory is all sent
    }
}

void BoardConsole::result(const QString& text) {
    resultText_ = text;
}

void BoardConsole::portFailure(const QString& reason) {
    portFailure_ = reason;
    endLiveLine();
    // The reason may name the process holding the port: its name is outside text.
    PrintDiagnostic(
        QStringLiteral("%1: Invalid Port Com: %2").arg(progress_.port, VisibleText(reason)));
}

void BoardConsole::portLost(const QString& osText) {
    portLost_ = QStringLiteral("the port went away (unplugged?): %1").arg(osText);
}

void BoardConsole::status(const QString&) {
    // " Programming... ": the blocks that follow say more.
}

void BoardConsole::identity(const QString& line, const std::optional<QString>& boardText) {
    progress_.identity = line;
    boardText_ = boardText.value_or(QString());
    if (identityKnown_)
        return; // shown again beside an image warning: the same board
    identityKnown_ = true;
    if (mode_ == OutputMode::kJson) {
        QJsonObject record = deviceJson();
        record.insert(QStringLiteral("record"), QStringLiteral("identity"));
        record.insert(QStringLiteral("port"), progress_.port);
        record.insert(QStringLiteral("line"), line);
        emitRecord(record);
    } else if (mode_ == OutputMode::kPlain) {
        PrintLine(QStringLiteral("%1: %2%3")
                      .arg(progress_.port, VisibleText(line),
                           boardText_.isEmpty()
                               ? QString()
                               : QStringLiteral(" (%1)").arg(VisibleText(boardText_))));
    } else {
        drawLive(true);
    }
}

QJsonObject BoardConsole::deviceJson() const {
    const ChipFamily* family = FindChipFamily(DeviceInfo.ChipCode);
    QJsonObject device{
        {QStringLiteral("chip_code"), Hex2(DeviceInfo.ChipCode)},
        {QStringLiteral("chip_family"),
         family != nullptr ? QJsonValue(QString::fromLatin1(family->statusText).mid(6))
                           : QJsonValue()},
        {QStringLiteral("bootloader_version"), DeviceInfo.BiosVersion},
        {QStringLiteral("identity_record"), VersionRecordSeen != 0},
        {QStringLiteral("board_code"), DeviceInfo.BoardCode},
        {QStringLiteral("board_name"), QString::fromLatin1(BoardName(DeviceInfo.BoardCode))},
        {QStringLiteral("preparation_code"), Hex2(DeviceInfo.PreparationCode)}};
    if (IsTextBlockVersion(DeviceInfo.BiosVersion))
        device.insert(QStringLiteral("text"), QString::fromLatin1(DeviceText));
    return device;
}

void BoardConsole::changed(bool phaseChanged) {
    switch (mode_) {
    case OutputMode::kLive:
        drawLive(phaseChanged);
        break;
    case OutputMode::kPlain:
        if (phaseChanged) {
            QString line = QStringLiteral("%1: %2").arg(progress_.port, progress_.phase);
            if (progress_.phase == QLatin1String("program"))
                line += QStringLiteral(", %1 blocks").arg(progress_.blocks);
            PrintLine(line);
        }
        break;
    case OutputMode::kJson: {
        // A few progress records per board: each phase, and each tenth of a phase.
        const int tenth = static_cast<int>(std::floor(progress_.fraction * 10));
        if (phaseChanged || tenth > lastTenth_) {
            lastTenth_ = tenth;
            if (progress_.phase != QLatin1String("search") || phaseChanged)
                emitRecord(ProgressRecord(progress_));
        }
        break;
    }
    }
}

void BoardConsole::emitRecord(QJsonObject record) {
    record.insert(QStringLiteral("release"), ReleaseJson()); // every record names its release
    PrintLine(QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)));
}

void BoardConsole::drawLive(bool force) {
    if (mode_ != OutputMode::kLive)
        return;
    if (!force && lastDraw_.isValid() && lastDraw_.elapsed() < kLiveRedrawMs)
        return;
    lastDraw_.start();
    const QString line = RenderLine(progress_, console_os::TerminalColumns() - 1);
    console_os::RewriteLine(line.toStdString());
    liveShown_ = true;
}

void BoardConsole::endLiveLine() {
    if (!liveShown_)
        return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    liveShown_ = false;
}

QJsonObject BoardConsole::finish(int exitCode, const QString& outcome, bool found,
                                 const std::function<QString(const QJsonObject&)>& keep) {
    if (!progress_.repeat)
        drawLive(true); // where the run ended, not up to a redraw's interval before
    progress_.phase = QStringLiteral("done");
    progress_.outcome = outcome;

    // A board its search found has an identity, even when the run ended before the identity
    // line was shown (an unknown chip).
    const bool answered = identityKnown_ || found;
    QJsonObject record{{QStringLiteral("record"), QStringLiteral("end")},
                       {QStringLiteral("port"), progress_.port},
                       {QStringLiteral("time"), Timestamp()}};
    record.insert(QStringLiteral("device"), answered ? QJsonValue(deviceJson()) : QJsonValue());
    const bool knownChip = answered && FindChipFamily(DeviceInfo.ChipCode) != nullptr;
    const ImageSetInfo image =
        knownChip ? ImageSetFor(DeviceInfo.ChipCode, DeviceInfo.BoardCode) : ImageSetInfo{};
    record.insert(QStringLiteral("image"),
                  image.row >= 0 ? QJsonValue(ImageSetJson(image)) : QJsonValue());
    record.insert(QStringLiteral("frames"), frames_);
    record.insert(QStringLiteral("resends"), resends_);
    record.insert(QStringLiteral("duration_s"),
                  std::round(static_cast<double>(started_.elapsed())) / 1000);
    QJsonArray unanswered;
    for (const std::int32_t address : UnansweredBlocks)
        unanswered.append(address);
    record.insert(QStringLiteral("unanswered_blocks"), unanswered);
    record.insert(QStringLiteral("outcome"), outcome);
    record.insert(QStringLiteral("code"), exitCode);
    if (!portFailure_.isEmpty())
        record.insert(QStringLiteral("port_failure"), portFailure_);
    else if (!portLost_.isEmpty()) // a port that could not be used was never had
        record.insert(QStringLiteral("port_lost"), portLost_);
    record.insert(QStringLiteral("release"), ReleaseJson());
    if (!station_.isEmpty()) {
        record.insert(QStringLiteral("station"), station_);
        record.insert(QStringLiteral("record_id"),
                      QUuid::createUuid().toString(QUuid::WithoutBraces));
    }
    // A board whose record could not be kept is not a board the shift can count as done.
    if (const QString lost = keep ? keep(record) : QString(); !lost.isEmpty()) {
        exitCode = kExitOther;
        record.insert(QStringLiteral("code"), exitCode);
        record.insert(QStringLiteral("log_failure"), lost);
    }
    if (exitCode == 0)
        ++progress_.passed;
    else if (IsCountedBoard(record)) // not one stopped before anything was written to it
        CountFailure(progress_, outcome, exitCode);

    if (mode_ == OutputMode::kLive) {
        // One board leaves its line where the run ended (the block of a failure); board
        // after board, the line shows the outcome and the running count.
        if (progress_.repeat)
            drawLive(true);
        endLiveLine();
    }
    // Below the line where the run ended, above its outcome.
    if (record.contains(QStringLiteral("port_lost")))
        PrintDiagnostic(QStringLiteral("%1: %2").arg(progress_.port, portLost_));
    if (mode_ == OutputMode::kJson)
        emitRecord(record);
    else
        PrintLine(outcome + UnansweredNote());
    return record;
}

void BoardConsole::showWaiting(const QString& port, int passed, int failed) {
    progress_.port = port; // before the first board too
    progress_.passed = passed;
    progress_.failed = failed;
    if (!progress_.lastFailed)
        progress_.identity.clear(); // a failed board is named until the next one begins
    if (mode_ == OutputMode::kPlain)
        PrintLine(QStringLiteral("%1: waiting for the next board (passed %2, failed %3)")
                      .arg(progress_.port)
                      .arg(passed)
                      .arg(failed));
    phase(QStringLiteral("waiting"));
}

// --- The status operations ------------------------------------------------------------------

bool CompactLayout() {
    return false; // the console probes and reports as the full window does
}

bool IdentityLinesShown() {
    return true;
}

void ShowResult(const QString& text, ColorValue, ResultCode) {
    Console().result(text);
}

void ShowPortFailure(const QString& reason) {
    Console().portFailure(reason);
}

void ShowStatus(const QString& text, ColorValue) {
    Console().status(text);
}

void ShowPortPanel(PanelDisplay*) {
    // The console names the port as the user gave it, on every line.
}

void ShowPortOpenFailure(const PortOpenResult& result) {
    if (result.failure == PortFailure::kLineRefused)
        PrintDiagnostic(QStringLiteral("Unable to configure the serial port"));
    else if (result.failure == PortFailure::kTimeoutsRefused)
        PrintDiagnostic(QStringLiteral("Unable to set the time-out parameters"));
    if (result.failure == PortFailure::kNone)
        return;
    ShowResult(QStringLiteral("Invalid Port Com"), kColorRed, 0);
    ShowPortFailure(PortFailureReason(result.port));
}

void ShowIdleButtons() {}

void ShowRunningButtons() {}

PanelDisplay* MainStatusBar() {
    return &Console();
}

PanelDisplay* CompactStatusBar() {
    return nullptr;
}

void ShowPanelText(PanelDisplay* statusBar, std::int32_t index, const QString& text) {
    if (statusBar != nullptr)
        statusBar->setPanelText(index, text);
}

void SetProgressRange(ProgressDisplay* progressBar, int maximum) {
    if (progressBar != nullptr)
        progressBar->setMaximum(maximum);
}

void ShowProgress(ProgressDisplay* progressBar, int position) {
    if (progressBar != nullptr)
        progressBar->setValue(position);
}

void ShowIdentityLines(const QString& device, const std::optional<QString>& boardText) {
    Console().identity(device, boardText);
}
