#include "shell/startup.h"

#include "serial/comport.h"
#include "shell/settings.h"

QString VersionSetting;
std::vector<std::string> ProgramArguments;
bool SessionRunning = false;

void LoadSettings() {
    VersionSetting = ReadSetting(QStringLiteral("version"));
    const QString com = ReadSetting(QStringLiteral("com"));
    SelectedPortIndex = com.isEmpty() ? std::int16_t{0} : ParsePortIndexSetting(com);
    // One below the selection, so that the first search of the run always opens the port.
    OpenPortIndex = static_cast<std::int16_t>(SelectedPortIndex - 1);
}

void SaveSettingsOnClose() {
    if (OpenPortIndex == SelectedPortIndex)
        ClosePort(SelectedPortIndex);
    WriteSetting(QStringLiteral("com"),
                 QString::number(static_cast<std::int32_t>(SelectedPortIndex)));
}
