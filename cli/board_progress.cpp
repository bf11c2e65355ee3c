#include "cli/board_progress.h"

#include "cli/outcome.h"

#include <QJsonValue>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarWidth = 20;
// A failed board's row; the colour does not take a column.
constexpr char kRed[] = "\x1b[31m";
constexpr char kReset[] = "\x1b[0m";

// Unicode's line and paragraph separators and its direction marks, embeddings, overrides and
// isolates: not control characters, yet they break or reorder what a terminal shows.
bool BreaksOrReordersLine(char16_t u) {
    return u == 0x200e || u == 0x200f || u == 0x2028 || u == 0x2029 ||
           (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
}

QString Bar(double fraction) {
    const int filled = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kBarWidth));
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
           QString(kBarWidth - filled, QLatin1Char('.')) + QLatin1Char(']');
}

QString Duration(double seconds) {
    const int s = static_cast<int>(std::lround(seconds));
    return QString::asprintf("%d:%02d", s / 60, s % 60);
}

QString PhaseText(const BoardProgress& p) {
    if (p.phase == QLatin1String("search"))
        return QStringLiteral("search, probe %1").arg(p.attempt + 1);
    if (p.phase == QLatin1String("progmode"))
        return QStringLiteral("program mode");
    if (p.phase == QLatin1String("program"))
        return QStringLiteral("block %1/%2").arg(p.block).arg(p.blocks);
    if (p.phase == QLatin1String("fix"))
        return QStringLiteral("fix block");
    if (p.phase == QLatin1String("eeprom"))
        return QStringLiteral("eeprom");
    if (p.phase == QLatin1String("waiting"))
        return QStringLiteral("waiting for the next board");
    return p.phase;
}

} // namespace

namespace {
QString RenderWith(const BoardProgress& p, const QString& identity) {
    QString line = p.port.leftJustified(8);
    line += QLatin1Char(' ') + (identity.isEmpty() ? QStringLiteral("-") : VisibleText(identity));
    line += QStringLiteral("  ");
    if (p.phase == QLatin1String("done") || p.phase == QLatin1String("stopped")) {
        line += VisibleText(p.outcome.trimmed());
    } else if (p.phase == QLatin1String("waiting") && p.lastFailed) {
        // The failed board is still on its fixture until the next one is found.
        line += VisibleText(p.outcome.trimmed()) + QStringLiteral(", ") + PhaseText(p);
    } else {
        line += PhaseText(p).leftJustified(16);
        if (p.phase == QLatin1String("program") || p.phase == QLatin1String("fix") ||
            p.phase == QLatin1String("eeprom")) {
            line += QLatin1Char(' ') + Bar(p.fraction);
            if (p.bytesPerSecond > 0)
                line += QStringLiteral(" %1 B/s").arg(static_cast<int>(p.bytesPerSecond));
            if (p.secondsLeft >= 0)
                line += QStringLiteral(" %1 left").arg(Duration(p.secondsLeft));
        }
    }
    if (p.repeat)
        line += QStringLiteral("  (passed %1, failed %2)").arg(p.passed).arg(p.failed);
    return line;
}
} // namespace

QString RenderLine(const BoardProgress& p, int width) {
    QString line = RenderWith(p, p.identity);
    // A narrow terminal keeps the progress and loses the identity line's detail first: the
    // board's name is what tells the fixtures apart.
    if (line.size() > width)
        line = RenderWith(p, p.identity.section(QStringLiteral(" - "), 1, 1));
    line = line.left(std::max(width, 1));
    if (p.lastFailed)
        line = QLatin1String(kRed) + line + QLatin1String(kReset);
    return line;
}

QString VisibleText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0)) // C0, DEL and C1 (0x9b is a CSI)
            out += QString::asprintf("\\x%02x", static_cast<unsigned>(u));
        else if (BreaksOrReordersLine(u))
            out += QString::asprintf("\\u%04x", static_cast<unsigned>(u));
        else
            out += c;
    }
    return out;
}

bool IsCountedBoard(const QJsonObject& end) {
    return end.value(QStringLiteral("code")).toInt() != kExitStopped ||
           end.value(QStringLiteral("frames")).toInt() > 0;
}

void CountFailure(BoardProgress& p, const QString& outcome, int code) {
    ++p.failed;
    p.lastFailed = true;
    if (p.firstFailure.isEmpty()) {
        p.firstFailure = outcome.trimmed();
        p.firstFailureCode = code;
    }
}

void MarkStopped(BoardProgress& p, const QString& reason, bool boardOpen, int code) {
    p.phase = QStringLiteral("stopped");
    p.outcome = QStringLiteral("stopped: ") + reason;
    if (boardOpen)
        CountFailure(p, p.outcome, code); // a board begun and never ended may be half written
    p.lastFailed = true;
}

QString PortSummary(const BoardProgress& p) {
    QString line =
        QStringLiteral("%1: passed %2, failed %3").arg(p.port).arg(p.passed).arg(p.failed);
    if (!p.firstFailure.isEmpty())
        line += QStringLiteral(", first failure: %1 (exit %2)")
                    .arg(VisibleText(p.firstFailure))
                    .arg(p.firstFailureCode);
    if (p.phase == QLatin1String("stopped") && p.outcome != p.firstFailure)
        line += QStringLiteral(", ") + VisibleText(p.outcome);
    return line;
}

QJsonObject ProgressRecord(const BoardProgress& p) {
    QJsonObject record{{QStringLiteral("record"), QStringLiteral("progress")},
                       {QStringLiteral("port"), p.port},
                       {QStringLiteral("phase"), p.phase}};
    if (p.phase == QLatin1String("program")) {
        record.insert(QStringLiteral("block"), p.block);
        record.insert(QStringLiteral("blocks"), p.blocks);
    }
    record.insert(QStringLiteral("fraction"), std::round(p.fraction * 1000) / 1000);
    if (p.bytesPerSecond > 0)
        record.insert(QStringLiteral("bytes_per_s"), std::round(p.bytesPerSecond));
    if (p.secondsLeft >= 0)
        record.insert(QStringLiteral("seconds_left"), std::round(p.secondsLeft * 10) / 10);
    return record;
}

void ApplyRecord(const QJsonObject& record, BoardProgress& p) {
    const QString kind = record.value(QStringLiteral("record")).toString();
    if (kind == QLatin1String("begin")) {
        BoardProgress next;
        next.port = record.value(QStringLiteral("port")).toString();
        next.repeat = p.repeat; // the phase comes with the first progress record
        next.passed = p.passed;
        next.failed = p.failed;
        next.firstFailure = p.firstFailure;
        next.firstFailureCode = p.firstFailureCode;
        p = next;
    } else if (kind == QLatin1String("identity")) {
        p.identity = record.value(QStringLiteral("line")).toString();
    } else if (kind == QLatin1String("progress")) {
        p.phase = record.value(QStringLiteral("phase")).toString();
        p.block = record.value(QStringLiteral("block")).toInt();
        p.blocks = record.value(QStringLiteral("blocks")).toInt();
        p.fraction = record.value(QStringLiteral("fraction")).toDouble();
        p.bytesPerSecond = record.value(QStringLiteral("bytes_per_s")).toDouble();
        p.secondsLeft = record.value(QStringLiteral("seconds_left")).toDouble(-1);
    } else if (kind == QLatin1String("end")) {
        p.phase = QStringLiteral("done");
        p.outcome = record.value(QStringLiteral("outcome")).toString();
        const QString logFailure = record.value(QStringLiteral("log_failure")).toString();
        if (!logFailure.isEmpty())
            p.outcome =
                QStringLiteral("%1, log not written: %2").arg(p.outcome.trimmed(), logFailure);
        const int code = record.value(QStringLiteral("code")).toInt();
        if (!IsCountedBoard(record))
            return;
        if (code == 0)
            ++p.passed;
        else
            CountFailure(p, p.outcome, code);
    }
}
