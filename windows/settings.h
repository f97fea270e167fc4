#pragma once

#include <QWidget>

class QCheckBox;
class QTabWidget;
class QAbstractButton;

// The settings dialog: one option page that nothing reads yet. Hidden by "Cancel" and its close
// box; "Update" has no action.
class Tsettings_form : public QWidget
{
    Q_OBJECT
public:
    explicit Tsettings_form(QWidget *parent = nullptr);

    QTabWidget *TabbedNotebook1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QAbstractButton *SpeedButton1 = nullptr; // "Update"
    QAbstractButton *SpeedButton2 = nullptr; // "Cancel"

    void SpeedButton2Click();
};
