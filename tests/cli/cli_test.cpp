// quillet-cli as a user, a script and a production line run it: the real executable against
// simulated boards on pseudo-terminals.
#include "cli/board_progress.h"
#include "serial/port_names.h"
#include "support/board_session.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

struct CliRun {
    int exitCode = -1;
    QList<QByteArray> out; // stdout lines
    QByteArray err;
};

QString CliPath() {
    return QStringLiteral(QUILLET_CLI_PATH);
}

// Runs quillet-cli to its end; QUILLET_COM_DIR comes from the test's environment.
CliRun RunCli(const QStringList& arguments) {
    QProcess cli;
    cli.start(CliPath(), arguments);
    EXPECT_TRUE(cli.waitForFinished(60000)) << arguments.join(' ').toStdString();
    CliRun run;
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    for (const QByteArray& line : cli.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            run.out.append(line);
    run.err = cli.readAllStandardError();
    return run;
}

QString Sha256(const std::vector<std::uint8_t>& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(QByteArrayView(bytes.data(), bytes.size()),
                                                        QCryptographicHash::Sha256)
                                   .toHex());
}

QList<QJsonObject> Records(const QList<QByteArray>& lines) {
    QList<QJsonObject> records;
    for (const QByteArray& line : lines) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(document.isObject()) << line.toStdString();
        records.append(document.object());
    }
    return records;
}

QStringList Ports(const QStringList& ports) {
    QStringList arguments;
    for (const QString& port : ports)
        arguments << QStringLiteral("--port") << port;
    return arguments;
}

int Count(const QList<QByteArray>& lines, const QByteArray& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

QList<QJsonObject> LogRecords(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return Records(lines);
}

} // namespace

TEST(Cli, LeavesTheSameBoardMemoryAsTheWindow) {
    QString windowHash;
    {
        BoardSession s({});
        ASSERT_TRUE(s.sim.ready()) << s.sim.error();
        QTest::mouseClick(s.window->Button1, Qt::LeftButton);
        ASSERT_EQ(s.resultLine(), QStringLiteral(" Program Ok "));
        windowHash = Sha256(s.sim.flash());
    }
    TempEnvironment env;
    SimBoard sim({}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    const CliRun run = RunCli({QStringLiteral("--port"), QStringLiteral("COM1")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_FALSE(run.out.isEmpty());
    EXPECT_EQ(run.out.last(), QByteArray(" Program Ok "));
    EXPECT_EQ(Sha256(sim.flash()), windowHash);
}

TEST(Cli, ExitCodesTellTheClassOfFailure) {
    struct Case {
        std::vector<std::string> sim; // empty name: no board on the port
        bool board;
        QStringList extra;
        int exitCode;
        const char* outcome;
    };
    const Case cases[] = {
        {{}, true, {}, 0, " Program Ok "},
        {{}, false, {}, 3, "Invalid Port Com"},
        {{"--nak-probes"}, true, {}, 4, "Device not Found"},
        {{"--board", "5"}, true, {}, 5, " No Hex inside !! "},
        {{"--prep", "5"}, true, {}, 5, "KJL_R02 - Preparation2"},
        {{"--chip", "0x41"}, true, {}, 5, " Error !! "},
        {{"--nak", "3:5"}, true, {}, 6, " CHK Error !! "},
        {{"--silent", "181"}, true, {}, 6, " not Response "},
        // The late 'K' of block 180 is not taken for the last block's.
        {{"--late-reply", "180:1100", "--silent", "181"}, true, {}, 6, " not Response "},
        {{"--silent", "3"}, true, {QStringLiteral("--strict")}, 6, " not Response "},
        {{"--hangup-after", "20"}, true, {}, 6, " not Response "},
        {{}, true, {QStringLiteral("--bogus")}, 2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim.empty() ? std::string("(default)") : c.sim.front());
        TempEnvironment env;
        std::unique_ptr<SimBoard> sim;
        if (c.board) {
            sim = std::make_unique<SimBoard>(c.sim, env.comDir().toStdString());
            ASSERT_TRUE(sim->ready()) << sim->error();
        }
        const CliRun run = RunCli(QStringList{QStringLiteral("--port"), QStringLiteral("COM1"),
                                              QStringLiteral("--json")} +
                                  c.extra);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        if (c.outcome == nullptr)
            continue;
        ASSERT_FALSE(run.out.isEmpty());
        const QJsonObject end = QJsonDocument::fromJson(run.out.last()).object();
        EXPECT_EQ(end.value(QStringLiteral("record")).toString(), QStringLiteral("end"));
        EXPECT_EQ(end.value(QStringLiteral("outcome")).toString(), QString::fromLatin1(c.outcome));
        EXPECT_EQ(end.value(QStringLiteral("code")).toInt(), c.exitCode);
    }
}

TEST(Cli, EndRecordSaysThePortWentAway) {
    // The line closes mid-update, as an unplugged USB adapter's does: a transfer failure with
    // the design's outcome text, and the record says why.
    TempEnvironment env;
    SimBoard sim({"--hangup-after", "20"}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    const CliRun run =
        RunCli({QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--json")});
    EXPECT_EQ(run.exitCode, 6) << run.err.toStdString();
    ASSERT_FALSE(run.out.isEmpty());
    const QJsonObject end = QJsonDocument::fromJson(run.out.last()).object();
    EXPECT_EQ(end.value(QStringLiteral("outcome")).toString(), QStringLiteral(" not Response "));
    EXPECT_TRUE(end.value(QStringLiteral("port_lost"))
                    .toString()
                    .startsWith(QStringLiteral("the port went away (unplugged?): ")))
        << QJsonDocument(end).toJson().toStdString();
    EXPECT_FALSE(end.contains(QStringLiteral("port_failure")));
    EXPECT_TRUE(run.err.contains("COM1: the port went away")) << run.err.toStdString();
}

TEST(Cli, GangOfThreeWithOneRefusedBoard) {
    TempEnvironment env;
    const std::string dir = env.comDir().toStdString();
    SimBoard first({"--com", "1"}, dir);
    SimBoard refused({"--com", "2", "--prep", "5"}, dir);
    SimBoard third({"--com", "3"}, dir);
    ASSERT_TRUE(first.ready() && refused.ready() && third.ready());
    QTemporaryDir logDir;
    const QString log = logDir.filePath(QStringLiteral("boards.jsonl"));

    const CliRun run =
        RunCli({QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--port"),
                QStringLiteral("COM2"), QStringLiteral("--port"), QStringLiteral("COM3"),
                QStringLiteral("--log"), log});
    EXPECT_EQ(run.exitCode, 5) << run.err.toStdString();
    ASSERT_FALSE(run.out.isEmpty());
    EXPECT_TRUE(run.out.contains(QByteArray("passed 2, failed 1")));
    EXPECT_TRUE(run.out.contains(QByteArray("COM1: passed 1, failed 0")));
    EXPECT_TRUE(run.out.contains(
        QByteArray("COM2: passed 0, failed 1, first failure: KJL_R02 - Preparation2 (exit 5)")));

    const QList<QJsonObject> records = LogRecords(log);
    ASSERT_EQ(records.size(), 3);
    QMap<QString, QJsonObject> byPort;
    for (const QJsonObject& record : records)
        byPort.insert(record.value(QStringLiteral("port")).toString(), record);
    EXPECT_EQ(byPort.value(QStringLiteral("COM1")).value(QStringLiteral("code")).toInt(), 0);
    EXPECT_EQ(byPort.value(QStringLiteral("COM3")).value(QStringLiteral("code")).toInt(), 0);
    const QJsonObject bad = byPort.value(QStringLiteral("COM2"));
    EXPECT_EQ(bad.value(QStringLiteral("code")).toInt(), 5);
    EXPECT_EQ(bad.value(QStringLiteral("outcome")).toString(),
              QStringLiteral("KJL_R02 - Preparation2"));
    EXPECT_EQ(
        bad.value(QStringLiteral("device")).toObject().value(QStringLiteral("preparation_code")),
        QStringLiteral("0x05"));
    EXPECT_EQ(bad.value(QStringLiteral("frames")).toInt(), 0);
    // Refused before anything was written.
    const std::vector<std::string> lines = refused.logLines();
    EXPECT_FALSE(lines.empty());
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("FRAME ", 0) == 0 || l.rfind("PROGMODE ", 0) == 0;
    }));
}

namespace {

void StopsOnSignal(int number) {
    TempEnvironment env;
    SimBoard sim({"--line-rate"}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    QTemporaryDir logDir;
    const QString log = logDir.filePath(QStringLiteral("boards.jsonl"));
    QProcess cli;
    cli.start(CliPath(), {QStringLiteral("--port"), QStringLiteral("COM1"),
                          QStringLiteral("--json"), QStringLiteral("--log"), log});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(sim.waitForLog("FRAME", 20, std::chrono::seconds(20)));
    ::kill(static_cast<pid_t>(cli.processId()), number);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 7);
    const QList<QByteArray> out = cli.readAllStandardOutput().trimmed().split('\n');
    EXPECT_EQ(Records({out.back()}).value(0).value(QStringLiteral("record")).toString(),
              QStringLiteral("end"));

    const QList<QJsonObject> records = LogRecords(log);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].value(QStringLiteral("outcome")).toString(),
              QStringLiteral(" User Abort !! "));
    // Every frame the board got was sent before the outcome (the record counts them), and
    // nothing else came after the frames.
    const std::vector<std::string> lines = sim.logLines();
    int frames = 0;
    for (const std::string& line : lines)
        frames += line.rfind("FRAME ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(frames, records[0].value(QStringLiteral("frames")).toInt());
    EXPECT_EQ(lines.back().rfind("FRAME ", 0), 0u) << lines.back();
    EXPECT_LT(frames, 183);
}

} // namespace

// Ctrl-C, a closed terminal (SIGHUP) and a polite kill (SIGTERM) all act as Stop.
TEST(Cli, CtrlCStopsTheRunAndTheBoardGetsNothingAfterTheOutcome) {
    for (const int number : {SIGINT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(strsignal(number));
        StopsOnSignal(number);
    }
}

TEST(Cli, CtrlCInTheProgrammingModeWaitSendsNoFrame) {
    TempEnvironment env;
    SimBoard sim({"--progmode-reply", "none"}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    QProcess cli;
    cli.start(CliPath(), {QStringLiteral("--port"), QStringLiteral("COM1")});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(sim.waitForLog("PROGMODE", 1, std::chrono::seconds(20)));
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 7);
    for (const std::string& line : sim.logLines())
        EXPECT_NE(line.rfind("FRAME ", 0), 0u) << line;
}

TEST(Cli, UnansweredBlocksAreNamed) {
    TempEnvironment env;
    SimBoard sim({"--silent", "3"}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    QTemporaryDir logDir;
    const QString log = logDir.filePath(QStringLiteral("boards.jsonl"));
    const CliRun run =
        RunCli({QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--log"), log});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_FALSE(run.out.isEmpty());
    EXPECT_EQ(run.out.last(), QByteArray(" Program Ok   (1 block unanswered)"));
    const QList<QJsonObject> records = LogRecords(log);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].value(QStringLiteral("unanswered_blocks")).toArray(), QJsonArray{3 * 128});
}

TEST(Cli, JsonIsOneObjectPerLine) {
    TempEnvironment env;
    SimBoard sim({}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    const CliRun run =
        RunCli({QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--json")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> records = Records(run.out);
    ASSERT_GE(records.size(), 4);
    int progress = 0;
    for (const QJsonObject& record : records) {
        EXPECT_EQ(record.value(QStringLiteral("port")).toString(), QStringLiteral("COM1"));
        progress += record.value(QStringLiteral("record")).toString() == QLatin1String("progress");
    }
    EXPECT_EQ(records.first().value(QStringLiteral("record")).toString(), QStringLiteral("begin"));
    // Every record names the release, as --version does.
    const CliRun version = RunCli({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    ASSERT_EQ(version.out.size(), 4);
    EXPECT_TRUE(version.out[0].startsWith("quillet-cli ")) << version.out[0].toStdString();
    EXPECT_EQ(version.out[1], QByteArray("release  MERICON 00.03.00.32"));
    const QJsonObject release = records.first().value(QStringLiteral("release")).toObject();
    const QString sha = release.value(QStringLiteral("sha256")).toString();
    EXPECT_EQ(sha.size(), 64);
    EXPECT_EQ(version.out[3], "sha256   " + sha.toLatin1());
    for (const QJsonObject& record : records)
        EXPECT_EQ(record.value(QStringLiteral("release")).toObject(), release);
    EXPECT_EQ(records[2].value(QStringLiteral("record")).toString(), QStringLiteral("identity"));
    // A few progress records per board, not one per frame (183 frames).
    EXPECT_GE(progress, 3);
    EXPECT_LE(progress, 30);
    const QJsonObject end = records.last();
    EXPECT_EQ(end.value(QStringLiteral("record")).toString(), QStringLiteral("end"));
    EXPECT_EQ(end.value(QStringLiteral("frames")).toInt(), 183);
    EXPECT_EQ(end.value(QStringLiteral("resends")).toInt(), 0);
    EXPECT_EQ(end.value(QStringLiteral("unanswered_blocks")).toArray(), QJsonArray{});
    const QJsonObject image = end.value(QStringLiteral("image")).toObject();
    EXPECT_EQ(image.value(QStringLiteral("row")).toInt(), 16);
    EXPECT_EQ(image.value(QStringLiteral("family")).toString(), QStringLiteral("24HJ64"));
    EXPECT_EQ(image.value(QStringLiteral("image_sha256")).toString().size(), 64);
    // The release's set has no EEPROM bytes: no hash of nothing.
    EXPECT_TRUE(image.value(QStringLiteral("eeprom_sha256")).isNull());
}

TEST(CliText, OutsideTextCannotForgeALine) {
    const struct {
        QString text;
        QString shown;
    } cases[] = {
        {QStringLiteral("SIM BOARD 1.0"), QStringLiteral("SIM BOARD 1.0")},
        {QStringLiteral("x\n Program Ok \r"), QStringLiteral("x\\n Program Ok \\r")},
        {QStringLiteral("\x1b[2J\x1b[31mred\t"), QStringLiteral("\\x1b[2J\\x1b[31mred\\t")},
        {QString(QChar(0)) + QChar(0x7f) + QChar(0x9b) + QStringLiteral("2J"),
         QStringLiteral("\\x00\\x7f\\x9b2J")},
        {QString(QChar(0x202e)) + QStringLiteral("kO") + QChar(0x2028),
         QStringLiteral("\\u202ekO\\u2028")},
        {QStringLiteral("Prüfplatz 2 (COM3) C:\\x"), QStringLiteral("Prüfplatz 2 (COM3) C:\\x")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VisibleText(c.text), c.shown);
}

TEST(CliText, APortsRowAndSummaryKeepItsFirstFailure) {
    BoardProgress row;
    row.port = QStringLiteral("COM2");
    row.repeat = true;
    const auto end = [&row](const char* outcome, int code, int frames) {
        ApplyRecord({{QStringLiteral("record"), QStringLiteral("begin")},
                     {QStringLiteral("port"), QStringLiteral("COM2")}},
                    row);
        ApplyRecord({{QStringLiteral("record"), QStringLiteral("end")},
                     {QStringLiteral("outcome"), QString::fromLatin1(outcome)},
                     {QStringLiteral("code"), code},
                     {QStringLiteral("frames"), frames}},
                    row);
    };
    const auto waiting = [&row] {
        ApplyRecord({{QStringLiteral("record"), QStringLiteral("progress")},
                     {QStringLiteral("phase"), QStringLiteral("waiting")}},
                    row);
    };
    end(" CHK Error !! ", 6, 20);
    waiting();
    // Red, with its failure, until the next board begins.
    EXPECT_TRUE(RenderLine(row, 200).startsWith(QStringLiteral("\x1b[31m")));
    EXPECT_TRUE(RenderLine(row, 200).contains(QStringLiteral("CHK Error !!")));
    end(" Program Ok ", 0, 183);
    waiting();
    EXPECT_FALSE(RenderLine(row, 200).contains(QStringLiteral("\x1b[")));
    end(" User Abort !! ", 7, 0); // stopped before anything was written: no board
    EXPECT_EQ(PortSummary(row),
              QStringLiteral("COM2: passed 1, failed 1, first failure: CHK Error !! (exit 6)"));
    end(" Program Ok ", 1, 183); // a board its log did not take
    MarkStopped(row, QStringLiteral("the port's process was killed (signal 9)"), true, 1);
    EXPECT_EQ(PortSummary(row), QStringLiteral("COM2: passed 1, failed 3, first failure: CHK Error "
                                               "!! (exit 6), stopped: the port's process was "
                                               "killed (signal 9)"));
    EXPECT_TRUE(RenderLine(row, 200).contains(QStringLiteral("stopped: the port's process")));
}

TEST(Cli, EmptyComDirectoryIsNoComDirectory) {
    TempEnvironment env;
    qputenv("QUILLET_COM_DIR", QByteArray());
    EXPECT_EQ(ComDirectory(), std::string());
    EXPECT_EQ(ComDevicePath(0), std::string("/dev/ttyS0"));
}

TEST(Cli, BoardTextIsShownEscapedOnItsOwnLine) {
    TempEnvironment env;
    SimBoard sim({"--text", "x\n Program Ok \x1b[2J"}, env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    const CliRun run = RunCli({QStringLiteral("--port"), QStringLiteral("COM1")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(Count(run.out, " Program Ok "), 1); // the board's own result, once
    EXPECT_TRUE(run.out.contains(
        QByteArray(R"(COM1: BIOS:12 - KJL_R02 - Preparation02 (x\n Program Ok \x1b[2J))")))
        << run.out.join('|').toStdString();
}

TEST(Cli, ALogThatCannotBeWrittenIsSaidEverywhere) {
    TempEnvironment env;
    const std::string dir = env.comDir().toStdString();
    SimBoard first({"--com", "1"}, dir);
    SimBoard second({"--com", "2"}, dir);
    ASSERT_TRUE(first.ready() && second.ready());
    // Cannot be opened at all: a usage error before anything is sent.
    CliRun run = RunCli({QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--log"),
                         env.comDir() + QStringLiteral("/no/such/dir/boards.jsonl")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("cannot append to the log")) << run.err.toStdString();
    EXPECT_TRUE(first.logLines().empty());

    // Opens, but every write fails: the end record, the summary and the exit code say so.
    run = RunCli({QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--json"),
                  QStringLiteral("--log"), QStringLiteral("/dev/full")});
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_FALSE(run.out.isEmpty());
    const QJsonObject end = QJsonDocument::fromJson(run.out.last()).object();
    EXPECT_EQ(end.value(QStringLiteral("code")).toInt(), 1);
    EXPECT_FALSE(end.value(QStringLiteral("log_failure")).toString().isEmpty());

    run = RunCli(Ports({QStringLiteral("COM1"), QStringLiteral("COM2")}) +
                 QStringList{QStringLiteral("--log"), QStringLiteral("/dev/full")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QByteArray("passed 0, failed 2")))
        << run.out.join('|').toStdString();
}

TEST(Cli, AGangRowWhoseProcessDiedSaysSo) {
    TempEnvironment env;
    const std::string dir = env.comDir().toStdString();
    SimBoard first({"--com", "1"}, dir);
    SimBoard second({"--com", "2", "--line-rate"}, dir);
    ASSERT_TRUE(first.ready() && second.ready());
    QProcess cli;
    cli.start(CliPath(), Ports({QStringLiteral("COM1"), QStringLiteral("COM2")}));
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(second.waitForLog("FRAME", 10, std::chrono::seconds(20)));
    // The child of COM2, among the gang's children.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(cli.processId()));
    ASSERT_TRUE(children.open(QIODevice::ReadOnly));
    pid_t victim = 0;
    for (const QByteArray& pid : children.readAll().split(' ')) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid)));
        if (!pid.isEmpty() && cmdline.open(QIODevice::ReadOnly) &&
            cmdline.readAll().split('\0').contains("COM2"))
            victim = static_cast<pid_t>(pid.toInt());
    }
    ASSERT_NE(victim, 0);
    ::kill(victim, SIGKILL);
    ASSERT_TRUE(cli.waitForFinished(20000));
    EXPECT_EQ(cli.exitCode(), 1);
    const QByteArray out = cli.readAllStandardOutput();
    const QByteArray stopped = "stopped: the port's process was killed (signal 9)";
    EXPECT_TRUE(out.contains("COM2: " + stopped)) << out.toStdString();
    EXPECT_TRUE(out.contains("COM2: passed 0, failed 1, first failure: " + stopped + " (exit 1)"))
        << out.toStdString();
}

TEST(Cli, AGangWhoseChildrenCannotStartEndsAtOnce) {
    TempEnvironment env;
    QProcess cli;
    // No process may be made: as root, only once it runs as another user.
    cli.setChildProcessModifier([] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        const rlimit none{0, 0};
        setrlimit(RLIMIT_NPROC, &none);
    });
    // The leak checker needs a process of its own at exit, which it cannot have here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":detect_leaks=0"));
    cli.setProcessEnvironment(environment);
    cli.start(CliPath(), Ports({QStringLiteral("COM1"), QStringLiteral("COM2")}));
    ASSERT_TRUE(cli.waitForStarted());
    const bool ended = cli.waitForFinished(10000);
    if (!ended)
        cli.kill();
    ASSERT_TRUE(ended);
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(cli.readAllStandardError().contains("COM1: cannot start"));
}

TEST(Cli, RepeatNeverReprogramsABoardLeftOnItsFixture) {
    TempEnvironment env;
    // Found at once, then every answer comes after the host's 100 ms probe wait.
    SimBoard sim({"--late-probe-reply", "350", "--late-probes-from", "1"},
                 env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    QTemporaryDir logDir;
    const QString log = logDir.filePath(QStringLiteral("boards.jsonl"));
    QProcess cli;
    cli.start(CliPath(),
              {QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--repeat"),
               QStringLiteral("--json"), QStringLiteral("--log"), log});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(sim.waitForLog("PROBE", 25, std::chrono::seconds(20)));
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_EQ(LogRecords(log).size(), 1);
    const std::vector<std::string> lines = sim.logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("PROGMODE ", 0) == 0; }),
              1);
    QList<QByteArray> out = cli.readAllStandardOutput().split('\n');
    out.removeAll(QByteArray());
    const QList<QJsonObject> records = Records(out);
    ASSERT_FALSE(records.isEmpty());
    EXPECT_EQ(records.first().value(QStringLiteral("phase")).toString(), QStringLiteral("waiting"));
    EXPECT_EQ(records.first().value(QStringLiteral("port")).toString(), QStringLiteral("COM1"));
}

TEST(Cli, RepeatLetsTheRestOfATextBlockComeBeforeTheSearch) {
    TempEnvironment env;
    // The text block's data comes 10 ms after its header, as to a host that read in the middle
    // of the block; the search's probe is answered late, after it.
    SimBoard sim({"--text-block-gap", "10", "--late-probe-reply", "60", "--late-probes-from", "1"},
                 env.comDir().toStdString());
    ASSERT_TRUE(sim.ready()) << sim.error();
    QTemporaryDir logDir;
    const QString log = logDir.filePath(QStringLiteral("boards.jsonl"));
    QProcess cli;
    cli.start(CliPath(), {QStringLiteral("--port"), QStringLiteral("COM1"),
                          QStringLiteral("--repeat"), QStringLiteral("--log"), log});
    ASSERT_TRUE(cli.waitForStarted());
    for (int i = 0; i < 400 && LogRecords(log).isEmpty(); ++i)
        QTest::qWait(50);
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    const QList<QJsonObject> records = LogRecords(log);
    ASSERT_FALSE(records.isEmpty());
    EXPECT_EQ(records.first().value(QStringLiteral("outcome")).toString(),
              QStringLiteral(" Program Ok "));
}
