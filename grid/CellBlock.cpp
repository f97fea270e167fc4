#include "CellBlock.h"

#include <cstring>
#include <stdexcept>

namespace cellblock {

std::size_t EntrySize(std::size_t length)
{
    std::size_t n = 1;
    for (std::size_t rest = length; rest >= 0x80; rest >>= 7)
        ++n;
    return n + length;
}

char *PutEntry(char *out, const char *data, std::size_t length)
{
    std::size_t rest = length;
    do {
        unsigned char byte = rest & 0x7F;
        rest >>= 7;
        if (rest) byte |= 0x80;
        *out++ = static_cast<char>(byte);
    } while (rest);
    std::memcpy(out, data, length);
    return out + length;
}

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
