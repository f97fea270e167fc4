#include "CellBlock.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace cellblock {

std::optional<std::string_view> ReadEntry(const char *buffer, std::size_t size,
                                          std::uint32_t offset)
{
    std::size_t pos = offset;
    std::size_t length = 0;
    int shift = 0;
    unsigned char byte = 0;
    do {
        // A length of more than five bytes would not fit 32 bits: the block is damaged.
        if (pos >= size || shift > 28) return std::nullopt;
        byte = static_cast<unsigned char>(buffer[pos++]);
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        shift += 7;
    } while (byte & 0x80);
    if (length > size - pos) return std::nullopt;
    return std::string_view(buffer + pos, length);
}

} // namespace cellblock

TCheckedCellBlock TCheckedCellBlock::Check(TCellBlock &&block)
{
    if (block.Cols < 0 || block.Rows < 0 ||
        block.Index.size() !=
            static_cast<std::size_t>(block.Cols) * static_cast<std::size_t>(block.Rows) ||
        block.Buffer.empty() || block.Buffer[0] != 0)
        throw std::invalid_argument("cell block does not fit its sizes");
    const char *data = block.Buffer.data();
    const std::size_t size = block.Buffer.size();
    for (const std::uint32_t offset : block.Index) {
        if (offset == 0 || offset == TCellBlock::NullOffset) continue;
        if (!cellblock::ReadEntry(data, size, offset))
            throw std::invalid_argument("cell block entry runs past its buffer");
    }
    return TCheckedCellBlock(std::move(block));
}

TCellBlockBuilder::TCellBlockBuilder(int cols, std::size_t expectRows, std::size_t expectBytes)
{
    m_block.Cols = std::max(cols, 0);
    m_block.Index.resize(expectRows * static_cast<std::size_t>(m_block.Cols));
    m_block.Buffer.reserve(std::max<std::size_t>(expectBytes, 1));
    m_block.Buffer.resize(1);
}

bool TCellBlockBuilder::AddRow(const char *const *cells, const unsigned long *lengths)
{
    const auto cols = static_cast<std::size_t>(m_block.Cols);
    // Room for the row first: its texts and at most ten length bytes each.
    std::uint64_t most = 0;
    for (std::size_t c = 0; c < cols; ++c)
        if (cells[c]) most += std::uint64_t(lengths[c]) + 10;
    if (m_used + most >= TCellBlock::NullOffset) {
        std::uint64_t exact = 0;
        for (std::size_t c = 0; c < cols; ++c)
            if (cells[c] && lengths[c]) exact += cellblock::EntrySize(lengths[c]);
        if (m_used + exact >= TCellBlock::NullOffset) return false;
    }
    std::vector<char> &buffer = m_block.Buffer;
    if (m_used + most > buffer.size()) {
        // Reserved in doubling steps, but written (zeroed) only a few pages ahead: the part of a
        // reservation never used is never touched, so it takes no memory the process keeps.
        constexpr std::uint64_t Ahead = 2 * 1024;
        const std::uint64_t want =
            std::min<std::uint64_t>(m_used + most + Ahead, TCellBlock::NullOffset);
        if (want > buffer.capacity())
            buffer.reserve(std::min<std::uint64_t>(
                std::max<std::uint64_t>(want, buffer.capacity() * 2), TCellBlock::NullOffset));
        buffer.resize(want);
    }
    const std::size_t at = static_cast<std::size_t>(m_block.Rows) * cols;
    if (at + cols > m_block.Index.size())
        m_block.Index.resize(std::max(at + cols, m_block.Index.size() * 2));
    std::uint32_t *index = m_block.Index.data() + at;
    char *const base = buffer.data();
    char *out = base + m_used;
    for (std::size_t c = 0; c < cols; ++c) {
        if (!cells[c]) {
            index[c] = TCellBlock::NullOffset;
        } else if (lengths[c] == 0) {
            index[c] = 0;
        } else {
            index[c] = static_cast<std::uint32_t>(out - base);
            out = cellblock::PutEntry(out, cells[c], lengths[c]);
        }
    }
    m_used = static_cast<std::size_t>(out - base);
    ++m_block.Rows;
    return true;
}

TCheckedCellBlock TCellBlockBuilder::Finish() &&
{
    std::vector<std::uint32_t> &index = m_block.Index;
    index.resize(static_cast<std::size_t>(m_block.Rows) * m_block.Cols);
    if (index.capacity() > index.size() + index.size() / 4) index.shrink_to_fit();
    m_block.Buffer.resize(m_used);
    if (m_block.Buffer.capacity() > m_used + m_used / 4) m_block.Buffer.shrink_to_fit();
    return TCheckedCellBlock(std::move(m_block));
}
