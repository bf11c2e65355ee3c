// Start-up of the updater: the steps both main windows run while they are constructed and
// closed.
#pragma once

#include <QString>
#include <string>
#include <vector>

// The text of the setting "version"; read at start-up, used by nothing else.
extern QString VersionSetting;
// The command line as given to the process entry, the program's own name first.
extern std::vector<std::string> ProgramArguments;

// Reads "version" and "com" and derives SelectedPortIndex and OpenPortIndex from them.
void LoadSettings();
// The close steps of a main window: release the session port and save "com".
void SaveSettingsOnClose();

// True while an update runs inside a start button's click handler.
extern bool SessionRunning;
