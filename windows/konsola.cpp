#include "konsola.h"

#include "common.h"
#include "mySQLClient.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <limits>

Tconsole::Tconsole(TmySQLClient *mysql, QWidget *parent) : QWidget(parent, Qt::Tool), m_mysql(mysql)
{
    ui::setUpToolWindow(this, QStringLiteral("console"), QStringLiteral("Mysql Console"),
                        QSize(505, 232), QPoint(268, 188), Qt::white);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Memo1"));
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #E6F3FF; }"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setGeometry(0, 0, 505, 205);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setAccessibleName(QStringLiteral("Edit1"));
    Edit1->setFrame(false);
    Edit1->setStyleSheet(QStringLiteral("QLineEdit { background: #FFECFF; }"));
    Edit1->setGeometry(0, 208, 425, 21);
    Edit1->setMaxLength(std::numeric_limits<int>::max()); // statements of any length

    SpeedButton1 = ui::flatButton(this, QStringLiteral("SpeedButton1"), QStringLiteral("Send"));
    SpeedButton1->setGeometry(428, 208, 73, 21);
    setTabOrder(Memo1, Edit1);
    // Only the button sends: Enter in Edit1 does nothing.
    connect(SpeedButton1, &QAbstractButton::clicked, this, &Tconsole::SpeedButton1Click);
    ui::announceAsDialog(this);
}

void Tconsole::SpeedButton1Click()
{
    if (!m_mysql || !m_mysql->Query()) {
        if (OnNotConnected) OnNotConnected(QStringLiteral("Not connected"));
        return;
    }
    const QString text = Edit1->text();
    m_mysql->Query()->Submit(text.toStdString(), "konsola");
    m_mysql->ExecuteTasks();
    appendLine(text);
}

void Tconsole::appendLine(const QString &line)
{
    Memo1->appendPlainText(line);
}
