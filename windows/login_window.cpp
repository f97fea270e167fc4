#include "login_window.h"

#include "common.h"
#include "convert.h"
#include "files.h"
#include "keyring.h"
#include "mySQLClient.h"
#include "saved_connections.h"
#include "settings_ini.h"
#include "ssh_tunnel.h"
#include "tls_probe.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QUrl>
#include <algorithm>
#include <limits>

namespace {
// The modes as the drop-down lists them, with the names kept in the preferences.
struct TlsChoice
{
    TmySQLTlsMode mode;
    const char *caption;
    const char *stored;
};
constexpr TlsChoice TlsChoices[] = {
    {TmySQLTlsMode::Preferred, "Preferred", "preferred"},
    {TmySQLTlsMode::Required, "Required", "required"},
    {TmySQLTlsMode::VerifyCA, "Verify CA", "verify-ca"},
    {TmySQLTlsMode::VerifyIdentity, "Verify identity", "verify-identity"},
    {TmySQLTlsMode::VerifyFingerprint, "Verify fingerprint", "verify-fingerprint"},
    {TmySQLTlsMode::Off, "Off", "off"},
};
const QString TlsModeKey = QStringLiteral("connection/tls");
const QString CaFileKey = QStringLiteral("connection/ca-file");
const QString SshOnKey = QStringLiteral("connection/ssh");
const QString SshHostKey = QStringLiteral("connection/ssh-host");
const QString SshKeyFileKey = QStringLiteral("connection/ssh-key-file");
// The fingerprints the user trusted, one per host and port.
QString fingerprintKey(const QString &host, int port)
{
    return QStringLiteral("connection/fingerprints/") +
           QString::fromLatin1(
               QUrl::toPercentEncoding(host + QLatin1Char(':') + QString::number(port)));
}

// The drop-down's entry at index, in range whatever the index.
const TlsChoice &choiceAt(int index)
{
    return TlsChoices[std::clamp(index, 0, int(std::size(TlsChoices)) - 1)];
}

bool verifies(TmySQLTlsMode mode)
{
    return mode == TmySQLTlsMode::VerifyCA || mode == TmySQLTlsMode::VerifyIdentity;
}
} // namespace

Tlogin::Tlogin(TmySQLClient *mysql, QWidget *parent) : QWidget(parent, Qt::Tool), m_mysql(mysql)
{
    // The four rows and the buttons keep their places; the protection's rows come below them.
    ui::setUpToolWindow(this, QStringLiteral("login"), QStringLiteral("login"), QSize(379, 396),
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

    auto *bevel2 = new QFrame(this);
    bevel2->setObjectName(QStringLiteral("Bevel2"));
    bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    bevel2->setGeometry(8, 184, 361, 2);
    Tls_combo = new QComboBox(this);
    Tls_combo->setObjectName(QStringLiteral("Tls_combo"));
    for (const TlsChoice &choice : TlsChoices)
        Tls_combo->addItem(QString::fromLatin1(choice.caption));
    Tls_combo->setGeometry(72, 194, 140, 21);
    Ca_file_edit = edit("Ca_file_edit", "", 222);
    Ca_file_edit->setGeometry(72, 222, 269, 21);
    Ca_file_edit->setPlaceholderText(QStringLiteral("the system's trusted CAs"));
    Ca_file_browse =
        ui::flatButton(this, QStringLiteral("Ca_file_browse"), QString(), QStringLiteral("browse"),
                       QStringLiteral("Browse for a CA file"));
    Ca_file_browse->setGeometry(345, 222, 24, 21);
    auto leftLabel = [this](const char *name, const char *text, int top, QWidget *buddy) {
        auto *l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(QString::fromLatin1(name));
        l->setBuddy(buddy);
        l->adjustSize();
        l->move(std::max(8, 68 - l->width()), top);
        return l;
    };
    leftLabel("Label6", "&TLS:", 197, Tls_combo);
    leftLabel("Label7", "C&A file:", 225, Ca_file_edit);
    Keyring_note = new QLabel(this);
    Keyring_note->setObjectName(QStringLiteral("Keyring_note"));
    Keyring_note->setText(
        QStringLiteral("No keyring answered: the password is kept in settings.ini, readable by "
                       "you only."));
    Keyring_note->setWordWrap(true);
    // The tunnel: with it on, Host and Port are the server as the SSH host sees it.
    auto *bevel3 = new QFrame(this);
    bevel3->setObjectName(QStringLiteral("Bevel3"));
    bevel3->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    bevel3->setGeometry(8, 252, 361, 2);
    Saved_combo = new QComboBox(this);
    Saved_combo->setObjectName(QStringLiteral("Saved_combo"));
    Saved_combo->setGeometry(72, 260, 170, 21);
    Saved_save_button =
        ui::flatButton(this, QStringLiteral("Saved_save_button"), QStringLiteral("Sav&e as\u2026"));
    Saved_save_button->setToolTip(QStringLiteral("Save these settings under a name"));
    Saved_save_button->setGeometry(246, 260, 62, 21);
    Saved_delete_button =
        ui::flatButton(this, QStringLiteral("Saved_delete_button"), QStringLiteral("De&lete"));
    Saved_delete_button->setToolTip(QStringLiteral("Delete the saved connection chosen"));
    Saved_delete_button->setGeometry(312, 260, 57, 21);
    leftLabel("Label10", "Sa&ved:", 263, Saved_combo);
    connect(Saved_combo, &QComboBox::activated, this, [this](int index) {
        if (index > 0) chooseSaved(Saved_combo->itemText(index));
    });
    connect(Saved_save_button, &QAbstractButton::clicked, this, &Tlogin::saveConnectionClick);
    connect(Saved_delete_button, &QAbstractButton::clicked, this, &Tlogin::deleteSavedClick);
    Ssh_check = new QCheckBox(QStringLiteral("SSH tu&nnel"), this);
    Ssh_check->setObjectName(QStringLiteral("Ssh_check"));
    Ssh_check->setToolTip(QStringLiteral("Connect through the system's ssh; Host and Port are then "
                                         "the server as the SSH host sees it"));
    Ssh_check->setGeometry(8, 286, 200, 21);
    Ssh_host_edit = edit("Ssh_host_edit", "", 312);
    Ssh_host_edit->setGeometry(72, 312, 297, 21);
    Ssh_host_edit->setPlaceholderText(
        QStringLiteral("an alias of ~/.ssh/config, or user@host:port"));
    Ssh_key_edit = edit("Ssh_key_edit", "", 338);
    Ssh_key_edit->setGeometry(72, 338, 269, 21);
    Ssh_key_edit->setPlaceholderText(QStringLiteral("optional: ssh's own choice"));
    Ssh_key_browse =
        ui::flatButton(this, QStringLiteral("Ssh_key_browse"), QString(), QStringLiteral("browse"),
                       QStringLiteral("Browse for a key file"));
    Ssh_key_browse->setGeometry(345, 338, 24, 21);
    leftLabel("Label8", "&SSH host:", 315, Ssh_host_edit);
    leftLabel("Label9", "&Key file:", 341, Ssh_key_edit);
    m_tunnel = new TSshTunnel(this);
    connect(m_tunnel, &TSshTunnel::ready, this, &Tlogin::tunnelReady);
    connect(m_tunnel, &TSshTunnel::failed, this, &Tlogin::tunnelFailed);
    connect(m_tunnel, &TSshTunnel::ended, this, [this](const QString &message) {
        m_mysql->setTunnelSocket(QString());
        Q_EMIT tunnelEnded(message);
    });
    connect(m_tunnel, &TSshTunnel::notKept, this, [this](const QString &message) {
        ui::showErrorBox(this, QStringLiteral("SSH"), message);
    });
    connect(Ssh_check, &QAbstractButton::toggled, this, &Tlogin::updateSsh);
    connect(Ssh_key_browse, &QAbstractButton::clicked, this, [this] {
        ui::SaveDialogOptions options;
        options.caption = QStringLiteral("Key file");
        options.fileName = Ssh_key_edit->text();
        options.directory = Ssh_key_edit->text().isEmpty()
                                ? QDir::homePath() + QStringLiteral("/.ssh")
                                : QFileInfo(Ssh_key_edit->text()).absolutePath();
        options.filter = QStringLiteral("All files (*)");
        const QString chosen = ui::getOpenFileName(this, options);
        if (!chosen.isEmpty()) Ssh_key_edit->setText(chosen);
    });
    Keyring_note->setGeometry(8, 364, 361, 28); // room for two lines in a wider font
    Keyring_note->hide();
    setTabOrder(Password_edit, Tls_combo);
    setTabOrder(Tls_combo, Ca_file_edit);
    setTabOrder(Ca_file_edit, Ca_file_browse);
    setTabOrder(Ca_file_browse, Saved_combo);
    setTabOrder(Saved_combo, Saved_save_button);
    setTabOrder(Saved_save_button, Saved_delete_button);
    setTabOrder(Saved_delete_button, Ssh_check);
    setTabOrder(Ssh_check, Ssh_host_edit);
    setTabOrder(Ssh_host_edit, Ssh_key_edit);
    setTabOrder(Ssh_key_edit, Ssh_key_browse);
    setTabOrder(Ssh_key_browse, login_cancel);
    setTabOrder(login_cancel, login_connect);
    connect(Tls_combo, &QComboBox::currentIndexChanged, this, &Tlogin::updateCaFile);
    connect(Ca_file_browse, &QAbstractButton::clicked, this, &Tlogin::Ca_file_browseClick);
    loadTlsChoices();
    updateCaFile();
    updateSsh();
    fillSaved(QString());
    ui::announceAsDialog(this);
}

void Tlogin::fillSaved(const QString &current)
{
    Saved_combo->clear();
    Saved_combo->addItem(QString());
    for (const TSavedConnection &c : savedconnections::all())
        Saved_combo->addItem(c.Name);
    // Found by the whole text, whatever characters it holds.
    for (int i = 1; i < Saved_combo->count(); ++i)
        if (Saved_combo->itemText(i) == current) Saved_combo->setCurrentIndex(i);
    Saved_delete_button->setEnabled(Saved_combo->count() > 1);
}

void Tlogin::chooseSaved(const QString &name)
{
    const std::optional<TSavedConnection> c = savedconnections::find(name);
    if (!c) return;
    Host_edit->setText(c->Host);
    User_edit->setText(c->User);
    Port_edit->setText(c->Port);
    for (const TlsChoice &choice : TlsChoices)
        if (c->Tls == QLatin1String(choice.stored)) setTlsMode(choice.mode);
    Ca_file_edit->setText(c->CaFile);
    Ssh_check->setChecked(c->Ssh);
    Ssh_host_edit->setText(c->SshHost);
    Ssh_key_edit->setText(c->SshKeyFile);
    // Its password is the keyring's, under its own entry; none known until it answers.
    Password_edit->clear();
    const int generation = ++m_savedGeneration;
    keyring::readPassword(
        this, keyring::savedKeyFor(name), [this, generation](const keyring::Answer &answer) {
            if (generation != m_savedGeneration) return; // chosen again since
            if (answer.kind == keyring::Answer::Found && Password_edit->text().isEmpty())
                Password_edit->setText(answer.Password);
        });
}

void Tlogin::saveConnectionClick()
{
    const QString suggested = Saved_combo->currentIndex() > 0
                                  ? Saved_combo->currentText()
                                  : User_edit->text() + QLatin1Char('@') + Host_edit->text();
    const std::optional<QString> name =
        ui::askText(this, QStringLiteral("Save Connection"), QStringLiteral("Name:"), suggested);
    if (!name || name->isEmpty()) return;
    TSavedConnection c;
    c.Name = *name; // as typed
    c.Host = Host_edit->text();
    c.User = User_edit->text();
    c.Port = Port_edit->text();
    c.Tls = QString::fromLatin1(choiceAt(Tls_combo->currentIndex()).stored);
    c.CaFile = Ca_file_edit->text();
    c.Ssh = Ssh_check->isChecked();
    c.SshHost = Ssh_host_edit->text();
    c.SshKeyFile = Ssh_key_edit->text();
    savedconnections::save(c);
    fillSaved(c.Name);
    if (Password_edit->text().isEmpty()) return;
    keyring::storePassword(this, keyring::savedKeyFor(c.Name), Password_edit->text(),
                           [this](const keyring::Answer &answer) {
                               if (answer.kind != keyring::Answer::Stored)
                                   ui::showAppError(
                                       this, QStringLiteral("The connection was saved without its "
                                                            "password: no keyring took it (") +
                                                 answer.Reason + QLatin1Char(')'));
                           });
}

void Tlogin::deleteSavedClick()
{
    if (Saved_combo->currentIndex() <= 0) return;
    const QString name = Saved_combo->currentText();
    if (ui::askQuestion(this, QStringLiteral("Delete Saved Connection"),
                        QStringLiteral("Delete the saved connection \"%1\"?").arg(name),
                        {QStringLiteral("Delete"), QStringLiteral("Cancel")}) !=
        QLatin1String("Delete"))
        return;
    savedconnections::remove(name);
    keyring::removePassword(this, keyring::savedKeyFor(name), [](const keyring::Answer &) {});
    fillSaved(QString());
}

void Tlogin::updateSsh()
{
    const bool on = Ssh_check->isChecked();
    Ssh_host_edit->setEnabled(on);
    Ssh_key_edit->setEnabled(on);
    Ssh_key_browse->setEnabled(on);
}

void Tlogin::closeTunnel()
{
    m_tunnel->stop();
    m_mysql->setTunnelSocket(QString());
    login_connect->setEnabled(true);
}

bool Tlogin::tunnelStarting() const
{
    return m_tunnel->running() && !m_tunnel->isReady();
}

TSshTunnel *Tlogin::tunnel() const
{
    return m_tunnel;
}

void Tlogin::connectThroughTunnel()
{
    if (TlsMode() == TmySQLTlsMode::VerifyIdentity) {
        ui::showAppError(this, QStringLiteral("\"Verify identity\" cannot be used through an SSH "
                                              "tunnel: the name it would check is the tunnel's "
                                              "local socket. Choose \"Verify CA\" or \"Verify "
                                              "fingerprint\"."));
        return;
    }
    int port = 0;
    try {
        port = convert::StrToInt(Port_edit->text());
    } catch (const std::exception &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
        return;
    }
    saveSshChoices();
    closeTunnel();
    login_connect->setEnabled(false);
    sshtunnel::Settings settings;
    settings.SshHost = Ssh_host_edit->text();
    settings.KeyFile = Ssh_key_edit->text();
    settings.DbHost = Host_edit->text();
    settings.DbPort = port;
    m_tunnel->start(settings, this);
}

void Tlogin::tunnelReady()
{
    login_connect->setEnabled(true);
    m_mysql->setTunnelSocket(m_tunnel->socketPath());
    if (TlsMode() == TmySQLTlsMode::VerifyFingerprint)
        connectByFingerprint();
    else
        startConnect(QString());
}

void Tlogin::tunnelFailed(const QString &message)
{
    login_connect->setEnabled(true);
    m_mysql->setTunnelSocket(QString());
    // As any connect that failed.
    if (const auto report = m_mysql->OnConnectError) report(m_mysql, message);
}

void Tlogin::saveSshChoices() const
{
    QSettings preferences;
    preferences.setValue(SshOnKey, Ssh_check->isChecked());
    preferences.setValue(SshHostKey, Ssh_host_edit->text());
    preferences.setValue(SshKeyFileKey, Ssh_key_edit->text());
}

TmySQLTlsMode Tlogin::TlsMode() const
{
    return choiceAt(Tls_combo->currentIndex()).mode;
}

void Tlogin::setTlsMode(TmySQLTlsMode mode)
{
    for (int i = 0; i < int(std::size(TlsChoices)); ++i)
        if (TlsChoices[i].mode == mode) Tls_combo->setCurrentIndex(i);
}

void Tlogin::updateCaFile()
{
    const bool on = verifies(TlsMode());
    Ca_file_edit->setEnabled(on);
    Ca_file_browse->setEnabled(on);
}

void Tlogin::Ca_file_browseClick()
{
    ui::SaveDialogOptions options;
    options.caption = QStringLiteral("CA file");
    options.fileName = Ca_file_edit->text();
    options.directory = QFileInfo(Ca_file_edit->text()).absolutePath();
    options.filter = QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)");
    const QString chosen = ui::getOpenFileName(this, options);
    if (!chosen.isEmpty()) Ca_file_edit->setText(chosen);
}

void Tlogin::loadTlsChoices()
{
    QSettings preferences;
    const QString stored = preferences.value(TlsModeKey).toString();
    for (const TlsChoice &choice : TlsChoices)
        if (stored == QLatin1String(choice.stored)) setTlsMode(choice.mode);
    Ca_file_edit->setText(preferences.value(CaFileKey).toString());
    Ssh_check->setChecked(preferences.value(SshOnKey).toBool());
    Ssh_host_edit->setText(preferences.value(SshHostKey).toString());
    Ssh_key_edit->setText(preferences.value(SshKeyFileKey).toString());
}

void Tlogin::saveTlsChoices() const
{
    QSettings preferences;
    preferences.setValue(TlsModeKey,
                         QString::fromLatin1(choiceAt(Tls_combo->currentIndex()).stored));
    preferences.setValue(CaFileKey, Ca_file_edit->text());
}

void Tlogin::showKeyringNote(bool shown)
{
    Keyring_note->setVisible(shown);
}

void Tlogin::login_connectClick()
{
    if (Ssh_check->isChecked()) {
        connectThroughTunnel();
        return;
    }
    closeTunnel();
    if (TlsMode() == TmySQLTlsMode::VerifyFingerprint) {
        connectByFingerprint();
        return;
    }
    startConnect(QString());
}

void Tlogin::startConnect(const QString &fingerprint)
{
    try {
        m_mysql->setHostname(Host_edit->text());
        m_mysql->setUsername(User_edit->text());
        m_mysql->setPassword(Password_edit->text());
        const int port = convert::StrToInt(Port_edit->text());
        m_mysql->setPort(port);
        m_mysql->setTlsMode(TlsMode());
        m_mysql->setTlsCaFile(Ca_file_edit->text());
        m_mysql->setTlsPeerFingerprint(tlsprobe::pinnedForm(fingerprint));
        m_mysql->Connect();
        saveTlsChoices();
        saveSettings(port);
    } catch (const std::exception &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
    }
}

void Tlogin::connectByFingerprint()
{
    int port = 0;
    try {
        port = convert::StrToInt(Port_edit->text());
    } catch (const std::exception &error) {
        ui::showAppError(this, QString::fromStdString(error.what()));
        return;
    }
    const QString host = Host_edit->text();
    // The certificate is read first, before anything of the user's is sent; the connect then
    // pins it, so a server that shows another one in between is refused by the library.
    login_connect->setEnabled(false);
    tlsprobe::readFingerprint(
        this, host, port,
        [this, host, port](const tlsprobe::Fingerprints &certificate, const QString &error) {
            login_connect->setEnabled(true);
            const QString &shown = certificate.Sha256;
            if (shown.isEmpty()) {
                ui::showAppError(
                    this, QStringLiteral("The server's certificate could not be read: ") + error);
                return;
            }
            QSettings preferences;
            const QString key = fingerprintKey(host, port);
            const QString trusted = preferences.value(key).toString();
            if (!trusted.isEmpty() && trusted != shown) {
                ui::showAppError(
                    this, QStringLiteral("The server's certificate is not the one trusted, so the "
                                         "connection was refused.\nTrusted: SHA256 %1\nShown now: "
                                         "SHA256 %2")
                              .arg(trusted, shown));
                return;
            }
            if (trusted.isEmpty()) {
                const QString question =
                    QStringLiteral(
                        "%1, port %2, shows a certificate with the SHA-256 fingerprint\n\n"
                        "%3\n\nTrust this certificate? The connection is then made only "
                        "to a server that shows it.")
                        .arg(host, QString::number(port), shown);
                if (ui::askQuestion(this, QStringLiteral("Trust Certificate"), question,
                                    {QStringLiteral("Trust"), QStringLiteral("Cancel")}) !=
                    QLatin1String("Trust"))
                    return;
                preferences.setValue(key, shown);
            }
            startConnect(certificate.Sha1);
        },
        m_mysql->TunnelSocket());
}

void Tlogin::saveSettings(int port)
{
    const TServerSettings settings{Host_edit->text(), User_edit->text(), Password_edit->text(),
                                   Port_edit->text()};
    const int generation = ++m_saveGeneration;
    auto write = [this](TServerSettings written) {
        try {
            settings_ini::write(written);
        } catch (const std::exception &error) {
            ui::showAppError(this, QString::fromStdString(error.what()));
        }
    };
    // No password (none typed, or the keyring's not read in time) is never written over the
    // one the keyring keeps.
    if (settings.Password.isEmpty()) {
        write(settings);
        return;
    }
    // The file is written once the keyring has answered: with line 4 empty when it took the
    // password, with the password when it did not, so that the password is never lost and never
    // kept in both places. Without a keyring the answer comes at once. A write the keyring takes
    // after the time-out empties line 4 then.
    keyring::storePassword(
        this, keyring::keyFor(settings.User, settings.Host, port), settings.Password,
        [this, settings, generation, write](const keyring::Answer &answer) {
            if (generation != m_saveGeneration) return; // a later Connect writes its own
            TServerSettings written = settings;
            const bool kept = answer.kind == keyring::Answer::Stored;
            if (kept) written.Password.clear();
            showKeyringNote(!kept);
            write(written);
        },
        [this, settings, generation, write](const keyring::Answer &answer) {
            if (generation != m_saveGeneration || answer.kind != keyring::Answer::Stored) return;
            TServerSettings written = settings;
            written.Password.clear();
            showKeyringNote(false);
            write(written);
        });
}

void Tlogin::fillPasswordFromKeyring(std::function<void(bool)> then)
{
    int port = 0;
    try {
        port = convert::StrToInt(Port_edit->text());
    } catch (const std::exception &) {
        then(true); // no entry can be named; the connect reports the port as before
        return;
    }
    auto fill = [this](const keyring::Answer &answer) {
        if (answer.kind != keyring::Answer::Found || !Password_edit->text().isEmpty()) return false;
        Password_edit->setText(answer.Password);
        return true;
    };
    keyring::readPassword(
        this, keyring::keyFor(User_edit->text(), Host_edit->text(), port),
        [this, then, fill](const keyring::Answer &answer) {
            fill(answer);
            if (answer.kind == keyring::Answer::Unavailable) showKeyringNote(true);
            then(!answer.TimedOut);
        },
        [this, then, fill](const keyring::Answer &answer) {
            if (!fill(answer)) return;
            showKeyringNote(false);
            then(true);
        });
}

void Tlogin::login_cancelClick()
{
    // A tunnel still being made is given up; one in use stays with its connection.
    if (tunnelStarting()) closeTunnel();
    hide();
}
