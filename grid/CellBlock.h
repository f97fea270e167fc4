#pragma once

// A whole grid's text in one compact block, Qt-free: what the client packs on its worker and the
// cell store takes by move. Index is row-major, one entry per cell: 0 is the empty text,
// NullOffset is SQL NULL, anything else is the offset in Buffer of a length (LEB128, 7 bits a
// byte, low bits first) followed by that many bytes. Buffer[0] is the shared empty entry.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct TCellBlock
{
    static constexpr std::uint32_t NullOffset = 0xFFFFFFFFu;
    int Cols = 0;
    int Rows = 0;
    std::vector<std::uint32_t> Index;
    std::vector<char> Buffer;
};

namespace cellblock {
// Bytes an entry of this many text bytes takes, its length included.
std::size_t EntrySize(std::size_t length);
// Writes one entry at out; returns where the next one goes.
char *PutEntry(char *out, const char *data, std::size_t length);
// The text of the entry at offset; nothing when its length or its bytes run past the buffer.
std::optional<std::string_view> ReadEntry(const char *buffer, std::size_t size,
                                          std::uint32_t offset);
} // namespace cellblock

// A block whose sizes fit together and whose every entry lies inside its buffer. Only Check
// makes one, so a store can take it without looking again; the check runs where the block is
// made (the client's worker), not on the window thread.
class TCheckedCellBlock
{
public:
    // Throws std::invalid_argument, naming what is wrong, for a block that is not well formed.
    static TCheckedCellBlock Check(TCellBlock &&block);
    const TCellBlock &Block() const { return m_block; }
    TCellBlock Take() && { return std::move(m_block); }

private:
    explicit TCheckedCellBlock(TCellBlock &&block) : m_block(std::move(block)) {}
    TCellBlock m_block;
};
