#include "shell/panel_status_bar.h"

#include <QLabel>

PanelStatusBar::PanelStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    // The panel widths were laid out for a small 8-point face; substitutes run wider.
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
}

void PanelStatusBar::setPanelWidths(std::initializer_list<int> widths) {
    for (QLabel* panel : panels_)
        delete panel;
    panels_.clear();
    int index = 0;
    const int last = static_cast<int>(widths.size()) - 1;
    for (int width : widths) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(index));
        panel->setTextFormat(Qt::PlainText); // panels show port and board texts
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        // As in the classic status bar, the last panel takes the rest of the width.
        if (index == last) {
            panel->setMinimumWidth(width);
            addWidget(panel, 1);
        } else {
            panel->setFixedWidth(width);
            addWidget(panel);
        }
        panels_.push_back(panel);
        ++index;
    }
}

void PanelStatusBar::setPanelText(int index, const QString& text) {
    if (index < 0 || index >= panelCount())
        return;
    panels_[static_cast<size_t>(index)]->setText(text);
    panels_[static_cast<size_t>(index)]->repaint();
}

QString PanelStatusBar::panelText(int index) const {
    if (index < 0 || index >= panelCount())
        return {};
    return panels_[static_cast<size_t>(index)]->text();
}
