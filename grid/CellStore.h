#pragma once

#include "CellBlock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

// Text of a grid's cells, kept compactly: byte buffers holding every cell's text and one 32-bit
// offset per cell. No Qt in here, so it is tested and benchmarked without a QApplication.
//
// Each entry in a buffer is a length (LEB128) followed by the bytes. Offset 0 is a shared empty
// entry, and a reserved offset marks SQL NULL, so NULL and '' stay apart while both cost nothing.
// The rows are held in chunks, each a cell block of consecutive rows with its own index and
// buffer, so that rows arriving in batches are added without copying what is held already.
// Overwriting a cell leaves its old bytes behind in its chunk; a chunk is compacted when that
// garbage outweighs its live text.
class CellStore
{
public:
    CellStore();
    // Moved, never copied: a copy would share the chunks' buffers, which each store writes.
    CellStore(CellStore &&) = default;
    CellStore &operator=(CellStore &&) = default;
    CellStore(const CellStore &) = delete;
    CellStore &operator=(const CellStore &) = delete;

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
    // Adds the block's rows below the last row, taking its buffers as they are. Throws
    // std::invalid_argument when its column count is not the store's.
    void appendRows(TCheckedCellBlock &&block);
    static constexpr std::uint32_t NullOffset = TCellBlock::NullOffset;
    // Takes the given rows out (ascending, each once; others are ignored); the rows below move
    // up. Each chunk holding one is shifted once, the others only renumbered.
    void removeRows(const std::vector<int> &rows);

    // Out-of-range writes are ignored and reads give an empty text.
    void set(int col, int row, std::string_view text);
    void setNull(int col, int row);
    std::string_view get(int col, int row) const;
    bool isNull(int col, int row) const;
    // What keeps the row's text where get() showed it, for a reader that outlives this call (a
    // statement built on another thread): that buffer is never written again, later writes to
    // its rows go to a copy. Null for a row outside the grid.
    std::shared_ptr<const void> keepAlive(int row);

    // Bytes held, for the benchmark and for compaction.
    std::size_t bufferBytes() const;
    std::size_t memoryBytes() const;
    std::size_t chunkCount() const { return m_chunks.size(); }
    void compact();

private:
    using Bytes = std::vector<char>;
    struct Chunk
    {
        int FirstRow = 0;
        int Rows = 0;
        std::vector<std::uint32_t> Index;
        // Starts with the shared empty entry at offset 0. Shared with a reader once kept alive.
        std::shared_ptr<Bytes> Buffer = std::make_shared<Bytes>(1, '\0');
        std::size_t Garbage = 0;
        bool Lent = false; // Buffer was handed out: copied before it is written
    };
    static Chunk makeChunk(int first, int rows, std::vector<std::uint32_t> &&index, Bytes &&buffer);
    bool inRange(int col, int row) const
    {
        return col >= 0 && row >= 0 && col < m_cols && row < m_rows;
    }
    // The chunk holding a row inside the grid, and the cell's slot in it.
    const Chunk &chunkOf(int row) const;
    Chunk &chunkOf(int row) { return const_cast<Chunk &>(std::as_const(*this).chunkOf(row)); }
    std::size_t slot(const Chunk &chunk, int col, int row) const
    {
        return static_cast<std::size_t>(row - chunk.FirstRow) * static_cast<std::size_t>(m_cols) +
               static_cast<std::size_t>(col);
    }
    static std::uint32_t append(Chunk &chunk, std::string_view text);
    static void compact(Chunk &chunk);
    static std::string_view entryAt(const std::vector<char> &buffer, std::uint32_t offset);

    int m_cols = 0;
    int m_rows = 0;
    std::vector<Chunk> m_chunks; // in row order; empty while there are no rows
};
