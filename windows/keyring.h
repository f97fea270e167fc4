#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The system keyring (the Secret Service on Linux, through QtKeychain), asked without ever
// waiting on it: every request is answered exactly once, on the window thread, and within the
// time-out at the latest. A locked keyring may wait for a prompt nobody sees; that is an answer
// of "unavailable" here, never a frozen window.
namespace keyring {
struct Answer
{
    enum Kind
    {
        Stored,     // a write was taken
        Found,      // a read found the entry: Password holds it
        NotFound,   // a read found no entry
        Unavailable // no keyring, it refused, or it did not answer in time: Reason says which
    };
    Kind kind = Unavailable;
    QString Password;
    QString Reason;
    // Unavailable because the time-out came first: the keyring may still answer (see late).
    bool TimedOut = false;
};
using Callback = std::function<void(const Answer &)>;

// The entry of a connection: user, host and port, told apart whatever characters they hold.
QString keyFor(const QString &user, const QString &host, int port);
// The entry of a saved connection, by its name (any characters).
QString savedKeyFor(const QString &name);
// The entry of an answer to one of ssh's prompts (a key's passphrase, a password) for an SSH
// host: the prompt names the key or the account, so each has its own.
QString sshKeyFor(const QString &sshHost, const QString &prompt);

// The answer comes through done, unless context is gone by then. When the time-out answered
// first, the keyring's own answer, if it ever comes, goes to late: a read still has the
// password, and a write may have been taken after all.
void readPassword(QObject *context, const QString &key, Callback done, Callback late = {});
void storePassword(QObject *context, const QString &key, const QString &password, Callback done,
                   Callback late = {});
// Takes the entry out: Stored when it is gone (or was never there).
void removePassword(QObject *context, const QString &key, Callback done);

// What talks to a keyring. It may answer at once, later on the window thread, or never.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual void read(const QString &key, Callback done) = 0;
    virtual void write(const QString &key, const QString &password, Callback done) = 0;
    virtual void remove(const QString &, Callback done)
    {
        done(Answer{Answer::Unavailable, QString(), QStringLiteral("cannot remove entries")});
    }
};
// Puts another backend in place (not owned; nullptr: the system's); returns the one before.
Backend *setBackend(Backend *backend);
// Milliseconds a request waits for its answer.
int timeout();
void setTimeout(int milliseconds);

// The name the program's entries are kept under.
inline const QString Service = QStringLiteral("MySQL Quorvane");
} // namespace keyring
