#include "Cologrid.h"

#include <QPainter>

TMgrid::TMgrid(QWidget *parent) : TStringGrid(parent)
{
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(10);
    setFont(arial);
}

void TMgrid::repaintNow()
{
    // Repaint now rather than on the next event loop pass: callers rely on the grid showing the
    // new colours as soon as the property is written.
    viewport()->repaint();
}

void TMgrid::setBorderColor(TColor value)
{
    m_borderColor = value;
    repaintNow();
}

void TMgrid::setOddRowColor(TColor value)
{
    m_oddRowColor = value;
    repaintNow();
}

void TMgrid::setEvenRowColor(TColor value)
{
    m_evenRowColor = value;
    repaintNow();
}

void TMgrid::setBorderPattern(const QImage &picture)
{
    m_borderPattern = picture.copy();
    repaintNow();
}

void TMgrid::setOddRowPattern(const QImage &picture)
{
    m_oddRowPattern = picture.copy();
    repaintNow();
}

void TMgrid::setEvenRowPattern(const QImage &picture)
{
    m_evenRowPattern = picture.copy();
    repaintNow();
}

void TMgrid::DrawCell(QPainter &painter, int ACol, int ARow, const QRect &rect, int)
{
    // The cell's state (selected, focused) is deliberately ignored: the stripes are the look.
    const QPen entryPen = painter.pen();
    const bool fixed = ACol < FixedCols() || ARow < FixedRows();
    const QImage *pattern = nullptr;
    TColor colour = 0;
    if (fixed) {
        pattern = &m_borderPattern;
        colour = m_borderColor;
    } else if (ARow % 2 == 1) {
        pattern = &m_oddRowPattern;
        colour = m_oddRowColor;
    } else {
        pattern = &m_evenRowPattern;
        colour = m_evenRowColor;
    }
    const TCellMark mark = fixed ? TCellMark() : Mark(ACol, ARow);
    if (mark.Marked)
        painter.fillRect(rect, Colors::toQColor(mark.Background));
    else if (!pattern->isNull())
        painter.fillRect(rect, QBrush(*pattern)); // tiled from the viewport's origin
    else
        painter.fillRect(rect, Colors::toQColor(colour));
    if (fixed) painter.setPen(QColor(0, 0, 0));
    painter.setBackgroundMode(Qt::TransparentMode);

    QFont font = painter.font();
    bool bold = font.bold();
    bool italic = font.italic();
    bool underline = font.underline();
    int fcolor = -1;
    if (OnSetting) {
        OnSetting(ARow, ACol, fcolor, bold, italic, underline);
        if (fcolor >= 0) painter.setPen(Colors::toQColor(fcolor));
        font.setBold(bold);
        font.setItalic(italic);
        font.setUnderline(underline);
        font.setStrikeOut(false);
        font.setOverline(false);
        painter.setFont(font);
    }
    if (mark.Replaces)
        painter.drawText(rect.left() + 2, rect.top() + 2 + painter.fontMetrics().ascent(),
                         mark.Text);
    else if (!CellUtf8(ACol, ARow).empty())
        painter.drawText(rect.left() + 2, rect.top() + 2 + painter.fontMetrics().ascent(),
                         DisplayText(ACol, ARow));
    painter.setPen(entryPen);
}
