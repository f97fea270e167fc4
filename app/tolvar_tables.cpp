// The main window's table commands: remove, rename, empty, the structure page, and the table
// view's sort and filter, which the server does.
#include "tolvar_window.h"

#include "Animate.h"
#include "Cologrid.h"
#include "common.h"
#include "grid_edit.h"
#include "table_export.h"
#include "table_structure.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QStackedWidget>
#include <QTreeWidget>

#include <functional>

namespace {
QString quoted(const Ttolvar::TableRef &table)
{
    const auto quote = [](const QString &name) {
        return QString::fromStdString(QuoteIdentifier(name.toStdString()));
    };
    return (table.Database.isEmpty() ? QString() : quote(table.Database) + QLatin1Char('.')) +
           quote(table.Table);
}
} // namespace

void Ttolvar::buildTablePages(QWidget *remove, QWidget *rename, QWidget *)
{
    QFont large = font();
    large.setPixelSize(19);
    QFont bold = large;
    bold.setBold(true);
    // 4 Table_Remove, built as the database one is.
    {
        remove->setFont(large);
        auto *layout = new QVBoxLayout(remove);
        layout->addWidget(new TCaptionPanel(QStringLiteral("Panel15"),
                                            QStringLiteral("Table Remove"),
                                            QStringLiteral("tableview"), remove));
        auto *question = new QHBoxLayout;
        question->addWidget(new QLabel(QStringLiteral("Do you want to remove"), remove));
        Table_name_caption = new QLabel(QStringLiteral("table ?"), remove);
        Table_name_caption->setObjectName(QStringLiteral("Table_name_caption"));
        Table_name_caption->setFont(bold);
        question->addWidget(Table_name_caption);
        question->addStretch(1);
        layout->addLayout(question);
        auto *buttons = new QHBoxLayout;
        auto *no = ui::flatButton(remove, QStringLiteral("Table_remove_no"), QStringLiteral("No"),
                                  QStringLiteral("cancel"));
        auto *yes = ui::flatButton(remove, QStringLiteral("Table_remove_yes"),
                                   QStringLiteral("Yeees"), QStringLiteral("ok"));
        no->setIconSize(QSize(24, 24));
        yes->setIconSize(QSize(24, 24));
        connect(no, &QAbstractButton::clicked, this, [this] {
            Table_animation->Stop();
            ShowPage(Table_List);
        });
        connect(yes, &QAbstractButton::clicked, this, &Ttolvar::TableRemoveYesClick);
        buttons->addWidget(no);
        buttons->addStretch(1);
        buttons->addWidget(yes);
        layout->addLayout(buttons);
        Table_animation = new TAnimate(remove);
        Table_animation->setObjectName(QStringLiteral("Table_animation"));
        Table_animation->OnStop = [this](QObject *sender) { TableAnimationStop(sender); };
        layout->addWidget(Table_animation, 0, Qt::AlignHCenter);
        layout->addStretch(1);
    }
    // 5 Table_Rename
    {
        rename->setFont(large);
        auto *layout = new QVBoxLayout(rename);
        layout->addWidget(new TCaptionPanel(QStringLiteral("Panel16"),
                                            QStringLiteral("Table Rename"),
                                            QStringLiteral("tableview"), rename));
        auto *current = new QHBoxLayout;
        current->addWidget(new QLabel(QStringLiteral("Table:"), rename));
        Table_old_name = new QLabel(rename);
        Table_old_name->setObjectName(QStringLiteral("Table_old_name"));
        Table_old_name->setFont(bold);
        Table_old_name->setTextFormat(Qt::PlainText);
        current->addWidget(Table_old_name, 1);
        layout->addLayout(current);
        auto *form = new QHBoxLayout;
        auto *label = new QLabel(QStringLiteral("&New name:"), rename);
        Table_new_name = new QLineEdit(rename);
        Table_new_name->setObjectName(QStringLiteral("Table_new_name"));
        label->setBuddy(Table_new_name);
        form->addWidget(label);
        form->addWidget(Table_new_name, 1);
        layout->addLayout(form);
        auto *buttons = new QHBoxLayout;
        auto *cancel = ui::flatButton(rename, QStringLiteral("Table_rename_cancel"),
                                      QStringLiteral("Cancel"), QStringLiteral("cancel"));
        auto *ok = ui::flatButton(rename, QStringLiteral("Table_rename_ok"),
                                  QStringLiteral("Rename"), QStringLiteral("ok"));
        cancel->setIconSize(QSize(24, 24));
        ok->setIconSize(QSize(24, 24));
        connect(cancel, &QAbstractButton::clicked, this, [this] { ShowPage(Table_List); });
        connect(ok, &QAbstractButton::clicked, this, &Ttolvar::TableRenameClick);
        connect(Table_new_name, &QLineEdit::returnPressed, this, &Ttolvar::TableRenameClick);
        buttons->addWidget(cancel);
        buttons->addStretch(1);
        buttons->addWidget(ok);
        layout->addLayout(buttons);
        layout->addStretch(1);
    }
    // 9 Table_Structure
    Table_structure = new TTableStructure;
    Notebook->addWidget(Table_structure);
    m_export = new TTableExport(this);
    connect(m_export, &TTableExport::finished, this, [this](bool, const QString &message) {
        setPanelText(5, message);
        appendConsole(message);
    });
    connect(m_edit, &TGridEdit::exportRequested, this, &Ttolvar::TablesExportClick);
}

void Ttolvar::addTableCommands(QMenu *menu, bool all)
{
    const QString suffix = menu->objectName();
    auto add = [&](const char *name, const char *text, const char *icon,
                   void (Ttolvar::*handler)()) {
        addAction(menu, QString::fromLatin1(name) + suffix, QString::fromUtf8(text),
                  QString::fromLatin1(icon), handler);
    };
    add("TableCreate", "Create", "tablenew", &Ttolvar::TablesCreateClick);
    add("TableDelete", "Delete", "delete", &Ttolvar::TablesDeleteClick);
    if (!all) return;
    add("TableRename", "Rename", "rename", &Ttolvar::TablesRenameClick);
    add("TableEmpty", "Empty\u2026", "recorddelete", &Ttolvar::TablesEmptyClick);
    add("TableStructure", "Structure", "table", &Ttolvar::TablesStructureClick);
    add("TableExport", "Export\u2026", "sql", &Ttolvar::TablesExportClick);
}

QString Ttolvar::rowsShownText(qint64 rows) const
{
    if (!m_view.filtered()) return rowsText(rows);
    const QString count = QLocale(QLocale::English, QLocale::UnitedStates).toString(rows);
    return count + (rows == 1 ? QStringLiteral(" row") : QStringLiteral(" rows")) +
           QStringLiteral(" (filtered)");
}

// ---------------------------------------------------------------------------------------------
// The commands

void Ttolvar::TablesCreateClick()
{
    // Into the database shown: the builder reads panel 2.
    if (!m_currentTable.Database.isEmpty()) setPanelText(2, m_currentTable.Database);
    ShowPage(Table_Add);
}

void Ttolvar::TablesDeleteClick()
{
    if (m_currentTable.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No table chosen"));
        return;
    }
    // Bound now: a later change of the tree or the panels never changes what is dropped.
    m_confirmTable = m_currentTable;
    Table_name_caption->setText(quoted(m_confirmTable) + QStringLiteral(" ?"));
    ShowPage(Table_Remove);
}

void Ttolvar::TableRemoveYesClick()
{
    if (Table_animation->Active()) return; // one drop at the most
    if (m_confirmTable.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No table chosen"));
        return;
    }
    if (!requireConnection()) return;
    if (!m_edit->mayLeave()) return;
    m_tableDropArmed = true;
    Table_animation->Play(1, TAnimate::FrameCount, 1);
}

void Ttolvar::TableAnimationStop(QObject *)
{
    const bool finished = Table_animation->Finished();
    const bool armed = m_tableDropArmed;
    m_tableDropArmed = false;
    if (armed && !finished) setPanelText(5, QStringLiteral("Drop cancelled"));
    if (!finished || !armed || m_confirmTable.Table.isEmpty() || !requireConnection()) return;
    const TableRef dropped = m_confirmTable;
    submitTableChange(tablesql::Drop(dropped.Database.toStdString(), dropped.Table.toStdString()),
                      "Drop Table", [this, dropped] {
                          if (m_currentTable == dropped) m_currentTable = {};
                          if (m_grid.Database == dropped.Database && m_grid.Table == dropped.Table)
                              m_edit->clearTarget(QStringLiteral("The table was dropped"));
                          requestTables(dropped.Database);
                      });
}

void Ttolvar::submitTableChange(TmySQLStatement statement, const char *name,
                                std::function<void()> done)
{
    // A statement without a result set reports its success as an error without a message.
    const QString request = QString::fromLatin1(name);
    auto finished = [this, request, done](QObject *sender, const QString &msg) {
        if (!msg.isEmpty()) {
            mysqlQueryError(sender, msg);
            return;
        }
        appendConsole(QStringLiteral("Returned Query:") + request);
        setPanelText(5, QString());
        done();
    };
    mysql->Query()->SubmitStatementWithHandlers(
        std::move(statement), name, false,
        [finished](QObject *sender) { finished(sender, QString()); }, finished);
    mysql->ExecuteTasks();
}

void Ttolvar::TablesRenameClick()
{
    if (m_currentTable.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No table chosen"));
        return;
    }
    m_confirmTable = m_currentTable;
    Table_old_name->setText(quoted(m_confirmTable));
    Table_new_name->setText(m_confirmTable.Table);
    Table_new_name->selectAll();
    ShowPage(Table_Rename);
    Table_new_name->setFocus();
}

void Ttolvar::TableRenameClick()
{
    const TableRef from = m_confirmTable;
    const QString to = Table_new_name->text();
    if (from.Table.isEmpty() || to.isEmpty() || to == from.Table) return;
    if (!requireConnection()) return;
    if (m_grid.Database == from.Database && m_grid.Table == from.Table && !m_edit->mayLeave())
        return;
    submitTableChange(
        tablesql::Rename(from.Database.toStdString(), from.Table.toStdString(), to.toStdString()),
        "Rename Table", [this, from, to] {
            if (m_currentTable == from) m_currentTable.Table = to;
            if (m_grid.Database == from.Database && m_grid.Table == from.Table) {
                m_grid.Table = to;
                Panel5->setCaption(QStringLiteral("Current Table: ") + to);
                m_edit->clearTarget(QStringLiteral("Choose the table again to change it"));
            }
            if (PanelText(3) == from.Table) setPanelText(3, to);
            requestTables(from.Database);
        });
}

void Ttolvar::TablesEmptyClick()
{
    const TableRef table = m_currentTable;
    if (table.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No table chosen"));
        return;
    }
    if (!requireConnection()) return;
    const QString answer = ui::askQuestion(
        this, QStringLiteral("MySQL Quorvane"),
        QStringLiteral("Remove every row of %1? This cannot be undone.").arg(quoted(table)),
        {QStringLiteral("Empty"), QStringLiteral("Cancel")});
    if (answer != QLatin1String("Empty")) return;
    const bool shown = m_grid.Database == table.Database && m_grid.Table == table.Table;
    if (shown && !m_edit->mayLeave()) return;
    submitTableChange(tablesql::Truncate(table.Database.toStdString(), table.Table.toStdString()),
                      "Empty Table", [this, table] {
                          // The grid showed rows that are gone: read it again.
                          if (m_grid.Database == table.Database && m_grid.Table == table.Table)
                              submitViewTable(table.Database, table.Table);
                      });
}

void Ttolvar::TablesStructureClick()
{
    if (m_currentTable.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No table chosen"));
        return;
    }
    if (!requireConnection()) return;
    Table_structure->load(mysql, m_currentTable.Database, m_currentTable.Table,
                          [this](const QString &msg) { mysqlQueryError(nullptr, msg); });
    ShowPage(Table_Structure);
}

// ---------------------------------------------------------------------------------------------
// Sort and filter

void Ttolvar::sortByColumn(int col)
{
    if (m_grid.Table.isEmpty() || col < 0 || col >= int(m_grid.Fields.size())) return;
    if (!requireConnection() || !m_edit->mayLeave()) return;
    tablesql::CycleSort(m_view, m_grid.Fields[std::size_t(col)].Name);
    // Copies: the read clears what the grid's origin holds.
    const TableRef table{m_grid.Database, m_grid.Table};
    submitViewTable(table.Database, table.Table);
}

void Ttolvar::applyFilter()
{
    const TableRef table =
        m_grid.Table.isEmpty() ? m_currentTable : TableRef{m_grid.Database, m_grid.Table};
    if (table.Table.isEmpty()) return;
    const std::string where = Where_edit->text().trimmed().toStdString();
    if (where == m_view.Where) return;
    if (!requireConnection() || !m_edit->mayLeave()) return;
    m_view.Where = where;
    submitViewTable(table.Database, table.Table);
}

void Ttolvar::exportRows(const TStringGrid *grid, const std::vector<TmySQLFieldInfo> &fields,
                         const QString &name)
{
    if (m_export->running()) {
        setPanelText(5, QStringLiteral("An export is running"));
        return;
    }
    TExportOptions defaults;
    defaults.Path = name + QStringLiteral(".csv");
    defaults.WholeTable = false;
    defaults.TableChoice = false;
    QWidget *parent = grid ? grid->window() : this;
    const std::optional<TExportOptions> options = exportdialog::ask(parent, defaults);
    if (options) m_export->writeShown(grid, fields, name, *options);
}

void Ttolvar::TablesExportClick()
{
    const bool shownTable = !m_grid.Table.isEmpty();
    const TableRef table = shownTable ? TableRef{m_grid.Database, m_grid.Table} : m_currentTable;
    if (table.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No table chosen"));
        return;
    }
    if (m_export->running()) {
        setPanelText(5, QStringLiteral("An export is running"));
        return;
    }
    if (!requireConnection()) return;
    TExportOptions defaults;
    defaults.Path = table.Table + QStringLiteral(".csv");
    defaults.WholeTable = true;
    const std::optional<TExportOptions> options = exportdialog::ask(this, defaults);
    if (!options) return;
    if (options->WholeTable || !shownTable)
        m_export->startTable(mysql, table.Database, table.Table,
                             shownTable ? m_view : tablesql::View(), *options);
    else
        m_export->writeShown(Mgrid, m_grid.Fields, m_grid.Table, *options);
}
