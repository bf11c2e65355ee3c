#include "shell/panel_status_bar.h"

#include <QLabel>

PanelStatusBar::PanelStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
}

void PanelStatusBar::setPanelWidths(std::initializer_list<int> widths) {
    for (QLabel* panel : panels_)
        delete panel;
    panels_.clear();
    int index = 0;
    for (int width : widths) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(index++));
        panel->setFixedWidth(width);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        addWidget(panel);
        panels_.push_back(panel);
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
