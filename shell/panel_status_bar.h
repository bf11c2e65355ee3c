// A status bar made of fixed-width text panels addressed by number, as the windows' layouts
// need (Qt's own status bar has no numbered panels).
#pragma once

#include <QStatusBar>
#include <initializer_list>
#include <vector>

class QLabel;

class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit PanelStatusBar(QWidget* parent = nullptr);

    void setPanelWidths(std::initializer_list<int> widths);
    int panelCount() const { return static_cast<int>(panels_.size()); }
    // Writes a panel and repaints it at once; an index outside the panels is ignored.
    void setPanelText(int index, const QString& text);
    QString panelText(int index) const;

private:
    std::vector<QLabel*> panels_;
};
