#include "cli/board_progress.h"

#include <QJsonValue>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarWidth = 20;

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
    line += QLatin1Char(' ') + (identity.isEmpty() ? QStringLiteral("-") : identity);
    line += QStringLiteral("  ");
    if (p.phase == QLatin1String("done")) {
        line += p.outcome.trimmed();
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
    return line.left(std::max(width, 1));
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
        if (record.value(QStringLiteral("code")).toInt() == 0)
            ++p.passed;
        else
            ++p.failed;
    }
}
