#pragma once

#include "StringGrid.h"

#include <QImage>
#include <QList>
#include <QRgb>
#include <functional>

// Per-cell text colour and style, asked for at the moment the cell is painted. Fcolor comes in as
// -1 ("keep the current colour"); the flags come in as the grid font's.
using TSettingEvent =
    std::function<void(int ARow, int Acol, int &Fcolor, bool &Bold, bool &Italic, bool &underline)>;

// Striped string grid: fixed cells in a border colour with black text, the other rows in two
// alternating colours (odd and even by row index), each of the three replaceable by a tiled
// pattern.
class TMgrid : public TStringGrid
{
    Q_OBJECT
public:
    explicit TMgrid(QWidget *parent = nullptr);

    TColor BorderColor() const { return m_borderColor; }
    TColor OddRowColor() const { return m_oddRowColor; }
    TColor EvenRowColor() const { return m_evenRowColor; }
    // Every write repaints the whole grid at once, even when the value does not change.
    void setBorderColor(TColor value);
    void setOddRowColor(TColor value);
    void setEvenRowColor(TColor value);

    // The grid keeps its own copy of a pattern; a null image clears it.
    const QImage &BorderPattern() const { return m_borderPattern; }
    const QImage &OddRowPattern() const { return m_oddRowPattern; }
    const QImage &EvenRowPattern() const { return m_evenRowPattern; }
    void setBorderPattern(const QImage &picture);
    void setOddRowPattern(const QImage &picture);
    void setEvenRowPattern(const QImage &picture);

    // The colour table of OddRowPattern (empty when that pattern has none). Painting is true
    // colour here, so realising it changes no mapping; it is offered for callers that ask.
    QList<QRgb> Palette() const { return m_oddRowPattern.colorTable(); }

    TSettingEvent OnSetting;

protected:
    void DrawCell(QPainter &painter, int ACol, int ARow, const QRect &rect, int state) override;

private:
    void repaintNow();

    TColor m_borderColor = 0xC0C0C0;
    TColor m_oddRowColor = 0xFFFF00;
    TColor m_evenRowColor = 0x00FF00;
    QImage m_borderPattern;
    QImage m_oddRowPattern;
    QImage m_evenRowPattern;
};
