#include "StringGrid.h"

#include "GridAccessible.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

namespace {
constexpr int SizingZone = 3; // pixels either side of a column edge that start a width drag
}

// Row numbers beside the cells, in the scroll area's left margin; a press chooses the row whole.
class TRowStrip : public QWidget
{
public:
    explicit TRowStrip(TStringGrid *grid) : QWidget(grid), m_grid(grid)
    {
        setObjectName(QStringLiteral("Row_strip"));
        setAccessibleName(QStringLiteral("Row numbers"));
        setAccessibleDescription(
            QStringLiteral("A click chooses the whole row; Shift+Space does from the keyboard"));
        setToolTip(QStringLiteral("Choose whole rows"));
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Colors::toQColor(m_grid->FixedColor()));
        painter.setPen(Colors::toQColor(m_grid->FontColor()));
        painter.setFont(m_grid->font());
        const int top = m_grid->viewport()->y() - y();
        const int last = m_grid->TopRow() + m_grid->VisibleRowCount() + 1;
        for (int row = m_grid->TopRow(); row < std::min(last, m_grid->RowCount()); ++row) {
            if (row < m_grid->HeaderRows()) continue;
            const int at = m_grid->rowY(row);
            if (at < 0) break;
            painter.drawText(QRect(0, top + at, width() - 4, m_grid->DefaultRowHeight()),
                             Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(row - m_grid->HeaderRows() + 1));
        }
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) return;
        m_grid->setFocus(Qt::MouseFocusReason);
        m_last = rowAt(event);
        if (m_last >= 0) Q_EMIT m_grid->rowStripPressed(m_last, event->modifiers());
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton)) return;
        const int row = rowAt(event);
        if (row < 0 || row == m_last) return;
        m_last = row;
        Q_EMIT m_grid->rowStripDragged(row);
    }

private:
    int rowAt(QMouseEvent *event) const
    {
        return m_grid->RowAtY(event->position().toPoint().y() + y() - m_grid->viewport()->y());
    }
    TStringGrid *m_grid;
    int m_last = -1;
};

TStringGrid::TStringGrid(QWidget *parent) : QAbstractScrollArea(parent)
{
    grid_accessible::install();
    m_store.resize(5, 5);
    m_colWidths.assign(5, -1);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setSingleStep(1);
    m_barsTimer = new QTimer(this);
    m_barsTimer->setSingleShot(true);
    connect(m_barsTimer, &QTimer::timeout, this, [this] { updateScrollBars(); });
    updateScrollBars();
}

void TStringGrid::setColCount(int value)
{
    value = std::max(value, 1);
    if (value == ColCount()) return;
    if (value <= m_fixedCols) m_fixedCols = value - 1;
    m_store.setColCount(value);
    m_colWidths.resize(static_cast<std::size_t>(value), -1);
    clampCurrent();
    updateScrollBars();
    viewport()->update();
    Q_EMIT cellsReset();
}

void TStringGrid::setRowCount(int value)
{
    value = std::max(value, 1);
    if (value == RowCount()) return;
    if (value <= m_fixedRows) m_fixedRows = value - 1;
    m_store.setRowCount(value);
    clampCurrent();
    updateScrollBars();
    viewport()->update();
    Q_EMIT cellsReset();
}

bool TStringGrid::setFixedCols(int value)
{
    if (value < 0 || value >= ColCount()) return false;
    // As with any change of the fixed area, the current cell and the scroll position start over.
    m_fixedCols = value;
    m_col = m_leftCol = value;
    m_userChose = false;
    updateScrollBars();
    viewport()->update();
    Q_EMIT cellsReset();
    return true;
}

bool TStringGrid::setFixedRows(int value)
{
    if (value < 0 || value >= RowCount()) return false;
    m_fixedRows = value;
    m_row = m_topRow = value;
    m_userChose = false;
    updateScrollBars();
    viewport()->update();
    Q_EMIT cellsReset();
    return true;
}

void TStringGrid::setDefaultColWidth(int value)
{
    m_defaultColWidth = std::max(value, 0);
    std::fill(m_colWidths.begin(), m_colWidths.end(), -1);
    updateScrollBars();
    viewport()->update();
}

void TStringGrid::setDefaultRowHeight(int value)
{
    m_defaultRowHeight = std::max(value, 1);
    updateScrollBars();
    viewport()->update();
}

void TStringGrid::setGridLineWidth(int value)
{
    m_gridLineWidth = std::max(value, 0);
    updateScrollBars();
    viewport()->update();
}

int TStringGrid::ColWidths(int col) const
{
    if (col < 0 || col >= ColCount()) return 0;
    const int width = m_colWidths[static_cast<std::size_t>(col)];
    return width < 0 ? m_defaultColWidth : width;
}

void TStringGrid::setColWidths(int col, int width)
{
    if (col < 0 || col >= ColCount()) return;
    m_colWidths[static_cast<std::size_t>(col)] = std::max(width, 0);
    updateScrollBars();
    viewport()->update();
    Q_EMIT columnResized(col);
}

void TStringGrid::setColor(TColor value)
{
    m_color = value;
    viewport()->update();
}

void TStringGrid::setFixedColor(TColor value)
{
    m_fixedColor = value;
    viewport()->update();
}

void TStringGrid::setFontColor(TColor value)
{
    m_fontColor = value;
    viewport()->update();
}

QString TStringGrid::Cells(int col, int row) const
{
    const std::string_view text = m_store.get(col, row);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void TStringGrid::setCells(int col, int row, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    setCellUtf8(col, row,
                std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

void TStringGrid::setCellUtf8(int col, int row, std::string_view text)
{
    m_store.set(col, row, text);
    invalidateCell(col, row);
}

void TStringGrid::AdoptCells(int cols, int rows, std::vector<std::uint32_t> &&index,
                             std::vector<char> &&buffer)
{
    AdoptCells(
        TCheckedCellBlock::Check(TCellBlock{cols, rows, std::move(index), std::move(buffer)}));
}

void TStringGrid::AdoptCells(TCheckedCellBlock &&block)
{
    const int cols = block.Block().Cols;
    const int rows = block.Block().Rows;
    if (cols < 1 || rows < 1) throw std::invalid_argument("a grid keeps at least one cell");
    m_store.assign(std::move(block));
    m_colWidths.resize(static_cast<std::size_t>(cols), -1);
    if (m_fixedCols >= cols) m_fixedCols = cols - 1;
    if (m_fixedRows >= rows) m_fixedRows = rows - 1;
    m_userChose = false;
    clampCurrent();
    updateScrollBars();
    viewport()->update();
    Q_EMIT cellsReset();
}

void TStringGrid::AppendCells(TCheckedCellBlock &&block)
{
    const int first = RowCount();
    const int rows = block.Block().Rows;
    if (rows <= 0) return;
    m_store.appendRows(std::move(block));
    // Only rows on screen need painting: the first screenful of a table, or a short one.
    const bool onScreen = !belowScreen(first);
    if (onScreen || m_barsPace.due())
        updateScrollBars();
    else if (!m_barsTimer->isActive())
        m_barsTimer->start(int(m_barsPace.wait()));
    if (onScreen) viewport()->update();
    Q_EMIT rowsAppended(first, first + rows - 1);
}

void TStringGrid::setColFormats(std::vector<TCellFormat> formats)
{
    m_colFormats = std::move(formats);
    viewport()->update();
}

TCellFormat TStringGrid::ColFormat(int col) const
{
    return col >= 0 && static_cast<std::size_t>(col) < m_colFormats.size()
               ? m_colFormats[static_cast<std::size_t>(col)]
               : TCellFormat::Text;
}

QString TStringGrid::DisplayText(int col, int row) const
{
    const TCellFormat format = row < HeaderRows() ? TCellFormat::Text : ColFormat(col);
    return celltext::display(m_store.get(col, row), format);
}

QString TStringGrid::ShownText(int col, int row) const
{
    if (OnMark && row >= HeaderRows()) {
        const TCellMark mark = OnMark(col, row);
        if (mark.Replaces) return mark.Text;
    }
    return DisplayText(col, row);
}

void TStringGrid::RemoveRows(const std::vector<int> &rows)
{
    if (rows.empty()) return;
    m_store.removeRows(rows);
    clampCurrent();
    updateScrollBars();
    viewport()->update();
    Q_EMIT cellsReset();
}

void TStringGrid::invalidateRow(int row)
{
    if (!isVisible() || row < m_topRow || row > m_topRow + visibleRowsFrom(m_topRow)) return;
    const QRect first = CellRect(std::max(m_leftCol, m_fixedCols), row);
    if (!first.isEmpty())
        viewport()->update(QRect(0, first.top() - 1, viewport()->width(), first.height() + 2));
}

void TStringGrid::FitColumn(int col)
{
    if (col < 0 || col >= ColCount()) return;
    const QFontMetrics metrics(font());
    int widest = 0;
    auto measure = [&](int row) {
        widest = std::max(widest, metrics.horizontalAdvance(DisplayText(col, row)));
    };
    for (int r = 0; r < m_fixedRows; ++r)
        measure(r);
    const int last = std::min(RowCount(), m_topRow + visibleRowsFrom(m_topRow));
    for (int r = m_topRow; r < last; ++r)
        measure(r);
    // Room for the text's 2-pixel inset on both sides; never wider than the view.
    setColWidths(col, std::clamp(widest + 6, 16, std::max(viewport()->width() - fixedWidth(), 16)));
}

void TStringGrid::setCellNull(int col, int row)
{
    m_store.setNull(col, row);
    invalidateCell(col, row);
}

void TStringGrid::invalidateCell(int col, int row)
{
    if (!isVisible()) return;
    // Text may run past the cell's right edge, so the rest of the row is repainted too.
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(
            QRect(rect.left(), rect.top(), viewport()->width() - rect.left(), rect.height()));
}

int TStringGrid::fixedWidth() const
{
    int width = 0;
    for (int c = 0; c < m_fixedCols; ++c)
        width += ColWidths(c) + m_gridLineWidth;
    return width;
}

int TStringGrid::fixedHeight() const
{
    return m_fixedRows * (m_defaultRowHeight + m_gridLineWidth);
}

int TStringGrid::visibleRowsFrom(int top) const
{
    const int pitch = m_defaultRowHeight + m_gridLineWidth;
    const int room = viewport()->height() - fixedHeight();
    const int whole = std::max(room / pitch, 1);
    return std::min(whole, RowCount() - top);
}

int TStringGrid::lastLeftCol() const
{
    // The leftmost scrolling column that still shows the last column whole.
    const int room = viewport()->width() - fixedWidth();
    int used = 0;
    int col = ColCount() - 1;
    while (col >= m_fixedCols) {
        used += ColWidths(col) + m_gridLineWidth;
        if (used > room) break;
        --col;
    }
    return std::clamp(col + 1, m_fixedCols, std::max(ColCount() - 1, m_fixedCols));
}

void TStringGrid::updateScrollBars()
{
    m_barsTimer->stop();
    m_barsPace.done();
    m_updatingBars = true;
    const int scrollRows = RowCount() - m_fixedRows;
    const int visible = visibleRowsFrom(m_fixedRows);
    const int maxTop = std::max(scrollRows - visible, 0);
    m_topRow = std::clamp(m_topRow, m_fixedRows, m_fixedRows + maxTop);
    verticalScrollBar()->setRange(0, maxTop);
    verticalScrollBar()->setPageStep(std::max(visible, 1));
    verticalScrollBar()->setValue(m_topRow - m_fixedRows);

    const int maxLeft = lastLeftCol() - m_fixedCols;
    m_leftCol = std::clamp(m_leftCol, m_fixedCols, m_fixedCols + maxLeft);
    horizontalScrollBar()->setRange(0, maxLeft);
    horizontalScrollBar()->setPageStep(1);
    horizontalScrollBar()->setValue(m_leftCol - m_fixedCols);
    m_updatingBars = false;
}

void TStringGrid::scrollContentsBy(int, int)
{
    if (m_updatingBars) return;
    m_topRow = m_fixedRows + verticalScrollBar()->value();
    m_leftCol = m_fixedCols + horizontalScrollBar()->value();
    viewport()->update();
}

void TStringGrid::setTopRow(int row)
{
    m_topRow = row;
    updateScrollBars();
    viewport()->update();
}

void TStringGrid::setLeftCol(int col)
{
    m_leftCol = col;
    updateScrollBars();
    viewport()->update();
}

void TStringGrid::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    if (m_strip) {
        const QRect view = viewport()->geometry();
        m_strip->setGeometry(view.left() - m_strip->width(), view.top(), m_strip->width(),
                             view.height());
    }
}

void TStringGrid::setRowStrip(bool on)
{
    if (on == (m_strip != nullptr)) return;
    if (on) {
        m_strip = new TRowStrip(this);
        m_strip->show();
        connect(this, &TStringGrid::cellsReset, m_strip, [this] { fitRowStrip(); });
        connect(this, &TStringGrid::rowsAppended, m_strip,
                [this](int first) { fitRowStrip(first); });
        fitRowStrip();
    } else {
        delete m_strip;
        m_strip = nullptr;
        setViewportMargins(0, 0, 0, 0);
    }
}

QWidget *TStringGrid::RowStrip() const
{
    return m_strip;
}

void TStringGrid::fitRowStrip(int newRows)
{
    if (!m_strip) return;
    // As wide as the largest row number, so that it changes only when a digit is added.
    const int digits =
        static_cast<int>(QString::number(std::max(RowCount() - HeaderRows(), 1)).size());
    const int width = QFontMetrics(font()).horizontalAdvance(QString(digits, QLatin1Char('9'))) + 8;
    if (width != m_strip->width()) {
        m_strip->resize(width, m_strip->height());
        setViewportMargins(width, 0, 0, 0);
        const QRect view = viewport()->geometry();
        m_strip->setGeometry(view.left() - width, view.top(), width, view.height());
    } else if (belowScreen(newRows)) {
        return; // rows below the screen: nothing the strip shows has changed
    }
    m_strip->update();
}

int TStringGrid::rowY(int row) const
{
    if (row < m_fixedRows) return row * (m_defaultRowHeight + m_gridLineWidth);
    if (row < m_topRow) return -1;
    const int y = fixedHeight() + (row - m_topRow) * (m_defaultRowHeight + m_gridLineWidth);
    return y < viewport()->height() ? y : -1;
}

int TStringGrid::RowAtY(int y) const
{
    const int pitch = m_defaultRowHeight + m_gridLineWidth;
    if (y < fixedHeight() || pitch <= 0) return -1;
    const int row = m_topRow + (y - fixedHeight()) / pitch;
    return row >= HeaderRows() && row < RowCount() ? row : -1;
}

QRect TStringGrid::CellRect(int col, int row) const
{
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount()) return {};
    if (col >= m_fixedCols && col < m_leftCol) return {};
    if (row >= m_fixedRows && row < m_topRow) return {};
    int x = 0;
    if (col < m_fixedCols) {
        for (int c = 0; c < col; ++c)
            x += ColWidths(c) + m_gridLineWidth;
    } else {
        x = fixedWidth();
        for (int c = m_leftCol; c < col; ++c)
            x += ColWidths(c) + m_gridLineWidth;
    }
    const int pitch = m_defaultRowHeight + m_gridLineWidth;
    const int y = row < m_fixedRows ? row * pitch : fixedHeight() + (row - m_topRow) * pitch;
    if (x >= viewport()->width() || y >= viewport()->height()) return {};
    return QRect(x, y, ColWidths(col), m_defaultRowHeight);
}

bool TStringGrid::MouseToCell(const QPoint &pos, int &col, int &row) const
{
    if (pos.x() < 0 || pos.y() < 0) return false;
    const int pitch = m_defaultRowHeight + m_gridLineWidth;
    if (pos.y() < fixedHeight())
        row = pos.y() / pitch;
    else
        row = m_topRow + (pos.y() - fixedHeight()) / pitch;
    if (row >= RowCount()) return false;
    int x = 0;
    for (int c = 0; c < ColCount(); ++c) {
        if (c == m_fixedCols) c = m_leftCol;
        if (c >= ColCount()) break;
        x += ColWidths(c) + m_gridLineWidth;
        if (pos.x() < x) {
            col = c;
            return true;
        }
    }
    return false;
}

void TStringGrid::paintEvent(QPaintEvent *event)
{
    if (m_strip && (m_stripTop != m_topRow || m_stripRows != RowCount())) {
        m_stripTop = m_topRow;
        m_stripRows = RowCount();
        m_strip->update();
    }
    QPainter painter(viewport());
    const QRect dirty = event->rect();
    const QColor background = Colors::toQColor(m_color);
    const QColor fixedColour = Colors::toQColor(m_fixedColor);
    const QColor fontColour = Colors::toQColor(m_fontColor);
    const QColor lineColour = palette().color(QPalette::Mid);
    painter.fillRect(dirty, background);

    const int pitch = m_defaultRowHeight + m_gridLineWidth;
    const int lastRow =
        std::min(RowCount() - 1, m_topRow + (viewport()->height() - fixedHeight()) / pitch);
    std::vector<int> rows;
    for (int r = 0; r < m_fixedRows; ++r)
        rows.push_back(r);
    for (int r = m_topRow; r <= lastRow; ++r)
        rows.push_back(r);
    std::vector<int> cols;
    int x = 0;
    for (int c = 0; c < ColCount() && x < viewport()->width(); ++c) {
        if (c == m_fixedCols) c = m_leftCol;
        if (c >= ColCount()) break;
        cols.push_back(c);
        x += ColWidths(c) + m_gridLineWidth;
    }

    const bool focused = hasFocus();
    for (int row : rows) {
        for (int col : cols) {
            const QRect rect = CellRect(col, row);
            if (rect.isEmpty()) continue;
            const QRect withLines = rect.adjusted(0, 0, m_gridLineWidth, m_gridLineWidth);
            if (!withLines.intersects(dirty)) continue;
            const bool fixed = col < m_fixedCols || row < m_fixedRows;
            int state = fixed ? gdFixed : 0;
            if (col == m_col && row == m_row) state |= gdSelected | (focused ? gdFocused : 0);
            painter.save();
            painter.setBrush(fixed ? fixedColour : background);
            painter.setPen(fontColour);
            painter.setFont(font());
            DrawCell(painter, col, row, rect, state);
            painter.restore();
            if (m_gridLineWidth > 0) {
                painter.fillRect(QRect(rect.right() + 1, rect.top(), m_gridLineWidth,
                                       rect.height() + m_gridLineWidth),
                                 lineColour);
                painter.fillRect(
                    QRect(rect.left(), rect.bottom() + 1, rect.width(), m_gridLineWidth),
                    lineColour);
            }
        }
    }
    // Text of the last column runs past its right edge: the empty area beyond the last column
    // and below the last row is the background's, not the text's.
    if (!cols.empty() && cols.back() == ColCount() - 1) {
        const QRect last = CellRect(cols.back(), rows.empty() ? 0 : rows.front());
        const int right = last.isEmpty() ? viewport()->width() : last.right() + 1 + m_gridLineWidth;
        if (right < viewport()->width())
            painter.fillRect(QRect(right, 0, viewport()->width() - right, viewport()->height()),
                             background);
    }
    // The current cell is marked whatever the style: the style's focus frame shows only after
    // keyboard focus, and the user must see which row a command will act on.
    if (CurrentMarked() && m_col >= m_fixedCols && m_row >= m_fixedRows) {
        const QRect rect = CellRect(m_col, m_row);
        if (!rect.isEmpty()) {
            QPen pen(focused ? QColor(Qt::black) : QColor(96, 96, 96));
            pen.setWidth(1);
            pen.setStyle(focused ? Qt::DotLine : Qt::DashLine);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect.adjusted(0, 0, -1, -1));
            painter.drawRect(rect.adjusted(1, 1, -2, -2));
        }
    }
}

void TStringGrid::DrawCell(QPainter &painter, int ACol, int ARow, const QRect &rect, int state)
{
    painter.fillRect(rect, painter.brush());
    painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     DisplayText(ACol, ARow));
    if (OnDrawCell) OnDrawCell(this, ACol, ARow, rect, state);
}

bool TStringGrid::SelectCell(int ACol, int ARow)
{
    bool canSelect = true;
    if (OnSelectCell) OnSelectCell(this, ACol, ARow, canSelect);
    return canSelect;
}

bool TStringGrid::MoveTo(int col, int row)
{
    col = std::clamp(col, m_fixedCols, ColCount() - 1);
    row = std::clamp(row, m_fixedRows, RowCount() - 1);
    if (col == m_col && row == m_row) return true;
    if (!SelectCell(col, row)) return false;
    const QRect oldRect = CellRect(m_col, m_row);
    m_col = col;
    m_row = row;
    scrollIntoView(col, row);
    viewport()->update(oldRect.adjusted(-1, -1, 1, 1));
    viewport()->update(CellRect(col, row).adjusted(-1, -1, 1, 1));
    Q_EMIT currentCellChanged(col, row);
    return true;
}

void TStringGrid::clampCurrent()
{
    m_col = std::clamp(m_col, m_fixedCols, std::max(ColCount() - 1, m_fixedCols));
    m_row = std::clamp(m_row, m_fixedRows, std::max(RowCount() - 1, m_fixedRows));
}

void TStringGrid::scrollIntoView(int col, int row)
{
    const int oldTop = m_topRow, oldLeft = m_leftCol;
    if (row >= m_fixedRows) {
        const int visible = visibleRowsFrom(m_topRow);
        if (row < m_topRow)
            m_topRow = row;
        else if (row >= m_topRow + visible)
            m_topRow = row - std::max(visibleRowsFrom(m_fixedRows), 1) + 1;
    }
    if (col >= m_fixedCols) {
        if (col < m_leftCol) {
            m_leftCol = col;
        } else {
            const int room = viewport()->width() - fixedWidth();
            int used = 0;
            for (int c = m_leftCol; c <= col; ++c)
                used += ColWidths(c) + m_gridLineWidth;
            while (used > room && m_leftCol < col) {
                used -= ColWidths(m_leftCol) + m_gridLineWidth;
                ++m_leftCol;
            }
        }
    }
    updateScrollBars();
    // Only a scroll repaints the whole view; a move within it repaints its two cells.
    if (m_topRow != oldTop || m_leftCol != oldLeft) viewport()->update();
}

int TStringGrid::sizingColumnAt(const QPoint &pos) const
{
    const int headerBottom = m_fixedRows > 0 ? fixedHeight() : m_defaultRowHeight;
    if (pos.y() >= headerBottom) return -1;
    for (int c = 0; c < ColCount(); ++c) {
        const QRect rect = CellRect(c, m_fixedRows > 0 ? 0 : m_topRow);
        if (rect.isEmpty()) continue;
        const int edge = rect.right() + 1;
        if (std::abs(pos.x() - edge) <= SizingZone) return c;
    }
    return -1;
}

void TStringGrid::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    m_sizingCol = sizingColumnAt(pos);
    if (m_sizingCol >= 0) {
        m_sizingStartX = pos.x();
        m_sizingStartWidth = ColWidths(m_sizingCol);
        return;
    }
    int col = 0, row = 0;
    if (!MouseToCell(pos, col, row)) return;
    if (row < HeaderRows() && col >= m_fixedCols) {
        Q_EMIT headerClicked(col);
        return;
    }
    if (col < m_fixedCols || row < m_fixedRows) return;
    if (col == m_col && row == m_row) {
        // A click on the current cell is a selection too: its owner may have forgotten it.
        if (!SelectCell(col, row)) return;
        m_userChose = true;
        viewport()->update(CellRect(col, row).adjusted(-1, -1, 1, 1));
        Q_EMIT currentCellChanged(col, row);
        return;
    }
    if (MoveTo(col, row)) m_userChose = true;
}

void TStringGrid::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_sizingCol >= 0) {
        setColWidths(m_sizingCol, std::max(m_sizingStartWidth + pos.x() - m_sizingStartX, 1));
        return;
    }
    viewport()->setCursor(sizingColumnAt(pos) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TStringGrid::mouseReleaseEvent(QMouseEvent *)
{
    m_sizingCol = -1;
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click on a column's edge in the header fits the column to its text.
    const int col =
        event->button() == Qt::LeftButton ? sizingColumnAt(event->position().toPoint()) : -1;
    if (col >= 0) {
        m_sizingCol = -1;
        FitColumn(col);
        return;
    }
    mousePressEvent(event);
}

void TStringGrid::keyPressEvent(QKeyEvent *event)
{
    const int page = std::max(visibleRowsFrom(m_topRow), 1);
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        MoveTo(m_col, m_row - 1);
        break;
    case Qt::Key_Down:
        MoveTo(m_col, m_row + 1);
        break;
    case Qt::Key_Left:
        MoveTo(m_col - 1, m_row);
        break;
    case Qt::Key_Right:
        MoveTo(m_col + 1, m_row);
        break;
    case Qt::Key_PageUp:
        MoveTo(m_col, m_row - page);
        break;
    case Qt::Key_PageDown:
        MoveTo(m_col, m_row + page);
        break;
    case Qt::Key_Home:
        ctrl ? MoveTo(m_col, m_fixedRows) : MoveTo(m_fixedCols, m_row);
        break;
    case Qt::Key_End:
        ctrl ? MoveTo(m_col, RowCount() - 1) : MoveTo(ColCount() - 1, m_row);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    m_userChose = true;
    event->accept();
}

void TStringGrid::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update(CellRect(m_col, m_row).adjusted(-1, -1, 1, 1));
}

void TStringGrid::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update(CellRect(m_col, m_row).adjusted(-1, -1, 1, 1));
}
