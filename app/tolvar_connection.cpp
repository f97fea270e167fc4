// The main window's connection lifecycle: the start-up step, connect and disconnect, the
// connect-error report and the activity log.
#include "tolvar_window.h"

#include "Cologrid.h"
#include "common.h"
#include "grid_edit.h"
#include "konsola.h"
#include "login_window.h"
#include "server_activity.h"
#include "settings_ini.h"
#include "sql_editor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

void Ttolvar::AutolTimer()
{
    // Stopped first: the boxes below run event loops of their own, which must not see it again.
    Autol.stop();
    std::optional<TServerSettings> settings;
    try {
        settings = settings_ini::read();
        if (settings && m_login) {
            m_login->Host_edit->setText(settings->Host);
            m_login->User_edit->setText(settings->User);
            m_login->Password_edit->setText(settings->Password);
            m_login->Port_edit->setText(settings->Port);
        }
    } catch (const TFileError &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
        return; // no automatic connect without the file
    }
    if (!m_login) return;
    const bool autol = m_arguments.value(1) == QLatin1String("-autol");
    QPointer<Ttolvar> self(this);
    // A keyring that has not answered yet leaves the password unknown: the dialog waits with
    // its note instead of connecting without one, and connects when the answer comes.
    auto connectNow = [self, autol](bool known) {
        if (!self || !self->m_login || !autol) return;
        self->m_login->show();
        if (known && !self->mysql->Connected()) self->m_login->login_connectClick();
    };
    // An empty password line: the keyring holds it (a file with one is used as written).
    if (settings && settings->Password.isEmpty()) {
        m_login->fillPasswordFromKeyring(connectNow);
        return;
    }
    connectNow(true);
}

void Ttolvar::Disconnect1Click()
{
    // Changes pending in the grid and an open transaction in the SQL editor are settled first,
    // or the connection stays.
    if (!m_edit->mayLeave()) return;
    if (m_editor && !m_editor->releaseConnection()) return;
    mysql->Close();
}

void Ttolvar::mysqlConnect(QObject *)
{
    setPanelText(1, QStringLiteral("Connected"));
    m_readsRunning = 0;
    updateStopButton();
    setPanelText(5, QString()); // a "Not connected" from before no longer holds
    // The host the connect used, not whatever the login fields hold by now.
    appendLog(QStringLiteral("Connected to: ") + mysql->Utility()->ConnectedHost());
    // Read on the worker with the connect: the window thread never waits on the network.
    appendLog(mysql->Utility()->StatAtConnect());
    appendLog(QStringLiteral("Encryption: ") + encryptionText());
    if (m_login) m_login->hide();
    mysql->Query()->SubmitStatement(TmySQLStatement("Show Databases;").OnlyReads(), "List Data");
    mysql->ExecuteTasks();
    Server_info->setText(mysql->Utility()->ServerInfo());
    Host_info->setText(mysql->Utility()->HostInfo());
    Tls_info->setText(encryptionText());
    if (m_activity) m_activity->mainConnected();
}

QString Ttolvar::encryptionText() const
{
    const QString cipher = mysql->Utility()->TlsCipher();
    if (cipher.isEmpty()) return QStringLiteral("Not encrypted");
    const QString version = mysql->Utility()->TlsVersion();
    return version.isEmpty() ? cipher : version + QStringLiteral(", ") + cipher;
}

void Ttolvar::tunnelLost(const QString &message)
{
    // As a lost connection: said where a failed connect is, and the connection closed.
    ui::beep();
    appendLog(message);
    appendConsole(message);
    m_lostNote = message;
    if (mysql->Connected() || mysql->Query())
        mysql->Close();
    else
        setPanelText(1, message);
}

void Ttolvar::mysqlClose(QObject *)
{
    setPanelText(1, QStringLiteral("Connection closed"));
    if (!m_lostNote.isEmpty()) setPanelText(1, m_lostNote);
    m_lostNote.clear();
    // The tunnel ends with the connection it carried; a reconnect makes a new one.
    if (m_login) m_login->closeTunnel();
    if (m_editor) m_editor->mainClosed();
    if (m_activity) m_activity->mainClosed();
    m_edit->mainClosed();
    m_edit->clearTarget(QStringLiteral("Not connected"));
    // Reads still running or waiting were cut off or dropped with the connection.
    m_readsRunning = 0;
    updateStopButton();
    // A table still loading was cut off with the connection: what arrived stays shown.
    if (PanelText(4).startsWith(QStringLiteral("Loading"))) {
        setPanelText(4, m_shownView == m_viewRequest
                            ? QStringLiteral("Stopped: ") + rowsText(Mgrid->RowCount() - 1)
                            : QString());
    }
}

void Ttolvar::mysqlConnectError(QObject *, const QString &Msg)
{
    ui::beep();
    setPanelText(1, Msg);
    ui::showErrorBox(this, QStringLiteral("Error"), QStringLiteral("ERROR:") + Msg);
    appendLog(Msg);
    appendConsole(Msg);
}

void Ttolvar::appendLog(const QString &line)
{
    try {
        m_log.writeLine(line);
    } catch (const TFileError &error) {
        if (m_logReported) return;
        m_logReported = true;
        reportLater(QString::fromStdString(error.what()));
    }
}

void Ttolvar::appendConsole(const QString &line)
{
    if (m_console) m_console->appendLine(line);
}

bool Ttolvar::requireConnection()
{
    if (mysql->Query()) return true;
    setPanelText(5, QStringLiteral("Not connected"));
    return false;
}
