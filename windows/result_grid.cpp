#include "result_grid.h"

#include "Cologrid.h"

#include <QFontMetrics>

namespace resultgrid {

namespace {
constexpr TColor HeaderColor = 16744576;
constexpr TColor StripeColor = 13828095;
} // namespace

TCellFormat formatOf(const TmySQLFieldInfo &field)
{
    constexpr int TypeBit = 16, TypeGeometry = 255;
    if (field.Type == TypeBit) return TCellFormat::Bit;
    if (field.Type == TypeGeometry) return TCellFormat::Geometry;
    // Binary strings and blobs come in the binary character set; numbers and dates do too, but
    // they are text.
    constexpr int TypeVarchar = 15, TypeTinyBlob = 249, TypeString = 254;
    const bool stringType =
        field.Type == TypeVarchar || (field.Type >= TypeTinyBlob && field.Type <= TypeString);
    if (stringType && field.Binary()) return TCellFormat::Hex;
    return TCellFormat::Text;
}

void style(TMgrid *grid)
{
    grid->setFrameShape(QFrame::NoFrame);
    grid->setFixedCols(0);
    grid->setFixedColor(HeaderColor);
    grid->setBorderColor(HeaderColor);
    grid->setOddRowColor(0xFFFFFF);
    grid->setEvenRowColor(StripeColor);
    grid->setGridLineWidth(0);
    grid->setDefaultColWidth(128);
    grid->setTitleRows(1); // the column names, even over a result with no rows
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(13);
    grid->setFont(arial);
    grid->setDefaultRowHeight(QFontMetrics(arial).height() + 5);
}

void take(TMgrid *grid, TmySQLRowBatch &batch, const std::vector<TmySQLFieldInfo> &fields)
{
    if (!batch.Block || batch.Block->Block().Cols < 1) return;
    if (batch.First)
        grid->AdoptCells(std::move(*batch.Block));
    else
        grid->AppendCells(std::move(*batch.Block));
    if (batch.First || grid->FixedRows() != (grid->RowCount() > 1 ? 1 : 0)) fitHeader(grid, fields);
}

void fitHeader(TMgrid *grid, const std::vector<TmySQLFieldInfo> &fields)
{
    const bool rows = grid->RowCount() > 1;
    // With no data rows the lone header row cannot be fixed; it keeps the header colour.
    grid->setFixedRows(rows ? 1 : 0);
    // Written only when it changes: the grid repaints itself at once on every write, and a
    // first batch painted twice (here and on the next pass) cost its window a whole paint.
    const TColor even = rows ? StripeColor : HeaderColor;
    if (grid->EvenRowColor() != even) grid->setEvenRowColor(even);
    // Values that are not text are shown for what they are; the names in the header row stay
    // text, and so does everything when there are no rows.
    std::vector<TCellFormat> formats;
    if (rows)
        for (const TmySQLFieldInfo &field : fields)
            formats.push_back(formatOf(field));
    grid->setColFormats(std::move(formats));
}

void clear(TMgrid *grid)
{
    grid->setColFormats({});
    grid->AdoptCells(1, 1, std::vector<std::uint32_t>(1, 0), std::vector<char>(1, 0));
    if (grid->EvenRowColor() != StripeColor) grid->setEvenRowColor(StripeColor);
}

} // namespace resultgrid
