#include "login_window.h"

#include "common.h"
#include "convert.h"
#include "files.h"
#include "mySQLClient.h"
#include "settings_ini.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <limits>

Tlogin::Tlogin(TmySQLClient *mysql, QWidget *parent) : QWidget(parent, Qt::Tool), m_mysql(mysql)
{
    ui::setUpToolWindow(this, QStringLiteral("login"), QStringLiteral("login"), QSize(379, 180),
                        QPoint(226, 190));

    Logo_grx = new QLabel(this);
    Logo_grx->setObjectName(QStringLiteral("Logo_grx"));
    Logo_grx->setAccessibleName(QStringLiteral("MySQL Quorvane logo"));
    Logo_grx->setPixmap(ui::picture(QStringLiteral("logo")));
    Logo_grx->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Logo_grx->setGeometry(8, 8, 153, 113); // cuts the picture's bottom edge off, as designed

    auto *label1 = new QLabel(QStringLiteral("MySQL - Tolvar"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setEnabled(false);
    ui::place(label1, 8, 128, 76, 13);
    auto *bevel1 = new QFrame(this);
    bevel1->setObjectName(QStringLiteral("Bevel1"));
    bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    const int bevelLeft = std::max(88, label1->geometry().right() + 6); // clear of the caption
    bevel1->setGeometry(bevelLeft, 128 + 9 - 2, 369 - bevelLeft, 2);

    auto edit = [this](const char *name, const char *text, int top) {
        auto *e = new QLineEdit(QString::fromLatin1(text), this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(248, top, 121, 21);
        e->setMaxLength(std::numeric_limits<int>::max()); // the fields set no limit of their own
        return e;
    };
    Host_edit = edit("Host_edit", "localhost", 8);
    User_edit = edit("User_edit", "root", 40);
    Password_edit = edit("Password_edit", "tolv42", 72);
    Password_edit->setEchoMode(QLineEdit::Password);
    // "*" for every character, whatever the style's own mask character.
    Password_edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    Port_edit = edit("Port_edit", "3306", 104);

    auto label = [this](const char *name, const char *text, int right, int top, QLineEdit *buddy) {
        auto *l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(QString::fromLatin1(name));
        l->setBuddy(buddy);
        l->adjustSize();
        // Right-aligned against the edits, so a wider local font never overlaps them.
        l->move(std::min(right, 244 - l->width()), top);
        return l;
    };
    label("Label2", "&Host:", 216, 10, Host_edit);
    label("Label3", "&User:", 216, 42, User_edit);
    label("Label5", "&Password:", 192, 74, Password_edit);
    label("Label4", "P&ort:", 219, 106, Port_edit);

    setTabOrder(Host_edit, User_edit);
    setTabOrder(User_edit, Port_edit);
    setTabOrder(Port_edit, Password_edit);

    login_cancel = ui::flatButton(this, QStringLiteral("login_cancel"), QStringLiteral("Cancel"),
                                  QStringLiteral("cancel"));
    login_cancel->setGeometry(8, 144, 121, 33);
    login_cancel->setIconSize(QSize(22, 22));
    login_connect = ui::flatButton(this, QStringLiteral("login_connect"),
                                   QStringLiteral("Connect..."), QStringLiteral("connect"));
    login_connect->setGeometry(248, 144, 121, 33);
    login_connect->setIconSize(QSize(22, 22));
    connect(login_cancel, &QAbstractButton::clicked, this, &Tlogin::login_cancelClick);
    connect(login_connect, &QAbstractButton::clicked, this, &Tlogin::login_connectClick);
    ui::announceAsDialog(this);
}

void Tlogin::login_connectClick()
{
    try {
        m_mysql->setHostname(Host_edit->text());
        m_mysql->setUsername(User_edit->text());
        m_mysql->setPassword(Password_edit->text());
        m_mysql->setPort(convert::StrToInt(Port_edit->text()));
        m_mysql->Connect();
        settings_ini::write(TServerSettings{Host_edit->text(), User_edit->text(),
                                            Password_edit->text(), Port_edit->text()});
    } catch (const std::exception &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
    }
}

void Tlogin::login_cancelClick()
{
    hide();
}
