#pragma once

// The structure of a table: its columns, indexes, foreign keys and triggers, each an accessible
// table, and its CREATE statement, read-only with a Copy button. Read on the main connection.
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableWidget;
class TmySQLClient;
class TmySQLClientQuery;

class TTableStructure : public QWidget
{
    Q_OBJECT
public:
    explicit TTableStructure(QWidget *parent = nullptr);

    // Asks for all of it; the lists fill as the answers come. A failure goes to onError.
    void load(TmySQLClient *client, const QString &database, const QString &table,
              std::function<void(const QString &)> onError);
    QString database() const { return m_database; }
    QString table() const { return m_table; }
    // How many of the five answers are in, for this table.
    int answers() const { return m_answers; }

    QLabel *Caption = nullptr;
    QTabWidget *Tabs = nullptr;
    QTableWidget *Columns = nullptr;
    QTableWidget *Indexes = nullptr;
    QTableWidget *ForeignKeys = nullptr;
    QTableWidget *Triggers = nullptr;
    QPlainTextEdit *CreateText = nullptr;

private:
    static QTableWidget *list(QWidget *parent, const QString &name, const QStringList &headers);
    void fill(QTableWidget *list, const std::vector<QStringList> &rows);

    QString m_database;
    QString m_table;
    quint64 m_load = 0;
    int m_answers = 0;
};
