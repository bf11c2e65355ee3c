// Closes every message box that opens while it lives, remembering "caption|text" of each.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <vector>

class MessageBoxWatcher {
public:
    MessageBoxWatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen.push_back(box->windowTitle() + QStringLiteral("|") + box->text());
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start(10);
    }
    std::vector<QString> seen;

private:
    QTimer timer_;
};
