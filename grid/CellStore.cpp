#include "CellStore.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>

CellStore::CellStore() = default;

CellStore::Chunk CellStore::makeChunk(int first, int rows, std::vector<std::uint32_t> &&index,
                                      Bytes &&buffer)
{
    Chunk chunk;
    chunk.FirstRow = first;
    chunk.Rows = rows;
    chunk.Index = std::move(index);
    chunk.Buffer = std::make_shared<Bytes>(std::move(buffer));
    return chunk;
}

void CellStore::clear()
{
    for (Chunk &chunk : m_chunks) {
        chunk.Index.assign(chunk.Index.size(), 0);
        chunk.Buffer = std::make_shared<Bytes>(1, '\0');
        chunk.Lent = false;
        chunk.Garbage = 0;
    }
}

void CellStore::assign(TCheckedCellBlock &&checked)
{
    TCellBlock block = std::move(checked).Take();
    m_cols = block.Cols;
    m_rows = block.Rows;
    m_chunks.clear();
    if (m_rows > 0)
        m_chunks.push_back(
            makeChunk(0, block.Rows, std::move(block.Index), std::move(block.Buffer)));
}

void CellStore::assign(int cols, int rows, std::vector<std::uint32_t> &&index,
                       std::vector<char> &&buffer)
{
    assign(TCheckedCellBlock::Check(TCellBlock{cols, rows, std::move(index), std::move(buffer)}));
}

void CellStore::appendRows(TCheckedCellBlock &&checked)
{
    if (checked.Block().Cols != m_cols) throw std::invalid_argument("rows of another column count");
    TCellBlock block = std::move(checked).Take();
    if (block.Rows <= 0) return;
    if (static_cast<long long>(m_rows) + block.Rows > 0x7FFFFFFF)
        throw std::length_error("more rows than a grid holds");
    m_chunks.push_back(
        makeChunk(m_rows, block.Rows, std::move(block.Index), std::move(block.Buffer)));
    m_rows += block.Rows;
}

const CellStore::Chunk &CellStore::chunkOf(int row) const
{
    // Almost always the only chunk, or the last one, which a growing grid shows.
    if (m_chunks.size() == 1 || row >= m_chunks.back().FirstRow) return m_chunks.back();
    auto at = std::upper_bound(m_chunks.begin(), m_chunks.end(), row,
                               [](int r, const Chunk &chunk) { return r < chunk.FirstRow; });
    return *std::prev(at);
}

std::size_t CellStore::bufferBytes() const
{
    std::size_t bytes = 0;
    for (const Chunk &chunk : m_chunks)
        bytes += chunk.Buffer->size();
    return bytes;
}

std::size_t CellStore::memoryBytes() const
{
    std::size_t bytes = m_chunks.capacity() * sizeof(Chunk);
    for (const Chunk &chunk : m_chunks)
        bytes += chunk.Buffer->capacity() + chunk.Index.capacity() * sizeof(std::uint32_t);
    return bytes;
}

void CellStore::resize(int cols, int rows)
{
    cols = std::max(cols, 0);
    rows = std::max(rows, 0);
    if (cols == m_cols && rows == m_rows) return;
    if (cols == m_cols) {
        // Row-major: a change of row count only cuts or extends the tail.
        while (!m_chunks.empty() && m_chunks.back().FirstRow >= rows)
            m_chunks.pop_back();
        if (rows > 0 && m_chunks.empty()) m_chunks.push_back(Chunk());
        if (!m_chunks.empty()) {
            Chunk &last = m_chunks.back();
            const std::size_t cells =
                static_cast<std::size_t>(rows - last.FirstRow) * static_cast<std::size_t>(cols);
            for (std::size_t i = cells; i < last.Index.size(); ++i)
                if (last.Index[i] != 0 && last.Index[i] != NullOffset)
                    last.Garbage += 1 + entryAt(*last.Buffer, last.Index[i]).size();
            last.Index.resize(cells, 0);
            last.Rows = rows - last.FirstRow;
        }
        m_rows = rows;
        return;
    }
    // Another column count: one chunk in the new shape, holding only what stays.
    Chunk reshaped;
    reshaped.Index.assign(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows), 0);
    reshaped.Rows = rows;
    const int keepCols = std::min(cols, m_cols);
    const int keepRows = std::min(rows, m_rows);
    for (int r = 0; r < keepRows; ++r) {
        const Chunk &from = chunkOf(r);
        for (int c = 0; c < keepCols; ++c) {
            const std::uint32_t cell = from.Index[slot(from, c, r)];
            std::uint32_t &to =
                reshaped.Index[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
                               static_cast<std::size_t>(c)];
            to = cell == NullOffset ? NullOffset
                 : cell == 0        ? 0
                                    : append(reshaped, entryAt(*from.Buffer, cell));
        }
    }
    m_chunks.clear();
    if (rows > 0) m_chunks.push_back(std::move(reshaped));
    m_cols = cols;
    m_rows = rows;
}

std::string_view CellStore::entryAt(const std::vector<char> &buffer, std::uint32_t offset)
{
    // Every entry was checked when it came in, or written here.
    return cellblock::ReadEntry(buffer.data(), buffer.size(), offset).value_or(std::string_view());
}

std::uint32_t CellStore::append(Chunk &chunk, std::string_view text)
{
    if (text.empty()) return 0;
    const Bytes &held = *chunk.Buffer;
    if (!held.empty() && text.data() >= held.data() && text.data() < held.data() + held.size()) {
        // The text lives in this chunk's own buffer, which the append may move or let go.
        const std::string copy(text);
        return append(chunk, copy);
    }
    if (chunk.Lent) {
        // A reader may still be reading it: the chunk goes on in a copy of its own.
        chunk.Buffer = std::make_shared<Bytes>(held);
        chunk.Lent = false;
    }
    std::vector<char> &buffer = *chunk.Buffer;
    const std::size_t offset = buffer.size();
    if (offset + text.size() + 10 >= NullOffset) throw std::length_error("grid text exceeds 4 GiB");
    buffer.resize(offset + cellblock::EntrySize(text.size()));
    cellblock::PutEntry(buffer.data() + offset, text.data(), text.size());
    return static_cast<std::uint32_t>(offset);
}

void CellStore::set(int col, int row, std::string_view text)
{
    if (!inRange(col, row)) return;
    Chunk &chunk = chunkOf(row);
    std::uint32_t &cell = chunk.Index[slot(chunk, col, row)];
    if (cell != 0 && cell != NullOffset) {
        const std::string_view old = entryAt(*chunk.Buffer, cell);
        if (old == text) return;
        chunk.Garbage += 1 + old.size();
    }
    // The text may be another chunk's, which this append does not move.
    const std::uint32_t offset = append(chunk, text);
    chunk.Index[slot(chunk, col, row)] = offset;
    if (chunk.Garbage > 4096 && chunk.Garbage * 2 > chunk.Buffer->size()) compact(chunk);
}

void CellStore::setNull(int col, int row)
{
    if (!inRange(col, row)) return;
    Chunk &chunk = chunkOf(row);
    std::uint32_t &cell = chunk.Index[slot(chunk, col, row)];
    if (cell != 0 && cell != NullOffset) chunk.Garbage += 1 + entryAt(*chunk.Buffer, cell).size();
    cell = NullOffset;
}

std::string_view CellStore::get(int col, int row) const
{
    if (!inRange(col, row)) return {};
    const Chunk &chunk = chunkOf(row);
    const std::uint32_t cell = chunk.Index[slot(chunk, col, row)];
    if (cell == 0 || cell == NullOffset) return {};
    return entryAt(*chunk.Buffer, cell);
}

std::shared_ptr<const void> CellStore::keepAlive(int row)
{
    if (row < 0 || row >= m_rows) return nullptr;
    Chunk &chunk = chunkOf(row);
    chunk.Lent = true;
    return chunk.Buffer;
}

bool CellStore::isNull(int col, int row) const
{
    if (!inRange(col, row)) return false;
    const Chunk &chunk = chunkOf(row);
    return chunk.Index[slot(chunk, col, row)] == NullOffset;
}

void CellStore::compact()
{
    for (Chunk &chunk : m_chunks)
        compact(chunk);
}

void CellStore::compact(Chunk &chunk)
{
    // Into a new buffer: the old one may be lent, and is only let go.
    const std::shared_ptr<Bytes> old = std::move(chunk.Buffer);
    chunk.Buffer = std::make_shared<Bytes>();
    chunk.Lent = false;
    chunk.Buffer->reserve(old->size() - std::min(old->size() - 1, chunk.Garbage));
    chunk.Buffer->push_back(0);
    for (std::uint32_t &cell : chunk.Index)
        if (cell != 0 && cell != NullOffset) cell = append(chunk, entryAt(*old, cell));
    chunk.Garbage = 0;
}

void CellStore::removeRows(const std::vector<int> &rows)
{
    std::size_t next = 0;
    int removed = 0;
    const auto cols = static_cast<std::size_t>(m_cols);
    for (Chunk &chunk : m_chunks) {
        const int first = chunk.FirstRow;
        const int end = first + chunk.Rows;
        chunk.FirstRow -= removed;
        while (next < rows.size() && rows[next] < first)
            ++next; // not ascending, or repeated: ignored
        if (next == rows.size() || rows[next] >= end) continue;
        // The runs between removed rows move up, each with one copy.
        auto index = chunk.Index.begin();
        std::size_t write = static_cast<std::size_t>(rows[next] - first) * cols;
        int kept = rows[next] - first;
        while (next < rows.size() && rows[next] < end) {
            const int gone = rows[next];
            const std::size_t at = static_cast<std::size_t>(gone - first) * cols;
            for (std::size_t c = 0; c < cols; ++c) {
                const std::uint32_t cell = chunk.Index[at + c];
                if (cell != 0 && cell != NullOffset)
                    chunk.Garbage += 1 + entryAt(*chunk.Buffer, cell).size();
            }
            ++removed;
            do
                ++next;
            while (next < rows.size() && rows[next] <= gone);
            const int runEnd = next < rows.size() && rows[next] < end ? rows[next] : end;
            const std::size_t from = at + cols;
            const std::size_t length = static_cast<std::size_t>(runEnd - gone - 1) * cols;
            std::copy(index + static_cast<std::ptrdiff_t>(from),
                      index + static_cast<std::ptrdiff_t>(from + length),
                      index + static_cast<std::ptrdiff_t>(write));
            write += length;
            kept += runEnd - gone - 1;
        }
        chunk.Index.resize(write);
        chunk.Rows = kept;
    }
    m_chunks.erase(std::remove_if(m_chunks.begin(), m_chunks.end(),
                                  [](const Chunk &chunk) { return chunk.Rows == 0; }),
                   m_chunks.end());
    m_rows -= removed;
}
