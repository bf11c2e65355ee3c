#include "shell/settings.h"

#include <QSettings>

namespace {
// Opened for each call and closed again on return, so nothing is held between calls.
QSettings OpenStore() {
    return QSettings(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Tessaly"),
                     QStringLiteral("Quillet"));
}
} // namespace

QString ReadSetting(const QString& name) {
    const QSettings store = OpenStore();
    if (store.status() != QSettings::NoError)
        return {};
    const QVariant value = store.value(name);
    // A value of another type than text counts as absent.
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return {};
    return value.toString();
}

void WriteSetting(const QString& name, const QString& text) {
    QSettings store = OpenStore();
    if (!store.isWritable())
        return;
    store.setValue(name, text);
    store.sync();
}

std::int16_t ParsePortIndexSetting(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    // Unsigned arithmetic wraps instead of overflowing; the low 16 bits are all that is kept.
    std::uint32_t value = 0;
    while (*p >= '0' && *p <= '9')
        value = value * 10u + static_cast<std::uint32_t>(*p++ - '0');
    if (negative)
        value = 0u - value;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFFu));
}
