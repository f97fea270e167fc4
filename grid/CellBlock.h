#pragma once

// A whole grid's text in one compact block, Qt-free: what the client packs on its worker and the
// cell store takes by move. Index is row-major, one entry per cell: 0 is the empty text,
// NullOffset is SQL NULL, anything else is the offset in Buffer of a length (LEB128, 7 bits a
// byte, low bits first) followed by that many bytes. Buffer[0] is the shared empty entry.
#include <cstddef>
#include <cstdint>
#include <cstring>
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
inline std::size_t EntrySize(std::size_t length)
{
    std::size_t n = 1;
    for (std::size_t rest = length; rest >= 0x80; rest >>= 7)
        ++n;
    return n + length;
}
// Writes one entry at out; returns where the next one goes. Inline, with the short texts most
// cells hold copied in two overlapping moves: a library call per cell cost more than the copy.
inline char *PutEntry(char *out, const char *data, std::size_t length)
{
    if (length < 0x80) {
        *out++ = static_cast<char>(length);
        if (length >= 8 && length <= 16) {
            std::memcpy(out, data, 8);
            std::memcpy(out + length - 8, data + length - 8, 8);
            return out + length;
        }
        if (length >= 4 && length < 8) {
            std::memcpy(out, data, 4);
            std::memcpy(out + length - 4, data + length - 4, 4);
            return out + length;
        }
        if (length < 4) {
            for (std::size_t i = 0; i < length; ++i)
                out[i] = data[i];
            return out + length;
        }
    } else {
        std::size_t rest = length;
        do {
            unsigned char byte = rest & 0x7F;
            rest >>= 7;
            if (rest) byte |= 0x80;
            *out++ = static_cast<char>(byte);
        } while (rest);
    }
    std::memcpy(out, data, length);
    return out + length;
}
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
    friend class TCellBlockBuilder;
    explicit TCheckedCellBlock(TCellBlock &&block) : m_block(std::move(block)) {}
    TCellBlock m_block;
};

// Builds a block row by row. Every entry it writes lies inside its buffer by construction, so
// what it finishes needs no second pass: a stream's batches are made here, one row at a time.
class TCellBlockBuilder
{
public:
    // expectRows and expectBytes: what the rows will likely take, made room for at once.
    TCellBlockBuilder(int cols, std::size_t expectRows, std::size_t expectBytes);
    // One row of cols cells: a null pointer is SQL NULL. False, and nothing added, when the row
    // does not fit beside what the block holds (4 GiB of text).
    bool AddRow(const char *const *cells, const unsigned long *lengths);
    int Rows() const { return m_block.Rows; }
    std::size_t Bytes() const { return m_used; }
    // The block, its buffer with no slack beyond a quarter (a store keeps it as it is).
    TCheckedCellBlock Finish() &&;

private:
    TCellBlock m_block;
    // Index and buffer are grown ahead in steps: Rows rows and m_used bytes of them are written.
    std::size_t m_used = 1;
};
