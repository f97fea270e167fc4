#pragma once

// Named connections the login dialog offers: where and how to connect, never a password (that is
// in the keyring, under the connection's own entry). Kept in the program's preferences; a name is
// kept and shown as typed, whatever its characters.
#include <QList>
#include <QString>

#include <optional>

struct TSavedConnection
{
    QString Name;
    QString Host;
    QString User;
    QString Port;
    QString Tls; // the TLS mode's stored name ("preferred", "verify-ca", ...)
    QString CaFile;
    bool Ssh = false;
    QString SshHost;
    QString SshKeyFile;
};

namespace savedconnections {
QList<TSavedConnection> all(); // in the order saved
std::optional<TSavedConnection> find(const QString &name);
// Adds it, or replaces the one of the same name in its place.
void save(const TSavedConnection &connection);
void remove(const QString &name);
} // namespace savedconnections
