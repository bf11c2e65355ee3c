// A status bar made of fixed-width text panels addressed by number, as the windows' layouts
// need (Qt's own status bar has no numbered panels).
#pragma once

#include "shell/status.h"

#include <QStatusBar>
#include <initializer_list>
#include <vector>

class QLabel;

class PanelStatusBar : public QStatusBar, public PanelDisplay {
    Q_OBJECT
public:
    explicit PanelStatusBar(QWidget* parent = nullptr);

    void setPanelWidths(std::initializer_list<int> widths);
    int panelCount() const { return static_cast<int>(panels_.size()); }
    // Writes a panel and repaints it at once; an index outside the panels is ignored.
    void setPanelText(int index, const QString& text) override;
    QString panelText(int index) const;

private:
    std::vector<QLabel*> panels_;
};
