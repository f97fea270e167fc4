// The main window's commands that change the server: create and drop a database, build and
// create a table, and delete the row selected in the grid.
#include "tolvar_window.h"

#include "Animate.h"
#include "Cologrid.h"

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
    TmySQLStatement statement("Create Table ");
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
        haderModel->setHeaderData(c, Qt::Horizontal, Mgrid->Cells(c, ARow));
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
    // The row as the grid stores it (bytes and NULL flags), matched exactly: by the table's
    // primary key when the result holds all of it, by every column otherwise, at most one row.
    const int columns = Mgrid->ColCount();
    std::vector<int> compared;
    for (int c = 0; c < columns && c < int(m_grid.Fields.size()); ++c)
        if (m_grid.Fields[std::size_t(c)].PrimaryKey()) compared.push_back(c);
    if (compared.empty())
        for (int c = 0; c < columns; ++c)
            compared.push_back(c);
    TmySQLStatement statement("Delete From ");
    if (!m_grid.Database.isEmpty()) statement.Identifier(m_grid.Database.toStdString()).Text(".");
    statement.Identifier(m_grid.Table.toStdString()).Text(" Where ");
    for (std::size_t i = 0; i < compared.size(); ++i) {
        const int c = compared[i];
        const TmySQLFieldInfo *field =
            std::size_t(c) < m_grid.Fields.size() ? &m_grid.Fields[std::size_t(c)] : nullptr;
        const std::string name =
            field && !field->OrgName.empty() ? field->OrgName : Mgrid->Cells(c, 0).toStdString();
        if (i > 0) statement.Text(" AND ");
        statement.Identifier(name).Text(" <=> ");
        const std::string_view bytes = Mgrid->CellUtf8(c, row);
        if (Mgrid->CellIsNull(c, row))
            statement.Value(std::nullopt);
        else if (field && field->Binary())
            statement.HexValue(bytes);
        else
            statement.Value(std::string(bytes));
    }
    statement.Text(" LIMIT 1;");
    setWindowTitle(QString::fromStdString(statement.Preview()));
    mysql->Query()->SubmitStatementWithHandlers(
        statement, "Delete Record", false, [this](QObject *sender) { mysqlQuery(sender); },
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
