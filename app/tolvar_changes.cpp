// The main window's commands that change the server: create and drop a database, build and
// create a table, and delete the row selected in the grid.
#include "tolvar_window.h"

#include "Animate.h"
#include "Cologrid.h"
#include "row_delete.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QStandardItemModel>

void Ttolvar::SpeedButton2Click()
{
    if (!requireConnection()) return;
    TmySQLStatement statement("Create Database ");
    statement.Identifier(data_name_text->text().toStdString()).Text(";");
    mysql->Query()->SubmitStatement(statement, "Add Database");
    mysql->ExecuteTasks();
    ShowPage(Welcome);
}

void Ttolvar::SpeedButton6Click()
{
    // Pressed twice, or while the clip plays: one drop at the most.
    if (Usuwaj->Active()) return;
    if (m_confirmDatabase.isEmpty()) {
        setPanelText(5, QStringLiteral("No database chosen"));
        return;
    }
    if (!requireConnection()) return;
    m_dropArmed = true;
    Usuwaj->Play(1, TAnimate::FrameCount, 1);
}

void Ttolvar::UsuwajStop(QObject *)
{
    // Only the clip's natural end drops; leaving the page or "No" stops it and drops nothing.
    const bool finished = Usuwaj->Finished();
    const bool armed = m_dropArmed;
    m_dropArmed = false;
    if (armed && !finished) setPanelText(5, QStringLiteral("Drop cancelled"));
    if (!finished || !armed || m_confirmDatabase.isEmpty()) return;
    if (!requireConnection()) return;
    // The database named on the confirmation page, whatever is current by now.
    TmySQLStatement statement("Drop Database ");
    statement.Identifier(m_confirmDatabase.toStdString()).Text(";");
    mysql->Query()->SubmitStatement(statement, "Add Database");
    mysql->ExecuteTasks();
    ShowPage(Database_Deleted);
}

void Ttolvar::SpeedButton16Click()
{
    const QString type = TC_F_TYPE->currentText();
    const QString name = TC_F_Name->text();
    if (type == QLatin1String("CHAR")) {
        TC_FIELDS->addItem(name + QLatin1Char(' ') + type + QStringLiteral(" (") +
                           TC_F_SIZE->text() + QLatin1Char(')'));
        m_fields.push_back({name, type, TC_F_SIZE->text(), true});
    }
    if (type != QLatin1String("CHAR")) {
        TC_FIELDS->addItem(name + QLatin1Char(' ') + type);
        m_fields.push_back({name, type, QString(), false});
    }
}

void Ttolvar::SpeedButton15Click()
{
    if (!requireConnection()) return;
    // Names quoted; the type and size go as typed, since they are SQL by design.
    // In the database the window shows, whatever a console USE made current on the connection.
    TmySQLStatement statement("Create Table ");
    const QString database = PanelText(2);
    if (!database.isEmpty()) statement.Identifier(database.toStdString()).Text(".");
    statement.Identifier(TC_Name->text().toStdString()).Text(" ( ");
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const Field &field = m_fields[i];
        statement.Identifier(field.Name.toStdString()).Text(" ").Text(field.Type.toStdString());
        if (field.Sized) statement.Text(" (").Text(field.Size.toStdString()).Text(")");
        if (i + 1 < m_fields.size()) statement.Text(",");
    }
    statement.Text(" );");
    mysql->Query()->SubmitStatement(statement, "Create Table");
    mysql->ExecuteTasks();
    ShowPage(Welcome);
}

void Ttolvar::MgridSelectCell(int, int ARow, bool &CanSelect)
{
    haderModel->setColumnCount(0);
    const int columns = Mgrid->ColCount();
    haderModel->setColumnCount(columns);
    for (int c = 0; c < columns; ++c) {
        haderModel->setHeaderData(c, Qt::Horizontal, Mgrid->DisplayText(c, ARow));
        hader->resizeSection(c, Mgrid->ColWidths(c) + Mgrid->GridLineWidth());
    }
    syncHader();
    // The row belongs to this fill of the grid: a refill forgets it.
    m_capturedFill = m_grid.Fill;
    m_capturedRow = ARow;
    CanSelect = true;
}

void Ttolvar::syncHader()
{
    // Scrolled with the grid, so each section stays under its column.
    int offset = 0;
    for (int c = Mgrid->FixedCols(); c < Mgrid->LeftCol(); ++c)
        offset += Mgrid->ColWidths(c) + Mgrid->GridLineWidth();
    hader->setOffset(offset);
}

int Ttolvar::capturedRow() const
{
    if (m_capturedFill != m_grid.Fill || m_capturedRow < Mgrid->FixedRows() || m_capturedRow < 1 ||
        m_capturedRow >= Mgrid->RowCount())
        return -1;
    return m_capturedRow;
}

void Ttolvar::SpeedButton17Click()
{
    const int row = capturedRow();
    if (row < 0 || m_grid.Table.isEmpty()) {
        setPanelText(5, QStringLiteral("No row selected"));
        return;
    }
    if (!requireConnection()) return;
    // The row as the grid stores it (bytes and NULL flags), matched byte for byte: by the table's
    // key (primary, else unique of NOT NULL columns) when the result holds all of it, by every
    // column otherwise, at most one row.
    rowdelete::Target target;
    target.Database = m_grid.Database.toStdString();
    target.Table = m_grid.Table.toStdString();
    target.Fields = m_grid.Fields;
    target.TableKey = m_grid.TableKey;
    std::string why;
    std::optional<TmySQLStatement> statement = rowdelete::Build(
        target,
        [this, row](int col) -> std::optional<std::string_view> {
            if (Mgrid->CellIsNull(col, row)) return std::nullopt;
            return Mgrid->CellUtf8(col, row);
        },
        &why, Mgrid->KeepRowBytes(row));
    if (!statement) {
        setPanelText(5, QString::fromStdString(why));
        return;
    }
    // The caption shows the statement's start: a value may be megabytes long.
    setWindowTitle(QString::fromStdString(rowdelete::Shortened(statement->Preview(1200))));
    mysql->Query()->SubmitStatementWithHandlers(
        std::move(*statement), "Delete Record", false,
        [this](QObject *sender) { mysqlQuery(sender); },
        [this](QObject *sender, const QString &msg) {
            auto *q = dynamic_cast<TmySQLClientQuery *>(sender);
            const std::int64_t deleted = q ? q->AffectedRows() : -1;
            mysqlQueryError(sender, msg);
            // An empty message reads as success: say so when nothing matched any more.
            if (msg.isEmpty() && deleted == 0)
                setPanelText(5, QStringLiteral("No row was deleted"));
        });
    mysql->ExecuteTasks();
}
