#pragma once

// A tunnel to a database server through the system's OpenSSH, so that the user's ~/.ssh/config
// (aliases, ProxyJump, IdentityFile), the agent, every key type and known_hosts work as in their
// terminal: `ssh -N -L <socket>:<db host>:<db port> <ssh host>`, its local end a Unix socket in a
// private folder (mode 0700) of ours, so no TCP port is opened that another user could use.
// ssh's prompts (a key's passphrase, a password, an unknown host key) come through SSH_ASKPASS:
// this program in its helper mode, which hands each prompt over a private socket to the running
// program and returns the answer given in its boxes. A passphrase or password is kept (in the
// keyring) only when the user ticks "Remember", and only once the tunnel it opened is ready.
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QProcess;
class QTimer;
class QWidget;

namespace sshtunnel {
struct Settings
{
    QString SshHost; // an alias of ~/.ssh/config, or [user@]host[:port]
    QString KeyFile; // optional: -i
    QString DbHost;  // the database server as the SSH host sees it
    int DbPort = 3306;
};

// ssh's arguments for the tunnel, or none with why (a value that would be read as an option,
// or that cannot be a host). configFile: an ssh config to read instead of the user's (-F).
std::optional<QStringList> arguments(const Settings &settings, const QString &socket,
                                     const QString &configFile, QString *why);

enum class PromptKind
{
    HostKey, // an unknown host key: its fingerprint, "Connect" or "Cancel"
    Secret,  // a passphrase or a password
    Confirm  // another yes/no question of ssh's
};
PromptKind kindOf(const QString &prompt);

// In the program's main, first: when this process was started by ssh as SSH_ASKPASS, asks the
// running program for the answer to the prompt in argv[1], writes it to standard output and
// returns the exit code (0 answered, 1 cancelled or failed); otherwise -1.
int runAskpassIfAsked(int argc, char *argv[]);
} // namespace sshtunnel

class TSshTunnel : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReadySeconds = 20;

    explicit TSshTunnel(QObject *parent = nullptr);
    ~TSshTunnel() override; // ends ssh, removes the folder

    // Starts ssh: ready() once the socket accepts a connection; failed() with the last lines ssh
    // wrote when it exits first, or when nothing is ready within ReadySeconds. Prompts are asked
    // over promptParent. False (and failed()) when it cannot even start.
    bool start(const sshtunnel::Settings &settings, QWidget *promptParent);
    // Ends ssh (Stop, Cancel, Disconnect); nothing is reported.
    void stop();
    bool running() const;
    bool isReady() const { return m_ready; }
    QString socketPath() const { return m_socket; }
    QString folder() const { return m_folder; }
    // The last lines ssh wrote to its error output.
    QString errorTail() const;

    // The program ssh runs for prompts: this program unless set (tests name the built one).
    static void setAskpassProgram(const QString &path);
    // An ssh config file read instead of the user's (-F); also QUORVANE_SSH_CONFIG.
    static void setConfigFile(const QString &path);

Q_SIGNALS:
    void ready();
    void failed(const QString &message);
    // ssh ended after the tunnel was ready: the connection through it is lost.
    void ended(const QString &message);
    // A secret the user asked to remember was not taken by the keyring.
    void notKept(const QString &message);

private:
    void probe();
    void processEnded();
    void promptArrived();
    void answerPrompt(QLocalSocket *socket, const QString &prompt);
    void keepAnswers();
    void forgetAnswers();
    void fail(const QString &message);
    void readErrors();
    void cleanUp();

    QProcess *m_process = nullptr;
    QLocalServer *m_prompts = nullptr;
    QTimer *m_probe = nullptr;
    QWidget *m_promptParent = nullptr;
    QString m_folder, m_socket, m_token, m_sshHost;
    // Secrets by keyring entry: to keep once ready, to take out, already read from it.
    QHash<QString, QString> m_toRemember;
    QSet<QString> m_toForget, m_triedKeyring, m_fromKeyring;
    int m_prompting = 0;
    QStringList m_errors;
    QString m_partial;
    qint64 m_started = 0;
    bool m_ready = false;
    bool m_stopping = false;
    bool m_reported = false;
};
