#pragma once

#include <QDateTime>
#include <QString>

#include <future>
#include <string>
#include <vector>

// The SQL editor's history: every statement run, with its database, start, duration and outcome,
// one JSON object a line in a file readable by its owner only, the newest last, at most Cap
// entries kept. A statement that may carry a password is never written (sqlscript::
// mayCarryPassword). Entries are appended; the trim to the cap rewrites the file in the
// background (its flush may take longer than a frame), the lines added meanwhile then appended
// to the new file before it takes the old one's place.
class TSqlHistory
{
public:
    static constexpr int Cap = 10000;
    struct Entry
    {
        QString Text;
        QString Database;
        QDateTime Started;
        qint64 Microseconds = 0;
        QString Outcome;
    };
    // The file in the user's data folder (QStandardPaths::AppDataLocation).
    static QString defaultPath();
    explicit TSqlHistory(QString path = defaultPath());
    ~TSqlHistory(); // a trim under way is finished
    TSqlHistory(const TSqlHistory &) = delete;
    TSqlHistory &operator=(const TSqlHistory &) = delete;

    enum class Added
    {
        Written,
        Withheld, // may carry a password
        Failed    // the file could not be written (the entry is kept for this run)
    };
    Added add(Entry entry);
    // What the file held when opened, and what was added since; the newest last.
    const std::vector<Entry> &entries() const { return m_entries; }
    QString path() const { return m_path; }

private:
    void load();
    bool appendLine(const QByteArray &line);
    void startTrim();
    // The trim written in the background put in place: wait for it, or only if it is done.
    bool finishTrim(bool wait);
    QString m_path;
    std::vector<Entry> m_entries;
    // Each entry's line as the file holds it, made once: a rewrite only joins them.
    std::vector<QByteArray> m_lines;
    int m_fd = -1;                       // kept open for appending while entries come
    std::future<std::string> m_trim;     // the new file's temporary name, or a failure
    std::vector<QByteArray> m_sinceTrim; // lines added while it is written
};
