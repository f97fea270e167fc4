#pragma once

#include <QWidget>

#include <functional>

class QPlainTextEdit;
class QLineEdit;
class QAbstractButton;
class TmySQLClient;

// The SQL console, which is also the program's running transcript.
class Tconsole : public QWidget
{
    Q_OBJECT
public:
    explicit Tconsole(TmySQLClient *mysql, QWidget *parent = nullptr);

    QPlainTextEdit *Memo1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QAbstractButton *SpeedButton1 = nullptr;

    // The one service the console offers the main window: one more line of transcript.
    void appendLine(const QString &line);
    // "Send": the text of Edit1, as typed, to the server with the request name "konsola".
    void SpeedButton1Click();
    // Told when Send finds no connection open; nothing is sent then.
    std::function<void(const QString &notice)> OnNotConnected;

protected:
    TmySQLClient *m_mysql;
};
