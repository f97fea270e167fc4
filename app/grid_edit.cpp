#include "grid_edit.h"

#include "CellStore.h"
#include "CellText.h"
#include "client_login.h"
#include "common.h"
#include "result_grid.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <unordered_map>

using rowchanges::Kind;
using rowchanges::Value;

namespace {
// Colours of pending changes (0xBBGGRR).
constexpr TColor ChangedColor = 0x70C8FF;  // a changed cell: light orange
constexpr TColor NewRowColor = 0xCCF5CC;   // a new row: pale green
constexpr TColor DeletedColor = 0xCCCCFF;  // a row to delete: pale red
constexpr TColor FailedColor = 0x7F7FFF;   // the change that failed: red
constexpr TColor SelectedColor = 0xFFE6CC; // rows chosen for delete: pale blue

// Past this a value is edited in the multi-line editor.
constexpr int LongValue = 200;
// Statements of a transactional table sent ahead of their outcomes.
constexpr std::size_t PipelineDepth = 64;
// Show SQL cuts a statement after this many bytes: a value may be megabytes.
constexpr std::size_t ShownStatementBytes = 100000;

bool validUtf8(std::string_view bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !decoder.hasError();
}

bool nonTransactional(std::string engine)
{
    std::transform(engine.begin(), engine.end(), engine.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return engine == "MYISAM" || engine == "ARIA" || engine == "MEMORY" || engine == "CSV" ||
           engine == "ARCHIVE" || engine == "MRG_MYISAM" || engine == "MERGE" ||
           engine == "BLACKHOLE";
}
} // namespace

TGridEdit::TGridEdit(TMgrid *grid, QWidget *window)
    : QObject(window), m_grid(grid), m_window(window)
{
    m_grid->OnMark = [this](int col, int row) { return mark(col, row); };
    m_grid->installEventFilter(this);
    // Kept: events reach the filter while the grid is being destroyed, when it can no longer
    // be asked for its viewport.
    m_viewport = m_grid->viewport();
    m_gridObject = grid;
    m_viewport->installEventFilter(this);
    connect(m_grid, &TStringGrid::currentCellChanged, this,
            [this](int col, int row) { currentMoved(col, row); });
    m_grid->setRowStrip(true);
    connect(m_grid, &TStringGrid::rowStripPressed, this, &TGridEdit::stripPressed);
    connect(m_grid, &TStringGrid::rowStripDragged, this, &TGridEdit::stripDragged);
    clearTarget();
}

TGridEdit::~TGridEdit()
{
    if (m_grid) m_grid->OnMark = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The table

void TGridEdit::setTarget(rowdelete::Target target)
{
    cancelEditor();
    m_target = std::move(target);
    m_hasTarget = !m_target.Table.empty() && !m_target.Fields.empty();
    m_noTarget = m_hasTarget ? QString() : QStringLiteral("No table to change");
    m_pending.clear();
    m_notes.clear();
    clearSelection();
    m_firstNewRow = -1;
    m_failed = -1;
    Q_EMIT pendingChanged(0);
}

void TGridEdit::clearTarget(const QString &why)
{
    cancelEditor();
    m_target = rowdelete::Target();
    m_hasTarget = false;
    m_noTarget = why.isEmpty() ? QStringLiteral("No table to change") : why;
    const bool had = !m_pending.empty();
    m_pending.clear();
    m_notes.clear();
    clearSelection();
    m_firstNewRow = -1;
    m_failed = -1;
    if (had) Q_EMIT pendingChanged(0);
}

QString TGridEdit::pendingText() const
{
    const int n = m_pending.count();
    if (n == 0) return {};
    return n == 1 ? QStringLiteral("1 change pending")
                  : QStringLiteral("%1 changes pending").arg(n);
}

QString TGridEdit::noteOf(int row, int col) const
{
    const auto at = m_notes.find({row, col});
    return at == m_notes.end() ? QString() : at->second;
}

std::optional<std::string_view> TGridEdit::stored(int row, int col) const
{
    if (m_grid->CellIsNull(col, row)) return std::nullopt;
    return m_grid->CellUtf8(col, row);
}

rowdelete::CellReader TGridEdit::reader(int row) const
{
    return [this, row](int col) { return stored(row, col); };
}

bool TGridEdit::refuseEdit(int col)
{
    QString why;
    if (!m_hasTarget)
        why = m_noTarget;
    else if (m_applying)
        why = QStringLiteral("Changes are being applied");
    else if (const char *reason = rowdelete::Refusal(m_target))
        why = QString::fromLatin1(reason);
    else if (m_target.TableKey.NotUpdatable)
        why = QStringLiteral("This view cannot be changed: the server does not allow it");
    else if (col >= 0 && col < static_cast<int>(m_target.Fields.size()) &&
             m_target.Fields[static_cast<std::size_t>(col)].Type == 255)
        why = QStringLiteral("GEOMETRY values are not edited here");
    if (why.isEmpty()) return false;
    Q_EMIT message(why);
    ui::beep();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Drawing

QString TGridEdit::shown(const Value &value, int col) const
{
    if (value.Kind == Value::Null) return QStringLiteral("(NULL)");
    if (value.Kind == Value::Default) return QStringLiteral("(default)");
    return celltext::display(value.Data, m_grid->ColFormat(col));
}

TStringGrid::TCellMark TGridEdit::mark(int col, int row) const
{
    TStringGrid::TCellMark mark;
    const rowchanges::Change *change = m_pending.find(row);
    const bool failed = m_failed >= 0 && change &&
                        change == &m_pending.changes()[static_cast<std::size_t>(m_failed)];
    const QString failure = failed ? QStringLiteral("; failed: ") + m_failedWhy : QString();
    if (change && change->What == Kind::Delete) {
        mark.Marked = true;
        mark.Background = failed ? FailedColor : DeletedColor;
        mark.Description = QStringLiteral("Row to be deleted") + failure;
        return mark;
    }
    if (change && change->What == Kind::Insert) {
        mark.Marked = true;
        mark.Background = failed ? FailedColor : NewRowColor;
        mark.Replaces = true;
        const Value *value = m_pending.cell(row, col);
        mark.Text = value ? shown(*value, col) : QStringLiteral("(default)");
        mark.Description = QStringLiteral("New row, not applied yet") + failure;
        return mark;
    }
    if (change) {
        if (const Value *value = m_pending.cell(row, col)) {
            mark.Marked = true;
            mark.Background = failed ? FailedColor : ChangedColor;
            mark.Replaces = true;
            mark.Text = shown(*value, col);
            mark.Description = QStringLiteral("Changed, not applied yet; was: ") +
                               (m_grid->CellIsNull(col, row) ? QStringLiteral("NULL")
                                                             : m_grid->DisplayText(col, row)) +
                               failure;
            return mark;
        }
        if (failed) {
            mark.Marked = true;
            mark.Background = ChangedColor;
            mark.Description = QStringLiteral("Row of a change that failed: ") + m_failedWhy;
            return mark;
        }
    }
    const Range range = selectedRange();
    if (m_allSelected || m_selected.count(row) ||
        (!range.empty() && row >= range.Top && row <= range.Bottom && col >= range.Left &&
         col <= range.Right)) {
        mark.Marked = true;
        mark.Background = SelectedColor;
        mark.Description = QStringLiteral("Selected");
    }
    const QString note = noteOf(row, col);
    if (!note.isEmpty()) mark.Description = note;
    return mark;
}

// ---------------------------------------------------------------------------------------------
// Editing

void TGridEdit::changed()
{
    Q_EMIT pendingChanged(m_pending.count());
    if (m_sqlWindow) {
        if (auto *text = m_sqlWindow->findChild<QPlainTextEdit *>(QStringLiteral("Show_sql_text")))
            text->setPlainText(sqlText());
    }
}

void TGridEdit::setCell(int row, int col, Value value)
{
    const rowchanges::Change *change = m_pending.find(row);
    bool did = false;
    if (change && change->What == Kind::Insert)
        did = m_pending.setNewCell(row, col, std::move(value));
    else if (change && change->What == Kind::Delete) {
        Q_EMIT message(QStringLiteral("This row is marked for delete"));
        return;
    } else
        did = m_pending.setCell(row, col, std::move(value), stored(row, col));
    if (!did) return;
    m_notes.erase({row, col});
    m_grid->invalidateRow(row);
    changed();
}

void TGridEdit::editCurrent(const QString &typed, bool replace)
{
    const int col = m_grid->Col();
    const int row = m_grid->Row();
    if (row < m_grid->HeaderRows() || row >= m_grid->RowCount() || refuseEdit(col)) return;
    const rowchanges::Change *change = m_pending.find(row);
    if (change && change->What == Kind::Delete) {
        Q_EMIT message(QStringLiteral("This row is marked for delete"));
        return;
    }
    std::string start;
    if (const Value *value = m_pending.cell(row, col)) {
        if (value->Kind == Value::Bytes) start = value->Data;
    } else if (!change || change->What != Kind::Insert) {
        start = std::string(m_grid->CellUtf8(col, row));
    }
    const TmySQLFieldInfo &field = m_target.Fields[static_cast<std::size_t>(col)];
    // Bytes that are not text are edited as hexadecimal, never through a text round trip.
    if ((field.Binary() || field.Type == 16) && !validUtf8(start) && !replace) {
        editCurrentAsHex();
        return;
    }
    const QString text = replace ? typed : QString::fromUtf8(start.data(), qsizetype(start.size()));
    const bool multiLine = text.size() > LongValue || text.contains(QLatin1Char('\n'));
    // The multi-line editor keeps no carriage return: such a value is edited as its bytes.
    if (multiLine && text.contains(QLatin1Char('\r')) && !replace) {
        Q_EMIT message(QStringLiteral("The value holds carriage returns: edited as hexadecimal"));
        editCurrentAsHex();
        return;
    }
    openEditor(col, row, text, multiLine, !replace);
    // What the editor holds before any key (the start, as the editor reads it): unchanged, it is
    // no change.
    m_editStart = replace ? QString::fromUtf8(start.data(), qsizetype(start.size())) + QChar(0xFFFF)
                          : editorText(m_editor);
}

void TGridEdit::openEditor(int col, int row, const QString &text, bool multiLine, bool selected)
{
    cancelEditor();
    QRect rect = m_grid->CellRect(col, row);
    if (rect.isEmpty()) return;
    QWidget *editor = nullptr;
    if (multiLine) {
        auto *edit = new QPlainTextEdit(m_grid->viewport());
        edit->setPlainText(text);
        if (!selected) edit->moveCursor(QTextCursor::End);
        rect.setSize(QSize(std::max(rect.width(), 420), 160));
        editor = edit;
    } else {
        auto *edit = new QLineEdit(text, m_grid->viewport());
        // The value chosen whole, to be typed over; a typed start goes on from its end.
        if (selected) edit->selectAll();
        rect.setWidth(std::max(rect.width(), 120));
        editor = edit;
    }
    editor->setObjectName(QStringLiteral("Cell_editor"));
    editor->setAccessibleName(QStringLiteral("Cell_editor"));
    editor->setAccessibleDescription(
        QString::fromStdString(m_target.Fields[static_cast<std::size_t>(col)].Name));
    editor->setGeometry(
        rect.intersected(m_grid->viewport()->rect()).isEmpty()
            ? rect
            : rect.translated(std::min(0, m_grid->viewport()->width() - rect.right() - 1),
                              std::min(0, m_grid->viewport()->height() - rect.bottom() - 1)));
    editor->installEventFilter(this);
    m_editor = editor;
    m_editCol = col;
    m_editRow = row;
    editor->show();
    editor->setFocus();
}

QString TGridEdit::editorText(const QWidget *editor)
{
    if (auto *line = qobject_cast<const QLineEdit *>(editor)) return line->text();
    // The document's own characters: toPlainText would turn no-break spaces into blanks.
    if (auto *plain = qobject_cast<const QPlainTextEdit *>(editor)) {
        QString text = plain->document()->toRawText();
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        return text;
    }
    return {};
}

QWidget *TGridEdit::cellEditor() const
{
    return m_editor;
}

void TGridEdit::commitEditor()
{
    if (!m_editor) return;
    QWidget *editor = m_editor;
    m_editor = nullptr;
    const QString text = editorText(editor);
    editor->removeEventFilter(this);
    editor->hide();
    editor->deleteLater();
    if (text != m_editStart) {
        const QByteArray bytes = text.toUtf8();
        setCell(m_editRow, m_editCol, Value::of(bytes.toStdString()));
    }
    m_grid->setFocus();
}

void TGridEdit::cancelEditor()
{
    if (!m_editor) return;
    QWidget *editor = m_editor;
    m_editor = nullptr;
    editor->removeEventFilter(this);
    editor->hide();
    editor->deleteLater();
    if (m_grid) m_grid->setFocus();
}

void TGridEdit::setCurrent(Value value)
{
    const int col = m_grid->Col();
    const int row = m_grid->Row();
    if (row < m_grid->HeaderRows() || refuseEdit(col)) return;
    cancelEditor();
    setCell(row, col, std::move(value));
}

void TGridEdit::editCurrentAsHex()
{
    const int col = m_grid->Col();
    const int row = m_grid->Row();
    if (row < m_grid->HeaderRows() || refuseEdit(col)) return;
    cancelEditor();
    std::string bytes;
    if (const Value *value = m_pending.cell(row, col))
        bytes = value->Data;
    else if (!m_pending.find(row))
        bytes = std::string(m_grid->CellUtf8(col, row));
    const QByteArray hex = QByteArray(bytes.data(), qsizetype(bytes.size())).toHex(' ').toUpper();
    const std::optional<QString> typed = ui::askText(
        m_window, QStringLiteral("Edit as hex"),
        QStringLiteral("Bytes in hexadecimal (blanks are ignored):"), QString::fromLatin1(hex));
    if (!typed) return;
    QString digits = *typed;
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) digits = digits.mid(2);
    static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    if (!hexDigits.match(digits).hasMatch()) {
        Q_EMIT message(QStringLiteral("Not hexadecimal bytes"));
        ui::beep();
        return;
    }
    const QByteArray value = QByteArray::fromHex(digits.toLatin1());
    setCell(row, col, Value::of(value.toStdString()));
}

void TGridEdit::addRow()
{
    if (refuseEdit()) return;
    cancelEditor();
    const int row = m_grid->RowCount();
    m_grid->setRowCount(row + 1);
    resultgrid::fitHeader(m_grid, m_target.Fields);
    m_pending.addInsert(row);
    if (m_firstNewRow < 0) m_firstNewRow = row;
    m_grid->MoveTo(m_grid->FixedCols(), row);
    changed();
}

void TGridEdit::deleteSelected()
{
    if (refuseEdit()) return;
    cancelEditor();
    std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        Q_EMIT message(QStringLiteral("No row selected"));
        return;
    }
    // From the bottom: a new row dropped moves the new rows below it.
    std::sort(rows.rbegin(), rows.rend());
    for (const int row : rows) {
        const rowchanges::Change *change = m_pending.find(row);
        if (change && change->What == Kind::Insert) {
            m_pending.dropInsert(row);
            m_grid->RemoveRows({row});
            if (m_firstNewRow >= m_grid->RowCount()) m_firstNewRow = -1;
        } else {
            m_pending.toggleDelete(row);
        }
    }
    resultgrid::fitHeader(m_grid, m_target.Fields);
    clearSelection();
    m_grid->viewport()->update();
    changed();
}

void TGridEdit::discard()
{
    cancelEditor();
    if (m_applying) return;
    if (m_firstNewRow >= 0) m_grid->setRowCount(m_firstNewRow);
    m_firstNewRow = -1;
    m_pending.clear();
    m_failed = -1;
    resultgrid::fitHeader(m_grid, m_target.Fields);
    m_grid->viewport()->update();
    changed();
    Q_EMIT message(QStringLiteral("Changes discarded"));
}

// ---------------------------------------------------------------------------------------------
// Selection

void TGridEdit::clearSelection()
{
    m_selected.clear();
    m_range = Range();
    m_allSelected = false;
}

void TGridEdit::currentMoved(int col, int row)
{
    // The keys held with the press or click that moved it; a move made by the program has none.
    const Qt::KeyboardModifiers mods = m_mods;
    m_mods = Qt::NoModifier;
    if (m_stripMove) return;
    const bool had = m_allSelected || !m_selected.empty() || !m_range.empty();
    m_allSelected = false;
    if ((mods & Qt::ShiftModifier) && m_anchor >= m_grid->HeaderRows() && m_anchorCol >= 0) {
        m_selected.clear();
        m_range = Range{std::min(m_anchorCol, col), std::min(m_anchor, row),
                        std::max(m_anchorCol, col), std::max(m_anchor, row)};
        if (m_range.Left == m_range.Right && m_range.Top == m_range.Bottom) m_range = Range();
    } else if (mods & Qt::ControlModifier) {
        // Rows toggled whole; a range chosen before comes along as its rows.
        if (!m_range.empty()) {
            for (int r = m_range.Top; r <= m_range.Bottom; ++r)
                m_selected.insert(r);
            m_range = Range();
        } else if (m_selected.empty() && m_anchor >= m_grid->HeaderRows()) {
            m_selected.insert(m_anchor);
        }
        if (!m_selected.erase(row)) m_selected.insert(row);
        m_anchor = row;
        m_anchorCol = col;
    } else {
        m_selected.clear();
        m_range = Range();
        m_anchor = row;
        m_anchorCol = col;
    }
    if (had || !m_selected.empty() || !m_range.empty()) m_grid->viewport()->update();
}

void TGridEdit::stripPressed(int row, Qt::KeyboardModifiers mods)
{
    cancelEditor();
    m_allSelected = false;
    m_range = Range();
    if ((mods & Qt::ShiftModifier) && m_anchor >= m_grid->HeaderRows()) {
        m_selected.clear();
        for (int r = std::min(m_anchor, row); r <= std::max(m_anchor, row); ++r)
            m_selected.insert(r);
    } else if (mods & Qt::ControlModifier) {
        if (!m_selected.erase(row)) m_selected.insert(row);
        m_anchor = row;
    } else {
        m_selected = {row};
        m_anchor = row;
    }
    m_stripMove = true;
    m_grid->MoveTo(m_grid->Col(), row);
    m_stripMove = false;
    m_grid->viewport()->update();
}

void TGridEdit::stripDragged(int row)
{
    if (m_anchor < m_grid->HeaderRows()) return;
    m_selected.clear();
    for (int r = std::min(m_anchor, row); r <= std::max(m_anchor, row); ++r)
        m_selected.insert(r);
    m_stripMove = true;
    m_grid->MoveTo(m_grid->Col(), row);
    m_stripMove = false;
    m_grid->viewport()->update();
}

void TGridEdit::selectAll()
{
    m_allSelected = true;
    m_grid->viewport()->update();
}

TGridEdit::Range TGridEdit::selectedRange() const
{
    return m_allSelected || !m_selected.empty() ? Range() : m_range;
}

std::string TGridEdit::copyText(rowformat::Kind kind, bool rowWhenOneCell) const
{
    const Range range = selectedRange();
    const bool oneCell = !m_allSelected && m_selected.empty() && range.empty();
    // The columns copied: a range's, or all of them.
    int first = 0, last = m_grid->ColCount() - 1;
    if (!range.empty()) {
        first = std::max(range.Left, 0);
        last = std::min(range.Right, last);
    }
    std::vector<rowformat::Column> columns;
    for (int c = first; c <= last; ++c) {
        rowformat::Column column;
        if (c < static_cast<int>(m_target.Fields.size())) {
            const TmySQLFieldInfo &field = m_target.Fields[static_cast<std::size_t>(c)];
            column.Name = field.Name;
            column.Bit = field.Type == 16;
            column.Binary = m_grid->ColFormat(c) == TCellFormat::Hex;
            column.Number =
                (field.Type >= 0 && field.Type <= 9 && field.Type != 6 && field.Type != 7) ||
                field.Type == 246;
        } else {
            column.Name = std::string(m_grid->CellUtf8(c, 0));
        }
        columns.push_back(std::move(column));
    }
    const auto shownCell = [this, first](int row) {
        return [this, row, first](int index) -> std::optional<std::string_view> {
            const int col = first + index;
            if (const Value *value = m_pending.cell(row, col)) {
                if (value->Kind == Value::Bytes) return std::string_view(value->Data);
                return std::nullopt;
            }
            return stored(row, col);
        };
    };
    std::string out;
    if (oneCell && !rowWhenOneCell && kind == rowformat::Kind::Tsv) {
        // The current cell alone: its value as text, no header, no line end.
        const std::optional<std::string_view> value = shownCell(m_grid->Row())(m_grid->Col());
        return value ? std::string(*value) : std::string();
    }
    std::vector<int> rows;
    if (!range.empty()) {
        for (int r = std::max(range.Top, m_grid->HeaderRows());
             r <= std::min(range.Bottom, m_grid->RowCount() - 1); ++r)
            rows.push_back(r);
    } else {
        rows = selectedRows();
    }
    rowformat::Options options;
    options.Table = QuoteIdentifier(m_target.Table.empty() ? "table" : m_target.Table);
    if (!m_target.Database.empty())
        options.Table = QuoteIdentifier(m_target.Database) + "." + options.Table;
    // Column names head whole rows only: a range of cells is copied as the values alone.
    options.Header = range.empty();
    rowformat::begin(kind, columns, options, out);
    bool firstRow = true;
    for (const int row : rows) {
        const rowchanges::Change *change = m_pending.find(row);
        if (change && change->What == Kind::Delete) continue; // about to go
        rowformat::row(kind, columns, options, shownCell(row), firstRow, out);
        firstRow = false;
    }
    rowformat::end(kind, out);
    return out;
}

void TGridEdit::copy(rowformat::Kind kind, bool rowWhenOneCell)
{
    if (m_grid->RowCount() <= m_grid->HeaderRows()) return;
    const std::string text = copyText(kind, rowWhenOneCell);
    QGuiApplication::clipboard()->setText(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::vector<int> TGridEdit::selectedRows() const
{
    std::vector<int> rows;
    if (m_allSelected) {
        rows.reserve(
            static_cast<std::size_t>(std::max(m_grid->RowCount() - m_grid->HeaderRows(), 0)));
        for (int row = m_grid->HeaderRows(); row < m_grid->RowCount(); ++row)
            rows.push_back(row);
        return rows;
    }
    std::set<int> chosen = m_selected;
    if (!m_range.empty())
        for (int r = m_range.Top; r <= m_range.Bottom; ++r)
            chosen.insert(r);
    for (const int row : chosen)
        if (row >= m_grid->HeaderRows() && row < m_grid->RowCount()) rows.push_back(row);
    if (rows.empty() && m_grid->Row() >= m_grid->HeaderRows() && m_grid->Row() < m_grid->RowCount())
        rows.push_back(m_grid->Row());
    return rows;
}

void TGridEdit::selectRows(const std::vector<int> &rows)
{
    m_selected = std::set<int>(rows.begin(), rows.end());
    m_range = Range();
    m_anchor = rows.empty() ? -1 : rows.front();
    m_grid->viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// Keys and mouse

bool TGridEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_gridObject && event->type() == QEvent::KeyPress)
        m_mods = static_cast<QKeyEvent *>(event)->modifiers();
    else if (watched == m_viewport && event->type() == QEvent::MouseButtonPress)
        m_mods = static_cast<QMouseEvent *>(event)->modifiers();
    if (m_editor && watched == m_editor) {
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            const bool multi = qobject_cast<QPlainTextEdit *>(m_editor) != nullptr;
            if (key->key() == Qt::Key_Escape) {
                cancelEditor();
                return true;
            }
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (!multi || (key->modifiers() & Qt::ControlModifier))) {
                commitEditor();
                return true;
            }
            if (key->key() == Qt::Key_Tab) {
                const int col = m_editCol, row = m_editRow;
                commitEditor();
                m_grid->MoveTo(col + 1, row);
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Moving to another cell (or anywhere else) keeps what was typed.
            QTimer::singleShot(0, this, [this, editor = QPointer<QWidget>(m_editor)] {
                if (editor && editor == m_editor && !editor->hasFocus()) commitEditor();
            });
        }
        return false;
    }
    if (watched == m_gridObject && event->type() == QEvent::KeyPress && !m_editor) {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers();
        switch (key->key()) {
        case Qt::Key_F2:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            editCurrent();
            return true;
        case Qt::Key_Insert:
            addRow();
            return true;
        case Qt::Key_Delete:
            deleteSelected();
            return true;
        case Qt::Key_S:
            if (mods & Qt::ControlModifier) {
                apply();
                return true;
            }
            break;
        case Qt::Key_C:
            if (mods & Qt::ControlModifier) {
                copy(rowformat::Kind::Tsv, false);
                return true;
            }
            break;
        case Qt::Key_A:
            if (mods & Qt::ControlModifier) {
                selectAll();
                return true;
            }
            break;
        case Qt::Key_Space:
            if (mods & Qt::ShiftModifier) {
                // The current row whole, as a click on its number would choose it.
                if (m_grid->Row() >= m_grid->HeaderRows())
                    stripPressed(m_grid->Row(), mods & ~Qt::ShiftModifier);
                return true;
            }
            break;
        default:
            break;
        }
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint() &&
            !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            editCurrent(text, true);
            return true;
        }
        return false;
    }
    if (watched == m_viewport && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        int col = 0, row = 0;
        m_dragging = mouse->button() == Qt::LeftButton &&
                     m_grid->MouseToCell(mouse->position().toPoint(), col, row) &&
                     row >= m_grid->HeaderRows() && col >= m_grid->FixedCols();
    } else if (watched == m_viewport && event->type() == QEvent::MouseButtonRelease) {
        m_dragging = false;
    } else if (watched == m_viewport && event->type() == QEvent::MouseMove && m_dragging) {
        // A drag from a cell chooses the range to the cell under the mouse.
        auto *mouse = static_cast<QMouseEvent *>(event);
        int col = 0, row = 0;
        if ((mouse->buttons() & Qt::LeftButton) &&
            m_grid->MouseToCell(mouse->position().toPoint(), col, row) &&
            row >= m_grid->HeaderRows() && col >= m_grid->FixedCols() &&
            (col != m_grid->Col() || row != m_grid->Row())) {
            m_mods = Qt::ShiftModifier;
            m_grid->MoveTo(col, row);
        }
        return false;
    }
    if (watched == m_viewport && event->type() == QEvent::MouseButtonDblClick) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        int col = 0, row = 0;
        if (mouse->button() == Qt::LeftButton &&
            m_grid->MouseToCell(mouse->position().toPoint(), col, row) &&
            row >= m_grid->HeaderRows() && col >= m_grid->FixedCols()) {
            m_grid->MoveTo(col, row);
            editCurrent();
            return true;
        }
    }
    if ((watched == m_gridObject || watched == m_viewport) &&
        event->type() == QEvent::ContextMenu && m_hasTarget) {
        auto *menu = new QMenu(m_grid);
        menu->setObjectName(QStringLiteral("Cell_menu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("Set NULL"), this, [this] { setCurrent(Value::null()); });
        menu->addAction(QStringLiteral("Set empty text"), this,
                        [this] { setCurrent(Value::of({})); });
        menu->addAction(QStringLiteral("Set DEFAULT"), this,
                        [this] { setCurrent(Value::byDefault()); });
        const int col = m_grid->Col();
        if (col >= 0 && col < static_cast<int>(m_target.Fields.size()) &&
            m_target.Fields[static_cast<std::size_t>(col)].Binary())
            menu->addAction(QStringLiteral("Edit as hex\u2026"), this,
                            [this] { editCurrentAsHex(); });
        menu->addSeparator();
        menu->addAction(QStringLiteral("Copy"), this,
                        [this] { copy(rowformat::Kind::Tsv, false); });
        menu->addAction(QStringLiteral("Copy as CSV"), this,
                        [this] { copy(rowformat::Kind::Csv, true); });
        menu->addAction(QStringLiteral("Copy as JSON"), this,
                        [this] { copy(rowformat::Kind::Json, true); });
        menu->addAction(QStringLiteral("Copy as SQL INSERT"), this,
                        [this] { copy(rowformat::Kind::Insert, true); });
        menu->addSeparator();
        menu->addAction(QStringLiteral("Export\u2026"), this, [this] { Q_EMIT exportRequested(); });
        menu->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Apply

std::vector<TGridEdit::Step> TGridEdit::plan(std::string *why, int *failed, bool guarded) const
{
    std::vector<Step> steps;
    {
        TmySQLStatement engine(
            "SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA = ");
        if (m_target.Database.empty())
            engine.Text("DATABASE()");
        else
            engine.HexValue(m_target.Database);
        engine.Text(" AND TABLE_NAME = ").HexValue(m_target.Table).Text(";");
        steps.push_back({Step::Engine, -1, engine.Build()});
    }
    {
        // The rows' bytes depend on the session they were read in: the edit connection's is the
        // same (a TIMESTAMP's text, CHAR padding).
        const rowdelete::Key &key = m_target.TableKey;
        TmySQLStatement session("SET SESSION ");
        bool any = false;
        if (key.TimeZone) {
            session.Text("time_zone = ").Value(*key.TimeZone);
            any = true;
        }
        if (key.SqlMode) {
            session.Text(any ? ", sql_mode = " : "sql_mode = ").Value(*key.SqlMode);
            any = true;
        }
        if (any) steps.push_back({Step::Session, -1, session.Text(";").Build()});
    }
    steps.push_back({Step::Begin, -1, "START TRANSACTION;"});
    const auto &changes = m_pending.changes();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const rowchanges::Change &change = changes[i];
        const rowdelete::CellReader old = reader(change.Row);
        std::optional<TmySQLStatement> statement =
            rowchanges::Statement(m_target, change, old, why, guarded);
        if (!statement) {
            if (failed) *failed = static_cast<int>(i);
            return {};
        }
        if (guarded)
            if (std::optional<TmySQLStatement> count = rowchanges::Count(m_target, change, old))
                steps.push_back({Step::Count, static_cast<int>(i), count->Build()});
        steps.push_back({Step::Statement, static_cast<int>(i), statement->Build()});
        if (std::optional<TmySQLStatement> back = rowchanges::ReadBack(m_target, change, old))
            steps.push_back({Step::ReadBack, static_cast<int>(i), back->Build()});
    }
    steps.push_back({Step::Commit, -1, "COMMIT;"});
    return steps;
}

QString TGridEdit::sqlText() const
{
    if (m_pending.empty()) return QStringLiteral("-- No changes pending");
    std::string why;
    int failed = -1;
    const std::vector<Step> steps = plan(&why, &failed);
    if (steps.empty())
        return QStringLiteral("-- Change %1 cannot be applied: %2")
            .arg(failed + 1)
            .arg(QString::fromStdString(why));
    QString text;
    const bool wholeKey = rowdelete::WholeKey(m_target);
    const std::vector<int> copies = wholeKey ? std::vector<int>() : identicalCopies();
    for (const Step &step : steps) {
        if (step.What == Step::Engine) continue;
        if (step.What == Step::Statement) {
            const rowchanges::Change &change =
                m_pending.changes()[static_cast<std::size_t>(step.Change)];
            text += QStringLiteral("-- Change %1: ").arg(step.Change + 1);
            text += change.What == Kind::Insert   ? QStringLiteral("a new row")
                    : change.What == Kind::Delete ? QStringLiteral("delete row %1").arg(change.Row)
                                                  : QStringLiteral("row %1").arg(change.Row);
            if (!wholeKey && change.What != Kind::Insert) {
                const int others = copies[static_cast<std::size_t>(step.Change)];
                if (others > 0)
                    text +=
                        QStringLiteral(": this row has %1 identical %2; one of them will "
                                       "change")
                            .arg(others)
                            .arg(others == 1 ? QStringLiteral("copy") : QStringLiteral("copies"));
            }
            // The values readable, then the statement as sent.
            std::string none;
            if (std::optional<TmySQLStatement> readable =
                    rowchanges::Statement(m_target, change, reader(change.Row), &none))
                text += QStringLiteral("\n--   ") +
                        QString::fromStdString(rowdelete::Shortened(readable->Preview(2000), 300))
                            .replace(QLatin1Char('\n'), QLatin1Char(' '));
            text += QLatin1Char('\n');
        }
        if (step.Sql.size() > ShownStatementBytes)
            text += QString::fromUtf8(step.Sql.data(), qsizetype(ShownStatementBytes)) +
                    QStringLiteral("\u2026 (%1 bytes in all)").arg(step.Sql.size());
        else
            text += QString::fromStdString(step.Sql);
        text += QLatin1Char('\n');
    }
    return text;
}

std::vector<int> TGridEdit::identicalCopies() const
{
    // Rows told apart by no key: how many other rows of the grid hold the same bytes, by one
    // pass over the grid with a hash of each row.
    const auto &changes = m_pending.changes();
    std::vector<int> copies(changes.size(), 0);
    const int cols = m_grid->ColCount();
    const auto rowHash = [&](int row) {
        std::size_t h = 0;
        for (int c = 0; c < cols; ++c) {
            const std::size_t cell = m_grid->CellIsNull(c, row)
                                         ? 0x9e3779b9u
                                         : std::hash<std::string_view>()(m_grid->CellUtf8(c, row));
            h ^= cell + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        }
        return h;
    };
    const auto same = [&](int a, int b) {
        for (int c = 0; c < cols; ++c)
            if (m_grid->CellIsNull(c, a) != m_grid->CellIsNull(c, b) ||
                m_grid->CellUtf8(c, a) != m_grid->CellUtf8(c, b))
                return false;
        return true;
    };
    std::unordered_multimap<std::size_t, std::size_t> wanted;
    for (std::size_t i = 0; i < changes.size(); ++i)
        if (changes[i].What != Kind::Insert) wanted.emplace(rowHash(changes[i].Row), i);
    if (wanted.empty()) return copies;
    const int end = m_firstNewRow >= 0 ? m_firstNewRow : m_grid->RowCount();
    for (int row = m_grid->HeaderRows(); row < end; ++row) {
        const auto [from, to] = wanted.equal_range(rowHash(row));
        for (auto it = from; it != to; ++it) {
            const int changed = changes[it->second].Row;
            if (row != changed && same(row, changed)) ++copies[it->second];
        }
    }
    return copies;
}

void TGridEdit::showSql()
{
    commitEditor();
    if (!m_sqlWindow) {
        auto *window = new QDialog(m_window);
        window->setObjectName(QStringLiteral("Show_sql_window"));
        window->setWindowTitle(QStringLiteral("Show SQL"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto *layout = new QVBoxLayout(window);
        auto *text = new QPlainTextEdit(window);
        text->setObjectName(QStringLiteral("Show_sql_text"));
        text->setAccessibleName(QStringLiteral("Show_sql_text"));
        text->setReadOnly(true);
        text->setLineWrapMode(QPlainTextEdit::NoWrap);
        QFont mono(QStringLiteral("Monospace"));
        mono.setStyleHint(QFont::Monospace);
        text->setFont(mono);
        layout->addWidget(text);
        auto *close = new QPushButton(QStringLiteral("Close"), window);
        close->setObjectName(QStringLiteral("Show_sql_close"));
        connect(close, &QPushButton::clicked, window, &QDialog::close);
        layout->addWidget(close, 0, Qt::AlignRight);
        window->resize(720, 360);
        ui::announceAsDialog(window);
        m_sqlWindow = window;
    }
    if (auto *text = m_sqlWindow->findChild<QPlainTextEdit *>(QStringLiteral("Show_sql_text")))
        text->setPlainText(sqlText());
    m_sqlWindow->show();
    m_sqlWindow->raise();
}

void TGridEdit::apply()
{
    if (m_applying) return;
    commitEditor();
    if (m_pending.empty()) {
        Q_EMIT message(QStringLiteral("No changes pending"));
        Q_EMIT applyFinished(true);
        return;
    }
    if (!m_main || !m_main->Connected()) {
        Q_EMIT message(QStringLiteral("Not connected"));
        Q_EMIT applyFinished(false);
        return;
    }
    std::string why;
    int failed = -1;
    m_steps = plan(&why, &failed);
    if (m_steps.empty()) {
        m_failureChange = failed;
        finish(false, QStringLiteral("Change %1 cannot be applied: %2")
                          .arg(failed + 1)
                          .arg(QString::fromStdString(why)));
        return;
    }
    m_at = m_sent = 0;
    m_pipelined = false;
    m_failure.clear();
    m_failureChange = -1;
    m_readBack.clear();
    m_engine.clear();
    m_applying = true;
    m_retried = false;
    m_applyCount = m_pending.count();
    Q_EMIT message(QStringLiteral("Applying %1\u2026").arg(pendingText()));
    connectAndRun();
}

void TGridEdit::connectAndRun()
{
    if (m_conn && m_conn->Connected()) {
        runStep();
        return;
    }
    if (!m_conn) {
        m_conn = std::make_unique<TmySQLClient>();
        m_conn->setObjectName(QStringLiteral("edit_mysql"));
        m_conn->setThreaded(true);
        m_conn->setBlockOnClose(true);
        m_conn->OnConnect = [this](QObject *) {
            if (m_applying) runStep();
        };
        m_conn->OnConnectError = [this](QObject *, const QString &msg) {
            if (m_applying) finish(false, QStringLiteral("Cannot connect for the changes: ") + msg);
        };
    }
    copyLogin(m_main, m_conn.get());
    m_conn->setDatabase(QString::fromStdString(m_target.Database));
    m_conn->Connect();
}

void TGridEdit::runStep()
{
    // Statements of a transactional table go ahead of their outcomes, a window at a time, each
    // sent only when the one before succeeded; a failure seen later is undone with the rest by
    // the ROLLBACK. A table without transactions gets one statement at a time, each checked
    // before the next is sent. COMMIT and ROLLBACK wait for every outcome before them.
    const std::size_t window = m_pipelined ? PipelineDepth : 1;
    while (m_sent < m_steps.size() && m_sent - m_at < window) {
        const Step &step = m_steps[m_sent];
        const bool chained = step.What == Step::Statement || step.What == Step::ReadBack;
        if (!chained && m_sent != m_at) break;
        submit(step, chained && m_pipelined);
        ++m_sent;
        if (!chained) break;
    }
    m_conn->ExecuteTasks();
}

void TGridEdit::submit(const Step &step, bool chained)
{
    static const char *const names[] = {"Edit Engine",    "Edit Begin",  "Edit Change",
                                        "Edit Read Back", "Edit Commit", "Edit Rollback",
                                        "Edit Session",   "Edit Count"};
    // Outcomes arrive in the order sent: each fills m_outcome and m_rows for stepDone.
    m_conn->Query()->SubmitScript(
        step.Sql, names[step.What],
        [this](QObject *, TmySQLRowBatch &batch) {
            if (batch.End) {
                if (!batch.End->HasRows) {
                    m_outcome.AffectedRows = batch.End->AffectedRows;
                    m_outcome.Info = batch.End->Info;
                }
                return;
            }
            if (!batch.Block || batch.ResultIndex != 0) return;
            CellStore rows;
            rows.assign(std::move(*batch.Block));
            for (int r = batch.First ? 1 : 0; r < rows.rowCount(); ++r) {
                std::vector<std::optional<std::string>> row;
                for (int c = 0; c < rows.colCount(); ++c)
                    row.push_back(rows.isNull(c, r) ? std::nullopt
                                                    : std::optional<std::string>(rows.get(c, r)));
                m_rows.push_back(std::move(row));
            }
        },
        [this](QObject *sender) {
            const TmySQLScriptOutcome &outcome =
                static_cast<TmySQLClientQuery *>(sender)->ScriptOutcome();
            m_outcome.Warnings = outcome.Warnings;
            m_outcome.WarningLines = outcome.WarningLines;
            if (outcome.NotRun)
                stepDone(false, QStringLiteral("Not sent: the statement before it failed"));
            else
                stepDone(true, QString());
        },
        [this](QObject *, const QString &msg) {
            stepDone(false, msg.isEmpty() ? QStringLiteral("The statement failed") : msg);
        },
        chained);
}

void TGridEdit::fail(int change, const QString &why)
{
    const rowchanges::Change &c = m_pending.changes()[static_cast<std::size_t>(change)];
    m_failureChange = change;
    m_failure = QStringLiteral("Change %1 (%2): %3")
                    .arg(change + 1)
                    .arg(c.What == Kind::Insert ? QStringLiteral("new row")
                                                : QStringLiteral("row %1").arg(c.Row))
                    .arg(why);
    // Nothing not sent yet is sent; what ran is undone once the outcomes in flight are in.
    m_steps.resize(m_sent);
    m_steps.push_back({Step::Rollback, -1, "ROLLBACK;"});
}

void TGridEdit::stepDone(bool ok, const QString &error)
{
    if (!m_applying || m_at >= m_steps.size()) return;
    const Step step = m_steps[m_at];
    const rowchanges::Outcome outcome = std::move(m_outcome);
    const std::vector<std::vector<std::optional<std::string>>> rows = std::move(m_rows);
    m_outcome = rowchanges::Outcome();
    m_rows.clear();
    // After a failure, what was in flight only has to come back before the ROLLBACK goes.
    if (!m_failure.isEmpty() && step.What != Step::Rollback && step.What != Step::Commit) {
        ++m_at;
        runStep();
        return;
    }
    switch (step.What) {
    case Step::Engine:
        if (!ok && !m_retried) {
            // A connection the server ended while it was idle: made anew, once. Nothing has been
            // sent that changes anything.
            m_retried = true;
            // Not inside the connection's own event.
            QTimer::singleShot(0, this, [this] {
                if (m_conn) m_conn->Close();
                m_conn.reset();
                m_at = m_sent = 0;
                if (m_applying) connectAndRun();
            });
            return;
        }
        {
            std::string engine =
                ok && !rows.empty() && !rows.front().empty() && rows.front().front()
                    ? *rows.front().front()
                    : std::string();
            std::transform(engine.begin(), engine.end(), engine.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            // Known to undo a statement: its outcomes may be checked behind it.
            m_pipelined = engine == "INNODB";
        }
        if (ok && !rows.empty() && !rows.front().empty() && rows.front().front())
            m_engine = *rows.front().front();
        if (nonTransactional(m_engine)) {
            const QString answer = ui::askQuestion(
                m_window, QStringLiteral("MySQL Quorvane"),
                QStringLiteral("The table's engine (%1) has no transactions: if a change fails, "
                               "the changes applied before it stay and cannot be undone. Apply "
                               "anyway?")
                    .arg(QString::fromStdString(m_engine)),
                {QStringLiteral("Apply"), QStringLiteral("Cancel")});
            if (answer != QLatin1String("Apply")) {
                finish(false, QStringLiteral("Nothing was applied"));
                return;
            }
            // Each change counted before it is made, and one row at most touched: nothing is
            // undone after a failure here.
            std::string why;
            int failed = -1;
            std::vector<Step> guarded = plan(&why, &failed, true);
            if (guarded.empty()) {
                finish(false, QString::fromStdString(why));
                return;
            }
            m_steps = std::move(guarded);
        }
        break;
    case Step::Session:
        if (!ok) {
            finish(false, QStringLiteral("Cannot set the session up: ") + error);
            return;
        }
        break;
    case Step::Count: {
        const std::string n = ok && !rows.empty() && !rows.front().empty() && rows.front().front()
                                  ? *rows.front().front()
                                  : std::string();
        if (!ok)
            fail(step.Change, error);
        else if (n == "0")
            fail(step.Change, QString::fromLatin1(rowchanges::ChangedElsewhere));
        else if (n != "1")
            fail(step.Change, QString::fromStdString(
                                  rowchanges::SeveralMatch(std::strtoull(n.c_str(), nullptr, 10))));
        break;
    }
    case Step::Begin:
        if (!ok) {
            finish(false, QStringLiteral("Cannot start a transaction: ") + error);
            return;
        }
        break;
    case Step::Statement: {
        const rowchanges::Change &change =
            m_pending.changes()[static_cast<std::size_t>(step.Change)];
        const QString why =
            ok ? QString::fromStdString(rowchanges::Verdict(change, outcome)) : error;
        if (!why.isEmpty()) fail(step.Change, why);
        break;
    }
    case Step::ReadBack: {
        const rowchanges::Change &change =
            m_pending.changes()[static_cast<std::size_t>(step.Change)];
        // A lone row, or of two the one that holds what was typed.
        const auto holdsTyped = [&](const std::vector<std::optional<std::string>> &row) {
            for (const auto &[col, value] : change.Cells) {
                if (static_cast<std::size_t>(col) >= row.size() ||
                    static_cast<std::size_t>(col) >= m_target.Fields.size())
                    return false;
                if (!rowchanges::HoldsTyped(m_target.Fields[static_cast<std::size_t>(col)], value,
                                            row[static_cast<std::size_t>(col)]))
                    return false;
            }
            return true;
        };
        // A read that fails stops the run: the statements after it are not sent.
        if (!ok) {
            fail(step.Change, QStringLiteral("The row could not be read back: ") + error);
            break;
        }
        // A lone row is this one (this one matches what finds it). Of two, rows that look alike
        // to the collation may have come: byte-identical copies are taken only if they hold what
        // was typed, else the one that does; otherwise the row is not read back.
        if (rows.size() == 1)
            m_readBack[step.Change] = rows.front();
        else if (rows.size() == 2 && rows[0] == rows[1] && holdsTyped(rows[0]))
            m_readBack[step.Change] = rows.front();
        else if (rows.size() == 2 && holdsTyped(rows[0]) != holdsTyped(rows[1]))
            m_readBack[step.Change] = holdsTyped(rows[0]) ? rows[0] : rows[1];
        break;
    }
    case Step::Commit:
        if (!ok) {
            m_failure = QStringLiteral("The commit failed, nothing was changed: ") + error;
            m_steps.push_back({Step::Rollback, -1, "ROLLBACK;"});
            break;
        }
        storeResults();
        finish(true, QString());
        return;
    case Step::Rollback:
        finish(false, m_failure);
        return;
    }
    ++m_at;
    runStep();
}

void TGridEdit::storeResults()
{
    const auto &changes = m_pending.changes();
    std::vector<int> deleted;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const rowchanges::Change &change = changes[i];
        if (change.What == Kind::Delete) {
            deleted.push_back(change.Row);
            continue;
        }
        const auto back = m_readBack.find(static_cast<int>(i));
        if (back == m_readBack.end()) {
            // What was typed, as far as it is known; the rest stays as shown.
            for (const auto &[col, value] : change.Cells) {
                if (value.Kind == Value::Null)
                    m_grid->setCellNull(col, change.Row);
                else if (value.Kind == Value::Bytes)
                    m_grid->setCellUtf8(col, change.Row, value.Data);
                m_notes[{change.Row, col}] = QStringLiteral("Applied; not read back");
            }
            continue;
        }
        const auto &row = back->second;
        for (std::size_t c = 0; c < row.size() && c < m_target.Fields.size(); ++c) {
            const int col = static_cast<int>(c);
            if (row[c])
                m_grid->setCellUtf8(col, change.Row, *row[c]);
            else
                m_grid->setCellNull(col, change.Row);
            const auto typed = change.Cells.find(col);
            if (typed == change.Cells.end()) continue;
            if (!rowchanges::HoldsTyped(m_target.Fields[c], typed->second, row[c]))
                m_notes[{change.Row, col}] =
                    QStringLiteral("The server stored another value than typed (typed: %1)")
                        .arg(shown(typed->second, col));
        }
    }
    if (!deleted.empty()) {
        std::sort(deleted.begin(), deleted.end());
        m_grid->RemoveRows(deleted);
        std::map<std::pair<int, int>, QString> moved;
        for (const auto &[cell, note] : m_notes) {
            const int below = static_cast<int>(
                std::lower_bound(deleted.begin(), deleted.end(), cell.first) - deleted.begin());
            moved[{cell.first - below, cell.second}] = note;
        }
        m_notes.swap(moved);
    }
    m_pending.clear();
    m_firstNewRow = -1;
    m_selected.clear();
    resultgrid::fitHeader(m_grid, m_target.Fields);
    m_grid->viewport()->update();
}

void TGridEdit::finish(bool ok, const QString &why)
{
    const int count = m_pending.count();
    m_applying = false;
    m_steps.clear();
    if (ok) {
        m_failed = -1;
        Q_EMIT message(m_applyCount == 1 ? QStringLiteral("1 change applied")
                                         : QStringLiteral("%1 changes applied").arg(m_applyCount));
    } else {
        m_failed = m_failureChange;
        m_failedWhy = why;
        Q_EMIT message(why);
        if (m_failed >= 0 || count > 0) ui::showAppError(m_window, why);
        m_grid->viewport()->update();
    }
    changed();
    Q_EMIT applyFinished(ok);
}

bool TGridEdit::mayLeave()
{
    commitEditor();
    if (m_applying) {
        Q_EMIT message(QStringLiteral("Changes are being applied"));
        return false;
    }
    if (m_pending.empty()) return true;
    const QString answer = ui::askQuestion(
        m_window, QStringLiteral("MySQL Quorvane"),
        QStringLiteral("%1 to %2 not applied yet. Apply them?")
            .arg(pendingText(), QString::fromStdString(m_target.Table)),
        {QStringLiteral("Apply"), QStringLiteral("Discard"), QStringLiteral("Cancel")});
    if (answer == QLatin1String("Discard")) {
        discard();
        return true;
    }
    if (answer != QLatin1String("Apply")) return false;
    bool done = false, result = false;
    QEventLoop loop;
    const QMetaObject::Connection c = connect(this, &TGridEdit::applyFinished, &loop, [&](bool ok) {
        done = true;
        result = ok;
        loop.quit();
    });
    apply();
    if (!done) loop.exec();
    disconnect(c);
    return result;
}

void TGridEdit::mainClosed()
{
    if (m_applying) {
        // The server undoes a transaction whose connection ends.
        m_failure = QStringLiteral("The connection closed while the changes were applied; the "
                                   "server undoes what was not committed");
        finish(false, m_failure);
    }
    if (m_conn) m_conn->Close();
}
