#include "shell/update.h"

#include "serial/comport.h"
#include "session/programming.h"
#include "session/search.h"
#include "session/session_state.h"
#include "shell/startup.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> WindowToClose;
}

void RunUpdate(ProgressDisplay* progressBar, PanelDisplay* statusBar, QWidget* window) {
    if (SessionRunning)
        return;
    SessionRunning = true;
    PortHeldBySession = true;
    if (SearchDevice(progressBar, statusBar) == 0)
        ProgramDevice(progressBar, statusBar);
    PortHeldBySession = false;
    SessionRunning = false;
    if (WindowToClose != nullptr && WindowToClose == window) {
        WindowToClose = nullptr;
        window->close();
    }
}

bool DeferCloseWhileSessionRuns(QWidget* window) {
    if (!SessionRunning)
        return false;
    AbortRequested = 1; // the session ends at its next wait
    WindowToClose = window;
    return true;
}
