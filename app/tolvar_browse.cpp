// The main window's browsing: the database list with its filter, choosing a database or a table,
// and the one handler that dispatches every result by its request name.
#include "tolvar_window.h"

#include "Cologrid.h"
#include "common.h"
#include "grid_edit.h"
#include "konsola.h"
#include "result_grid.h"
#include "row_delete.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTreeWidget>

void Ttolvar::Refreshlist1Click()
{
    if (!requireConnection()) return;
    // The filter is a LIKE pattern in a hexadecimal literal: % and _ stay wildcards, quotes and
    // backslashes are taken as they are, whatever the session's SQL mode and character set (the
    // WHERE form, since LIKE alone takes only a quoted string).
    std::string pattern(1, '%');
    pattern += Edit1->text().toStdString();
    pattern += '%';
    TmySQLStatement statement("Show Databases where `Database` like ");
    statement.Value(std::move(pattern)).Text(";").OnlyReads();
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
            database.toStdString(), "Select Database",
            [this, database](QObject *) { requestTables(database); },
            [this](QObject *sender, const QString &msg) { mysqlQueryError(sender, msg); });
        mysql->ExecuteTasks();
        return;
    }
    if (parent->parent()) return; // the tree has two levels only
    if (!m_edit->mayLeave()) return;
    setPanelText(3, Node->text(0));
    if (!requireConnection()) return;
    submitViewTable(parent->text(0), Node->text(0));
    ShowPage(Table_View);
}

void Ttolvar::Table_listChange(QListWidgetItem *Item)
{
    if (!Item) return;
    if (!m_edit->mayLeave()) return;
    setPanelText(3, Item->text());
    if (!requireConnection()) return;
    submitViewTable(m_listDatabase, Item->text());
    ShowPage(Table_View);
}

void Ttolvar::submitViewTable(const QString &database, const QString &table)
{
    // A table still being read is stopped: only the one chosen now is shown.
    mysql->StopReading();
    const quint64 view = ++m_viewRequest;
    // Another table starts in its own order, unfiltered; the same one read again (sorted or
    // filtered anew) keeps its rows shown until the new ones come.
    const TableRef chosen{database, table};
    const bool again = m_grid.Database == database && m_grid.Table == table;
    if (!(chosen == m_currentTable) && !again) {
        m_view = {};
        if (Where_edit) Where_edit->clear();
    }
    m_currentTable = chosen;
    m_previousGrid = again ? m_grid : GridOrigin();
    showLoading(table, again);
    // The table's key and the session's result character set, asked right before the rows so
    // that the answer describes them: the row delete needs both.
    mysql->Query()->SubmitStatementWithHandlers(
        rowdelete::KeyQuery(database.toStdString(), table.toStdString()).OnlyReads(), "Table Key",
        false,
        [this, view](QObject *sender) {
            auto *q = static_cast<TmySQLClientQuery *>(sender);
            std::vector<std::pair<std::string, std::optional<std::string>>> rows;
            for (int r = 0; q->FieldCount() == 2 && r < q->RowCount(); ++r) {
                std::optional<std::string> value;
                if (!q->IsNull(r, 1)) value = std::string(q->ValueBytes(r, 1));
                rows.emplace_back(std::string(q->ValueBytes(r, 0)), std::move(value));
            }
            m_keyView = view;
            m_key = rowdelete::ReadKeyAnswer(rows);
            q->Clear();
        },
        // Without the answer the delete refuses; the rows' own request reports any failure.
        [this, view](QObject *, const QString &) {
            m_keyView = view;
            m_key = {};
        });
    // Named with its database, so a table node left from an earlier database never shows another
    // database's table of the same name; the names travel with the request to its result.
    const TmySQLStatement statement =
        tablesql::Select(database.toStdString(), table.toStdString(), m_view);
    // Read as the server sends it: the first rows are shown at once, the rest as they come.
    mysql->Query()->SubmitStream(
        statement, "View Table",
        [this, database, table, view](QObject *, TmySQLRowBatch &batch) {
            rowsArrived(batch, database, table, view);
        },
        [this, view](QObject *sender) {
            readFinished(static_cast<TmySQLClientQuery *>(sender), view, QString());
        },
        [this, view](QObject *sender, const QString &msg) {
            readFinished(static_cast<TmySQLClientQuery *>(sender), view, msg);
        });
    ++m_readsRunning;
    updateStopButton();
    mysql->ExecuteTasks();
}

void Ttolvar::StopClick()
{
    if (m_readsRunning > 0 && mysql->StopReading())
        appendConsole(QStringLiteral("Stop asked of the server."));
}

void Ttolvar::updateStopButton()
{
    if (QAbstractButton *stop = button(QStringLiteral("Stop_button")))
        stop->setEnabled(m_readsRunning > 0 && mysql->Connected());
}

QString Ttolvar::rowsText(qint64 rows)
{
    return rows == 1 ? QStringLiteral("1 row") : QString::number(rows) + QStringLiteral(" rows");
}

void Ttolvar::rowsArrived(TmySQLRowBatch &batch, const QString &database, const QString &table,
                          quint64 view)
{
    // A table chosen after this one has the grid: this one's rows (it is being stopped) are not
    // drawn under the other's name.
    if (view != m_viewRequest || !batch.Block || batch.Block->Block().Cols < 1) return;
    if (batch.First) {
        Panel5->setCaption(QStringLiteral("Current Table: ") + table);
        m_grid.Database = database;
        m_grid.Table = table;
        m_grid.Fields = batch.Fields;
        m_grid.TableKey = m_keyView == view ? m_key : rowdelete::Key();
        ++m_grid.Fill;
        m_shownView = view;
        resultgrid::take(Mgrid, batch, m_grid.Fields);
        m_readView = m_view;
        // The sorted column says so in its header cell: an arrow, read with its name.
        for (std::size_t c = 0; m_view.sorted() && c < m_grid.Fields.size(); ++c)
            if (m_grid.Fields[c].Name == m_view.OrderBy)
                Mgrid->setCellUtf8(int(c), 0,
                                   m_view.OrderBy + (m_view.Descending ? " \u25BC" : " \u25B2"));
        // A new fill forgets the row captured from the last one.
        haderModel->setColumnCount(0);
        if (QAbstractButton *del = button(QStringLiteral("SpeedButton17"))) del->setEnabled(true);
    } else if (m_shownView == view) {
        resultgrid::take(Mgrid, batch, m_grid.Fields);
    } else {
        return;
    }
    if (batch.First || m_loadingPace.due()) {
        setPanelText(4, QStringLiteral("Loading\u2026 ") + rowsText(qint64(batch.RowsSoFar)));
        m_loadingPace.done();
    }
}

void Ttolvar::readFinished(TmySQLClientQuery *q, quint64 view, const QString &error)
{
    m_readsRunning = std::max(m_readsRunning - 1, 0);
    updateStopButton();
    // An older table, stopped for a newer choice: its end says nothing of the grid.
    if (view != m_viewRequest) return;
    const bool shown = m_shownView == view;
    const qint64 rows = shown ? Mgrid->RowCount() - 1 : 0;
    if (!error.isEmpty() || (q && q->ErrorNumber() != 0)) {
        if (!shown && !m_previousGrid.Table.isEmpty()) {
            // A sort or filter the server refused: the rows shown before are still there, and
            // so is what is known of them; the condition is dropped.
            m_grid = m_previousGrid;
            m_previousGrid = GridOrigin();
            m_view = m_readView;
            setPanelText(4, rowsShownText(Mgrid->RowCount() - 1));
            rowdelete::Target target;
            target.Database = m_grid.Database.toStdString();
            target.Table = m_grid.Table.toStdString();
            target.Fields = m_grid.Fields;
            target.TableKey = m_grid.TableKey;
            m_edit->setTarget(std::move(target));
            if (QAbstractButton *del = button(QStringLiteral("SpeedButton17")))
                del->setEnabled(true);
        } else {
            // The rows read before the error stay shown.
            setPanelText(4, shown ? rowsShownText(rows) : QString());
        }
        mysqlQueryError(q, error);
        return;
    }
    appendConsole(QStringLiteral("Returned Query:View Table"));
    if (q && q->StreamStopped())
        setPanelText(4, QStringLiteral("Stopped: ") + rowsShownText(rows));
    else
        setPanelText(4, rowsShownText(rows));
    // The rows read can be changed now, a stopped table's too (each by its own identity).
    if (shown) {
        rowdelete::Target target;
        target.Database = m_grid.Database.toStdString();
        target.Table = m_grid.Table.toStdString();
        target.Fields = m_grid.Fields;
        target.TableKey = m_grid.TableKey;
        m_edit->setTarget(std::move(target));
    }
}

void Ttolvar::showLoading(const QString &table, bool keepRows)
{
    m_edit->clearTarget(QStringLiteral("The table is still being read"));
    Panel5->setCaption(QStringLiteral("Current Table: ") + table);
    setPanelText(4, QStringLiteral("Loading\u2026"));
    m_grid.Database.clear();
    m_grid.Table.clear();
    m_grid.Fields.clear();
    m_grid.TableKey = {};
    haderModel->setColumnCount(0);
    if (!keepRows) resultgrid::clear(Mgrid);
    if (QAbstractButton *del = button(QStringLiteral("SpeedButton17"))) del->setEnabled(false);
}

void Ttolvar::mysqlSelectDatabase(QObject *)
{
    requestTables(PanelText(2));
}

void Ttolvar::requestTables(const QString &database)
{
    if (!mysql->Query()) return;
    mysql->Query()->SubmitStatementWithHandlers(
        TmySQLStatement("Show tables;").OnlyReads(), "List Tables", false,
        [this, database](QObject *sender) {
            dispatch(static_cast<TmySQLClientQuery *>(sender), database);
        },
        [this](QObject *sender, const QString &msg) { mysqlQueryError(sender, msg); });
    mysql->ExecuteTasks();
}

void Ttolvar::mysqlQuery(QObject *Sender)
{
    // A result whose request carried nothing of its own is read with the panels' choices.
    dispatch(dynamic_cast<TmySQLClientQuery *>(Sender), PanelText(2));
}

void Ttolvar::dispatch(TmySQLClientQuery *q, const QString &database)
{
    if (!q) q = mysql->Query();
    if (!q || !q->Task()) return;
    const QString name = q->TaskName();
    appendConsole(QStringLiteral("Returned Query:") + name);
    if (name == QLatin1String("konsola")) appendConsole(QStringLiteral("Query Done."));
    if (name == QLatin1String("List Data")) RebuildTree(q);
    if (name == QLatin1String("List Tables")) FillTableList(q, database);
    q->Clear();
}

void Ttolvar::mysqlQueryError(QObject *, const QString &Msg)
{
    setPanelText(5, Msg);
    appendLog(Msg);
    appendConsole(Msg);
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
