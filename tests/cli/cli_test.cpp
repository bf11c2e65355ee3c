// quillet-cli as a user, a script and a production line run it: the real executable against
// simulated boards on pseudo-terminals.
#include "support/board_session.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include <QCryptographicHash>
#include <QFile>
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
    EXPECT_EQ(records[2].value(QStringLiteral("record")).toString(), QStringLiteral("identity"));
    // A few progress records per board, not one per frame (183 frames).
    EXPECT_GE(progress, 3);
    EXPECT_LE(progress, 30);
    const QJsonObject end = records.last();
    EXPECT_EQ(end.value(QStringLiteral("record")).toString(), QStringLiteral("end"));
    EXPECT_EQ(end.value(QStringLiteral("frames")).toInt(), 183);
    EXPECT_EQ(end.value(QStringLiteral("resends")).toInt(), 0);
    const QJsonObject image = end.value(QStringLiteral("image")).toObject();
    EXPECT_EQ(image.value(QStringLiteral("row")).toInt(), 16);
    EXPECT_EQ(image.value(QStringLiteral("family")).toString(), QStringLiteral("24HJ64"));
    EXPECT_EQ(image.value(QStringLiteral("image_sha256")).toString().size(), 64);
}
