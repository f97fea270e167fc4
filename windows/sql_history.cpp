#include "sql_history.h"

#include "SqlScript.h"
#include "files.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray lineOf(const TSqlHistory::Entry &e)
{
    QJsonObject o;
    o[QStringLiteral("sql")] = e.Text;
    o[QStringLiteral("db")] = e.Database;
    o[QStringLiteral("at")] = e.Started.toUTC().toString(Qt::ISODateWithMs);
    o[QStringLiteral("us")] = e.Microseconds;
    o[QStringLiteral("out")] = e.Outcome;
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}
} // namespace

QString TSqlHistory::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/sql_history.jsonl");
}

TSqlHistory::TSqlHistory(QString path) : m_path(std::move(path))
{
    load();
}

void TSqlHistory::load()
{
    QByteArray all;
    try {
        all = files::readAll(m_path);
    } catch (const TFileError &) {
        return; // none yet
    }
    for (const QByteArray &line : all.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.contains(QStringLiteral("sql"))) continue; // a torn last line, or not ours
        Entry e;
        e.Text = o.value(QStringLiteral("sql")).toString();
        e.Database = o.value(QStringLiteral("db")).toString();
        e.Started =
            QDateTime::fromString(o.value(QStringLiteral("at")).toString(), Qt::ISODateWithMs);
        e.Microseconds = o.value(QStringLiteral("us")).toInteger();
        e.Outcome = o.value(QStringLiteral("out")).toString();
        m_entries.push_back(std::move(e));
    }
    if (m_entries.size() > std::size_t(Cap))
        m_entries.erase(m_entries.begin(), m_entries.end() - Cap);
}

TSqlHistory::~TSqlHistory()
{
    if (m_fd >= 0) ::close(m_fd);
}

bool TSqlHistory::rewrite()
{
    // The file is replaced: the next entry opens the new one.
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    QByteArray content;
    for (const Entry &e : m_entries)
        content += lineOf(e);
    try {
        files::replaceAtomically(m_path, content, true);
        return true;
    } catch (const TFileError &) {
        return false;
    }
}

TSqlHistory::Added TSqlHistory::add(Entry entry)
{
    if (sqlscript::mayCarryPassword(entry.Text.toStdString())) return Added::Withheld;
    const QByteArray line = lineOf(entry);
    m_entries.push_back(std::move(entry));
    // Trimmed in steps, so that the file is rewritten once every tenth of the cap, not at every
    // statement of a long script; it never holds more than Cap.
    if (m_entries.size() > std::size_t(Cap)) {
        m_entries.erase(m_entries.begin(), m_entries.end() - (Cap - Cap / 10));
        return rewrite() ? Added::Written : Added::Failed;
    }
    if (m_fd < 0) {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        const QByteArray name = QFile::encodeName(m_path);
        m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0) return Added::Failed;
        // Owner-only even when the file was made by someone else's umask or an older program.
        ::fchmod(m_fd, 0600);
    }
    const int fd = m_fd;
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done == line.size() ? Added::Written : Added::Failed;
}
