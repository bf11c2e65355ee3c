// Fonts by character height in pixels, as the window layouts give them.
#pragma once

#include <QFont>
#include <QWidget>

inline void SetFontPixels(QWidget* widget, int pixels, bool bold, const char* family = nullptr) {
    QFont font = widget->font();
    if (family != nullptr)
        font.setFamily(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    widget->setFont(font);
}
