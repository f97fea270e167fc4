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
        m_lines.push_back(line + '\n');
    }
    if (m_entries.size() > std::size_t(Cap)) {
        m_entries.erase(m_entries.begin(), m_entries.end() - Cap);
        m_lines.erase(m_lines.begin(), m_lines.end() - Cap);
    }
}

TSqlHistory::~TSqlHistory()
{
    finishTrim(true);
    if (m_fd >= 0) ::close(m_fd);
}

void TSqlHistory::startTrim()
{
    qsizetype size = 0;
    for (const QByteArray &line : m_lines)
        size += line.size();
    QByteArray content;
    content.reserve(size);
    for (const QByteArray &line : m_lines)
        content += line;
    m_sinceTrim.clear();
    m_trim = std::async(std::launch::async, [path = m_path, content = std::move(content)] {
        return files::writeBeside(path, content, true);
    });
}

bool TSqlHistory::finishTrim(bool wait)
{
    if (!m_trim.valid()) return true;
    if (!wait && m_trim.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return true;
    std::string temporary;
    try {
        temporary = m_trim.get();
    } catch (const std::exception &) {
        m_sinceTrim.clear();
        return false; // the file stays as it was, longer than the cap until the next trim
    }
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    bool ok = fd >= 0;
    for (const QByteArray &line : m_sinceTrim) {
        if (!ok) break;
        ok = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    }
    m_sinceTrim.clear();
    if (ok) {
        try {
            files::putInPlace(temporary, m_path);
        } catch (const TFileError &) {
            ok = false;
        }
    } else {
        ::unlink(temporary.c_str());
    }
    if (!ok) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    // Appends go on in the new file.
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    return true;
}

bool TSqlHistory::appendLine(const QByteArray &line)
{
    if (m_fd < 0) {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        const QByteArray name = QFile::encodeName(m_path);
        m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0) return false;
        // Owner-only even when the file was made by someone else's umask or an older program.
        ::fchmod(m_fd, 0600);
    }
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done == line.size();
}

TSqlHistory::Added TSqlHistory::add(Entry entry)
{
    if (sqlscript::mayCarryPassword(entry.Text.toStdString())) return Added::Withheld;
    finishTrim(false);
    const QByteArray line = lineOf(entry);
    m_entries.push_back(std::move(entry));
    m_lines.push_back(line);
    const bool written = appendLine(line);
    if (m_trim.valid()) m_sinceTrim.push_back(line);
    // Trimmed in steps, so that the file is rewritten once every tenth of the cap, not at every
    // statement of a long script; it holds more than Cap only while a trim is written.
    if (m_entries.size() > std::size_t(Cap)) {
        m_entries.erase(m_entries.begin(), m_entries.end() - (Cap - Cap / 10));
        m_lines.erase(m_lines.begin(), m_lines.end() - (Cap - Cap / 10));
        if (!m_trim.valid()) startTrim();
    }
    return written ? Added::Written : Added::Failed;
}
