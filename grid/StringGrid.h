#pragma once

#include "CellStore.h"
#include "CellText.h"
#include "Colors.h"
#include "Pace.h"

#include <QAbstractScrollArea>
#include <functional>
#include <string_view>
#include <vector>

class QPainter;
class TRowStrip;
class QTimer;

// A grid of text cells with fixed header rows and columns, scrolled by whole cells, whose cell
// painting a subclass replaces through DrawCell. Only the visible cells are painted, and text is
// turned into QString only for them.
class TStringGrid : public QAbstractScrollArea
{
    Q_OBJECT
public:
    enum TGridDrawState
    {
        gdSelected = 1,
        gdFocused = 2,
        gdFixed = 4
    };
    using TDrawCellEvent =
        std::function<void(TStringGrid *Sender, int ACol, int ARow, const QRect &Rect, int State)>;
    using TSelectCellEvent =
        std::function<void(TStringGrid *Sender, int ACol, int ARow, bool &CanSelect)>;

    explicit TStringGrid(QWidget *parent = nullptr);

    int ColCount() const { return m_store.colCount(); }
    int RowCount() const { return m_store.rowCount(); }
    // At least one column and one row remain, and at least one of each is not fixed: a count at
    // or below the fixed count lowers the fixed count.
    void setColCount(int value);
    void setRowCount(int value);
    int FixedCols() const { return m_fixedCols; }
    int FixedRows() const { return m_fixedRows; }
    // A fixed count that would leave no scrolling row or column is refused.
    bool setFixedCols(int value);
    bool setFixedRows(int value);

    int DefaultColWidth() const { return m_defaultColWidth; }
    void setDefaultColWidth(int value);
    int DefaultRowHeight() const { return m_defaultRowHeight; }
    void setDefaultRowHeight(int value);
    int GridLineWidth() const { return m_gridLineWidth; }
    void setGridLineWidth(int value);
    int ColWidths(int col) const;
    void setColWidths(int col, int width);

    TColor Color() const { return m_color; }
    void setColor(TColor value);
    TColor FixedColor() const { return m_fixedColor; }
    void setFixedColor(TColor value);
    TColor FontColor() const { return m_fontColor; }
    void setFontColor(TColor value);

    QString Cells(int col, int row) const;
    void setCells(int col, int row, const QString &text);
    // Fast paths for bulk fills: UTF-8 bytes, and SQL NULL (shown empty, remembered as NULL).
    void setCellUtf8(int col, int row, std::string_view text);
    void setCellNull(int col, int row);
    // Takes a whole grid's cells at once, in the cell store's layout (CellStore::assign): the
    // counts follow, the fixed rows and columns stay where they fit, widths stay.
    void AdoptCells(int cols, int rows, std::vector<std::uint32_t> &&index,
                    std::vector<char> &&buffer);
    void AdoptCells(TCheckedCellBlock &&block);
    // Adds the block's rows below the last one (rows of a table still arriving): nothing held is
    // copied, the current cell and the scroll position stay, the scroll bar grows. Throws
    // std::invalid_argument for a block of another column count.
    void AppendCells(TCheckedCellBlock &&block);
    std::string_view CellUtf8(int col, int row) const { return m_store.get(col, row); }
    // How each column's values are shown (text when not set); header rows are always text.
    void setColFormats(std::vector<TCellFormat> formats);
    TCellFormat ColFormat(int col) const;
    // What the cell shows, drawn and told: bounded in length, whatever the value's size.
    QString DisplayText(int col, int row) const;
    // Rows read as column titles even when they are not fixed (a lone header over no rows).
    int TitleRows() const { return m_titleRows; }
    void setTitleRows(int rows) { m_titleRows = std::max(rows, 0); }
    int HeaderRows() const { return std::max(m_fixedRows, std::min(m_titleRows, RowCount())); }
    // Fits the column to the widest text among its title and the rows on screen.
    void FitColumn(int col);
    bool CellIsNull(int col, int row) const { return m_store.isNull(col, row); }
    const CellStore &Store() const { return m_store; }
    // Keeps the row's cell bytes, as CellUtf8 shows them now, for a reader on another thread.
    std::shared_ptr<const void> KeepRowBytes(int row) { return m_store.keepAlive(row); }

    // The current cell; moving it asks SelectCell first, which may refuse.
    int Col() const { return m_col; }
    int Row() const { return m_row; }
    bool MoveTo(int col, int row);
    int TopRow() const { return m_topRow; }
    int LeftCol() const { return m_leftCol; }
    void setTopRow(int row);
    void setLeftCol(int col);

    // Cell rectangle in viewport coordinates; empty when the cell is not on screen.
    QRect CellRect(int col, int row) const;
    // Cell under a viewport point, or false outside every cell.
    bool MouseToCell(const QPoint &pos, int &col, int &row) const;

    TDrawCellEvent OnDrawCell;
    TSelectCellEvent OnSelectCell;

    // A cell drawn apart from its stored value (a change not yet sent, a selected row): its
    // colour, the text it shows in place of the value, and what a screen reader is told of it.
    struct TCellMark
    {
        bool Marked = false;
        TColor Background = 0;
        bool Replaces = false;
        QString Text;
        QString Description;
    };
    std::function<TCellMark(int col, int row)> OnMark;
    TCellMark Mark(int col, int row) const { return OnMark ? OnMark(col, row) : TCellMark(); }
    // What the cell shows and is read as: a mark's text, or DisplayText.
    QString ShownText(int col, int row) const;
    // Takes rows out (ascending); the rows below move up, the current cell stays in range.
    void RemoveRows(const std::vector<int> &rows);
    // Repaints one row, all of it.
    void invalidateRow(int row);

    // A strip of row numbers left of the cells, for choosing whole rows with the mouse; off
    // unless asked for.
    void setRowStrip(bool on);
    QWidget *RowStrip() const;
    // The data row at a height in viewport coordinates, or -1.
    int RowAtY(int y) const;

    // Scrolling rows shown whole or in part from TopRow on.
    int VisibleRowCount() const { return visibleRowsFrom(m_topRow); }
    // The current cell is marked once the user has chosen a cell since the last refill, and
    // whenever the grid has the focus.
    bool CurrentMarked() const { return m_userChose || hasFocus(); }

Q_SIGNALS:
    // The cells were replaced or the counts changed: what was said of them no longer holds.
    void cellsReset();
    // Rows first..last were added below the others; nothing else changed.
    void rowsAppended(int first, int last);
    void currentCellChanged(int col, int row);
    // A click on a header cell (not on a column's edge).
    void headerClicked(int col);
    void columnResized(int col);
    // A press on the row strip, and the rows the mouse then moves over with the button held.
    void rowStripPressed(int row, Qt::KeyboardModifiers modifiers);
    void rowStripDragged(int row);

protected:
    // Paints one cell. The painter comes with the brush set to the cell's colour (fixed colour
    // for fixed cells), the pen to the font colour and the grid's font.
    virtual void DrawCell(QPainter &painter, int ACol, int ARow, const QRect &rect, int state);
    virtual bool SelectCell(int ACol, int ARow);
    // Called when cell text changes, so that only what is on screen is repainted.
    void invalidateCell(int col, int row);

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    QSize sizeHint() const override { return QSize(320, 200); }

private:
    int fixedWidth() const;
    int fixedHeight() const;
    int rowY(int row) const; // top of a row on screen, or -1
    int visibleRowsFrom(int top) const;
    // The row lies below the last one the screen shows, even in part.
    bool belowScreen(int row) const { return row >= m_topRow + visibleRowsFrom(m_topRow) + 1; }
    int lastLeftCol() const;
    int sizingColumnAt(const QPoint &pos) const;
    void clampCurrent();
    void updateScrollBars();
    void scrollIntoView(int col, int row);
    // newRows: the first of rows just appended, or -1 when the whole grid changed.
    void fitRowStrip(int newRows = -1);
    friend class TRowStrip;

    CellStore m_store;
    std::vector<int> m_colWidths;
    std::vector<TCellFormat> m_colFormats;
    int m_titleRows = 0;
    int m_fixedCols = 1;
    int m_fixedRows = 1;
    int m_defaultColWidth = 64;
    int m_defaultRowHeight = 24;
    int m_gridLineWidth = 1;
    TColor m_color = Colors::clWindow;
    TColor m_fixedColor = Colors::clBtnFace;
    TColor m_fontColor = Colors::clWindowText;
    int m_col = 1;
    int m_row = 1;
    int m_topRow = 1;
    int m_leftCol = 1;
    int m_sizingCol = -1;
    bool m_userChose = false;
    int m_sizingStartX = 0;
    int m_sizingStartWidth = 0;
    bool m_updatingBars = false;
    // A long read appends a batch below the screen every few milliseconds; the scroll bars
    // follow at most every 50 ms.
    TPace m_barsPace{50};
    QTimer *m_barsTimer = nullptr;
    TRowStrip *m_strip = nullptr;
    int m_stripTop = -1, m_stripRows = -1; // what the strip last showed
};
