#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QComboBox;
class QAbstractButton;
class QCheckBox;
class TSshTunnel;
class TmySQLClient;
enum class TmySQLTlsMode;

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
    // The connection's protection: the mode, and the CA the verifying modes check against.
    QComboBox *Tls_combo = nullptr;
    QLineEdit *Ca_file_edit = nullptr;
    QAbstractButton *Ca_file_browse = nullptr;
    // Shown when no keyring took the password, so it is kept in "settings.ini".
    QLabel *Keyring_note = nullptr;
    // Saved connections: choosing one fills the dialog; its password comes from the keyring.
    QComboBox *Saved_combo = nullptr;
    QAbstractButton *Saved_save_button = nullptr;
    QAbstractButton *Saved_delete_button = nullptr;
    void chooseSaved(const QString &name);
    void saveConnectionClick();
    void deleteSavedClick();
    // The SSH tunnel: on or off, the SSH host (an alias or [user@]host[:port]) and a key file.
    QCheckBox *Ssh_check = nullptr;
    QLineEdit *Ssh_host_edit = nullptr;
    QLineEdit *Ssh_key_edit = nullptr;
    QAbstractButton *Ssh_key_browse = nullptr;

    // The tunnel ends with the connection (Disconnect, a close, Cancel while it is made).
    void closeTunnel();
    bool tunnelStarting() const;
    TSshTunnel *tunnel() const;

    void login_cancelClick();
    // Hands the four values and the protection to the client, starts the connect and records
    // them: host, user and port (and the password when no keyring holds it) in "settings.ini",
    // the password in the system keyring, the protection in the program's preferences. A port
    // that is no number stops it before the connect, through the application's error box.
    void login_connectClick();
    // Asks the keyring for the password of the host, user and port the edits hold; fills the
    // password edit when it is found and still empty, then calls then(true). When the keyring
    // did not answer in time, then(false): the password is not known yet; should the answer
    // come later and fill the still-empty edit, then(true) follows.
    void fillPasswordFromKeyring(std::function<void(bool known)> then);

    TmySQLTlsMode TlsMode() const;
    void setTlsMode(TmySQLTlsMode mode);

Q_SIGNALS:
    // ssh ended while the connection went through it: the connection is lost.
    void tunnelEnded(const QString &message);

protected:
    void connectThroughTunnel();
    void tunnelReady();
    void tunnelFailed(const QString &message);
    void updateSsh();
    void saveSshChoices() const;
    void fillSaved(const QString &current);
    void Ca_file_browseClick();
    void showKeyringNote(bool shown);
    void updateCaFile();
    void saveTlsChoices() const;
    void loadTlsChoices();
    void saveSettings(int port);
    // The connect with the choices of the dialog; fingerprint: the certificate pinned.
    void startConnect(const QString &fingerprint);
    // Verify fingerprint: the certificate read first, trusted by the user once, then pinned.
    void connectByFingerprint();

    TmySQLClient *m_mysql;
    TSshTunnel *m_tunnel = nullptr;
    int m_savedGeneration = 0;
    // Each Connect's settings write waits for the keyring; only the latest one writes the file.
    int m_saveGeneration = 0;
};
