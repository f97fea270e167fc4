#include "tls_probe.h"

#include "mySQLClient.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPointer>
#include <QSslCertificate>
#include <QSslSocket>

#include <thread>

namespace tlsprobe {
namespace {
constexpr int HandshakeMilliseconds = 4000;

// Blocking; runs off the window thread.
void read(const QString &host, int port, const QString &socketPath, Fingerprints *fingerprints,
          QString *error)
{
    const int fd = OpenForTlsHandshake(host, port, error, socketPath);
    if (fd < 0) return;
    QSslSocket socket;
    if (!socket.setSocketDescriptor(fd)) {
        *error = socket.errorString();
        return;
    }
    // Only the certificate is wanted: nothing is sent over this connection, and whether it
    // is to be trusted is the user's decision, by its fingerprint.
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.startClientEncryption();
    if (!socket.waitForEncrypted(HandshakeMilliseconds)) {
        *error = QStringLiteral("No TLS handshake with the server: ") + socket.errorString();
        socket.abort();
        return;
    }
    const QSslCertificate certificate = socket.peerCertificate();
    socket.abort();
    if (certificate.isNull()) {
        *error = QStringLiteral("The server showed no certificate.");
        return;
    }
    auto hex = [&](QCryptographicHash::Algorithm kind) {
        return QString::fromLatin1(certificate.digest(kind).toHex(':').toUpper());
    };
    fingerprints->Sha256 = hex(QCryptographicHash::Sha256);
    fingerprints->Sha1 = hex(QCryptographicHash::Sha1);
}
} // namespace

void readFingerprint(QObject *context, const QString &host, int port, Done done,
                     const QString &socket)
{
    QPointer<QObject> guard(context);
    std::thread([guard, host, port, socket, done = std::move(done)] {
        Fingerprints fingerprints;
        QString error;
        read(host, port, socket, &fingerprints, &error);
        // Back on the application's thread, where the context may be asked whether it lives.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done, fingerprints, error] {
                if (guard) done(fingerprints, error);
            },
            Qt::QueuedConnection);
    }).detach();
}

QString pinnedForm(const QString &fingerprint)
{
    QString hex = fingerprint;
    hex.remove(QLatin1Char(':'));
    return hex.toLower();
}
} // namespace tlsprobe
