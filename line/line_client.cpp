#include "line/line_client.h"

#include "line/spool.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <mosquitto.h>

namespace {

// The broker takes a station for gone after 1.5 times this without a packet: its last will
// then says offline.
constexpr int kKeepAliveSeconds = 10;
// How long one turn of the loop waits for the network: a record spooled meanwhile waits at most
// this long to be sent.
constexpr int kLoopWaitMs = 20;
// The pause before trying a lost broker again doubles from the first to the last.
constexpr int kFirstRetryMs = 250;
constexpr int kLastRetryMs = 4000;
// Records sent and not yet acknowledged, at most; the spool holds the rest.
constexpr std::size_t kMaxInFlight = 64;
// With nothing said of the spool, it is looked at this often (another process may fill it).
constexpr auto kSpoolLookInterval = std::chrono::seconds(1);

std::once_flag libraryReady;

QString HostAndPort(const LineUrl& url) {
    return url.host.contains(QLatin1Char(':'))
               ? QStringLiteral("[%1]:%2").arg(url.host).arg(url.port)
               : QStringLiteral("%1:%2").arg(url.host).arg(url.port);
}

QString LibraryText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    QString text = QString::fromUtf8(mosquitto_strerror(rc));
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

} // namespace

LineClient::LineClient(const LineOptions& options, Role role) : options_(options), role_(role) {
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    // A random client id and a clean session: a record's delivery rests on the spool, not on
    // the broker keeping a session.
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(client_, &LineClient::OnConnect);
    mosquitto_disconnect_callback_set(client_, &LineClient::OnDisconnect);
    mosquitto_publish_callback_set(client_, &LineClient::OnPublish);
    mosquitto_message_callback_set(client_, &LineClient::OnMessage);
    mosquitto_log_callback_set(client_, &LineClient::OnLog);
}

LineClient::~LineClient() {
    stop(0);
    // A thread still in a connect() that the OS has not given up yet keeps the client: the
    // process is ending, and the library must not be freed under it.
    if (!detached_ && client_ != nullptr)
        mosquitto_destroy(client_);
}

LineStart LineClient::start(const QByteArray& willPayload, int waitMs, QString* why) {
    QString error;
    LineLogin login = ReadLineLogin(options_.loginFile, &error);
    if (!error.isEmpty()) {
        *why = error;
        return LineStart::kRefused;
    }
    if (!login.user.isEmpty() &&
        mosquitto_username_pw_set(client_, login.user.toUtf8().constData(),
                                  login.password.isEmpty()
                                      ? nullptr
                                      : login.password.toUtf8().constData()) != MOSQ_ERR_SUCCESS) {
        *why = QStringLiteral("the broker login cannot be used");
        return LineStart::kRefused;
    }
    if (options_.url.tls) {
        const auto file = [](const QString& path) {
            return path.isEmpty() ? QByteArray() : QFile::encodeName(path);
        };
        const QByteArray ca = file(options_.caFile);
        const QByteArray cert = file(options_.certFile);
        const QByteArray key = file(options_.keyFile);
        const int rc = mosquitto_tls_set(client_, ca.constData(), nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = QStringLiteral("the TLS files cannot be used (%1)").arg(LibraryText(rc));
            return LineStart::kRefused;
        }
    }
    if (role_ == Role::kStation && !willPayload.isEmpty()) {
        const QByteArray topic = StateTopic(options_.url.prefix, options_.station).toUtf8();
        mosquitto_will_set(client_, topic.constData(), static_cast<int>(willPayload.size()),
                           willPayload.constData(), 1, true);
    }
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [this] { return haveVerdict_; })) {
        *why = QStringLiteral("the broker at %1 did not answer within %2 s")
                   .arg(HostAndPort(options_.url))
                   .arg(waitMs / 1000.0);
        return LineStart::kUnreachable;
    }
    *why = verdictWhy_;
    return verdict_;
}

void LineClient::verdict(LineStart start, const QString& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (haveVerdict_)
        return;
    haveVerdict_ = true;
    verdict_ = start;
    verdictWhy_ = why;
    changed_.notify_all();
}

void LineClient::news(const QString& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    news_ << line;
}

QString LineClient::lastLibraryError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastLogError_;
}

bool LineClient::connectOnce(bool first) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastLogError_.clear(); // what the library says now is of this attempt
    }
    const QByteArray host = options_.url.host.toUtf8();
    const int rc =
        first ? mosquitto_connect(client_, host.constData(), options_.url.port, kKeepAliveSeconds)
              : mosquitto_reconnect(client_);
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    QString reason = LibraryText(rc);
    const QString detail = lastLibraryError();
    const bool tls = rc == MOSQ_ERR_TLS;
    if (tls && !detail.isEmpty())
        reason = detail;
    const QString why =
        QStringLiteral("the broker at %1: %2").arg(HostAndPort(options_.url), reason);
    // A certificate the station does not trust never will be: as a refused login.
    verdict(tls ? LineStart::kRefused : LineStart::kUnreachable, why);
    std::lock_guard<std::mutex> lock(mutex_);
    if (downReason_ != reason && everConnected_)
        news_ << QStringLiteral("cannot reach %1").arg(why);
    downReason_ = reason;
    return false;
}

void LineClient::run() {
    bool first = true;
    bool socketUp = false;
    int retryMs = kFirstRetryMs;
    auto lastLook = std::chrono::steady_clock::now() - kSpoolLookInterval;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (quit_)
                break;
        }
        if (!socketUp) {
            socketUp = connectOnce(first);
            first = false;
            if (!socketUp) {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait_for(lock, std::chrono::milliseconds(retryMs),
                                  [this] { return quit_; });
                retryMs = std::min(retryMs * 2, kLastRetryMs);
                continue;
            }
        }
        const int rc = mosquitto_loop(client_, kLoopWaitMs, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            socketUp = false;
            forgetInFlight();
            // The TLS handshake ends in the loop: a broker the CA does not vouch for is known
            // only here.
            const QString detail = lastLibraryError();
            // A broker that wants a client certificate ends the handshake with an alert,
            // which the library reports as a lost connection and OpenSSL names.
            if (rc == MOSQ_ERR_TLS || detail.startsWith(QLatin1String("OpenSSL"))) {
                verdict(LineStart::kRefused, QStringLiteral("the broker at %1: TLS: %2")
                                                 .arg(HostAndPort(options_.url),
                                                      detail.isEmpty() ? LibraryText(rc) : detail));
            } else {
                verdict(LineStart::kUnreachable,
                        QStringLiteral("the broker at %1: %2")
                            .arg(HostAndPort(options_.url), LibraryText(rc)));
            }
            std::unique_lock<std::mutex> lock(mutex_);
            const bool wasUp = connected_;
            connected_ = false;
            if (!refused_) {
                const QString reason = LibraryText(rc);
                if (wasUp)
                    news_ << QStringLiteral("lost the broker at %1: %2")
                                 .arg(HostAndPort(options_.url), reason);
                downReason_ = reason;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(retryMs), [this] { return quit_; });
            retryMs = std::min(retryMs * 2, kLastRetryMs);
            continue;
        }
        bool up = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            up = connected_;
        }
        if (up) {
            retryMs = kFirstRetryMs;
            if (role_ == Role::kStation) {
                const auto now = std::chrono::steady_clock::now();
                bool look = false;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    look = spoolChanged_ || now - lastLook >= kSpoolLookInterval;
                    spoolChanged_ = false;
                }
                if (look)
                    lastLook = now;
                // The records before the state that counts them.
                if (look)
                    sendSpooled();
                publishWork();
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    threadDone_ = true;
    changed_.notify_all();
}

// The state, when it changed or the connection is new. The library is called without the
// lock: a failing write calls back into this client.
void LineClient::publishWork() {
    QByteArray state;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stateDirty_ || state_.isEmpty())
            return;
        state = state_;
        stateDirty_ = false;
    }
    const QByteArray topic = StateTopic(options_.url.prefix, options_.station).toUtf8();
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.constData(),
                                     static_cast<int>(state.size()), state.constData(), 1, true);
    std::lock_guard<std::mutex> lock(mutex_);
    if (rc != MOSQ_ERR_SUCCESS) {
        stateDirty_ = true; // the next connection sends it
        return;
    }
    stateMid_ = mid;
    stateAcked_ = false;
}

// Sends the spool's records that are not on their way yet, up to the window.
void LineClient::sendSpooled() {
    const QStringList files = SpooledFiles(options_.spool);
    QStringList toSend;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const QString& path : files) {
            if (inFlight_.size() + static_cast<std::size_t>(toSend.size()) >= kMaxInFlight) {
                spoolChanged_ = true; // look again as soon as some are acknowledged
                break;
            }
            if (inFlightFiles_.count(path) == 0 && unreadable_.count(path) == 0)
                toSend << path;
        }
    }
    for (const QString& path : toSend) {
        SpooledRecord record;
        if (!ReadSpooled(path, &record)) {
            if (QFile::exists(path)) {
                std::lock_guard<std::mutex> lock(mutex_);
                unreadable_.insert(path);
                news_ << QStringLiteral("the spooled record %1 is damaged; it stays in the spool")
                             .arg(path);
            }
            continue; // or delivered by another process meanwhile
        }
        const QByteArray topic = record.topic.toUtf8();
        int mid = 0;
        if (mosquitto_publish(client_, &mid, topic.constData(),
                              static_cast<int>(record.payload.size()), record.payload.constData(),
                              1, false) != MOSQ_ERR_SUCCESS)
            return; // the connection went: the loop notices it
        // Acknowledgements come only from mosquitto_loop, on this thread: none is missed.
        std::lock_guard<std::mutex> lock(mutex_);
        inFlight_[mid] = path;
        inFlightFiles_.insert(path);
    }
}

// A connection that ended takes its unacknowledged messages with it: they are sent again
// from the spool on the next one (a record may then arrive twice, never not at all).
void LineClient::forgetInFlight() {
    std::lock_guard<std::mutex> lock(mutex_);
    inFlight_.clear();
    inFlightFiles_.clear();
    spoolChanged_ = true;
    if (!state_.isEmpty())
        stateDirty_ = true;
    stateMid_ = -1;
}

void LineClient::OnConnect(mosquitto* m, void* self, int rc) {
    auto* client = static_cast<LineClient*>(self);
    if (rc != 0) {
        const QString why = QStringLiteral("the broker at %1 refused the station: %2")
                                .arg(HostAndPort(client->options_.url),
                                     QString::fromUtf8(mosquitto_connack_string(rc)));
        client->verdict(LineStart::kRefused, why);
        std::lock_guard<std::mutex> lock(client->mutex_);
        if (!client->refused_)
            client->news_ << why;
        client->refused_ = true;
        return;
    }
    if (client->role_ == Role::kWatcher) {
        const QByteArray prefix = client->options_.url.prefix.toUtf8();
        const QByteArray state = prefix + "/+/state";
        const QByteArray end = prefix + "/+/+/end";
        mosquitto_subscribe(m, nullptr, state.constData(), 1);
        mosquitto_subscribe(m, nullptr, end.constData(), 1);
    }
    {
        std::lock_guard<std::mutex> lock(client->mutex_);
        if (client->everConnected_ && !client->downReason_.isEmpty())
            client->news_ << QStringLiteral("the broker at %1 is back")
                                 .arg(HostAndPort(client->options_.url));
        client->connected_ = true;
        client->everConnected_ = true;
        client->refused_ = false;
        client->downReason_.clear();
        client->spoolChanged_ = true;
        if (!client->state_.isEmpty())
            client->stateDirty_ = true;
        client->changed_.notify_all();
    }
    client->verdict(LineStart::kConnected, QString());
}

void LineClient::OnDisconnect(mosquitto*, void* self, int) {
    auto* client = static_cast<LineClient*>(self);
    std::lock_guard<std::mutex> lock(client->mutex_);
    client->connected_ = false;
}

void LineClient::OnPublish(mosquitto*, void* self, int mid) {
    auto* client = static_cast<LineClient*>(self);
    std::lock_guard<std::mutex> lock(client->mutex_);
    if (mid == client->stateMid_) {
        client->stateAcked_ = true;
        client->stateMid_ = -1;
    }
    const auto it = client->inFlight_.find(mid);
    if (it == client->inFlight_.end())
        return; // sent on a connection before this one, and sent again since
    // Acknowledged: the broker has it, the spool need not.
    QFile::remove(it->second);
    client->inFlightFiles_.erase(it->second);
    client->inFlight_.erase(it);
    client->changed_.notify_all();
}

void LineClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<LineClient*>(self);
    LineMessage copy;
    copy.topic = QString::fromUtf8(message->topic);
    copy.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
    std::lock_guard<std::mutex> lock(client->mutex_);
    client->messages_.push_back(std::move(copy));
}

void LineClient::OnLog(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || text == nullptr)
        return;
    auto* client = static_cast<LineClient*>(self);
    std::lock_guard<std::mutex> lock(client->mutex_);
    client->lastLogError_ = QString::fromUtf8(text);
}

void LineClient::setState(const QByteArray& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = payload;
    stateDirty_ = true;
}

void LineClient::wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    spoolChanged_ = true;
}

int LineClient::drain(int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock<std::mutex> lock(mutex_);
    spoolChanged_ = true;
    while (std::chrono::steady_clock::now() < deadline) {
        if (threadDone_ || !connected_)
            break; // nothing will be acknowledged
        if (!stateDirty_ && stateAcked_ && !spoolChanged_ && inFlight_.empty() &&
            static_cast<std::size_t>(SpooledFiles(options_.spool).size()) == unreadable_.size())
            break;
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    lock.unlock();
    return static_cast<int>(SpooledFiles(options_.spool).size());
}

void LineClient::stop(int waitMs) {
    if (!thread_)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        changed_.notify_all();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const bool ended = changed_.wait_for(lock, std::chrono::milliseconds(std::max(waitMs, 2000)),
                                         [this] { return threadDone_; });
    lock.unlock();
    if (!ended) {
        // In a connect() the OS has not given up yet; the process is ending. The thread and
        // its QThread are left to it.
        detached_ = true;
        (void)thread_.release();
        return;
    }
    thread_->wait();
    thread_.reset();
    // A clean disconnect: the broker drops the last will, the state said what is true.
    mosquitto_disconnect(client_);
    mosquitto_loop(client_, kLoopWaitMs, 1);
}

bool LineClient::connected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

QStringList LineClient::takeNews() {
    std::lock_guard<std::mutex> lock(mutex_);
    QStringList lines;
    lines.swap(news_);
    return lines;
}

std::deque<LineMessage> LineClient::takeMessages() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<LineMessage> messages;
    messages.swap(messages_);
    return messages;
}
