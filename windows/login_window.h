#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QAbstractButton;
class TmySQLClient;

// The login dialog: host, user, password and port for the main window's client component.
class Tlogin : public QWidget
{
    Q_OBJECT
public:
    explicit Tlogin(TmySQLClient *mysql, QWidget *parent = nullptr);

    QLabel *Logo_grx = nullptr;
    QLineEdit *Host_edit = nullptr;
    QLineEdit *User_edit = nullptr;
    QLineEdit *Password_edit = nullptr;
    QLineEdit *Port_edit = nullptr;
    QAbstractButton *login_cancel = nullptr;
    QAbstractButton *login_connect = nullptr;

    void login_cancelClick();
    // Hands the four values to the client, starts the connect and records them in
    // "settings.ini". A port that is no number stops it before the connect, through the
    // application's error box.
    void login_connectClick();

protected:
    TmySQLClient *m_mysql;
};
