#pragma once

// Screen readers read the grid through the accessible table interface (rows, columns, each
// visible cell's text, the header row as column headers, the current cell), and a stand-alone
// header strip through one child per section. Installed once, by the first grid made.
namespace grid_accessible {
void install();
}
