// Connections that are safe on a real network: TLS against a sandbox that requires secure
// transport and against the plain one, through the component and through the login dialog; the
// password in the system keyring (on a private session bus, see with_session_bus.sh), an answer
// that never comes, and no password left in any file the program wrote.
#include "windows_driver.h"

#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {
// The sandbox started with --tls: a server that requires secure transport, with the CA that
// signed its certificate (made for "localhost" only) and a CA that signed nothing.
struct TlsServer
{
    QString host = qEnvironmentVariable("QUORVANE_TLS_HOST");
    QString user = qEnvironmentVariable("QUORVANE_TLS_USER");
    QString password = qEnvironmentVariable("QUORVANE_TLS_PASSWORD");
    int port = qEnvironmentVariableIntValue("QUORVANE_TLS_PORT");
    QString ca = qEnvironmentVariable("QUORVANE_TLS_CA");
    QString otherCa = qEnvironmentVariable("QUORVANE_TLS_OTHER_CA");
    QString socket = qEnvironmentVariable("QUORVANE_TLS_SOCKET");
    bool ok() const { return !host.isEmpty() && port > 0 && !ca.isEmpty(); }
};

#define REQUIRE_TLS_SERVER()                                                                       \
    do {                                                                                           \
        if (!TlsServer().ok()) {                                                                   \
            if (qEnvironmentVariableIsSet("CI")) QFAIL("the TLS sandbox is not running");          \
            QSKIP("no TLS sandbox: run the tests through scripts/test.sh");                        \
        }                                                                                          \
    } while (0)

// The keyring cases run only on the private bus the wrapper gives them.
#define REQUIRE_KEYRING(mode)                                                                      \
    do {                                                                                           \
        if (qEnvironmentVariable("QUORVANE_KEYRING") != QLatin1String(mode))                       \
            QSKIP("runs under with_session_bus.sh " mode);                                         \
    } while (0)

// One connect of a component, as the window makes it, with the outcome.
struct Attempt
{
    Attempt(bool tlsServer, TmySQLTlsMode mode, const QString &ca, bool threaded = false,
            const QString &host = QString())
    {
        const TlsServer t;
        const Server s;
        client.setHostname(!host.isEmpty() ? host : tlsServer ? t.host : s.host);
        client.setUsername(tlsServer ? t.user : s.user);
        client.setPassword(tlsServer ? t.password : s.password);
        client.setPort(tlsServer ? t.port : s.port);
        client.setTlsMode(mode);
        client.setTlsCaFile(ca);
        client.setThreaded(threaded);
        client.OnConnect = [this](QObject *) { connected = true; };
        client.OnConnectError = [this](QObject *, const QString &msg) { error = msg; };
        client.OnQueryError = [this](QObject *, const QString &msg) { notices << msg; };
        client.Connect();
        (void)QTest::qWaitFor([this] { return connected || !error.isEmpty(); }, 10000);
    }
    TmySQLClient client;
    bool connected = false;
    QString error;
    QStringList notices;
};

// A keyring answered by the test, in the order it chooses.
class ManualKeyring : public keyring::Backend
{
public:
    void read(const QString &, keyring::Callback done) override { pending << done; }
    void write(const QString &, const QString &, keyring::Callback done) override
    {
        pending << done;
    }
    QList<keyring::Callback> pending;
};

// A keyring whose answers never come (a locked keyring waiting on a prompt nobody sees).
class SilentKeyring : public keyring::Backend
{
public:
    void read(const QString &, keyring::Callback) override { ++asked; }
    void write(const QString &, const QString &, keyring::Callback) override { ++asked; }
    int asked = 0;
};

// What the system's keyring holds for an entry, asked the way the program asks.
keyring::Answer keyringEntry(const QString &key)
{
    keyring::Answer result;
    bool answered = false;
    QObject context;
    keyring::readPassword(&context, key, [&](const keyring::Answer &a) {
        result = a;
        answered = true;
    });
    (void)QTest::qWaitFor([&] { return answered; }, 10000);
    return result;
}

bool storeInKeyring(const QString &key, const QString &password)
{
    bool stored = false;
    bool answered = false;
    QObject context;
    keyring::storePassword(&context, key, password, [&](const keyring::Answer &a) {
        stored = a.kind == keyring::Answer::Stored;
        answered = true;
    });
    (void)QTest::qWaitFor([&] { return answered; }, 10000);
    return stored;
}

// The TLS sandbox's certificate's fingerprint as openssl gives it ("AB:CD:…").
QString serverFingerprint(const char *digest)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
                   QString::fromLatin1(digest), QStringLiteral("-in"),
                   QFileInfo(TlsServer().ca).dir().filePath(QStringLiteral("server-cert.pem"))});
    openssl.waitForFinished();
    return QString::fromLatin1(openssl.readAllStandardOutput()).trimmed().section('=', 1);
}

QString sandboxKey()
{
    const Server s;
    return keyring::keyFor(s.user, s.host, s.port);
}

// The program started in the suite's folder, its login fields set to the sandbox, nothing
// connected yet.
struct Program
{
    Program()
    {
        program = std::make_unique<TProgram>();
        w = program->tolvar.get();
        login = program->login.get();
    }
    void fillLogin(bool tlsServer)
    {
        const TlsServer t;
        const Server s;
        login->Host_edit->setText(tlsServer ? t.host : s.host);
        login->User_edit->setText(tlsServer ? t.user : s.user);
        login->Password_edit->setText(tlsServer ? t.password : s.password);
        login->Port_edit->setText(QString::number(tlsServer ? t.port : s.port));
    }
    // Connect... pressed; true once connected, false once refused (the box shown).
    bool connect()
    {
        const int boxes = g_boxes.size();
        login->login_connect->click();
        (void)QTest::qWaitFor(
            [&] { return w->PanelText(1) == QLatin1String("Connected") || g_boxes.size() > boxes; },
            10000);
        return w->PanelText(1) == QLatin1String("Connected");
    }
    std::unique_ptr<TProgram> program;
    Ttolvar *w = nullptr;
    Tlogin *login = nullptr;
};
} // namespace

class TestSecure : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;
    QTemporaryDir m_caFolder;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
        if (TlsServer().ok()) {
            // "localhost" is the library's local socket: the TLS sandbox's, read once when the
            // library starts, before any connect here.
            qputenv("MYSQL_UNIX_PORT", TlsServer().socket.toLocal8Bit());
            QVERIFY(QFile::copy(TlsServer().ca, m_caFolder.filePath(QStringLiteral("ca.pem"))));
            QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                                       {QStringLiteral("rehash"), m_caFolder.path()}),
                     0);
        }
        // The preferences of these runs never reach the user's own.
        QVERIFY2(QSettings().fileName().contains(QStringLiteral(".qttest")),
                 qPrintable(QSettings().fileName()));
    }
    void cleanupTestCase()
    {
        QCOMPARE(m_folder->passwordTraces(), QStringList());
        m_folder.reset();
    }
    void init()
    {
        forgetAnswers();
        keyring::setBackend(&g_noKeyring);
        keyring::setTimeout(4000);
        QSettings().clear(); // each case starts from the default mode
    }

    // Each mode against a server that requires TLS and against one that has none: encrypted
    // where it must be, refused with the library's or the server's word where it cannot be, and
    // never in clear in the stricter modes.
    void modes_data()
    {
        QTest::addColumn<bool>("tlsServer");
        QTest::addColumn<TmySQLTlsMode>("mode");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("expected"); // "encrypted", "clear", or a part of the error
        QTest::addColumn<QString>("host");     // empty: the sandbox's address
        const QString right = TlsServer().ca;
        const QString other = TlsServer().otherCa;
        using M = TmySQLTlsMode;
        QTest::newRow("TLS server, Preferred") << true << M::Preferred << ""
                                               << "encrypted" << QString();
        QTest::newRow("TLS server, Required") << true << M::Required << ""
                                              << "encrypted" << QString();
        QTest::newRow("TLS server, Off") << true << M::Off << ""
                                         << "Access denied" << QString();
        QTest::newRow("TLS server, Verify CA")
            << true << M::VerifyCA << right << "encrypted" << QString();
        // A folder of hashed CAs holding only the right one.
        QTest::newRow("TLS server, Verify CA, folder")
            << true << M::VerifyCA << m_caFolder.path() << "encrypted" << QString();
        QTest::newRow("TLS server, Verify CA, another CA")
            << true << M::VerifyCA << other << "TLS/SSL error" << QString();
        QTest::newRow("TLS server, Verify CA, system CAs") << true << M::VerifyCA << ""
                                                           << "TLS/SSL error" << QString();
        QTest::newRow("TLS server, Verify CA, no such file")
            << true << M::VerifyCA << "/nonexistent/ca.pem"
            << "TLS/SSL error" << QString();
        // The certificate names localhost, not the address connected to.
        QTest::newRow("TLS server, Verify identity, 127.0.0.1")
            << true << M::VerifyIdentity << right << "TLS/SSL error" << QString();
        // The name it was made for (over the local socket, encrypted as well).
        QTest::newRow("TLS server, Verify identity, localhost")
            << true << M::VerifyIdentity << right << "encrypted"
            << "localhost";
        QTest::newRow("TLS server, Verify identity, localhost, another CA")
            << true << M::VerifyIdentity << other << "TLS/SSL error"
            << "localhost";
        QTest::newRow("plain server, Preferred") << false << M::Preferred << ""
                                                 << "clear" << QString();
        QTest::newRow("plain server, Off") << false << M::Off << ""
                                           << "clear" << QString();
        QTest::newRow("plain server, Required") << false << M::Required << ""
                                                << "not encrypted" << QString();
        // The library itself connects in clear here, a CA given or not.
        QTest::newRow("plain server, Verify CA")
            << false << M::VerifyCA << right << "not encrypted" << QString();
        QTest::newRow("plain server, Verify identity")
            << false << M::VerifyIdentity << right << "TLS/SSL error" << QString();
    }
    void modes()
    {
        QFETCH(bool, tlsServer);
        QFETCH(TmySQLTlsMode, mode);
        QFETCH(QString, ca);
        QFETCH(QString, expected);
        QFETCH(QString, host);
        REQUIRE_SERVER();
        REQUIRE_TLS_SERVER();
        Attempt a(tlsServer, mode, ca, false, host);
        if (expected == QLatin1String("encrypted") || expected == QLatin1String("clear")) {
            QVERIFY2(a.connected, qPrintable(a.error));
            const QString cipher = a.client.Utility()->TlsCipher();
            QCOMPARE(cipher.isEmpty(), expected == QLatin1String("clear"));
            if (!cipher.isEmpty())
                QVERIFY2(a.client.Utility()->TlsVersion().startsWith(QStringLiteral("TLSv1.")),
                         qPrintable(a.client.Utility()->TlsVersion()));
            // The server's own view of the session agrees.
            a.client.Query()->SubmitStatement(
                TmySQLStatement("SHOW SESSION STATUS LIKE 'Ssl_cipher'"), "cipher");
            a.client.ExecuteTasks();
            QCOMPARE(QString::fromUtf8(a.client.Query()->ValueBytes(0, 1)), cipher);
        } else {
            QVERIFY(!a.connected);
            QVERIFY2(a.error.contains(expected), qPrintable(a.error));
            QVERIFY(!a.client.Connected());
            QVERIFY(!a.client.Query());
        }
    }

    // Stop asks the server over a second connection, which must meet the same demands: over
    // TLS it ends the statement without cutting the first connection.
    void stopOverTls()
    {
        REQUIRE_TLS_SERVER();
        Attempt a(true, TmySQLTlsMode::VerifyCA, TlsServer().ca, true);
        QVERIFY2(a.connected, qPrintable(a.error));
        const std::uint64_t id = a.client.Utility()->ConnectionId();
        bool ended = false;
        bool stopped = false;
        int batches = 0;
        a.client.Query()->SubmitStream(
            TmySQLStatement("SELECT seq, 'tls-stop-marker' FROM mysql.seq_1_to_20000000"), "stream",
            [&](QObject *, TmySQLRowBatch &) { ++batches; },
            [&](QObject *sender) {
                stopped = static_cast<TmySQLClientQuery *>(sender)->StreamStopped();
                ended = true;
            },
            [&](QObject *, const QString &msg) {
                a.notices << msg;
                ended = true;
            });
        a.client.ExecuteTasks();
        QTRY_VERIFY(batches >= 2);
        QVERIFY(a.client.StopReading());
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
        QVERIFY(stopped);
        QCOMPARE(a.notices, QStringList()); // no fallback to cutting the connection
        QCOMPARE(a.client.Utility()->ConnectionId(), id);
    }

    // Through the real dialog: the mode chosen, the Welcome page and the log naming the cipher,
    // and the choices kept in the preferences (never in "settings.ini").
    void dialogConnectsInTls_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("stored");
        QTest::newRow("Preferred") << "Preferred"
                                   << "preferred";
        QTest::newRow("Required") << "Required"
                                  << "required";
        QTest::newRow("Verify CA") << "Verify CA"
                                   << "verify-ca";
    }
    void dialogConnectsInTls()
    {
        QFETCH(QString, mode);
        QFETCH(QString, stored);
        REQUIRE_TLS_SERVER();
        const bool verifying = mode == QLatin1String("Verify CA");
        {
            Program p;
            p.fillLogin(true);
            QCOMPARE(p.login->Tls_combo->currentText(), QStringLiteral("Preferred"));
            QVERIFY(!p.login->Ca_file_edit->isEnabled()); // Preferred verifies nothing
            p.login->Tls_combo->setCurrentText(mode);
            QCOMPARE(p.login->Ca_file_edit->isEnabled(), verifying);
            QCOMPARE(p.login->Ca_file_browse->isEnabled(), verifying);
            if (verifying) {
                g_openPath = TlsServer().ca;
                p.login->Ca_file_browse->click();
                QCOMPARE(g_openAsked, 1);
                QCOMPARE(p.login->Ca_file_edit->text(), TlsServer().ca);
            }
            QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
            const QString shown = p.w->Tls_info->text();
            QVERIFY2(shown.startsWith(QStringLiteral("TLSv1.")) && shown.contains(QLatin1Char(',')),
                     qPrintable(shown));
            QCOMPARE(shown, p.w->encryptionText());
            const QStringList log = fileLines(QStringLiteral("log.ini"));
            QCOMPARE(log.value(0), QStringLiteral("Connected to: ") + TlsServer().host);
            QCOMPARE(log.value(2), QStringLiteral("Encryption: ") + shown);
            // "settings.ini" keeps its five lines.
            QCOMPARE(fileLines(QStringLiteral("settings.ini")).size(), 5);
        }
        // The next start offers the same choices.
        Program again;
        QCOMPARE(again.login->Tls_combo->currentText(), mode);
        QCOMPARE(again.login->Ca_file_edit->text(), verifying ? TlsServer().ca : QString());
        QCOMPARE(QSettings().value(QStringLiteral("connection/tls")).toString(), stored);
    }

    void dialogReportsRefusals_data()
    {
        QTest::addColumn<bool>("tlsServer");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("otherCa");
        QTest::addColumn<QString>("expected");
        QTest::newRow("TLS server, Off") << true << "Off" << false << "Access denied";
        QTest::newRow("TLS server, another CA") << true << "Verify CA" << true << "TLS/SSL error";
        QTest::newRow("TLS server, Verify identity")
            << true << "Verify identity" << false << "TLS/SSL error";
        QTest::newRow("plain server, Required") << false << "Required" << false << "not encrypted";
    }
    void dialogReportsRefusals()
    {
        QFETCH(bool, tlsServer);
        QFETCH(QString, mode);
        QFETCH(bool, otherCa);
        QFETCH(QString, expected);
        REQUIRE_SERVER();
        REQUIRE_TLS_SERVER();
        Program p;
        p.fillLogin(tlsServer);
        p.login->Tls_combo->setCurrentText(mode);
        p.login->Ca_file_edit->setText(otherCa ? TlsServer().otherCa : TlsServer().ca);
        p.login->show();
        QVERIFY(!p.connect());
        // The connect-error path: beep, panel 1, the box, the log and the console.
        QCOMPARE(g_beeps, 1);
        const QString message = p.w->PanelText(1);
        QVERIFY2(message.contains(expected), qPrintable(message));
        QCOMPARE(g_boxes.value(0), QStringLiteral("Error|ERROR:") + message);
        QCOMPARE(fileLines(QStringLiteral("log.ini")).last(), message);
        QVERIFY(p.login->isVisible());
        QVERIFY(!p.w->mysql->Connected());
    }

    void dialogShowsAClearConnection()
    {
        REQUIRE_SERVER();
        Program p;
        p.fillLogin(false);
        QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
        QCOMPARE(p.w->Tls_info->text(), QStringLiteral("Not encrypted"));
        QCOMPARE(fileLines(QStringLiteral("log.ini")).value(2),
                 QStringLiteral("Encryption: Not encrypted"));
    }

    // Verify fingerprint: the certificate shown before anything is sent, trusted once, then
    // pinned; a server showing another one is refused with both fingerprints; the library
    // refuses a pin that does not match.
    void dialogTrustsAFingerprint()
    {
        REQUIRE_TLS_SERVER();
        const QString expected = serverFingerprint("-sha256");
        QCOMPARE(expected.size(), 95);
        Program p;
        p.fillLogin(true);
        p.login->Tls_combo->setCurrentText(QStringLiteral("Verify fingerprint"));
        QVERIFY(!p.login->Ca_file_edit->isEnabled());
        g_answer = QStringLiteral("Cancel");
        p.login->login_connect->click();
        QTRY_COMPARE(g_questions.size(), 1);
        QVERIFY2(g_questions.first().contains(expected), qPrintable(g_questions.first()));
        QTest::qWait(300);
        QVERIFY(!p.w->mysql->Connected());
        g_answer = QStringLiteral("Trust");
        QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
        QCOMPARE(g_questions.size(), 2);
        QVERIFY(p.w->Tls_info->text().startsWith(QStringLiteral("TLSv1.")));
        p.w->mysql->Close();
        QTRY_VERIFY(!p.w->mysql->Connected());
        QVERIFY2(p.connect(), qPrintable(g_boxes.join('|'))); // trusted: no question
        QCOMPARE(g_questions.size(), 2);
        p.w->mysql->Close();
        QTRY_VERIFY(!p.w->mysql->Connected());
        // Another certificate than the one trusted.
        QSettings preferences;
        QStringList keys = preferences.allKeys().filter(QStringLiteral("fingerprints"));
        QCOMPARE(keys.size(), 1);
        QCOMPARE(preferences.value(keys.first()).toString(), expected);
        const QString other = QString(expected).replace(QRegularExpression("[0-9A-F]"), "0");
        preferences.setValue(keys.first(), other);
        QVERIFY(!p.connect());
        QVERIFY(g_boxes.last().contains(expected) && g_boxes.last().contains(other));
        // The library's own check of the pin (SHA-1, the only kind it takes).
        const QString sha1 = serverFingerprint("-sha1");
        const QString otherSha1 = QString(sha1).replace(QRegularExpression("[0-9A-F]"), "0");
        for (const QString &pin : {otherSha1, sha1}) {
            TmySQLClient client;
            client.setHostname(TlsServer().host);
            client.setUsername(TlsServer().user);
            client.setPassword(TlsServer().password);
            client.setPort(TlsServer().port);
            client.setTlsMode(TmySQLTlsMode::VerifyFingerprint);
            client.setTlsPeerFingerprint(QString(pin).remove(':'));
            client.setThreaded(false);
            QString error;
            client.OnConnectError = [&](QObject *, const QString &msg) { error = msg; };
            client.Connect();
            QCOMPARE(client.Connected(), pin == sha1);
            QCOMPARE(error.isEmpty(), pin == sha1);
        }
    }

    // A keyring that never answers holds up neither the connect nor the start: the file is
    // written with the password once the wait is over, and the dialog says where it is kept.
    void silentKeyringHoldsNothingUp()
    {
        REQUIRE_SERVER();
        SilentKeyring silent;
        keyring::setBackend(&silent);
        keyring::setTimeout(300);
        {
            Program p;
            p.fillLogin(false);
            QVERIFY(p.login->Keyring_note->isHidden());
            QVERIFY2(p.connect(), qPrintable(g_boxes.join('|'))); // not held up by the keyring
            QTRY_COMPARE(fileLines(QStringLiteral("settings.ini")).value(3), Server().password);
            QVERIFY(!p.login->Keyring_note->isHidden());
            QCOMPARE(silent.asked, 1);
        }
        // A start whose file has no password asks and waits no longer than the time-out; with
        // no answer it does not connect without the password, but shows the dialog and its note.
        writeFile(QStringLiteral("settings.ini"), settingsFor(QString()));
        const int before = g_boxes.size();
        Program p;
        p.w->setArguments({QStringLiteral("quorvane"), QStringLiteral("-autol")});
        p.w->show();
        QTRY_COMPARE(silent.asked, 2);
        QTRY_VERIFY(!p.login->Keyring_note->isHidden());
        QVERIFY(p.login->isVisible());
        QTest::qWait(500);
        QCOMPARE(g_boxes.size(), before);
        QVERIFY(!p.w->mysql->Connected());
        QCOMPARE(fileLines(QStringLiteral("settings.ini")).value(3), QString());
    }

    // Answers after the time-out: a read still fills the password and -autol connects then; a
    // write taken late empties line 4 as one in time would; an empty password is never written
    // over the keyring's.
    void lateKeyringAnswers()
    {
        REQUIRE_SERVER();
        ManualKeyring manual;
        keyring::setBackend(&manual);
        keyring::setTimeout(200);
        writeFile(QStringLiteral("settings.ini"), settingsFor(QString()));
        Program p;
        p.w->setArguments({QStringLiteral("quorvane"), QStringLiteral("-autol")});
        p.w->show();
        QTRY_COMPARE(manual.pending.size(), 1);
        QTRY_VERIFY(!p.login->Keyring_note->isHidden());
        QTest::qWait(300);
        QVERIFY(!p.w->mysql->Connected());
        manual.pending[0](keyring::Answer{keyring::Answer::Found, Server().password, {}});
        QCOMPARE(p.login->Password_edit->text(), Server().password);
        QTRY_COMPARE_WITH_TIMEOUT(p.w->PanelText(1), QStringLiteral("Connected"), 10000);
        // The connect's write, unanswered past the time-out: the password goes to line 4...
        QTRY_COMPARE(manual.pending.size(), 2);
        QTRY_COMPARE(fileLines(QStringLiteral("settings.ini")).value(3), Server().password);
        // ...until the keyring takes it after all: one place, never both.
        manual.pending[1](keyring::Answer{keyring::Answer::Stored, {}, {}});
        QCOMPARE(fileLines(QStringLiteral("settings.ini")).value(3), QString());
        QVERIFY(p.login->Keyring_note->isHidden());
        // No password typed: nothing is asked of the keyring, nothing written over its entry.
        p.w->mysql->Close();
        QTRY_VERIFY(!p.w->mysql->Connected());
        p.login->Password_edit->clear();
        p.login->login_connectClick();
        QTRY_VERIFY(!g_boxes.isEmpty());
        QCOMPARE(manual.pending.size(), 2);
        QCOMPARE(fileLines(QStringLiteral("settings.ini")).value(3), QString());
    }

    // Two Connects whose keyring answers come in the other order: only the later Connect's
    // answer writes the file, so a late refusal cannot put back a password the keyring took.
    void laterConnectWritesTheFile()
    {
        REQUIRE_SERVER();
        ManualKeyring manual;
        keyring::setBackend(&manual);
        Program p;
        p.fillLogin(false);
        p.login->User_edit->setText(QStringLiteral("first-user"));
        QVERIFY(!p.connect()); // refused: a new Connect may start
        p.fillLogin(false);
        QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
        QCOMPARE(manual.pending.size(), 2);
        QVERIFY(!QFile::exists(QStringLiteral("settings.ini"))); // written once answered
        manual.pending[1](keyring::Answer{keyring::Answer::Stored, {}, {}});
        manual.pending[0](
            keyring::Answer{keyring::Answer::Unavailable, {}, QStringLiteral("late")});
        const QStringList lines = fileLines(QStringLiteral("settings.ini"));
        QCOMPARE(lines.value(2), Server().user);
        QCOMPARE(lines.value(3), QString());
        QVERIFY(p.login->Keyring_note->isHidden());
    }

    // With the keyring unlocked: Connect moves the password there and empties line 4; the next
    // start reads it back and connects; an old file with the password is used and migrated.
    void keyringTakesThePassword()
    {
        REQUIRE_KEYRING("unlocked");
        REQUIRE_SERVER();
        keyring::setBackend(nullptr);
        {
            Program p;
            p.fillLogin(false);
            QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
            QTRY_VERIFY(QFile::exists(QStringLiteral("settings.ini")));
            const QStringList lines = fileLines(QStringLiteral("settings.ini"));
            QCOMPARE(lines, (QStringList{QStringLiteral("[server]"), Server().host, Server().user,
                                         QString(), QString::number(Server().port)}));
            QVERIFY(p.login->Keyring_note->isHidden());
        }
        const keyring::Answer held = keyringEntry(sandboxKey());
        QCOMPARE(held.kind, keyring::Answer::Found);
        QCOMPARE(held.Password, Server().password);
        QCOMPARE(passwordsIn(QDir::currentPath(), {}, true), QStringList());

        // A fresh start with -autol connects with the keyring's password.
        Connected c(false);
        QVERIFY2(c.waitConnected(), qPrintable(g_boxes.join('|')));
        QCOMPARE(c.program->login->Password_edit->text(), Server().password);
        QVERIFY(!c.program->console->Memo1->toPlainText().contains(Server().password));
        for (QWidget *window : QApplication::topLevelWidgets())
            QVERIFY(!window->windowTitle().contains(Server().password));
        QCOMPARE(passwordsIn(QDir::currentPath(), {}, true), QStringList());
    }

    void oldFileIsUsedAndMigrated()
    {
        REQUIRE_KEYRING("unlocked");
        REQUIRE_SERVER();
        keyring::setBackend(nullptr);
        // A stale entry: the file written by an earlier version wins, and replaces it.
        QVERIFY(storeInKeyring(sandboxKey(), QStringLiteral("stale-password")));
        Connected c; // "settings.ini" with the password in line 4
        QVERIFY2(c.waitConnected(), qPrintable(g_boxes.join('|')));
        QTRY_COMPARE(fileLines(QStringLiteral("settings.ini")).value(3), QString());
        QCOMPARE(fileLines(QStringLiteral("settings.ini")).size(), 5);
        QCOMPARE(keyringEntry(sandboxKey()).Password, Server().password);
        QCOMPARE(passwordsIn(QDir::currentPath(), {QStringLiteral("stale-password")}, true),
                 QStringList());
    }

    // Entries are told apart by user, host and port.
    void entriesAreKeyedByUserHostAndPort()
    {
        REQUIRE_KEYRING("unlocked");
        keyring::setBackend(nullptr);
        QVERIFY(storeInKeyring(keyring::keyFor(QStringLiteral("a@b"), QStringLiteral("c"), 1),
                               QStringLiteral("one")));
        QVERIFY(storeInKeyring(keyring::keyFor(QStringLiteral("a"), QStringLiteral("b@c"), 1),
                               QStringLiteral("two")));
        QVERIFY(storeInKeyring(keyring::keyFor(QStringLiteral("a"), QStringLiteral("b@c"), 2),
                               QStringLiteral("three")));
        QCOMPARE(
            keyringEntry(keyring::keyFor(QStringLiteral("a@b"), QStringLiteral("c"), 1)).Password,
            QStringLiteral("one"));
        QCOMPARE(
            keyringEntry(keyring::keyFor(QStringLiteral("a"), QStringLiteral("b@c"), 1)).Password,
            QStringLiteral("two"));
        QCOMPARE(keyringEntry(keyring::keyFor(QStringLiteral("a"), QStringLiteral("b@c"), 3)).kind,
                 keyring::Answer::NotFound);
    }

    // A locked keyring whose unlock prompt waits on a display nobody looks at: the real stack
    // never answers, and neither the connect nor the start waits longer than the time-out (the
    // start then shows the dialog instead of connecting without the password).
    void lockedKeyringHoldsNothingUp()
    {
        REQUIRE_KEYRING("locked");
        REQUIRE_SERVER();
        keyring::setBackend(nullptr);
        keyring::setTimeout(1500);
        {
            Program p;
            p.fillLogin(false);
            QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
            QTRY_COMPARE_WITH_TIMEOUT(fileLines(QStringLiteral("settings.ini")).value(3),
                                      Server().password, 10000);
            QVERIFY(!p.login->Keyring_note->isHidden());
        }
        writeFile(QStringLiteral("settings.ini"), settingsFor(QString()));
        const int before = g_boxes.size();
        Program p;
        p.w->setArguments({QStringLiteral("quorvane"), QStringLiteral("-autol")});
        p.w->show();
        QTRY_VERIFY_WITH_TIMEOUT(!p.login->Keyring_note->isHidden(), 10000);
        // Not connected without the password: the dialog waits, with its note.
        QVERIFY(p.login->isVisible());
        QTest::qWait(500);
        QCOMPARE(g_boxes.size(), before);
        QVERIFY(!p.w->mysql->Connected());
    }

    // No Secret Service on the bus: the password stays in line 4, the dialog says so once, and
    // a start with an empty line 4 is not held up.
    void noSecretService()
    {
        REQUIRE_KEYRING("none");
        REQUIRE_SERVER();
        keyring::setBackend(nullptr);
        {
            Program p;
            p.fillLogin(false);
            QVERIFY2(p.connect(), qPrintable(g_boxes.join('|')));
            QTRY_COMPARE(fileLines(QStringLiteral("settings.ini")).value(3), Server().password);
            QVERIFY(!p.login->Keyring_note->isHidden());
            QCOMPARE(QFile(QStringLiteral("settings.ini")).permissions() &
                         (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                     QFileDevice::Permissions());
        }
        QCOMPARE(keyringEntry(sandboxKey()).kind, keyring::Answer::Unavailable);
        // The file's password is used as written.
        Connected c;
        QVERIFY2(c.waitConnected(), qPrintable(g_boxes.join('|')));
    }
};

QTEST_MAIN(TestSecure)
#include "test_secure.moc"
