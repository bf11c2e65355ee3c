// The line of stations: quillet-cli publishing to a real Mosquitto broker (Debian's, started
// here with TLS and a password file), and the pure parts under it.
#include "line/line_rows.h"
#include "line/line_url.h"
#include "support/sim_board.h"
#include "support/temp_env.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString CliPath() {
    return QStringLiteral(QUILLET_CLI_PATH);
}

// Polls until done() holds or the time is up (the tests' waits are for events, not times).
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 30000) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (done())
            return true;
        QTest::qWait(20);
    }
    return done();
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

bool Run(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

// Debian's mosquitto on a free loopback port: TLS with a CA made here, logins from a password
// file, sessions kept across a restart (so the subscriber misses nothing the broker took).
class Broker {
public:
    Broker() {
        // The broker drops root to its own user, which must read its files.
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther | QFileDevice::ExeGroup |
                                               QFileDevice::ReadGroup);
        const QString d = dir_.path();
        const QString openssl = QStringLiteral("openssl");
        ready_ = Run(openssl,
                     {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                      "ca.crt", "-days", "1", "-subj", "/CN=line-test-ca"},
                     d) &&
                 Run(openssl,
                     {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out",
                      "broker.csr", "-subj", "/CN=127.0.0.1"},
                     d) &&
                 Run(QStringLiteral("sh"), {"-c", "echo subjectAltName=IP:127.0.0.1 > ext"}, d) &&
                 Run(openssl,
                     {"x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                      "-CAcreateserial", "-out", "broker.crt", "-days", "1", "-extfile", "ext"},
                     d) &&
                 Run(QStringLiteral("mosquitto_passwd"),
                     {"-c", "-b", "passwords", "station", "secret"}, d) &&
                 Run(QStringLiteral("chmod"), {"644", "broker.key", "passwords"}, d);
        QDir(d).mkdir(QStringLiteral("db"));
        QFile::setPermissions(d + "/db", QFileDevice::Permissions(0x7777));
        QFile conf(d + "/broker.conf");
        ready_ = ready_ && conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\n"
                                  "password_file %2/passwords\ncafile %2/ca.crt\n"
                                  "certfile %2/broker.crt\nkeyfile %2/broker.key\n"
                                  "persistence true\npersistence_location %2/db/\n")
                       .arg(port_)
                       .arg(d)
                       .toUtf8());
        conf.close();
        ready_ = ready_ && start();
    }
    ~Broker() {
        stop();
        if (subscriber_.state() != QProcess::NotRunning) {
            subscriber_.kill();
            subscriber_.waitForFinished();
        }
    }

    bool ready() const { return ready_; }
    QString url(const QString& prefix) const {
        return QStringLiteral("mqtts://127.0.0.1:%1/%2").arg(port_).arg(prefix);
    }
    QString caFile() const { return dir_.filePath(QStringLiteral("ca.crt")); }

    bool start() {
        broker_.start(QStringLiteral("mosquitto"),
                      {QStringLiteral("-c"), dir_.filePath(QStringLiteral("broker.conf"))});
        return broker_.waitForStarted() &&
               WaitFor([&] { return client(QStringLiteral("mosquitto_pub"), {"-n"}); }, 5000);
    }
    void stop() {
        if (broker_.state() == QProcess::NotRunning)
            return;
        broker_.terminate(); // it saves the sessions on the way out
        broker_.waitForFinished();
    }

    // A subscriber to everything under the prefix, with a session of its own.
    bool subscribe(const QString& prefix) {
        subscriber_.start(QStringLiteral("mosquitto_sub"),
                          clientArguments() + QStringList{"-q", "1", "-c", "-i", "line-test", "-F",
                                                          "%r %t %p", "-t", prefix + "/#"});
        return subscriber_.waitForStarted() && WaitFor([&] {
                   client(QStringLiteral("mosquitto_pub"),
                          {"-t", prefix + "/ready", "-m", "{}", "-q", "1"});
                   return messages(prefix + "/ready").size() > 0;
               });
    }
    // Payloads seen on a topic, in order.
    QList<QJsonObject> messages(const QString& topic) {
        lines_ += subscriber_.readAllStandardOutput();
        QList<QByteArray> lines = lines_.split('\n');
        lines.removeLast(); // not yet whole
        QList<QJsonObject> found;
        for (const QByteArray& line : lines) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() >= 3 && parts[1] == topic.toUtf8())
                found << QJsonDocument::fromJson(line.mid(parts[0].size() + parts[1].size() + 2))
                             .object();
        }
        return found;
    }

private:
    QStringList clientArguments() const {
        return {"-h",      "127.0.0.1", "-p",    QString::number(port_), "--cafile", caFile(), "-u",
                "station", "-P",        "secret"};
    }
    bool client(const QString& program, const QStringList& arguments) {
        return Run(program,
                   clientArguments() + (arguments.contains("-t")
                                            ? arguments
                                            : arguments + QStringList{"-t", "x/ready"}),
                   dir_.path());
    }

    QTemporaryDir dir_;
    int port_ = FreePort();
    QProcess broker_;
    QProcess subscriber_;
    QByteArray lines_;
    bool ready_ = false;
};

// A station: quillet-cli with --mqtt on the given ports, its login in the environment.
class Station {
public:
    Station(const Broker& broker, const QStringList& ports, const QString& spool,
            const QString& password = QStringLiteral("secret"), const QString& ca = {}) {
        QStringList arguments;
        for (const QString& port : ports)
            arguments << QStringLiteral("--port") << port;
        arguments << QStringLiteral("--repeat") << QStringLiteral("--mqtt")
                  << broker.url(QStringLiteral("line")) << QStringLiteral("--station")
                  << QStringLiteral("st1") << QStringLiteral("--mqtt-ca")
                  << (ca.isEmpty() ? broker.caFile() : ca) << QStringLiteral("--spool") << spool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLET_MQTT_USER"), QStringLiteral("station"));
        env.insert(QStringLiteral("QUILLET_MQTT_PASSWORD"), password);
        process.setProcessEnvironment(env);
        process.start(CliPath(), arguments);
        process.waitForStarted();
    }
    ~Station() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process.processId()), number); }

    QProcess process;
};

std::set<QString> RecordIds(const QList<QJsonObject>& records) {
    std::set<QString> ids;
    for (const QJsonObject& record : records)
        ids.insert(record.value(QStringLiteral("record_id")).toString());
    return ids;
}

} // namespace

TEST(LineUrl, ReadsTheBrokerAndThePrefixAndRefusesWhatCannotBeTopics) {
    struct Row {
        const char* text;
        bool tls;
        const char* host;
        int port;
        const char* prefix; // nullptr: refused
    };
    const Row rows[] = {
        {"mqtt://broker.plant/plant/line3", false, "broker.plant", 1883, "plant/line3"},
        {"mqtts://10.0.0.5:9883/l/", true, "10.0.0.5", 9883, "l"},
        {"mqtt://[::1]", false, "::1", 1883, "quillet"},
        {"mqtt://u:p@host/x", false, "", 0, nullptr},  // a login on the command line
        {"http://host/x", false, "", 0, nullptr},      // not MQTT
        {"mqtt://host/a/+/b", false, "", 0, nullptr},  // a wildcard
        {"mqtt://host/a//b", false, "", 0, nullptr},   // an empty level
        {"mqtt://host/$SYS/x", false, "", 0, nullptr}, // the broker's own topics
        {"mqtt:///x", false, "", 0, nullptr},          // no host
        {"mqtt://host/x?retain=1", false, "", 0, nullptr},
    };
    for (const Row& row : rows) {
        const ParsedLineUrl parsed = ParseLineUrl(QString::fromUtf8(row.text));
        if (row.prefix == nullptr) {
            EXPECT_FALSE(parsed.error.isEmpty()) << row.text;
            continue;
        }
        EXPECT_TRUE(parsed.error.isEmpty()) << row.text << ": " << parsed.error.toStdString();
        EXPECT_EQ(parsed.url.tls, row.tls) << row.text;
        EXPECT_EQ(parsed.url.host.toStdString(), row.host) << row.text;
        EXPECT_EQ(parsed.url.port, row.port) << row.text;
        EXPECT_EQ(parsed.url.prefix.toStdString(), row.prefix) << row.text;
    }
    EXPECT_TRUE(StationNameError(QStringLiteral("line3-st1")).isEmpty());
    for (const char* name : {"a/b", "st#", "", "x\ny"})
        EXPECT_FALSE(StationNameError(QString::fromUtf8(name)).isEmpty()) << name;
    for (const char* host : {"localhost", "127.0.0.1", "127.3.2.1", "::1"})
        EXPECT_TRUE(IsLocalHost(QString::fromUtf8(host))) << host;
    for (const char* host : {"10.0.0.5", "127.0.0", "broker.plant", "1270.0.0.1"})
        EXPECT_FALSE(IsLocalHost(QString::fromUtf8(host))) << host;
}

TEST(LineRows, FollowStatesEndRecordsAndLastWills) {
    std::vector<LineRow> rows;
    const QString prefix = QStringLiteral("plant/line3");
    EXPECT_TRUE(ApplyLineMessage(
        prefix, "plant/line3/st2/state",
        R"({"state":"online","ports":[{"port":"COM2","passed":4,"failed":1,"last":" CHK Error !! ","code":6},{"port":"COM1","passed":5,"failed":0}]})",
        &rows));
    EXPECT_TRUE(ApplyLineMessage(prefix, "plant/line3/st1/COM7/end",
                                 R"({"outcome":" Program Ok ","code":0,"time":"T"})", &rows));
    ASSERT_EQ(rows.size(), 3u); // sorted by station and port
    EXPECT_EQ(rows[0].station, "st1");
    EXPECT_EQ(rows[1].port, "COM1");
    EXPECT_EQ(rows[1].code, -1); // no board yet
    EXPECT_EQ(rows[2].failed, 1);
    EXPECT_EQ(rows[2].last, " CHK Error !! ");
    // A last will names no ports: the rows go offline and keep their counts.
    EXPECT_TRUE(ApplyLineMessage(prefix, "plant/line3/st2/state", R"({"state":"offline"})", &rows));
    EXPECT_FALSE(rows[1].online);
    EXPECT_FALSE(rows[2].online);
    EXPECT_EQ(rows[2].passed, 4);
    EXPECT_TRUE(rows[0].online);
    // A station heard of only by its will still gets a row.
    EXPECT_TRUE(ApplyLineMessage(prefix, "plant/line3/st3/state", R"({"state":"offline"})", &rows));
    EXPECT_EQ(rows.size(), 4u);
    for (const auto& [topic, payload] :
         std::vector<std::pair<const char*, const char*>>{{"plant/line4/st1/state", "{}"},
                                                          {"plant/line3/st1/state", "not json"},
                                                          {"plant/line3/st1/x/y/end", "{}"}})
        EXPECT_FALSE(ApplyLineMessage(prefix, topic, payload, &rows)) << topic;
    EXPECT_EQ(rows.size(), 4u);
}

TEST(Line, AGangPublishesEveryRecordAndItsStateAndGoesOfflineWhenKilled) {
    TempEnvironment env;
    Broker broker;
    ASSERT_TRUE(broker.ready());
    ASSERT_TRUE(broker.subscribe(QStringLiteral("line")));
    SimBoard first({"--com", "1"}, env.comDir().toStdString());
    SimBoard second({"--com", "2", "--prep", "5"}, env.comDir().toStdString()); // refused
    ASSERT_TRUE(first.ready() && second.ready());
    QTemporaryDir spool;
    // mqtts:// with a login: the gang's children check the same line options.
    Station station(broker, {QStringLiteral("COM1"), QStringLiteral("COM2")}, spool.path());
    ASSERT_TRUE(WaitFor([&] {
        return broker.messages("line/st1/COM1/end").size() == 1 &&
               broker.messages("line/st1/COM2/end").size() == 1;
    })) << station.process.readAllStandardError().toStdString();
    for (const char* port : {"COM1", "COM2"}) {
        const QJsonObject end =
            broker.messages(QStringLiteral("line/st1/%1/end").arg(port)).first();
        EXPECT_EQ(end.value("station").toString(), "st1");
        EXPECT_EQ(end.value("record_id").toString().size(), 36);
        EXPECT_EQ(end.value("code").toInt(), QLatin1String(port) == "COM1" ? 0 : 5);
    }
    ASSERT_TRUE(WaitFor([&] {
        const QList<QJsonObject> states = broker.messages("line/st1/state");
        return !states.isEmpty() && states.last().value("passed").toInt() == 1 &&
               states.last().value("failed").toInt() == 1;
    }));
    EXPECT_EQ(broker.messages("line/st1/state").last().value("state").toString(), "online");
    station.signal(SIGKILL);
    EXPECT_TRUE(WaitFor([&] {
        return broker.messages("line/st1/state").last().value("state").toString() == "offline";
    }));
}

TEST(Line, NoRecordIsLostWhileTheBrokerIsDownNorWhenTheStationIsKilled) {
    TempEnvironment env;
    Broker broker;
    ASSERT_TRUE(broker.ready());
    ASSERT_TRUE(broker.subscribe(QStringLiteral("line")));
    QTemporaryDir spoolDir;
    const QString spool = spoolDir.path();
    const auto board = [&] {
        return std::make_unique<SimBoard>(std::vector<std::string>{"--com", "1"},
                                          env.comDir().toStdString());
    };
    auto sim = board();
    auto station = std::make_unique<Station>(broker, QStringList{"COM1"}, spool);
    const auto records = [&] { return broker.messages("line/st1/COM1/end"); };
    ASSERT_TRUE(WaitFor([&] { return records().size() == 1; }));
    // The broker goes away; two boards later it is back.
    broker.stop();
    for (int boards = 0; boards < 2; ++boards) {
        sim.reset(); // taken off: its port goes away
        sim = board();
        ASSERT_TRUE(sim->waitForLog("FRAME", 183, std::chrono::seconds(30)));
    }
    ASSERT_TRUE(
        WaitFor([&] { return QDir(spool).entryList({"*.json"}, QDir::Files).size() == 2; }));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(WaitFor([&] { return RecordIds(records()).size() == 3; }));
    EXPECT_TRUE(WaitFor([&] { return QDir(spool).entryList({"*.json"}, QDir::Files).isEmpty(); }));
    // Down again; a board; the station killed: its spool is delivered by the next station.
    broker.stop();
    sim.reset();
    sim = board();
    ASSERT_TRUE(sim->waitForLog("FRAME", 183, std::chrono::seconds(30)));
    ASSERT_TRUE(
        WaitFor([&] { return QDir(spool).entryList({"*.json"}, QDir::Files).size() == 1; }));
    station->signal(SIGKILL);
    station.reset();
    sim.reset();
    ASSERT_TRUE(broker.start());
    station = std::make_unique<Station>(broker, QStringList{"COM1"}, spool);
    EXPECT_TRUE(WaitFor([&] { return RecordIds(records()).size() == 4; }));
}

TEST(Line, AWrongPasswordOrAnUntrustedBrokerEndsTheRunBeforeAnyProbe) {
    TempEnvironment env;
    Broker broker;
    ASSERT_TRUE(broker.ready());
    // A CA of its own, which did not sign the broker's certificate.
    QTemporaryDir other;
    ASSERT_TRUE(::Run(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                       "ca.crt", "-days", "1", "-subj", "/CN=another-ca"},
                      other.path()));
    struct Row {
        QString password;
        QString ca;
        const char* says;
    };
    const Row rows[] = {{QStringLiteral("wrong"), {}, "not authorised"},
                        {QStringLiteral("secret"), other.filePath(QStringLiteral("ca.crt")),
                         "certificate verify failed"}};
    for (const Row& row : rows) {
        SimBoard sim({}, env.comDir().toStdString());
        ASSERT_TRUE(sim.ready());
        QTemporaryDir spool;
        Station station(broker, {QStringLiteral("COM1")}, spool.path(), row.password, row.ca);
        ASSERT_TRUE(station.process.waitForFinished(20000)) << row.says;
        EXPECT_EQ(station.process.exitCode(), 8) << row.says;
        const QByteArray errors = station.process.readAllStandardError();
        EXPECT_TRUE(errors.contains(row.says)) << errors.toStdString();
        EXPECT_TRUE(sim.logLines().empty()) << row.says; // not one probe
    }
}
