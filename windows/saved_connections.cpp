#include "saved_connections.h"

#include <QSettings>

namespace savedconnections {
namespace {
const QString Group = QStringLiteral("saved-connections");

// Written whole each time: an array keeps the order and takes any name as a value, not a key.
void writeAll(const QList<TSavedConnection> &list)
{
    QSettings preferences;
    preferences.remove(Group);
    preferences.beginWriteArray(Group, int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        const TSavedConnection &c = list[i];
        preferences.setArrayIndex(i);
        preferences.setValue(QStringLiteral("name"), c.Name);
        preferences.setValue(QStringLiteral("host"), c.Host);
        preferences.setValue(QStringLiteral("user"), c.User);
        preferences.setValue(QStringLiteral("port"), c.Port);
        preferences.setValue(QStringLiteral("tls"), c.Tls);
        preferences.setValue(QStringLiteral("ca-file"), c.CaFile);
        preferences.setValue(QStringLiteral("ssh"), c.Ssh);
        preferences.setValue(QStringLiteral("ssh-host"), c.SshHost);
        preferences.setValue(QStringLiteral("ssh-key-file"), c.SshKeyFile);
    }
    preferences.endArray();
}
} // namespace

QList<TSavedConnection> all()
{
    QSettings preferences;
    QList<TSavedConnection> list;
    const int count = preferences.beginReadArray(Group);
    for (int i = 0; i < count; ++i) {
        preferences.setArrayIndex(i);
        TSavedConnection c;
        c.Name = preferences.value(QStringLiteral("name")).toString();
        c.Host = preferences.value(QStringLiteral("host")).toString();
        c.User = preferences.value(QStringLiteral("user")).toString();
        c.Port = preferences.value(QStringLiteral("port")).toString();
        c.Tls = preferences.value(QStringLiteral("tls")).toString();
        c.CaFile = preferences.value(QStringLiteral("ca-file")).toString();
        c.Ssh = preferences.value(QStringLiteral("ssh")).toBool();
        c.SshHost = preferences.value(QStringLiteral("ssh-host")).toString();
        c.SshKeyFile = preferences.value(QStringLiteral("ssh-key-file")).toString();
        if (!c.Name.isEmpty()) list << c;
    }
    preferences.endArray();
    return list;
}

std::optional<TSavedConnection> find(const QString &name)
{
    for (const TSavedConnection &c : all())
        if (c.Name == name) return c;
    return std::nullopt;
}

void save(const TSavedConnection &connection)
{
    QList<TSavedConnection> list = all();
    bool replaced = false;
    for (TSavedConnection &c : list) {
        if (c.Name != connection.Name) continue;
        c = connection;
        replaced = true;
    }
    if (!replaced) list << connection;
    writeAll(list);
}

void remove(const QString &name)
{
    QList<TSavedConnection> list = all();
    list.removeIf([&](const TSavedConnection &c) { return c.Name == name; });
    writeAll(list);
}
} // namespace savedconnections
