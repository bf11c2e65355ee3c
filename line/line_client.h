// The MQTT connection under the line link and the line view: libmosquitto driven from a thread
// of its own, which connects, reconnects with a growing pause, publishes and takes messages.
// Only that thread touches the library's client; the others hand it work under a lock.
#pragma once

#include "line/line_link.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

struct mosquitto;
struct mosquitto_message;

struct LineMessage {
    QString topic;
    QByteArray payload;
};

class LineClient {
public:
    enum class Role { kStation, kWatcher };

    LineClient(const LineOptions& options, Role role);
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    // Sets the client up (login, TLS, last will) and starts the thread; waits at most waitMs for
    // the first connection's outcome. *why says what went wrong.
    LineStart start(const QByteArray& willPayload, int waitMs, QString* why);
    // Station: the retained state to publish now and after every reconnection.
    void setState(const QByteArray& payload);
    // Station: look at the spool now.
    void wake();
    // Station: waits up to waitMs until the last state given is acknowledged and the spool has
    // nothing left that this client can send; the spooled records left.
    int drain(int waitMs);
    // Ends the connection cleanly (no last will) and the thread, waiting at most waitMs.
    void stop(int waitMs);
    // News for the user since the last call (lost, back, refused), one line each.
    QStringList takeNews();
    // Whether the broker has accepted the connection that is up.
    bool connected() const;
    // Watcher: the messages that came since the last call.
    std::deque<LineMessage> takeMessages();

private:
    void run();
    bool connectOnce(bool first);
    void publishWork();
    void sendSpooled();
    void forgetInFlight();
    void verdict(LineStart start, const QString& why);
    void news(const QString& line);
    QString lastLibraryError() const;

    static void OnConnect(mosquitto* m, void* self, int rc);
    static void OnDisconnect(mosquitto* m, void* self, int rc);
    static void OnPublish(mosquitto* m, void* self, int mid);
    static void OnMessage(mosquitto* m, void* self, const mosquitto_message* message);
    static void OnLog(mosquitto* m, void* self, int level, const char* text);

    const LineOptions options_;
    const Role role_;
    mosquitto* client_ = nullptr;
    // A QThread, not a std::thread: Qt frees what the thread's Qt calls left behind (a regular
    // expression's JIT stack) in the thread itself before wait() returns. On Windows it freed
    // a foreign thread's from a watcher thread, racing the process's exit (a crash at the end
    // of a run).
    std::unique_ptr<QThread> thread_;
    bool detached_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    bool threadDone_ = false;
    bool haveVerdict_ = false;
    LineStart verdict_ = LineStart::kUnreachable;
    QString verdictWhy_;
    bool connected_ = false; // the broker accepted the connection that is up
    bool everConnected_ = false;
    bool refused_ = false;
    QString downReason_; // why the last attempt failed; empty while up
    QStringList news_;
    QByteArray state_;
    bool stateDirty_ = false;
    int stateMid_ = -1;
    bool stateAcked_ = true;
    bool spoolChanged_ = true;
    std::map<int, QString> inFlight_; // message id -> the spool file it carries
    std::set<QString> inFlightFiles_;
    std::set<QString> unreadable_; // damaged files, left for a person to look at
    std::deque<LineMessage> messages_;
    QString lastLogError_;
};
