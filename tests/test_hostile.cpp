// A hostile server on the path, which offers no TLS and asks the client to switch to a plugin
// that would hand it the password: what each mode lets it have, through the component, through
// the login dialog, and through the second connection Stop makes.
#include "hostile_server.h"
#include "mySQLGuard.h"
#include "windows_driver.h"

#include <QComboBox>
#include <QTest>

namespace {
const QString Secret = QStringLiteral("hostile-test-secret-9f3a");

struct Attempt
{
    Attempt(int port, TmySQLTlsMode mode, const QString &fingerprint = QString())
    {
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setUsername(QStringLiteral("victim"));
        client.setPassword(Secret);
        client.setPort(port);
        client.setTlsMode(mode);
        client.setTlsPeerFingerprint(fingerprint);
        client.setThreaded(false);
        client.OnConnect = [this](QObject *) { connected = true; };
        client.OnConnectError = [this](QObject *, const QString &msg) { error = msg; };
        client.Connect();
        (void)QTest::qWaitFor([this] { return connected || !error.isEmpty(); }, 15000);
    }
    TmySQLClient client;
    bool connected = false;
    QString error;
};

bool holdsSecret(const std::string &bytes)
{
    return bytes.find(Secret.toStdString()) != std::string::npos;
}
} // namespace

class TestHostile : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<ProgramFolder> m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->ok());
    }
    void cleanupTestCase() { m_folder.reset(); }

    // What the guard reads of a first packet before it lets the library in.
    void greetings_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<bool>("serverError");
        QTest::addColumn<bool>("offersTls");
        QTest::addColumn<QString>("plugin");
        const QByteArray head = QByteArray("\x0a"
                                           "10.11.0-MariaDB") +
                                '\0' +
                                QByteArray("\x01\x00\x00\x00"
                                           "abcdefgh",
                                           12) +
                                '\0';
        const QByteArray tail = QByteArray("\x21\x02\x00\x0b\x00\x15", 6) + QByteArray(10, '\0') +
                                QByteArray("ijklmnopqrst") + '\0' +
                                QByteArray("caching_sha2_password") + '\0';
        QTest::newRow("TLS offered") << head + QByteArray("\x0e\xaa", 2) + tail << true << false
                                     << true << "caching_sha2_password";
        QTest::newRow("no TLS") << head + QByteArray("\x0e\xa2", 2) + tail << true << false << false
                                << "caching_sha2_password";
        QTest::newRow("short, no plugin name")
            << head + QByteArray("\x00\x08", 2) << true << false << true << "";
        QTest::newRow("server error")
            << QByteArray("\xff\x10\x04Too many connections") << false << true << false << "";
        QTest::newRow("protocol 9") << QByteArray("\x09"
                                                  "5.0") +
                                           '\0'
                                    << false << false << false << "";
        QTest::newRow("cut before the capabilities")
            << head.left(10) << false << false << false << "";
    }
    void greetings()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, parsed);
        QFETCH(bool, serverError);
        QFETCH(bool, offersTls);
        QFETCH(QString, plugin);
        std::string packet(4, '\0');
        packet[0] = char(payload.size() & 0xFF);
        packet[1] = char((payload.size() >> 8) & 0xFF);
        packet += payload.toStdString();
        const TmySQLGreeting g = ParseGreeting(packet);
        QCOMPARE(g.Parsed, parsed);
        QCOMPARE(g.ServerError, serverError);
        QCOMPARE(g.OffersTls, offersTls);
        QCOMPARE(QString::fromStdString(g.AuthPlugin), plugin);
        // A length that does not match the bytes is no greeting.
        packet[0] = char(packet[0] + 1);
        QVERIFY(!ParseGreeting(packet).Parsed);
    }

    // In Required and the Verify modes nothing at all follows the greeting; in Preferred and Off
    // the server gets the user name and a scramble of its nonce (what a connection in clear is),
    // and never an answer to a switch to a plugin that would give it the password.
    void modesAgainstAHostileServer_data()
    {
        QTest::addColumn<TmySQLTlsMode>("mode");
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<bool>("answersSwitch");
        using M = TmySQLTlsMode;
        const struct
        {
            M mode;
            const char *name;
        } modes[] = {{M::Preferred, "Preferred"},
                     {M::Required, "Required"},
                     {M::VerifyCA, "Verify CA"},
                     {M::VerifyIdentity, "Verify identity"},
                     {M::Off, "Off"},
                     {M::VerifyFingerprint, "Verify fingerprint"}};
        const char *plugins[] = {"mysql_clear_password", "dialog", "sha256_password",
                                 "caching_sha2_password", "mysql_native_password"};
        for (const auto &m : modes)
            for (const char *plugin : plugins)
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(m.name, plugin)))
                    << m.mode << QString::fromLatin1(plugin)
                    << (QByteArray(plugin) == "mysql_native_password");
    }
    void modesAgainstAHostileServer()
    {
        QFETCH(TmySQLTlsMode, mode);
        QFETCH(QString, plugin);
        QFETCH(bool, answersSwitch);
        HostileServer hostile(plugin.toStdString());
        const QString fingerprint = QString(64, QLatin1Char('a'));
        Attempt a(hostile.port(), mode, fingerprint);
        QVERIFY(!a.connected);
        QVERIFY(!a.error.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(hostile.visits().size(), std::size_t(1), 5000);
        const HostileServer::Visit visit = hostile.visits().front();
        QVERIFY(!holdsSecret(visit.Response + visit.AfterSwitch));
        using M = TmySQLTlsMode;
        if (mode == M::Preferred || mode == M::Off) {
            QVERIFY(!visit.Response.empty());
            QCOMPARE(!visit.AfterSwitch.empty(), answersSwitch);
            if (!answersSwitch)
                QVERIFY2(a.error.contains(QStringLiteral("Verify fingerprint")),
                         qPrintable(a.error));
        } else {
            QCOMPARE(visit.Response, std::string());
            QCOMPARE(visit.AfterSwitch, std::string());
        }
    }

    // Through the login dialog, as a user would connect to it: refused with the dialog's box in
    // the stricter modes, with nothing sent after the greeting; no password in any form in any.
    void dialogAgainstAHostileServer_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("answersGreeting");
        QTest::newRow("Preferred") << "Preferred" << true;
        QTest::newRow("Required") << "Required" << false;
        QTest::newRow("Verify CA") << "Verify CA" << false;
    }
    void dialogAgainstAHostileServer()
    {
        QFETCH(QString, mode);
        QFETCH(bool, answersGreeting);
        forgetAnswers();
        HostileServer hostile("mysql_clear_password");
        auto program = std::make_unique<TProgram>();
        Tlogin *login = program->login.get();
        login->Host_edit->setText(QStringLiteral("127.0.0.1"));
        login->User_edit->setText(QStringLiteral("victim"));
        login->Password_edit->setText(Secret);
        login->Port_edit->setText(QString::number(hostile.port()));
        login->Tls_combo->setCurrentText(mode);
        login->login_connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), 1, 15000);
        QVERIFY(!program->tolvar->mysql->Connected());
        QTRY_COMPARE_WITH_TIMEOUT(hostile.visits().size(), std::size_t(1), 5000);
        const HostileServer::Visit visit = hostile.visits().front();
        QCOMPARE(!visit.Response.empty(), answersGreeting);
        QCOMPARE(visit.AfterSwitch, std::string());
        QVERIFY(!holdsSecret(hostile.everything()));
    }

    // The main connection verified, over a path that hands every later connection to the
    // hostile server: Stop's second connection and the reconnect of its fallback give it nothing
    // after its greeting.
    void laterConnectionsMeetTheSameRules()
    {
        const QString host = qEnvironmentVariable("QUORVANE_TLS_HOST");
        const int tlsPort = qEnvironmentVariableIntValue("QUORVANE_TLS_PORT");
        if (host.isEmpty() || tlsPort == 0) {
            if (qEnvironmentVariableIsSet("CI")) QFAIL("the TLS sandbox is not running");
            QSKIP("no TLS sandbox: run the tests through scripts/test.sh");
        }
        const QString password = qEnvironmentVariable("QUORVANE_TLS_PASSWORD");
        HostileServer path("mysql_clear_password", 1, tlsPort);
        TmySQLClient client;
        client.setHostname(QStringLiteral("127.0.0.1"));
        client.setUsername(qEnvironmentVariable("QUORVANE_TLS_USER"));
        client.setPassword(password);
        client.setPort(path.port());
        client.setTlsMode(TmySQLTlsMode::VerifyCA);
        client.setTlsCaFile(qEnvironmentVariable("QUORVANE_TLS_CA"));
        client.setThreaded(true);
        bool connected = false;
        QStringList errors;
        client.OnConnect = [&](QObject *) { connected = true; };
        client.OnConnectError = [&](QObject *, const QString &msg) { errors << msg; };
        client.OnQueryError = [&](QObject *, const QString &msg) { errors << msg; };
        client.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(connected, 10000);
        bool ended = false;
        int batches = 0;
        client.Query()->SubmitStream(
            TmySQLStatement("SELECT seq FROM mysql.seq_1_to_10000000000"), "stream",
            [&](QObject *, TmySQLRowBatch &) { ++batches; }, [&](QObject *) { ended = true; },
            [&](QObject *, const QString &) { ended = true; });
        client.ExecuteTasks();
        QTRY_VERIFY_WITH_TIMEOUT(batches >= 2, 10000);
        QVERIFY2(!ended, qPrintable(errors.join(QLatin1Char('|'))));
        QVERIFY(client.StopReading());
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
        // The kill's connection, then the reconnect's.
        QTRY_VERIFY_WITH_TIMEOUT(path.visits().size() >= 2, 20000);
        for (const HostileServer::Visit &visit : path.visits()) {
            QCOMPARE(visit.Response, std::string());
            QCOMPARE(visit.AfterSwitch, std::string());
        }
        QVERIFY(path.everything().find(password.toStdString()) == std::string::npos);
    }
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
