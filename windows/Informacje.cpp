#include "Informacje.h"

#include "common.h"

#include <QAbstractButton>
#include <QLabel>
#include <algorithm>

TInformacjon::TInformacjon(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    ui::setUpToolWindow(this, QStringLiteral("Informacjon"), QStringLiteral("About"),
                        QSize(359, 132), QPoint(585, 371));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("MySQL Quorvane logo"));
    Image1->setPixmap(ui::picture(QStringLiteral("logo")));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setGeometry(0, 0, 153, 129);

    Label1 = new QLabel(QStringLiteral("Autors:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(ui::windowFont(16));
    ui::place(Label1, 240, 8, 54, 20);
    Label2 = new QLabel(QStringLiteral("Quorvane developers"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(ui::windowFont(13));
    ui::place(Label2, 216, 32);
    // Credits stay inside the window whatever the local font's width.
    Label2->move(std::min(Label2->x(), 355 - Label2->width()), Label2->y());
    Label3 = new QLabel(QStringLiteral("Qt 6, MariaDB Connector/C"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setFont(ui::windowFont(13));
    ui::place(Label3, 224, 48);
    Label3->move(std::min(Label3->x(), 355 - Label3->width()), Label3->y());
    Label4 = new QLabel(QStringLiteral("MySQL Quorvane 0.1"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    ui::place(Label4, 192, 72, 143, 13);

    SpeedButton1 = ui::flatButton(this, QStringLiteral("SpeedButton1"),
                                  QStringLiteral("Close this window"), QStringLiteral("ok"));
    SpeedButton1->setGeometry(160, 88, 193, 41);
    SpeedButton1->setIconSize(QSize(24, 24));
    connect(SpeedButton1, &QAbstractButton::clicked, this, &TInformacjon::SpeedButton1Click);
}

void TInformacjon::SpeedButton1Click()
{
    hide();
}
