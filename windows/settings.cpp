#include "settings.h"

#include "common.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QTabWidget>

Tsettings_form::Tsettings_form(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    ui::setUpToolWindow(this, QStringLiteral("settings_form"), QStringLiteral("Settings"),
                        QSize(537, 318), QPoint(257, 216));

    TabbedNotebook1 = new QTabWidget(this);
    TabbedNotebook1->setObjectName(QStringLiteral("TabbedNotebook1"));
    TabbedNotebook1->setGeometry(0, 0, 537, 318);
    auto *general = new QWidget;
    general->setObjectName(QStringLiteral("General"));
    TabbedNotebook1->addTab(general, QStringLiteral("General"));

    auto *panel1 = new QFrame(general);
    panel1->setObjectName(QStringLiteral("Panel1"));
    panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    // On the button face, so the raised edge shows whole, not as a lone L of its shadow.
    QPalette face = panel1->palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    face.setColor(QPalette::Light, Qt::white);
    panel1->setPalette(face);
    panel1->setAutoFillBackground(true);
    panel1->setGeometry(8, 8, 209, 241);
    CheckBox1 = new QCheckBox(QStringLiteral("Automatic connect to Server"), panel1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    ui::place(CheckBox1, 24, 16, 161, 17);
    if (CheckBox1->width() > 209 - 24 - 4) CheckBox1->setGeometry(8, 16, 209 - 12, 17);

    auto *bevel1 = new QFrame(general);
    bevel1->setObjectName(QStringLiteral("Bevel1"));
    bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    bevel1->setGeometry(8, 248 + 9 - 2, 513, 2);

    SpeedButton1 =
        ui::flatButton(general, QStringLiteral("SpeedButton1"), QStringLiteral("Update"));
    SpeedButton1->setGeometry(416, 264, 105, 25);
    SpeedButton2 =
        ui::flatButton(general, QStringLiteral("SpeedButton2"), QStringLiteral("Cancel"));
    SpeedButton2->setGeometry(8, 264, 105, 25);
    connect(SpeedButton2, &QAbstractButton::clicked, this, &Tsettings_form::SpeedButton2Click);
}

void Tsettings_form::SpeedButton2Click()
{
    hide();
}
