// The login dialog's port conversion, the "settings.ini" format, and the text files' error
// texts and atomic replacement. No server, no windows.
#include "convert.h"
#include "files.h"
#include "settings_ini.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

class TestTextIo : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portConversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "3306" << true << 3306;
        QTest::newRow("leading blank") << " 3306" << true << 3306;
        QTest::newRow("leading blanks") << "    3306" << true << 3306;
        QTest::newRow("trailing blank") << "3306 " << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("only blanks") << "   " << false << 0;
        QTest::newRow("plus") << "+3306" << true << 3306;
        QTest::newRow("minus one") << "-1" << true << -1;
        QTest::newRow("dollar hex") << "$CEA" << true << 3306;
        QTest::newRow("0x hex") << "0x0CEA" << true << 3306;
        QTest::newRow("X mixed case") << "XcEa" << true << 3306;
        QTest::newRow("x lower") << "xcea" << true << 3306;
        QTest::newRow("0X") << "0XCEA" << true << 3306;
        QTest::newRow("32-bit pattern") << "$FFFFFFFF" << true << -1;
        QTest::newRow("top bit") << "$80000000" << true << int(0x80000000u);
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
        QTest::newRow("beyond max") << "2147483648" << false << 0;
        QTest::newRow("beyond min") << "-2147483649" << false << 0;
        QTest::newRow("dollar alone") << "$" << false << 0;
        QTest::newRow("0x alone") << "0x" << false << 0;
        QTest::newRow("sign and hex") << "-$CEA" << false << 0;
        QTest::newRow("sign alone") << "-" << false << 0;
        QTest::newRow("nine hex digits") << "$123456789" << false << 0;
        QTest::newRow("nine hex after 0x") << "0x123456789" << false << 0;
        QTest::newRow("hex letters without prefix") << "CEA" << false << 0;
        QTest::newRow("tab in front") << "\t3306" << false << 0;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("٣٣٠٦") << false << 0;
        QTest::newRow("fullwidth digits") << QString::fromUtf8("３３０６") << false << 0;
        QTest::newRow("very long") << QString(5000, QLatin1Char('9')) << false << 0;
        QTest::newRow("many zeros") << QString(5000, QLatin1Char('0')) + "7" << true << 7;
        QTest::newRow("inner blank") << "33 06" << false << 0;
    }
    void portConversion()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto result = convert::tryStrToInt(text);
        QCOMPARE(result.has_value(), valid);
        if (valid) {
            QCOMPARE(*result, value);
            QCOMPARE(convert::StrToInt(text), value);
        } else {
            try {
                convert::StrToInt(text);
                QFAIL("no error");
            } catch (const TConvertError &error) {
                QCOMPARE(error.Text(),
                         QStringLiteral("'%1' is not a valid integer value").arg(text));
            }
        }
    }

    void settingsReader_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("crlf") << QByteArray("[server]\r\nh\r\nu\r\np\r\n3306\r\n") << true
                              << QStringList{"h", "u", "p", "3306"};
        QTest::newRow("lf only") << QByteArray("[server]\nh\nu\np\n3306\n") << true
                                 << QStringList{"h", "u", "p", "3306"};
        QTest::newRow("no final line end") << QByteArray("[server]\r\nh\r\nu\r\np\r\n3306") << true
                                           << QStringList{"h", "u", "p", "3306"};
        QTest::newRow("missing lines empty")
            << QByteArray("[server]\r\nh\r\n") << true << QStringList{"h", "", "", ""};
        QTest::newRow("header last")
            << QByteArray("[server]") << true << QStringList{"", "", "", ""};
        QTest::newRow("later block wins")
            << QByteArray("[server]\r\na\r\nb\r\nc\r\n1\r\n[server]\r\nh2\r\nu2\r\np2\r\n2\r\n")
            << true << QStringList{"h2", "u2", "p2", "2"};
        QTest::newRow("values taken as they stand")
            << QByteArray("[server]\r\n host \r\n[server]\r\n\r\n 3306\r\n") << true
            << QStringList{" host ", "[server]", "", " 3306"};
        QTest::newRow("header case counts")
            << QByteArray("[Server]\r\nh\r\n") << false << QStringList();
        QTest::newRow("header blanks count")
            << QByteArray(" [server]\r\nh\r\n") << false << QStringList();
        QTest::newRow("empty file") << QByteArray() << false << QStringList();
        QTest::newRow("text before") << QByteArray("junk\r\n[server]\r\nh\r\nu\r\np\r\n1\r\n")
                                     << true << QStringList{"h", "u", "p", "1"};
        QTest::newRow("utf-8") << QByteArray("[server]\r\nhöst\r\nużytkownik\r\nhasło\r\n1\r\n")
                               << true
                               << QStringList{QString::fromUtf8("höst"),
                                              QString::fromUtf8("użytkownik"),
                                              QString::fromUtf8("hasło"), "1"};
    }
    void settingsReader()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, found);
        QFETCH(QStringList, values);
        const auto settings = settings_ini::parse(content);
        QCOMPARE(settings.has_value(), found);
        if (!found) return;
        QCOMPARE(QStringList({settings->Host, settings->User, settings->Password, settings->Port}),
                 values);
    }

    void settingsFileIsReplacedWholeAndPrivate()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        settings_ini::write({"h", "u", "p", "1"}, path);
        settings_ini::write({QString::fromUtf8("hóst"), "", "pa ss", " $CEA"}, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[server]\r\nhóst\r\n\r\npa ss\r\n $CEA\r\n"));
        QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                       QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        // Nothing is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList("settings.ini"));
    }

    void failedWriteKeepsThePreviousFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        settings_ini::write({"old", "u", "p", "1"}, path);
        // A folder that cannot take the new file, even for root: the target is a directory.
        const QString blocked = dir.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkdir(blocked));
        QVERIFY(QDir().mkdir(blocked + QStringLiteral("/settings.ini")));
        try {
            settings_ini::write({"new", "u", "p", "1"}, blocked + QStringLiteral("/settings.ini"));
            QFAIL("no error");
        } catch (const TFileError &error) {
            QVERIFY2(!QString::fromStdString(error.what()).isEmpty(), error.what());
        }
        QCOMPARE(settings_ini::read(path)->Host, QStringLiteral("old"));
        try {
            settings_ini::read(dir.filePath(QStringLiteral("missing.ini")));
            QFAIL("no error");
        } catch (const TFileError &error) {
            QCOMPARE(QString::fromStdString(error.what()), QStringLiteral("File not found"));
        }
    }

    void fileErrorTexts()
    {
        QCOMPARE(TFileError::TextFor(ENOENT), QStringLiteral("File not found"));
        QCOMPARE(TFileError::TextFor(EACCES), QStringLiteral("File access denied"));
        QCOMPARE(TFileError::TextFor(EROFS), QStringLiteral("File access denied"));
        QCOMPARE(TFileError::TextFor(ENOSPC), QStringLiteral("Disk full"));
        QCOMPARE(TFileError::TextFor(EMFILE), QStringLiteral("Too many open files"));
        QCOMPARE(TFileError::TextFor(EIO), QStringLiteral("I/O error %1").arg(EIO));
    }

    void lineFileWritesEachLineAtOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.ini"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("from the last run\r\n");
        old.close();
        TLineFile log;
        log.create(path);
        log.writeLine(QStringLiteral("Connected to: 127.0.0.1"));
        // Readable by another reader before the file is closed.
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QCOMPARE(reader.readAll(), QByteArray("Connected to: 127.0.0.1\r\n"));
        log.writeLine(QString::fromUtf8("zażółć"));
        log.close();
        QVERIFY(reader.seek(0));
        QCOMPARE(reader.readAll(), QByteArray("Connected to: 127.0.0.1\r\nzażółć\r\n"));
        try {
            log.writeLine(QStringLiteral("closed"));
            QFAIL("no error");
        } catch (const TFileError &) {
        }
    }
};

QTEST_GUILESS_MAIN(TestTextIo)
#include "test_textio.moc"
