#include "keyring.h"

#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <qt6keychain/keychain.h>

#include <memory>

namespace keyring {
namespace {
int g_timeout = 4000;

Answer unavailable(const QString &reason)
{
    return Answer{Answer::Unavailable, QString(), reason};
}

// QtKeychain's jobs, which delete themselves when done. Never its "insecure fallback", which
// would keep the password in a plain settings file.
class SystemBackend : public Backend
{
public:
    void read(const QString &key, Callback done) override
    {
        if (!sessionBus(done)) return;
        auto *job = new QKeychain::ReadPasswordJob(Service);
        prepare(job, key);
        QObject::connect(job, &QKeychain::Job::finished, job, [job, done] {
            if (job->error() == QKeychain::NoError)
                done(Answer{Answer::Found, job->textData(), QString()});
            else if (job->error() == QKeychain::EntryNotFound)
                done(Answer{Answer::NotFound, QString(), QString()});
            else
                done(unavailable(job->errorString()));
        });
        job->start();
    }
    void write(const QString &key, const QString &password, Callback done) override
    {
        if (!sessionBus(done)) return;
        auto *job = new QKeychain::WritePasswordJob(Service);
        prepare(job, key);
        job->setTextData(password);
        QObject::connect(job, &QKeychain::Job::finished, job, [job, done] {
            if (job->error() == QKeychain::NoError)
                done(Answer{Answer::Stored, QString(), QString()});
            else
                done(unavailable(job->errorString()));
        });
        job->start();
    }

    void remove(const QString &key, Callback done) override
    {
        if (!sessionBus(done)) return;
        auto *job = new QKeychain::DeletePasswordJob(Service);
        prepare(job, key);
        QObject::connect(job, &QKeychain::Job::finished, job, [job, done] {
            if (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound)
                done(Answer{Answer::Stored, QString(), QString()});
            else
                done(unavailable(job->errorString()));
        });
        job->start();
    }

private:
    // Without a session bus there is no Secret Service to ask; the library would otherwise try
    // to start a bus of its own.
    static bool sessionBus(const Callback &done)
    {
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
        done(unavailable(QStringLiteral("no session bus")));
        return false;
    }
    static void prepare(QKeychain::Job *job, const QString &key)
    {
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        job->setKey(key);
    }
};

SystemBackend g_system;
Backend *g_backend = &g_system;

// Hands the request to the backend and answers once: its answer or the time-out's, whichever
// comes first; the backend's answer after the time-out goes to late.
void ask(QObject *context, const std::function<void(Callback)> &start, Callback done, Callback late)
{
    auto answered = std::make_shared<bool>(false);
    QPointer<QObject> guard(context);
    auto once = [answered, guard, done = std::move(done)](const Answer &answer) {
        if (*answered) return false;
        *answered = true;
        if (guard) done(answer);
        return true;
    };
    QTimer::singleShot(g_timeout, context, [once] {
        Answer timedOut = unavailable(QStringLiteral("the keyring did not answer in time"));
        timedOut.TimedOut = true;
        once(timedOut);
    });
    start([once, guard, late = std::move(late)](const Answer &answer) {
        if (!once(answer) && guard && late) late(answer);
    });
}
} // namespace

QString keyFor(const QString &user, const QString &host, int port)
{
    // Encoded, so that an "@" or ":" in a user or host name cannot make two entries one.
    return QStringLiteral("mysql://%1@%2:%3")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(user)),
             QString::fromLatin1(QUrl::toPercentEncoding(host)), QString::number(port));
}

QString savedKeyFor(const QString &name)
{
    return QStringLiteral("saved://") + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

QString sshKeyFor(const QString &sshHost, const QString &prompt)
{
    return QStringLiteral("ssh://") + QString::fromLatin1(QUrl::toPercentEncoding(sshHost)) +
           QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(prompt));
}

void removePassword(QObject *context, const QString &key, Callback done)
{
    ask(context, [key](Callback answer) { g_backend->remove(key, std::move(answer)); },
        std::move(done), {});
}

void readPassword(QObject *context, const QString &key, Callback done, Callback late)
{
    ask(
        context, [key](Callback answer) { g_backend->read(key, std::move(answer)); },
        std::move(done), std::move(late));
}

void storePassword(QObject *context, const QString &key, const QString &password, Callback done,
                   Callback late)
{
    ask(
        context,
        [key, password](Callback answer) { g_backend->write(key, password, std::move(answer)); },
        std::move(done), std::move(late));
}

Backend *setBackend(Backend *backend)
{
    Backend *old = g_backend;
    g_backend = backend ? backend : &g_system;
    return old;
}

int timeout()
{
    return g_timeout;
}

void setTimeout(int milliseconds)
{
    g_timeout = milliseconds;
}
} // namespace keyring
