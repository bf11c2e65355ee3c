// Whether a label shows its text character for character rather than as markup: text from
// outside the program (a process name, an adapter's name, the board's own text) may look like
// markup. Qt's rule: rich text when so set, or when left to guess and the text looks like it.
#pragma once

#include <QLabel>
#include <QTextDocument>

inline bool ShowsPlainText(const QLabel& label) {
    switch (label.textFormat()) {
    case Qt::PlainText:
        return true;
    case Qt::AutoText:
        return !Qt::mightBeRichText(label.text());
    default:
        return false;
    }
}
