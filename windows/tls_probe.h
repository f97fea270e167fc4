#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The certificate a server shows, read before anything of the user's is sent: for trusting a
// self-signed certificate by its fingerprint.
namespace tlsprobe {
// The fingerprints of the certificate's DER form, "AB:CD:…": SHA-256 is what the user sees,
// trusts and we compare; SHA-1 is the only kind this client library can pin (it refuses every
// form of a SHA-256 one), so the connect pins the SHA-1 of the certificate whose SHA-256 matched.
struct Fingerprints
{
    QString Sha256;
    QString Sha1;
};
// Empty fingerprints and the reason when none could be read.
using Done = std::function<void(const Fingerprints &shown, const QString &error)>;
// Asks on a thread of its own; done runs on context's thread, unless context is gone by then.
// socket: an SSH tunnel's local end, reached instead of host and port.
void readFingerprint(QObject *context, const QString &host, int port, Done done,
                     const QString &socket = QString());
// The form the client library takes: hexadecimal digits only.
QString pinnedForm(const QString &fingerprint);
} // namespace tlsprobe
