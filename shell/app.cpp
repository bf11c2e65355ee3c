#include "shell/app.h"
#include "shell/identity.h"
#include "shell/instance_guard.h"
#include "shell/mhead.h"
#include "shell/quillet.h"
#include "shell/startup.h"
#include "shell/status.h"

#include "catalogue/version.h"
#include "serial/serialsetup.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

namespace {
void ShowStartupError(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(ProductString()), text,
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText); // the text may carry file names and the system's words
    box.exec();
}
} // namespace

int RunQuillet(int argc, char** argv) {
    ProgramArguments.assign(argv, argv + argc);
    QApplication app(argc, argv);
    // One design on every system: the windows are laid out in pixels for this style.
    QApplication::setStyle(QStringLiteral("Fusion"));

    InstanceGuard guard;
    if (!guard.Acquire()) {
        QApplication::setApplicationName(QString());
        QMessageBox box(QMessageBox::NoIcon, BuildMainTitle(),
                        QStringLiteral("Already in progress"), QMessageBox::Ok);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
        return 0;
    }

    try {
        // Windows without a parent are owned here; the compact window, when it exists, leads.
        std::unique_ptr<TForm5> compact;
        if (UsesCompactLayout(QString::fromLatin1(ProductString()))) {
            compact = std::make_unique<TForm5>();
            Form5 = compact.get();
        }
        auto full = std::make_unique<TForm1>();
        Form1 = full.get();
        auto portDialog = std::make_unique<TForm3>();
        Form3 = portDialog.get();
        auto deviceList = std::make_unique<TForm4>();
        Form4 = deviceList.get();

        // Closing the main window ends the program (its close event quits), dialogs or not.
        QApplication::setQuitOnLastWindowClosed(false);
        if (compact)
            compact->show();
        else
            full->show();
        app.exec();
        Form4 = nullptr;
        Form3 = nullptr;
        Form1 = nullptr;
        Form5 = nullptr;
    } catch (const std::exception& error) {
        ShowStartupError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowStartupError(QString());
    }
    return 0;
}
