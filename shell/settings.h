// The updater's only persistent settings, "com" and "version", in the machine-wide store
// (organisation "Tessaly", application "Quillet"). On Linux Qt keeps them in
// Tessaly/Quillet.conf in the first directory of XDG_CONFIG_DIRS (default /etc/xdg); on
// Windows in the registry key HKEY_LOCAL_MACHINE\Software\Tessaly\Quillet.
#pragma once

#include <QString>
#include <cstdint>

// The stored text, or an empty text when the store or the value cannot be read.
QString ReadSetting(const QString& name);
// Stores the text; a store that cannot be written loses it silently.
void WriteSetting(const QString& name, const QString& text);

// Decimal conversion of a stored port index: leading blanks, optional sign, digits up to the
// first other character (none gives 0), kept in 16 bits (65540 gives 4).
std::int16_t ParsePortIndexSetting(const QString& text);
