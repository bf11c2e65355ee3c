// One update, as the start buttons of both main windows run it.
#pragma once

class ProgressDisplay;
class QWidget;
class PanelDisplay;

// Searches for the bootloader and, when found, programs the device, inside the click handler.
// A window closed meanwhile is closed once the session has ended.
void RunUpdate(ProgressDisplay* progressBar, PanelDisplay* statusBar, QWidget* window);

// Called by a main window's close event: when a session runs, asks it to stop and closes the
// window once it has ended (no session may go on writing behind a closed window). True when
// the close has been deferred.
bool DeferCloseWhileSessionRuns(QWidget* window);
