// The main window's browsing: the database list with its filter, choosing a database or a table,
// and the one handler that dispatches every result by its request name.
#include "tolvar_window.h"

#include "Cologrid.h"
#include "common.h"
#include "konsola.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTreeWidget>

namespace {
std::string utf8(const QString &text)
{
    return text.toStdString();
}
} // namespace

void Ttolvar::Refreshlist1Click()
{
    if (!requireConnection()) return;
    // The filter is a LIKE pattern inside a literal the library escapes: % and _ stay
    // wildcards, quotes and backslashes are taken as they are, whatever the server's SQL mode.
    std::string pattern(1, '%');
    pattern += utf8(Edit1->text());
    pattern += '%';
    TmySQLStatement statement("Show Databases like ");
    statement.Value(std::move(pattern)).Text(";");
    mysql->Query()->SubmitStatement(statement, "List Data");
    mysql->ExecuteTasks();
}

void Ttolvar::Tree_viewChange(QTreeWidgetItem *Node)
{
    if (!Node) return;
    QTreeWidgetItem *parent = Node->parent();
    if (!parent) {
        setPanelText(2, Node->text(0));
        if (!requireConnection()) return;
        const QString database = Node->text(0);
        // The database goes with its request, so its table list lands under the right node.
        mysql->Utility()->SelectDatabaseWithHandlers(
            utf8(database), "Select Database",
            [this, database](QObject *sender) {
                m_resultDatabase = database;
                mysqlSelectDatabase(sender);
            },
            [this](QObject *sender, const QString &msg) { mysqlQueryError(sender, msg); });
        mysql->ExecuteTasks();
        return;
    }
    if (parent->parent()) return; // the tree has two levels only
    setPanelText(3, Node->text(0));
    if (!requireConnection()) return;
    submitViewTable(parent->text(0), Node->text(0));
    ShowPage(Table_View);
}

void Ttolvar::Table_listChange(QListWidgetItem *Item)
{
    if (!Item) return;
    setPanelText(3, Item->text());
    if (!requireConnection()) return;
    submitViewTable(m_listDatabase, Item->text());
    ShowPage(Table_View);
}

void Ttolvar::submitViewTable(const QString &database, const QString &table)
{
    // Named with its database, so a table node left from an earlier database never shows another
    // database's table of the same name; the names travel with the request to its result.
    TmySQLStatement statement("Select * From ");
    if (!database.isEmpty()) statement.Identifier(utf8(database)).Text(".");
    statement.Identifier(utf8(table)).Text(";");
    mysql->Query()->SubmitStatementWithHandlers(
        statement, "View Table", true,
        [this, database, table](QObject *sender) {
            m_resultDatabase = database;
            m_resultTable = table;
            mysqlQuery(sender);
        },
        [this](QObject *sender, const QString &msg) { mysqlQueryError(sender, msg); });
    mysql->ExecuteTasks();
}

void Ttolvar::mysqlSelectDatabase(QObject *)
{
    const QString database = m_resultDatabase;
    if (!mysql->Query()) return;
    mysql->Query()->SubmitWithHandlers(
        "Show tables;", "List Tables",
        [this, database](QObject *sender) {
            m_resultDatabase = database;
            mysqlQuery(sender);
        },
        [this](QObject *sender, const QString &msg) { mysqlQueryError(sender, msg); });
    mysql->ExecuteTasks();
}

void Ttolvar::mysqlQuery(QObject *Sender)
{
    auto *q = dynamic_cast<TmySQLClientQuery *>(Sender);
    if (!q) q = mysql->Query();
    if (!q || !q->Task()) return;
    const QString name = QString::fromStdString(q->Task()->TaskName);
    appendConsole(QStringLiteral("Returned Query:") + name);
    if (name == QLatin1String("konsola")) appendConsole(QStringLiteral("Query Done."));
    if (name == QLatin1String("View Table")) FillGrid(q, m_resultDatabase, m_resultTable);
    if (name == QLatin1String("List Data")) RebuildTree(q);
    if (name == QLatin1String("List Tables"))
        FillTableList(q, m_resultDatabase.isNull() ? PanelText(2) : m_resultDatabase);
    m_resultDatabase = QString();
    m_resultTable = QString();
    q->Clear();
}

void Ttolvar::mysqlQueryError(QObject *, const QString &Msg)
{
    m_resultDatabase = QString();
    m_resultTable = QString();
    setPanelText(5, Msg);
    appendLog(Msg);
    appendConsole(Msg);
}

void Ttolvar::FillGrid(TmySQLClientQuery *q, const QString &database, const QString &table)
{
    Panel5->setCaption(QStringLiteral("Current Table: ") + (table.isNull() ? PanelText(3) : table));
    const int fields = std::max(q->FieldCount(), 1);
    const int rows = q->RowCount();
    m_grid.Database = database;
    m_grid.Table = table;
    m_grid.Fields.clear();
    for (int c = 0; c < q->FieldCount(); ++c)
        if (const TmySQLFieldInfo *info = q->FieldInfo(c)) m_grid.Fields.push_back(*info);
    ++m_grid.Fill;
    std::unique_ptr<TmySQLResultBlock> block = q->TakeBlock();
    if (block && block->Cols == fields && block->Rows == rows + 1) {
        // The worker packed every row already: the grid takes the block whole, no cell by cell.
        Mgrid->AdoptCells(block->Cols, block->Rows, std::move(block->Index),
                          std::move(block->Buffer));
    } else {
        Mgrid->setColCount(fields);
        Mgrid->setRowCount(rows + 1);
        for (int c = 0; c < q->FieldCount(); ++c)
            Mgrid->setCells(c, 0, q->FieldName(c));
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < q->FieldCount(); ++c) {
                if (q->IsNull(r, c))
                    Mgrid->setCellNull(c, r + 1);
                else
                    Mgrid->setCellUtf8(c, r + 1, q->ValueBytes(r, c));
            }
    }
    // A new fill forgets the row captured from the last one.
    haderModel->setColumnCount(0);
    // With no data rows the lone header row cannot be fixed; it keeps the header colour.
    Mgrid->setFixedRows(rows > 0 ? 1 : 0);
    Mgrid->setEvenRowColor(Mgrid->RowCount() == 1 ? 16744576 : 13828095);
}

void Ttolvar::RebuildTree(TmySQLClientQuery *q)
{
    // Filled from code: no change handler runs, and nothing stays current.
    const QSignalBlocker blocker(Tree_view);
    Tree_view->clear();
    QList<QTreeWidgetItem *> nodes;
    nodes.reserve(q->RowCount());
    const QIcon database = ui::icon(QStringLiteral("database"));
    for (int i = 0; i < q->RowCount(); ++i) {
        auto *node = new QTreeWidgetItem(QStringList(QString::fromUtf8(q->ValueBytes(i, 0))));
        node->setIcon(0, database);
        nodes << node;
    }
    Tree_view->addTopLevelItems(nodes);
    Tree_view->setCurrentItem(nullptr);
}

void Ttolvar::FillTableList(TmySQLClientQuery *q, const QString &database)
{
    const int rows = q->RowCount();
    Panel6->setCaption(QStringLiteral("Current Database: ") + database);
    Label2->setText(rows > 0 ? QString::number(rows) + QStringLiteral("  -  tables Found")
                             : QStringLiteral("No Tables Found"));
    const QSignalBlocker listBlocker(Table_list);
    const QSignalBlocker treeBlocker(Tree_view);
    Table_list->clear();
    m_listDatabase = database;
    QTreeWidgetItem *node = nullptr;
    for (int i = 0; i < Tree_view->topLevelItemCount(); ++i)
        if (Tree_view->topLevelItem(i)->text(0) == database) {
            node = Tree_view->topLevelItem(i);
            break;
        }
    if (node) {
        // The current item may be one of the children going away: Qt would report a change.
        if (Tree_view->currentItem() && Tree_view->currentItem()->parent() == node)
            Tree_view->setCurrentItem(node);
        qDeleteAll(node->takeChildren());
    }
    // With no node for the database (a filtered refresh went first), nothing is added anywhere.
    if (node) {
        const QIcon table = ui::icon(QStringLiteral("table"));
        QList<QTreeWidgetItem *> children;
        for (int i = 0; i < rows; ++i) {
            const QString name = QString::fromUtf8(q->ValueBytes(i, 0));
            auto *child = new QTreeWidgetItem(QStringList(name));
            child->setIcon(0, table);
            children << child;
            Table_list->addItem(new QListWidgetItem(table, name));
        }
        node->addChildren(children);
        node->setExpanded(true);
    }
    Table_list->setCurrentItem(nullptr);
    ShowPage(Table_List);
}
