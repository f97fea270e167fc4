#pragma once

#include "CellBlock.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Text of a grid's cells, kept compactly: one byte buffer holding every cell's text and one
// 32-bit offset per cell. No Qt in here, so it is tested and benchmarked without a QApplication.
//
// Each entry in the buffer is a length (LEB128) followed by the bytes. Offset 0 is a shared empty
// entry, and a reserved offset marks SQL NULL, so NULL and '' stay apart while both cost nothing.
// Overwriting a cell leaves its old bytes behind; the buffer is compacted when that garbage
// outweighs the live text.
class CellStore
{
public:
    CellStore();

    int colCount() const { return m_cols; }
    int rowCount() const { return m_rows; }
    // Resizing keeps the text of every cell that stays inside the grid.
    void resize(int cols, int rows);
    void setColCount(int cols) { resize(cols, m_rows); }
    void setRowCount(int rows) { resize(m_cols, rows); }
    void clear();
    // Takes a whole grid's text at once, in the layout of a cell block (CellBlock.h), checked
    // already; the raw form is checked here and throws std::invalid_argument when it is not well
    // formed (sizes that do not fit, an entry that runs past the buffer).
    void assign(TCheckedCellBlock &&block);
    void assign(int cols, int rows, std::vector<std::uint32_t> &&index, std::vector<char> &&buffer);
    static constexpr std::uint32_t NullOffset = TCellBlock::NullOffset;

    // Out-of-range writes are ignored and reads give an empty text.
    void set(int col, int row, std::string_view text);
    void setNull(int col, int row);
    std::string_view get(int col, int row) const;
    bool isNull(int col, int row) const;

    // Bytes held, for the benchmark and for compaction.
    std::size_t bufferBytes() const { return m_buffer.size(); }
    std::size_t memoryBytes() const
    {
        return m_buffer.capacity() + m_index.capacity() * sizeof(std::uint32_t);
    }
    void compact();

private:
    std::size_t slot(int col, int row) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(m_cols) +
               static_cast<std::size_t>(col);
    }
    bool inRange(int col, int row) const
    {
        return col >= 0 && row >= 0 && col < m_cols && row < m_rows;
    }
    std::uint32_t append(std::string_view text);
    static std::string_view entryAt(const std::vector<char> &buffer, std::uint32_t offset);

    int m_cols = 0;
    int m_rows = 0;
    std::vector<std::uint32_t> m_index;
    std::vector<char> m_buffer;
    std::size_t m_garbage = 0;
};
