// The port choice dialog "Setup": the present ports by friendly name, and "&Ok" to make the
// chosen one the session's port at once, except while an update runs on the open port. Created once
// at start-up, shown modeless on demand and only hidden, never destroyed, when closed.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TForm3;
}
class PortWatch;
class QComboBox;
class QLabel;
class QPushButton;
class QHideEvent;
class QShowEvent;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    QLabel* Label1;
    QComboBox* ComboBox1; // the friendly names; the user's choice
    QComboBox* ComboBox2; // hidden: the port names, entry i describing the same device as
                          // entry i of ComboBox1
    QPushButton* Button1; // "&Ok"
    QPushButton* Button2; // "&Cancel"
    QLabel* Label2;       // why the choice is not taken now; hidden otherwise
    QLabel* Label3;       // why the chosen port cannot be used now; empty when it can

    // Rebuilds both lists from the devices present now. Each entry of ComboBox1 is the
    // friendly name followed by whether the port can be opened now (looked at without
    // opening it); the state itself is the entry's Qt::UserRole data (a PortState).
    void FillPortLists();
    // While shown: rebuilds the lists after a port appeared or vanished, keeping the chosen
    // port chosen when it is still there.
    void RefreshPortLists();
    // Position in ComboBox2 of the entry for zero-based port number n, or 0 when none.
    int FindPortEntry(int n);
    // Zero-based port number named by the ComboBox2 entry at position (-1: none); 0 when that
    // entry is empty or holds no name.
    int PortNumberOfEntry(int position);

    void FormShow();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ShowChosenPortState();

    std::unique_ptr<Ui::TForm3> ui_;
    std::unique_ptr<PortWatch> watch_; // only while shown
};
