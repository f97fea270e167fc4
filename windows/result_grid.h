#pragma once

// A result in the striped grid, as every window shows one: the table view's look, the formats
// of a result's columns, and a streamed result's batches taken into the grid as they come.

#include "CellText.h"
#include "mySQLCommon.h"

#include <vector>

class TMgrid;

namespace resultgrid {
// How a column's values are shown, from what the server says of the column.
TCellFormat formatOf(const TmySQLFieldInfo &field);
// The look of the table view's grid: stripes, colours, font, a title row.
void style(TMgrid *grid);
// One batch of a streamed result: the first batch fills the grid anew (its row 0 holds the
// column names), later ones go below. The header row is fixed once there are rows, and the
// columns shown in their formats.
void take(TMgrid *grid, TmySQLRowBatch &batch, const std::vector<TmySQLFieldInfo> &fields);
// The header row fixed when there are rows below it (the header colour when not), and the
// columns shown in their formats: after rows come or go.
void fitHeader(TMgrid *grid, const std::vector<TmySQLFieldInfo> &fields);
// An empty grid (one blank title cell) while nothing has arrived.
void clear(TMgrid *grid);
} // namespace resultgrid
