#include "CellStore.h"

#include <algorithm>
#include <stdexcept>
#include <string>

CellStore::CellStore()
{
    m_buffer.push_back(0);
} // the shared empty entry at offset 0

void CellStore::clear()
{
    m_index.assign(m_index.size(), 0);
    m_buffer.assign(1, 0);
    m_garbage = 0;
}

void CellStore::assign(TCheckedCellBlock &&checked)
{
    TCellBlock block = std::move(checked).Take();
    m_cols = block.Cols;
    m_rows = block.Rows;
    m_index = std::move(block.Index);
    m_buffer = std::move(block.Buffer);
    m_garbage = 0;
}

void CellStore::assign(int cols, int rows, std::vector<std::uint32_t> &&index,
                       std::vector<char> &&buffer)
{
    assign(TCheckedCellBlock::Check(TCellBlock{cols, rows, std::move(index), std::move(buffer)}));
}

void CellStore::resize(int cols, int rows)
{
    cols = std::max(cols, 0);
    rows = std::max(rows, 0);
    if (cols == m_cols && rows == m_rows) return;
    const std::size_t cells = static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows);
    if (cols == m_cols) {
        // Row-major: a change of row count only cuts or extends the tail.
        for (std::size_t i = cells; i < m_index.size(); ++i)
            if (m_index[i] != 0 && m_index[i] != NullOffset)
                m_garbage += 1 + entryAt(m_buffer, m_index[i]).size();
        m_index.resize(cells, 0);
        m_rows = rows;
        return;
    }
    std::vector<std::uint32_t> index(cells, 0);
    const int keepCols = std::min(cols, m_cols);
    const int keepRows = std::min(rows, m_rows);
    for (int r = 0; r < keepRows; ++r)
        std::copy_n(m_index.begin() + static_cast<std::ptrdiff_t>(slot(0, r)), keepCols,
                    index.begin() +
                        static_cast<std::ptrdiff_t>(static_cast<std::size_t>(r) * cols));
    m_index.swap(index);
    m_cols = cols;
    m_rows = rows;
    m_garbage = 0;
    compact();
}

std::string_view CellStore::entryAt(const std::vector<char> &buffer, std::uint32_t offset)
{
    // Every entry was checked when it came in, or written here.
    return cellblock::ReadEntry(buffer.data(), buffer.size(), offset).value_or(std::string_view());
}

std::uint32_t CellStore::append(std::string_view text)
{
    if (text.empty()) return 0;
    if (!m_buffer.empty() && text.data() >= m_buffer.data() &&
        text.data() < m_buffer.data() + m_buffer.size()) {
        // The text lives in our own buffer, which the append may move.
        const std::string copy(text);
        return append(copy);
    }
    const std::size_t offset = m_buffer.size();
    if (offset + text.size() + 10 >= NullOffset) throw std::length_error("grid text exceeds 4 GiB");
    m_buffer.resize(offset + cellblock::EntrySize(text.size()));
    cellblock::PutEntry(m_buffer.data() + offset, text.data(), text.size());
    return static_cast<std::uint32_t>(offset);
}

void CellStore::set(int col, int row, std::string_view text)
{
    if (!inRange(col, row)) return;
    std::uint32_t &cell = m_index[slot(col, row)];
    if (cell != 0 && cell != NullOffset) {
        const std::string_view old = entryAt(m_buffer, cell);
        if (old == text) return;
        m_garbage += 1 + old.size();
    }
    cell = append(text);
    if (m_garbage > 4096 && m_garbage * 2 > m_buffer.size()) compact();
}

void CellStore::setNull(int col, int row)
{
    if (!inRange(col, row)) return;
    std::uint32_t &cell = m_index[slot(col, row)];
    if (cell != 0 && cell != NullOffset) m_garbage += 1 + entryAt(m_buffer, cell).size();
    cell = NullOffset;
}

std::string_view CellStore::get(int col, int row) const
{
    if (!inRange(col, row)) return {};
    const std::uint32_t cell = m_index[slot(col, row)];
    if (cell == 0 || cell == NullOffset) return {};
    return entryAt(m_buffer, cell);
}

bool CellStore::isNull(int col, int row) const
{
    return inRange(col, row) && m_index[slot(col, row)] == NullOffset;
}

void CellStore::compact()
{
    std::vector<char> old;
    old.swap(m_buffer);
    m_buffer.reserve(old.size() - std::min(old.size() - 1, m_garbage));
    m_buffer.push_back(0);
    for (std::uint32_t &cell : m_index)
        if (cell != 0 && cell != NullOffset) cell = append(entryAt(old, cell));
    m_garbage = 0;
}
