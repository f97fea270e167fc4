#include "ssh_tunnel.h"

#include "common.h"
#include "keyring.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QString g_askpassProgram;
QString g_configFile;
constexpr int KeptErrorLines = 40;

bool plainText(const QString &text)
{
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control) return false;
    return true;
}

// A connected AF_UNIX socket to path, or -1.
int connectUnix(const std::string &path)
{
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

namespace sshtunnel {

std::optional<QStringList> arguments(const Settings &settings, const QString &socket,
                                     const QString &configFile, QString *why)
{
    const auto refuse = [why](const QString &text) {
        if (why) *why = text;
        return std::nullopt;
    };
    const QString ssh = settings.SshHost.trimmed();
    if (ssh.isEmpty()) return refuse(QStringLiteral("No SSH host given"));
    // Anything ssh could read as an option (-oProxyCommand=...) is no host.
    if (ssh.startsWith(QLatin1Char('-')) || !plainText(ssh))
        return refuse(QStringLiteral("The SSH host is not a host name: ") + ssh);
    static const QRegularExpression form(QStringLiteral(
        "^(?:([^@\\[\\]]+)@)?([^@:\\[\\]]+|\\[[0-9A-Fa-f:.]+\\])(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch parts = form.match(ssh);
    if (!parts.hasMatch() || parts.captured(1).startsWith(QLatin1Char('-')))
        return refuse(QStringLiteral("The SSH host is not a host name: ") + ssh);
    const QString db = settings.DbHost.trimmed().isEmpty() ? QStringLiteral("localhost")
                                                           : settings.DbHost.trimmed();
    if (!plainText(db) || db.contains(QLatin1Char('/')) || db.contains(QLatin1Char('[')))
        return refuse(QStringLiteral("The database host is not a host name: ") + db);
    if (settings.DbPort < 1 || settings.DbPort > 65535)
        return refuse(QStringLiteral("The database port is not a port: %1").arg(settings.DbPort));
    QStringList args{QStringLiteral("-N"), QStringLiteral("-o"),
                     QStringLiteral("ExitOnForwardFailure=yes"), QStringLiteral("-o"),
                     QStringLiteral("StreamLocalBindUnlink=yes"),
                     // The socket only its owner may use, inside a folder only its owner may enter.
                     QStringLiteral("-o"), QStringLiteral("StreamLocalBindMask=0177"),
                     // A tunnel that died on the way is noticed, not waited on for ever.
                     QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=15"),
                     QStringLiteral("-o"), QStringLiteral("ServerAliveCountMax=3"),
                     QStringLiteral("-o"), QStringLiteral("ConnectTimeout=15")};
    if (!configFile.isEmpty()) args << QStringLiteral("-F") << configFile;
    if (!parts.captured(3).isEmpty()) {
        const int port = parts.captured(3).toInt();
        if (port < 1 || port > 65535)
            return refuse(QStringLiteral("The SSH port is not a port: ") + parts.captured(3));
        args << QStringLiteral("-p") << QString::number(port);
    }
    if (!settings.KeyFile.trimmed().isEmpty()) args << QStringLiteral("-i") << settings.KeyFile;
    const QString target =
        db.contains(QLatin1Char(':')) ? QLatin1Char('[') + db + QLatin1Char(']') : db;
    args << QStringLiteral("-L")
         << socket + QLatin1Char(':') + target + QLatin1Char(':') +
                QString::number(settings.DbPort);
    QString destination = parts.captured(2);
    if (destination.startsWith(QLatin1Char('[')))
        destination = destination.mid(1, destination.size() - 2);
    if (!parts.captured(1).isEmpty())
        destination = parts.captured(1) + QLatin1Char('@') + destination;
    args << QStringLiteral("--") << destination;
    return args;
}

PromptKind kindOf(const QString &prompt)
{
    if (prompt.contains(QStringLiteral("continue connecting"), Qt::CaseInsensitive))
        return PromptKind::HostKey;
    if (prompt.contains(QStringLiteral("(yes/no"), Qt::CaseInsensitive)) return PromptKind::Confirm;
    return PromptKind::Secret;
}

int runAskpassIfAsked(int argc, char *argv[])
{
    const char *path = std::getenv("QUORVANE_ASKPASS");
    const char *token = std::getenv("QUORVANE_ASKPASS_TOKEN");
    if (!path || !*path || !token) return -1;
    const std::string prompt = argc > 1 && argv[1] ? argv[1] : "";
    const int fd = connectUnix(path);
    if (fd < 0) {
        std::fprintf(stderr, "quorvane: the program that asked is gone\n");
        return 1;
    }
    // The token, the prompt's length, the prompt; the answer comes back as '1' and its text, or
    // '0' for none, and the other side closes.
    const std::string request =
        std::string(token) + "\n" + std::to_string(prompt.size()) + "\n" + prompt;
    if (!writeAll(fd, request)) {
        ::close(fd);
        return 1;
    }
    std::string reply;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (reply.empty() || reply[0] != '1') return 1;
    const std::string answer = reply.substr(1) + "\n";
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
    return 0;
}
} // namespace sshtunnel

TSshTunnel::TSshTunnel(QObject *parent) : QObject(parent) {}

TSshTunnel::~TSshTunnel()
{
    m_stopping = true;
    cleanUp();
}

void TSshTunnel::setAskpassProgram(const QString &path)
{
    g_askpassProgram = path;
}

void TSshTunnel::setConfigFile(const QString &path)
{
    g_configFile = path;
}

bool TSshTunnel::running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

QString TSshTunnel::errorTail() const
{
    QStringList lines = m_errors;
    if (!m_partial.isEmpty()) lines << m_partial;
    return lines.join(QLatin1Char('\n'));
}

bool TSshTunnel::start(const sshtunnel::Settings &settings, QWidget *promptParent)
{
    cleanUp();
    m_ready = m_stopping = m_reported = false;
    m_prompting = 0;
    forgetAnswers();
    m_sshHost = settings.SshHost.trimmed();
    m_errors.clear();
    m_partial.clear();
    m_promptParent = promptParent;
    // A folder only we may enter (mkdtemp makes it 0700), short enough for a socket's path.
    QString base = QDir::tempPath();
    if (base.size() > 60) base = QStringLiteral("/tmp");
    QByteArray pattern = QFile::encodeName(base + QStringLiteral("/quorvane-ssh-XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        fail(QStringLiteral("The SSH tunnel's folder could not be made: ") +
             QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_folder = QFile::decodeName(pattern);
    m_socket = m_folder + QStringLiteral("/db.sock");
    QString why;
    const QString config =
        g_configFile.isEmpty() ? qEnvironmentVariable("QUORVANE_SSH_CONFIG") : g_configFile;
    const std::optional<QStringList> args = sshtunnel::arguments(settings, m_socket, config, &why);
    if (!args) {
        fail(why);
        return false;
    }
    m_token = QString::number(QRandomGenerator::system()->generate64(), 16) +
              QString::number(QRandomGenerator::system()->generate64(), 16);
    m_prompts = new QLocalServer(this);
    m_prompts->setSocketOptions(QLocalServer::UserAccessOption);
    const QString askpassSocket = m_folder + QStringLiteral("/askpass.sock");
    if (!m_prompts->listen(askpassSocket)) {
        fail(QStringLiteral("The SSH prompts' socket could not be made: ") +
             m_prompts->errorString());
        return false;
    }
    connect(m_prompts, &QLocalServer::newConnection, this, &TSshTunnel::promptArrived);

    m_process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString program =
        g_askpassProgram.isEmpty() ? QCoreApplication::applicationFilePath() : g_askpassProgram;
    env.insert(QStringLiteral("SSH_ASKPASS"), program);
    env.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    env.insert(QStringLiteral("QUORVANE_ASKPASS"), askpassSocket);
    env.insert(QStringLiteral("QUORVANE_ASKPASS_TOKEN"), m_token);
    m_process->setProcessEnvironment(env);
    m_process->setStandardInputFile(QProcess::nullDevice());
    // ssh goes with this program even when it is killed and cannot end it.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->setStandardOutputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardError, this, &TSshTunnel::readErrors);
    connect(m_process, &QProcess::finished, this, &TSshTunnel::processEnded);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QStringLiteral("The ssh program could not be started (is openssh-client "
                                "installed?): ") +
                 m_process->errorString());
    });
    m_started = QDateTime::currentMSecsSinceEpoch();
    m_process->start(QStringLiteral("ssh"), *args);
    m_probe = new QTimer(this);
    m_probe->setInterval(10); // a failed connect to a socket not there yet costs nothing
    connect(m_probe, &QTimer::timeout, this, &TSshTunnel::probe);
    m_probe->start();
    return true;
}

void TSshTunnel::stop()
{
    m_stopping = true;
    cleanUp();
}

void TSshTunnel::cleanUp()
{
    if (m_probe) {
        m_probe->stop();
        m_probe->deleteLater();
        m_probe = nullptr;
    }
    if (m_process) {
        m_process->disconnect(this);
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(2000)) {
                m_process->kill();
                m_process->waitForFinished(2000);
            }
        }
        m_process->deleteLater();
        m_process = nullptr;
    }
    if (m_prompts) {
        m_prompts->close();
        m_prompts->deleteLater();
        m_prompts = nullptr;
    }
    if (!m_folder.isEmpty()) QDir(m_folder).removeRecursively();
    m_folder.clear();
    m_socket.clear();
    m_ready = false;
    forgetAnswers();
}

void TSshTunnel::probe()
{
    if (m_ready || !m_process) return;
    // Ready when the local end accepts a connection: ssh made it only once it was through.
    const int fd = connectUnix(QFile::encodeName(m_socket).toStdString());
    if (fd >= 0) {
        ::close(fd);
        m_ready = true;
        m_probe->stop();
        keepAnswers();
        Q_EMIT ready();
        return;
    }
    if (m_prompting == 0 && QDateTime::currentMSecsSinceEpoch() - m_started > ReadySeconds * 1000) {
        const QString tail = errorTail();
        fail(QStringLiteral("The SSH tunnel was not ready within %1 s").arg(ReadySeconds) +
             (tail.isEmpty() ? QString() : QStringLiteral(": ") + tail));
    }
}

void TSshTunnel::readErrors()
{
    if (!m_process) return;
    m_partial += QString::fromLocal8Bit(m_process->readAllStandardError());
    QStringList lines = m_partial.split(QLatin1Char('\n'));
    m_partial = lines.takeLast();
    for (QString &line : lines) {
        line.remove(QLatin1Char('\r'));
        if (!line.isEmpty()) m_errors << line;
    }
    while (m_errors.size() > KeptErrorLines)
        m_errors.removeFirst();
}

void TSshTunnel::processEnded()
{
    readErrors();
    if (m_stopping) return;
    const QString tail = errorTail();
    const int code = m_process ? m_process->exitCode() : -1;
    const QString text =
        tail.isEmpty() ? QStringLiteral("ssh ended (exit code %1)").arg(code) : tail;
    if (m_ready) {
        m_ready = false;
        if (m_probe) m_probe->stop();
        Q_EMIT ended(QStringLiteral("The SSH tunnel ended: ") + text);
        return;
    }
    fail(QStringLiteral("The SSH tunnel could not be made: ") + text);
}

void TSshTunnel::fail(const QString &message)
{
    if (m_reported) return;
    m_reported = true;
    m_stopping = true;
    if (m_probe) m_probe->stop();
    // Reported once the process is gone: a caller may start again from the signal.
    QTimer::singleShot(0, this, [this, message] {
        cleanUp();
        Q_EMIT failed(message);
    });
}

void TSshTunnel::promptArrived()
{
    while (m_prompts && m_prompts->hasPendingConnections()) {
        QLocalSocket *socket = m_prompts->nextPendingConnection();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto *buffer = new QByteArray;
        connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype tokenEnd = buffer->indexOf('\n');
            const qsizetype lengthEnd = tokenEnd < 0 ? -1 : buffer->indexOf('\n', tokenEnd + 1);
            if (lengthEnd < 0) {
                if (buffer->size() > 256) socket->abort();
                return;
            }
            if (buffer->left(tokenEnd) != m_token.toLatin1()) {
                socket->abort();
                return;
            }
            bool ok = false;
            const qsizetype length =
                buffer->mid(tokenEnd + 1, lengthEnd - tokenEnd - 1).toLongLong(&ok);
            if (!ok || length < 0 || length > 65536) {
                socket->abort();
                return;
            }
            if (buffer->size() - lengthEnd - 1 < length) return; // more to come
            const QString prompt = QString::fromLocal8Bit(buffer->mid(lengthEnd + 1, length));
            buffer->clear();
            socket->disconnect(this); // one prompt a connection
            answerPrompt(socket, prompt);
        });
    }
}

void TSshTunnel::answerPrompt(QLocalSocket *socket, const QString &prompt)
{
    QPointer<TSshTunnel> self(this);
    QPointer<QLocalSocket> alive(socket);
    const auto reply = [self, alive](const std::optional<QString> &answer) {
        if (!self || !alive) return; // stopped while the box was open
        QByteArray bytes = answer ? QByteArray("1") + answer->toLocal8Bit() : QByteArray("0");
        alive->write(bytes);
        bytes.fill('\0');
        alive->flush();
        alive->disconnectFromServer();
    };
    // The time the user takes to answer is not the tunnel's: the ready clock waits meanwhile.
    const qint64 asked = QDateTime::currentMSecsSinceEpoch();
    ++m_prompting;
    const auto answered = [self, asked] {
        if (!self) return;
        --self->m_prompting;
        self->m_started += QDateTime::currentMSecsSinceEpoch() - asked;
    };
    switch (sshtunnel::kindOf(prompt)) {
    case sshtunnel::PromptKind::HostKey: {
        const QString chosen =
            ui::askQuestion(m_promptParent, QStringLiteral("SSH host key"), prompt,
                            {QStringLiteral("Connect"), QStringLiteral("Cancel")});
        answered();
        reply(chosen == QLatin1String("Connect") ? QStringLiteral("yes") : QStringLiteral("no"));
        return;
    }
    case sshtunnel::PromptKind::Confirm: {
        const QString chosen = ui::askQuestion(m_promptParent, QStringLiteral("SSH"), prompt,
                                               {QStringLiteral("Yes"), QStringLiteral("No")});
        answered();
        reply(chosen == QLatin1String("Yes") ? QStringLiteral("yes") : QStringLiteral("no"));
        return;
    }
    case sshtunnel::PromptKind::Secret:
        break;
    }
    const QString text = prompt.trimmed();
    const QString key = keyring::sshKeyFor(m_sshHost, text);
    const auto askUser = [self, text, key, reply, answered] {
        if (!self) return;
        bool remember = false;
        const std::optional<QString> answer =
            ui::askSecret(self->m_promptParent, QStringLiteral("SSH"), text, &remember);
        answered();
        if (!self) return;
        if (answer && remember)
            self->m_toRemember.insert(key, *answer);
        else
            self->m_toRemember.remove(key);
        reply(answer);
    };
    // The keyring's answer first, once a tunnel: asked again, what it held was refused, and the
    // entry goes unless the user has it remembered anew.
    if (m_triedKeyring.contains(key)) {
        if (m_fromKeyring.contains(key)) m_toForget.insert(key);
        askUser();
        return;
    }
    m_triedKeyring.insert(key);
    keyring::readPassword(this, key,
                          [self, key, reply, answered, askUser](const keyring::Answer &answer) {
                              if (!self) return;
                              if (answer.kind != keyring::Answer::Found) {
                                  askUser();
                                  return;
                              }
                              self->m_fromKeyring.insert(key);
                              answered();
                              reply(answer.Password);
                          });
}

void TSshTunnel::keepAnswers()
{
    // Only what let the tunnel through is kept; a refused entry is taken out.
    for (auto it = m_toRemember.begin(); it != m_toRemember.end(); ++it) {
        m_toForget.remove(it.key());
        keyring::storePassword(this, it.key(), it.value(), [this](const keyring::Answer &answer) {
            if (answer.kind != keyring::Answer::Stored)
                Q_EMIT notKept(QStringLiteral("The SSH secret was not remembered: no keyring "
                                              "took it (") +
                               answer.Reason + QLatin1Char(')'));
        });
        it.value().fill(QLatin1Char('\0'));
    }
    for (const QString &key : std::as_const(m_toForget))
        keyring::removePassword(this, key, [](const keyring::Answer &) {});
    forgetAnswers();
}

void TSshTunnel::forgetAnswers()
{
    for (QString &value : m_toRemember)
        value.fill(QLatin1Char('\0'));
    m_toRemember.clear();
    m_toForget.clear();
    m_triedKeyring.clear();
    m_fromKeyring.clear();
}
