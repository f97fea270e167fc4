// Connecting through an SSH tunnel made with the system's ssh, against the sandbox's own sshd,
// through the real login dialog: keys, a passphrase asked for, host keys unknown, trusted and
// changed, a tunnel that cannot be made, one that dies under the connection, and Stop through it.
// Judged by the server, by ssh's known_hosts and by the files left behind.
#include "Cologrid.h"
#include "keyring.h"
#include "login_window.h"
#include "program.h"
#include "sandbox.h"
#include "saved_connections.h"
#include "ssh_tunnel.h"
#include "tolvar_window.h"
#include "windows_driver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSettings>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

#define REQUIRE_SSH()                                                                              \
    do {                                                                                           \
        REQUIRE_SERVER();                                                                          \
        if (env("QUORVANE_SSH_CONFIG").isEmpty()) {                                                \
            if (qEnvironmentVariableIsSet("CI")) QFAIL("the sandbox's sshd is not running");       \
            QSKIP("no sshd: start the sandbox with --ssh");                                        \
        }                                                                                          \
    } while (0)

// The answers to ssh's passphrase and password prompts; each prompt asked is kept.
QStringList g_secrets;
std::optional<QString> g_secret;
bool g_remember = false;
bool g_rememberOffered = false;
std::optional<QString> answerSecret(QWidget *, const QString &, const QString &prompt,
                                    bool *remember)
{
    g_secrets << prompt;
    g_rememberOffered = remember != nullptr;
    if (remember) *remember = g_remember;
    return g_secret;
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text);
}

QByteArray readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The sandbox's client config without its key, so that only the key the dialog names is tried,
// and with a known_hosts file of the test's own.
QString configWithoutKey(const QString &folder)
{
    QByteArray config;
    for (const QByteArray &line : readText(env("QUORVANE_SSH_CONFIG")).split('\n')) {
        if (line.trimmed().startsWith("IdentityFile")) continue;
        if (line.trimmed().startsWith("UserKnownHostsFile"))
            config += "    UserKnownHostsFile " + (folder + "/known_hosts").toUtf8() + "\n";
        else
            config += line + "\n";
    }
    const QString path = folder + QStringLiteral("/config");
    writeText(path, config);
    return path;
}

QByteArray knownLine(const QByteArray &key)
{
    return "[127.0.0.1]:" + env("QUORVANE_SSH_PORT").toUtf8() + " " + key + "\n";
}

// A keyring in memory that answers at once.
class MemoryKeyring : public keyring::Backend
{
public:
    QMap<QString, QString> entries;
    void read(const QString &key, keyring::Callback done) override
    {
        if (entries.contains(key))
            done(keyring::Answer{keyring::Answer::Found, entries.value(key), QString()});
        else
            done(keyring::Answer{keyring::Answer::NotFound, QString(), QString()});
    }
    void write(const QString &key, const QString &password, keyring::Callback done) override
    {
        entries.insert(key, password);
        done(keyring::Answer{keyring::Answer::Stored, QString(), QString()});
    }
    void remove(const QString &key, keyring::Callback done) override
    {
        entries.remove(key);
        done(keyring::Answer{keyring::Answer::Stored, QString(), QString()});
    }
};

std::optional<QString> g_name;
std::optional<QString> answerName(QWidget *, const QString &, const QString &, const QString &)
{
    return g_name;
}

// The sshd processes serving a session: the children of the sandbox's listener.
QList<int> sessionProcesses()
{
    const int master = readText(env("QUORVANE_SSH_PIDFILE")).trimmed().toInt();
    QList<int> children;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dir = it.next();
        bool number = false;
        const int pid = QFileInfo(dir).fileName().toInt(&number);
        if (!number) continue;
        const QList<QByteArray> stat = readText(dir + QStringLiteral("/stat")).split(' ');
        // pid (comm) state ppid: comm has no blanks for sshd
        if (stat.size() > 3 && stat[3].toInt() == master) children << pid;
    }
    return children;
}
} // namespace

class TestSsh : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;
    QString m_config;

    // The program started with the tunnel chosen in its preferences and the key given.
    std::unique_ptr<Connected> start(const QString &keyFile)
    {
        QSettings preferences;
        preferences.setValue(QStringLiteral("connection/ssh"), true);
        preferences.setValue(QStringLiteral("connection/ssh-host"), env("QUORVANE_SSH_HOST"));
        preferences.setValue(QStringLiteral("connection/ssh-key-file"), keyFile);
        preferences.setValue(QStringLiteral("connection/tls"), QStringLiteral("off"));
        return std::make_unique<Connected>();
    }
    static bool failedWith(Connected &, const QString &text)
    {
        return QTest::qWaitFor(
            [&] {
                return std::any_of(g_boxes.begin(), g_boxes.end(),
                                   [&](const QString &b) { return b.contains(text); });
            },
            (TSshTunnel::ReadySeconds + 5) * 1000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        ui::setSecretAsker(answerSecret);
        if (env("QUORVANE_SSH_CONFIG").isEmpty()) return;
        m_config = configWithoutKey(QDir::currentPath());
        TSshTunnel::setConfigFile(m_config);
    }
    void cleanupTestCase()
    {
        TSshTunnel::setConfigFile(QString());
        // No passphrase anywhere the program writes: its folder, its preferences.
        const QByteArray passphrase = env("QUORVANE_SSH_PASSPHRASE").toUtf8();
        if (!passphrase.isEmpty()) {
            QDirIterator it(QDir::currentPath(), QDir::Files | QDir::Hidden,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                QVERIFY2(!readText(path).contains(passphrase), qPrintable(path));
            }
            QVERIFY(!readText(QSettings().fileName()).contains(passphrase));
        }
        m_folder.reset();
    }
    void init()
    {
        forgetAnswers();
        g_secrets.clear();
        g_secret.reset();
        g_remember = false;
    }

    // Keys, passphrases and host keys: what ssh asks, what the user answers, what comes of it.
    void connectThroughTunnel_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("known");   // known_hosts: "right", "none" or "changed"
        QTest::addColumn<QString>("secret");  // the answer to a passphrase prompt; "-" cancels
        QTest::addColumn<QString>("hostKey"); // the answer to an unknown host key
        QTest::addColumn<QString>("outcome"); // "connected", or a text of the failure shown
        const QString plain = env("QUORVANE_SSH_KEY"),
                      protectedKey = env("QUORVANE_SSH_PROTECTED_KEY");
        const QString passphrase = env("QUORVANE_SSH_PASSPHRASE");
        QTest::newRow("key") << plain << "right"
                             << ""
                             << ""
                             << "connected";
        QTest::newRow("passphrase") << protectedKey << "right" << passphrase << ""
                                    << "connected";
        QTest::newRow("passphrase cancelled") << protectedKey << "right"
                                              << "-"
                                              << ""
                                              << "Permission denied";
        QTest::newRow("unknown host accepted") << plain << "none"
                                               << ""
                                               << "Connect"
                                               << "connected";
        QTest::newRow("unknown host refused") << plain << "none"
                                              << ""
                                              << "Cancel"
                                              << "Host key verification failed";
        QTest::newRow("changed host key") << plain << "changed"
                                          << ""
                                          << ""
                                          << "REMOTE HOST IDENTIFICATION HAS CHANGED";
    }
    void connectThroughTunnel()
    {
        REQUIRE_SSH();
        QFETCH(QString, key);
        QFETCH(QString, known);
        QFETCH(QString, secret);
        QFETCH(QString, hostKey);
        QFETCH(QString, outcome);
        const QString knownHosts = QDir::currentPath() + QStringLiteral("/known_hosts");
        const QByteArray right = knownLine(env("QUORVANE_SSH_HOST_KEY").toUtf8());
        writeText(knownHosts, known == QLatin1String("right") ? right
                              : known == QLatin1String("changed")
                                  ? knownLine("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5"
                                              "AAAAIE0jLhD0cV7f0Q8Hn0a7bzAj"
                                              "0Vb6kbBLS1ZR3jXn0o5Q")
                                  : QByteArray());
        if (secret != QLatin1String("-")) g_secret = secret;
        g_answer = hostKey;
        auto c = start(key);
        if (outcome == QLatin1String("connected")) {
            QVERIFY2(c->waitConnected(), qPrintable(g_boxes.join('\n')));
            TSshTunnel *tunnel = c->program->login->tunnel();
            QVERIFY(tunnel->isReady());
            struct stat folder
            {
            };
            QCOMPARE(::stat(QFile::encodeName(tunnel->folder()).constData(), &folder), 0);
            QCOMPARE(folder.st_mode & 0777, 0700u);
            QCOMPARE(c->w->mysql->TunnelSocket(), tunnel->socketPath());
            QVERIFY(c->w->Host_info->text().contains(QStringLiteral("SSH tunnel")));
        } else {
            QVERIFY2(failedWith(*c, outcome), qPrintable(g_boxes.join('\n')));
            QVERIFY(!c->w->mysql->Connected());
            QVERIFY(c->w->PanelText(1).contains(outcome));
            QVERIFY(!c->program->login->tunnel()->running());
        }
        QCOMPARE(g_secrets.size(), key == env("QUORVANE_SSH_PROTECTED_KEY") ? 1 : 0);
        if (!g_secrets.isEmpty()) QVERIFY(g_secrets.first().contains(QStringLiteral("passphrase")));
        QCOMPARE(g_questions.size(), known == QLatin1String("none") ? 1 : 0);
        if (known == QLatin1String("none")) {
            QVERIFY(g_questions.first().contains(QStringLiteral("SHA256:")));
            // Accepted once, the key is ssh's to remember: no question the next time.
            QCOMPARE(readText(knownHosts).contains(env("QUORVANE_SSH_HOST_KEY").toUtf8().mid(12)),
                     hostKey == QLatin1String("Connect"));
        }
        const QString folder = c->program->login->tunnel()->folder();
        c.reset();
        QVERIFY(folder.isEmpty() || !QFileInfo::exists(folder)); // removed with the program
    }

    // "Remember": a passphrase is kept in the keyring only when ticked and only once it let the
    // tunnel through; then no prompt the next time. An entry ssh refuses is asked for anew and
    // taken out unless remembered again.
    void rememberPassphrase_data()
    {
        QTest::addColumn<QString>("stored"); // the keyring's entry before: none or a wrong one
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("keptAfter");
        QTest::newRow("not ticked") << "" << false << false;
        QTest::newRow("ticked") << "" << true << true;
        QTest::newRow("wrong entry, ticked") << "wrong" << true << true;
        QTest::newRow("wrong entry, not ticked") << "wrong" << false << false;
    }
    void rememberPassphrase()
    {
        REQUIRE_SSH();
        QFETCH(QString, stored);
        QFETCH(bool, remember);
        QFETCH(bool, keptAfter);
        MemoryKeyring memory;
        keyring::Backend *before = keyring::setBackend(&memory);
        std::unique_ptr<Connected> c;
        const auto restore = qScopeGuard([&] {
            c.reset();
            keyring::setBackend(before);
        });
        const QString keyFile = env("QUORVANE_SSH_PROTECTED_KEY");
        const QString entry =
            keyring::sshKeyFor(env("QUORVANE_SSH_HOST"),
                               QStringLiteral("Enter passphrase for key '%1':").arg(keyFile));
        if (!stored.isEmpty()) memory.entries.insert(entry, stored);
        writeText(QDir::currentPath() + QStringLiteral("/known_hosts"),
                  knownLine(env("QUORVANE_SSH_HOST_KEY").toUtf8()));
        g_secret = env("QUORVANE_SSH_PASSPHRASE");
        g_remember = remember;
        c = start(keyFile);
        QVERIFY2(c->waitConnected(), qPrintable(g_boxes.join('\n')));
        QCOMPARE(g_secrets.size(), 1);
        QVERIFY(g_rememberOffered);
        QTRY_COMPARE(memory.entries.contains(entry), keptAfter);
        if (keptAfter) QCOMPARE(memory.entries.value(entry), *g_secret);
        const auto sshEntries = [&] {
            const QStringList keys = memory.entries.keys();
            return std::count_if(keys.begin(), keys.end(), [](const QString &k) {
                return k.startsWith(QLatin1String("ssh://"));
            });
        };
        QCOMPARE(sshEntries(), keptAfter ? 1 : 0); // no other secret of ssh's kept

        // Again: a kept passphrase answers by itself.
        c->w->Disconnect1Click();
        QTRY_VERIFY(!c->w->mysql->Connected());
        g_secrets.clear();
        g_remember = false;
        c->program->login->login_connectClick();
        QVERIFY2(c->waitConnected(), qPrintable(g_boxes.join('\n')));
        QCOMPARE(g_secrets.size(), keptAfter ? 0 : 1);
        QCOMPARE(memory.entries.contains(entry), keptAfter);
    }

    // Nothing listening where the SSH host points: a bounded failure with ssh's own words.
    void tunnelThatCannotBeMade()
    {
        REQUIRE_SSH();
        QSettings preferences;
        auto c = start(env("QUORVANE_SSH_KEY"));
        c->program->login->closeTunnel();
        forgetAnswers();
        c->program->login->Ssh_host_edit->setText(QStringLiteral("127.0.0.1:1"));
        c->program->login->login_connectClick();
        QVERIFY2(failedWith(*c, QStringLiteral("Connection refused")),
                 qPrintable(g_boxes.join('\n')));
        QVERIFY(g_beeps > 0);
        // A value ssh would take for an option is refused before anything runs.
        forgetAnswers();
        c->program->login->Ssh_host_edit->setText(QStringLiteral("-oProxyCommand=touch x"));
        c->program->login->login_connectClick();
        QVERIFY(failedWith(*c, QStringLiteral("not a host name")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("x")));
        // An sshd that stopped answering (SIGSTOP): the connection is taken by the kernel and
        // nothing more comes; bounded by ssh's own time-out or ours, with what ssh said.
        const int master = readText(env("QUORVANE_SSH_PIDFILE")).trimmed().toInt();
        QVERIFY(master > 0);
        QVERIFY(::kill(master, SIGSTOP) == 0);
        const auto resume = qScopeGuard([master] { ::kill(master, SIGCONT); });
        forgetAnswers();
        c->program->login->Ssh_host_edit->setText(env("QUORVANE_SSH_HOST"));
        QElapsedTimer took;
        took.start();
        c->program->login->login_connectClick();
        QVERIFY2(failedWith(*c, QStringLiteral("The SSH tunnel")), qPrintable(g_boxes.join('\n')));
        QVERIFY2(g_boxes.join('\n').contains(QStringLiteral("timed out")) ||
                     g_boxes.join('\n').contains(QStringLiteral("not ready within")),
                 qPrintable(g_boxes.join('\n')));
        QVERIFY(took.elapsed() < (TSshTunnel::ReadySeconds + 5) * 1000);
        QVERIFY(!c->program->login->tunnel()->running());
    }

    // The sshd serving the tunnel killed under the connection: reported as a lost connection;
    // a reconnect makes a new tunnel. Stop through the tunnel ends a running statement.
    void tunnelLostAndStop()
    {
        REQUIRE_SSH();
        writeText(QDir::currentPath() + QStringLiteral("/known_hosts"),
                  knownLine(env("QUORVANE_SSH_HOST_KEY").toUtf8()));
        auto c = start(env("QUORVANE_SSH_KEY"));
        QVERIFY(c->waitConnected());
        const QString firstSocket = c->w->mysql->TunnelSocket();

        // Stop's KILL QUERY goes through the same tunnel.
        bool ended = false;
        c->w->mysql->Query()->SubmitStream(
            TmySQLStatement("SELECT SLEEP(30) AS ssh_stop_marker"), "sleep",
            [](QObject *, TmySQLRowBatch &) {}, [&](QObject *) { ended = true; },
            [&](QObject *, const QString &) { ended = true; });
        c->w->mysql->ExecuteTasks();
        Session s;
        const auto sleeping = [&] {
            return s.Column(std::string("SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                        "WHERE INFO LIKE '%ssh_stop_marker%' AND ID <> "
                                        "CONNECTION_ID()"));
        };
        QTRY_COMPARE(sleeping(), QStringList({"1"}));
        QVERIFY(c->w->mysql->StopReading());
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        QCOMPARE(sleeping(), QStringList({"0"}));

        const QList<int> sessions = sessionProcesses();
        QVERIFY(!sessions.isEmpty());
        for (const int pid : sessions)
            ::kill(pid, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(c->w->PanelText(1).contains(QStringLiteral("SSH tunnel ended")),
                                 10000);
        QTRY_VERIFY(!c->w->mysql->Connected());
        QVERIFY(!c->program->login->tunnel()->running());
        QVERIFY(!QFileInfo::exists(firstSocket));
        c->program->login->login_connectClick();
        QVERIFY(c->waitConnected());
        QVERIFY(c->w->mysql->TunnelSocket() != firstSocket);
        QVERIFY(c->program->login->tunnel()->isReady());
    }

    // TLS through the tunnel to the server that requires it: as in the direct case, but for
    // "Verify identity", whose name would be the local socket's.
    void tlsThroughTunnel_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("preferred") << "preferred"
                                   << "connected";
        QTest::newRow("verify CA") << "verify-ca"
                                   << "connected";
        QTest::newRow("verify fingerprint") << "verify-fingerprint"
                                            << "connected";
        QTest::newRow("verify identity") << "verify-identity"
                                         << "cannot be used through an SSH";
    }
    void tlsThroughTunnel()
    {
        REQUIRE_SSH();
        if (env("QUORVANE_TLS_PORT").isEmpty()) QSKIP("no TLS sandbox");
        QFETCH(QString, mode);
        QFETCH(QString, outcome);
        writeText(QDir::currentPath() + QStringLiteral("/known_hosts"),
                  knownLine(env("QUORVANE_SSH_HOST_KEY").toUtf8()));
        QSettings preferences;
        preferences.setValue(QStringLiteral("connection/ca-file"), env("QUORVANE_TLS_CA"));
        auto c = start(env("QUORVANE_SSH_KEY"));
        preferences.setValue(QStringLiteral("connection/tls"), mode);
        QVERIFY(c->waitConnected()); // the plain server first, through the tunnel
        c->w->Disconnect1Click();
        QTRY_VERIFY(!c->w->mysql->Connected());
        forgetAnswers();
        Tlogin *login = c->program->login.get();
        const int index = login->Tls_combo->findText(
            mode == QLatin1String("preferred")            ? QStringLiteral("Preferred")
            : mode == QLatin1String("verify-ca")          ? QStringLiteral("Verify CA")
            : mode == QLatin1String("verify-fingerprint") ? QStringLiteral("Verify fingerprint")
                                                          : QStringLiteral("Verify identity"));
        g_answer = QStringLiteral("Trust"); // the certificate, read through the tunnel
        login->Tls_combo->setCurrentIndex(index);
        login->Ca_file_edit->setText(env("QUORVANE_TLS_CA"));
        login->Host_edit->setText(QStringLiteral("localhost"));
        login->Port_edit->setText(env("QUORVANE_TLS_PORT"));
        login->User_edit->setText(env("QUORVANE_TLS_USER"));
        login->Password_edit->setText(env("QUORVANE_TLS_PASSWORD"));
        login->login_connectClick();
        if (outcome == QLatin1String("connected")) {
            QVERIFY2(c->waitConnected(), qPrintable(g_boxes.join('\n')));
            QVERIFY(!c->w->Tls_info->text().contains(QStringLiteral("Not encrypted")));
            QVERIFY(c->w->mysql->TunnelSocket().startsWith(login->tunnel()->folder()));
        } else {
            QVERIFY(failedWith(*c, outcome));
            QVERIFY(!login->tunnel()->running());
            QVERIFY(!c->w->mysql->Connected());
        }
    }

    // Saved connections: names with quotes, blanks and non-ASCII kept as typed, the settings
    // back in the dialog of a new program, each password in the keyring under its own entry
    // and nowhere else, and deleted with its entry.
    void savedConnections()
    {
        MemoryKeyring memory;
        keyring::Backend *before = keyring::setBackend(&memory);
        ui::setTextAsker(answerName);
        const QStringList names{QStringLiteral("prod \"eu\" 'a'"),
                                QStringLiteral("Kraków / zażółć ✓"), QStringLiteral("  ")};
        {
            Tlogin login(nullptr);
            for (int i = 0; i < names.size(); ++i) {
                login.Host_edit->setText(QStringLiteral("db%1.example").arg(i));
                login.User_edit->setText(QStringLiteral("u%1").arg(i));
                login.Port_edit->setText(QString::number(3306 + i));
                login.Password_edit->setText(QStringLiteral("secret-%1").arg(i));
                login.Ssh_check->setChecked(i == 1);
                login.Ssh_host_edit->setText(QStringLiteral("jump%1").arg(i));
                login.setTlsMode(i == 1 ? TmySQLTlsMode::VerifyCA : TmySQLTlsMode::Off);
                g_name = names[i];
                login.saveConnectionClick();
            }
        }
        QCOMPARE(savedconnections::all().size(), 3);
        QCOMPARE(memory.entries.size(), 3);
        QCOMPARE(memory.entries.value(keyring::savedKeyFor(names[1])), QStringLiteral("secret-1"));
        QSettings().sync();
        QVERIFY(!readText(QSettings().fileName()).contains("secret-"));

        Tlogin login(nullptr);
        QCOMPARE(login.Saved_combo->count(), 4); // an empty first entry, then the three
        QCOMPARE(login.Saved_combo->itemText(2), names[1]);
        login.Saved_combo->setCurrentIndex(2);
        Q_EMIT login.Saved_combo->activated(2);
        QCOMPARE(login.Host_edit->text(), QStringLiteral("db1.example"));
        QCOMPARE(login.User_edit->text(), QStringLiteral("u1"));
        QCOMPARE(login.Port_edit->text(), QStringLiteral("3307"));
        QCOMPARE(login.Password_edit->text(), QStringLiteral("secret-1"));
        QVERIFY(login.Ssh_check->isChecked());
        QCOMPARE(login.Ssh_host_edit->text(), QStringLiteral("jump1"));
        QCOMPARE(login.TlsMode(), TmySQLTlsMode::VerifyCA);
        // Saved again under its name: replaced in place, not added.
        login.Port_edit->setText(QStringLiteral("4000"));
        g_name = names[1];
        login.saveConnectionClick();
        QCOMPARE(savedconnections::all().size(), 3);
        QCOMPARE(savedconnections::find(names[1])->Port, QStringLiteral("4000"));

        g_answer = QStringLiteral("Delete");
        login.Saved_combo->setCurrentIndex(1);
        login.deleteSavedClick();
        QVERIFY(!savedconnections::find(names[0]));
        QVERIFY(!memory.entries.contains(keyring::savedKeyFor(names[0])));
        QCOMPARE(login.Saved_combo->count(), 3);
        savedconnections::remove(names[1]);
        savedconnections::remove(names[2]);
        ui::setTextAsker(nullptr);
        keyring::setBackend(before);
    }

    // What ssh is given: the host's forms, and values that would be options or no host.
    void arguments_data()
    {
        QTest::addColumn<QString>("ssh");
        QTest::addColumn<QString>("db");
        QTest::addColumn<QString>("expected"); // the arguments after the fixed options, or why
        QTest::newRow("alias") << "bastion"
                               << "db.internal"
                               << "-L /s:db.internal:3306 -- bastion";
        QTest::newRow("user, host, port") << "ann@jump.example:2222"
                                          << "10.0.0.5"
                                          << "-p 2222 -L /s:10.0.0.5:3306 -- ann@jump.example";
        QTest::newRow("IPv6 both") << "[::1]:22"
                                   << "fe80::1"
                                   << "-p 22 -L /s:[fe80::1]:3306 -- ::1";
        QTest::newRow("empty db host") << "h"
                                       << ""
                                       << "-L /s:localhost:3306 -- h";
        QTest::newRow("an option") << "-oProxyCommand=x"
                                   << "db"
                                   << "not a host name";
        QTest::newRow("a user that is an option") << "-x@h"
                                                  << "db"
                                                  << "not a host name";
        QTest::newRow("a blank") << "a b"
                                 << "db"
                                 << "not a host name";
        QTest::newRow("db host with a blank") << "h"
                                              << "d b"
                                              << "not a host name";
        QTest::newRow("db host with a slash") << "h"
                                              << "/tmp/x"
                                              << "not a host name";
        QTest::newRow("port too big") << "h:70000"
                                      << "db"
                                      << "not a port";
        QTest::newRow("no host") << " "
                                 << "db"
                                 << "No SSH host";
    }
    void arguments()
    {
        QFETCH(QString, ssh);
        QFETCH(QString, db);
        QFETCH(QString, expected);
        sshtunnel::Settings settings;
        settings.SshHost = ssh;
        settings.DbHost = db;
        QString why;
        const auto args = sshtunnel::arguments(settings, QStringLiteral("/s"), QString(), &why);
        if (!args) {
            QVERIFY2(why.contains(expected), qPrintable(why));
            return;
        }
        const QStringList all = *args;
        QVERIFY(all.contains(QStringLiteral("ExitOnForwardFailure=yes")));
        const qsizetype from = all.contains(QStringLiteral("-p"))
                                   ? all.indexOf(QStringLiteral("-p"))
                                   : all.indexOf(QStringLiteral("-L"));
        QCOMPARE(all.mid(from).join(QLatin1Char(' ')), expected);
    }
};

int main(int argc, char *argv[])
{
    // ssh runs this program for its prompts, as it runs the real one.
    // Ended at once: nothing of the program's own start or end runs in this short helper.
    if (const int answered = sshtunnel::runAskpassIfAsked(argc, argv); answered >= 0)
        ::_exit(answered);
    QApplication app(argc, argv);
    TestSsh test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ssh.moc"
