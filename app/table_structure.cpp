#include "table_structure.h"

#include "mySQLClient.h"
#include "table_statements.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
// A result's cells as text, NULL as "NULL".
std::vector<QStringList> rowsOf(TmySQLClientQuery *q, const std::vector<int> &columns)
{
    std::vector<QStringList> rows;
    rows.reserve(static_cast<std::size_t>(q->RowCount()));
    for (int r = 0; r < q->RowCount(); ++r) {
        QStringList row;
        for (const int c : columns)
            row << (q->IsNull(r, c) ? QStringLiteral("NULL")
                                    : QString::fromUtf8(q->ValueBytes(r, c)));
        rows.push_back(row);
    }
    return rows;
}

int columnNamed(TmySQLClientQuery *q, const char *name)
{
    for (int c = 0; c < q->FieldCount(); ++c)
        if (q->FieldName(c).compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return c;
    return -1;
}
} // namespace

TTableStructure::TTableStructure(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Table_Structure"));
    auto *layout = new QVBoxLayout(this);
    Caption = new QLabel(QStringLiteral("Table Structure"), this);
    Caption->setObjectName(QStringLiteral("Structure_caption"));
    QFont f = font();
    f.setPixelSize(16);
    f.setBold(true);
    Caption->setFont(f);
    layout->addWidget(Caption);
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Structure_tabs"));
    Tabs->setAccessibleName(QStringLiteral("Structure_tabs"));
    Columns = list(this, QStringLiteral("Structure_columns"),
                   {"Name", "Type", "Collation", "NULL", "Key", "Default", "Extra", "Comment"});
    Indexes =
        list(this, QStringLiteral("Structure_indexes"), {"Name", "Columns", "Unique", "Type"});
    ForeignKeys =
        list(this, QStringLiteral("Structure_foreign_keys"), {"Name", "Column", "References"});
    Triggers =
        list(this, QStringLiteral("Structure_triggers"), {"Name", "Timing", "Event", "Statement"});
    Tabs->addTab(Columns, QStringLiteral("Columns"));
    Tabs->addTab(Indexes, QStringLiteral("Indexes"));
    Tabs->addTab(ForeignKeys, QStringLiteral("Foreign keys"));
    Tabs->addTab(Triggers, QStringLiteral("Triggers"));
    auto *create = new QWidget(this);
    auto *createLayout = new QVBoxLayout(create);
    CreateText = new QPlainTextEdit(create);
    CreateText->setObjectName(QStringLiteral("Structure_create"));
    CreateText->setAccessibleName(QStringLiteral("Structure_create"));
    CreateText->setReadOnly(true);
    CreateText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::Monospace);
    CreateText->setFont(mono);
    createLayout->addWidget(CreateText, 1);
    auto *copy = new QPushButton(QStringLiteral("Copy"), create);
    copy->setObjectName(QStringLiteral("Structure_copy"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(CreateText->toPlainText()); });
    createLayout->addWidget(copy, 0, Qt::AlignRight);
    Tabs->addTab(create, QStringLiteral("CREATE"));
    layout->addWidget(Tabs, 1);
}

QTableWidget *TTableStructure::list(QWidget *parent, const QString &name,
                                    const QStringList &headers)
{
    auto *t = new QTableWidget(0, int(headers.size()), parent);
    t->setObjectName(name);
    t->setAccessibleName(name);
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setWordWrap(false);
    // The corner button selects every row: named for screen readers like any glyph button.
    for (QAbstractButton *corner : t->findChildren<QAbstractButton *>()) {
        corner->setAccessibleName(QStringLiteral("Select all"));
        corner->setToolTip(QStringLiteral("Select all"));
    }
    return t;
}

void TTableStructure::fill(QTableWidget *list, const std::vector<QStringList> &rows)
{
    // One layout pass for all rows: a table of a thousand columns fills at once.
    list->setUpdatesEnabled(false);
    list->clearContents();
    list->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < rows[std::size_t(r)].size() && c < list->columnCount(); ++c)
            list->setItem(r, c, new QTableWidgetItem(rows[std::size_t(r)][c]));
    list->setUpdatesEnabled(true);
}

void TTableStructure::load(TmySQLClient *client, const QString &database, const QString &table,
                           std::function<void(const QString &)> onError)
{
    m_database = database;
    m_table = table;
    m_answers = 0;
    const quint64 load = ++m_load;
    Caption->setText(QStringLiteral("Table Structure: ") + table);
    for (QTableWidget *t : {Columns, Indexes, ForeignKeys, Triggers})
        t->setRowCount(0);
    CreateText->clear();
    if (!client || !client->Connected() || !client->Query()) return;
    const std::string db = database.toStdString(), name = table.toStdString();
    QPointer<TTableStructure> self(this);
    // Each answer is kept only if it is for the table asked for last.
    auto answer = [self, load](std::function<void(TmySQLClientQuery *)> use) {
        return [self, load, use](QObject *sender) {
            auto *q = static_cast<TmySQLClientQuery *>(sender);
            if (self && self->m_load == load) {
                use(q);
                ++self->m_answers;
            }
            q->Clear();
        };
    };
    auto failed = [self, load, onError](QObject *, const QString &msg) {
        if (self && self->m_load == load) {
            ++self->m_answers;
            if (onError) onError(msg);
        }
    };
    client->Query()->SubmitStatementWithHandlers(
        tablesql::Columns(db, name), "Table Columns", false, answer([this](TmySQLClientQuery *q) {
            std::vector<int> columns;
            for (const char *n :
                 {"Field", "Type", "Collation", "Null", "Key", "Default", "Extra", "Comment"})
                columns.push_back(columnNamed(q, n));
            if (std::find(columns.begin(), columns.end(), -1) != columns.end()) return;
            fill(Columns, rowsOf(q, columns));
        }),
        failed);
    client->Query()->SubmitStatementWithHandlers(
        tablesql::Indexes(db, name), "Table Indexes", false, answer([this](TmySQLClientQuery *q) {
            const int name = columnNamed(q, "Key_name"), seq = columnNamed(q, "Seq_in_index"),
                      col = columnNamed(q, "Column_name"), nonUnique = columnNamed(q, "Non_unique"),
                      type = columnNamed(q, "Index_type");
            if (name < 0 || seq < 0 || col < 0 || nonUnique < 0 || type < 0) return;
            std::vector<tablesql::IndexRow> rows;
            for (int r = 0; r < q->RowCount(); ++r)
                rows.push_back({std::string(q->ValueBytes(r, name)),
                                std::atoi(std::string(q->ValueBytes(r, seq)).c_str()),
                                q->IsNull(r, col) ? std::string("(expression)")
                                                  : std::string(q->ValueBytes(r, col)),
                                q->ValueBytes(r, nonUnique) != "0",
                                std::string(q->ValueBytes(r, type))});
            std::vector<QStringList> shown;
            for (const tablesql::Index &index : tablesql::GroupIndexes(rows)) {
                QStringList columns;
                for (const std::string &c : index.Columns)
                    columns << QString::fromStdString(c);
                shown.push_back({QString::fromStdString(index.Name),
                                 columns.join(QStringLiteral(", ")),
                                 index.Unique ? QStringLiteral("Yes") : QStringLiteral("No"),
                                 QString::fromStdString(index.Type)});
            }
            fill(Indexes, shown);
        }),
        failed);
    client->Query()->SubmitStatementWithHandlers(
        tablesql::ForeignKeys(db, name), "Table Foreign Keys", false,
        answer([this](TmySQLClientQuery *q) {
            std::vector<QStringList> shown;
            for (const QStringList &row : rowsOf(q, {0, 1, 2, 3, 4}))
                shown.push_back({row[0], row[1],
                                 row[2] + QLatin1Char('.') + row[3] + QLatin1Char('.') + row[4]});
            fill(ForeignKeys, shown);
        }),
        failed);
    client->Query()->SubmitStatementWithHandlers(tablesql::Triggers(db, name), "Table Triggers",
                                                 false, answer([this](TmySQLClientQuery *q) {
                                                     fill(Triggers, rowsOf(q, {0, 1, 2, 3}));
                                                 }),
                                                 failed);
    client->Query()->SubmitStatementWithHandlers(
        tablesql::Create(db, name), "Table Create Statement", false,
        answer([this](TmySQLClientQuery *q) {
            // "Create Table" for a table, "Create View" for a view: the second column.
            if (q->RowCount() > 0 && q->FieldCount() >= 2)
                CreateText->setPlainText(QString::fromUtf8(q->ValueBytes(0, 1)));
        }),
        failed);
    client->ExecuteTasks();
}
