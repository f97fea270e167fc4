// The library walk of a stored result and the packed cell block made from it.
#include "mySQLPacking.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include <poll.h>

using namespace mysqlapi;

namespace {
std::string stringOf(const char *text)
{
    return text ? std::string(text) : std::string();
}
} // namespace

// Packs a result, under a header row of column names, into one block sized exactly once. The
// library walk has put each cell's length, or NullOffset for NULL, into the index already; the
// copy needs no library call, so it runs on two threads, each with its own half of the rows.
static void packResult(TmySQLClientTaskData *task, unsigned int cols,
                       std::unique_ptr<TCellBlock> block, std::uint64_t headerBytes,
                       std::uint64_t firstHalfBytes, std::uint64_t bytes)
{
    const std::size_t rows = task->RowCount;
    if (bytes >= TCellBlock::NullOffset || rows + 1 > 0x7FFFFFFF) return;
    block->Cols = static_cast<int>(cols);
    block->Rows = static_cast<int>(rows + 1);
    block->Buffer.resize(bytes);
    char *const base = block->Buffer.data();
    char *out = base + 1;
    base[0] = 0;
    for (unsigned int c = 0; c < cols && c < task->Fields.size(); ++c) {
        const std::string &name = task->Fields[c].Name;
        if (name.empty()) continue;
        block->Index[c] = static_cast<std::uint32_t>(out - base);
        out = cellblock::PutEntry(out, name.data(), name.size());
    }
    auto copy = [&](std::size_t from, std::size_t to, std::uint64_t at) {
        char *o = base + at;
        std::uint32_t *index = block->Index.data() + (from + 1) * cols;
        MYSQL_ROW_OFFSET entry = task->RowEntry(from);
        for (std::size_t r = from; r < to; ++r, entry = entry->next) {
            const MYSQL_ROW row = entry->data;
            for (unsigned int c = 0; c < cols; ++c, ++index) {
                const std::uint32_t length = *index;
                if (length == TCellBlock::NullOffset || length == 0) continue;
                *index = static_cast<std::uint32_t>(o - base);
                o = cellblock::PutEntry(o, row[c], length);
            }
        }
    };
    const std::size_t half = rows / 2;
    if (rows < 20000) {
        copy(0, rows, headerBytes); // a second thread costs more than it saves
    } else {
        std::thread second(copy, half, rows, headerBytes + firstHalfBytes);
        copy(0, half, headerBytes);
        second.join();
    }
    // Checked here, on the worker, so the window thread takes it without looking again.
    task->Block = std::make_unique<TCheckedCellBlock>(TCheckedCellBlock::Check(std::move(*block)));
}

namespace {
void readFields(MYSQL_RES *result, std::vector<TmySQLFieldInfo> &fields)
{
    fields.clear(); // a statement's next result set describes its own columns
    const unsigned int cols = mysql_num_fields(result);
    fields.reserve(cols);
    for (unsigned int c = 0; c < cols; ++c) {
        const MYSQL_FIELD *field = mysql_fetch_field(result);
        if (!field) break;
        TmySQLFieldInfo info;
        info.Name = stringOf(field->name);
        info.OrgName = stringOf(field->org_name);
        info.Table = stringOf(field->table);
        info.OrgTable = stringOf(field->org_table);
        info.Db = stringOf(field->db);
        info.Flags = field->flags;
        info.CharsetNr = field->charsetnr;
        info.Type = field->type;
        fields.push_back(std::move(info));
    }
    if (mysql_field_seek) mysql_field_seek(result, 0);
}
} // namespace

// Reads a stored result on the thread that ran the statement: the columns, where every row
// stands, and, when asked, the packed block.
void gatherResult(TmySQLClientTaskData *task)
{
    MYSQL_RES *result = task->ResultSet;
    const unsigned int cols = mysql_num_fields(result);
    readFields(result, task->Fields);
    const auto rows = static_cast<std::uint32_t>(mysql_num_rows(result));
    task->RowMarks.reserve(rows / TmySQLClientTaskData::RowMarkStep + 1);
    // One walk through the library's rows: each row's entry, and for a packed result each
    // cell's length (or NULL) straight into the block's index, with the bytes they will take.
    std::unique_ptr<TCellBlock> block;
    std::uint32_t *index = nullptr;
    std::uint64_t headerBytes = 1, bytes = 0, firstHalfBytes = 0;
    if (task->Pack) {
        block = std::make_unique<TCellBlock>();
        block->Index.resize((static_cast<std::size_t>(rows) + 1) * cols, 0);
        index = block->Index.data() + cols;
        for (const TmySQLFieldInfo &field : task->Fields)
            if (!field.Name.empty()) headerBytes += cellblock::EntrySize(field.Name.size());
    }
    for (std::uint32_t i = 0; i < rows; ++i) {
        const MYSQL_ROW_OFFSET offset = mysql_row_tell(result);
        const MYSQL_ROW row = mysql_fetch_row(result);
        if (!row) break;
        if (i % TmySQLClientTaskData::RowMarkStep == 0) task->RowMarks.push_back(offset);
        ++task->RowCount;
        if (!index) continue;
        if (i == rows / 2) firstHalfBytes = bytes;
        const unsigned long *lengths = mysql_fetch_lengths(result);
        for (unsigned int c = 0; c < cols; ++c, ++index) {
            if (!row[c]) {
                *index = TCellBlock::NullOffset;
            } else if (lengths[c]) {
                *index =
                    static_cast<std::uint32_t>(std::min<unsigned long>(lengths[c], 0xFFFFFFFEu));
                bytes += cellblock::EntrySize(lengths[c]);
            }
        }
    }
    if (block && task->RowCount == rows)
        packResult(task, cols, std::move(block), headerBytes, firstHalfBytes, headerBytes + bytes);
}

namespace {
// One batch of a stream being packed, the first under a header row of the column names.
class BatchPacker
{
public:
    BatchPacker(const TmySQLClientTaskData &task, bool first, std::size_t expectBytes)
        : m_builder(static_cast<int>(task.Fields.size()), StreamBatchRows + 1, expectBytes)
    {
        if (!first) return;
        std::vector<const char *> names;
        std::vector<unsigned long> lengths;
        for (const TmySQLFieldInfo &field : task.Fields) {
            names.push_back(field.Name.data());
            lengths.push_back(field.Name.size());
        }
        m_builder.AddRow(names.data(), lengths.data());
        m_header = 1;
    }
    // False when the row does not fit beside what the batch holds (4 GiB of text).
    bool add(MYSQL_ROW row, const unsigned long *lengths) { return m_builder.AddRow(row, lengths); }
    int rows() const { return m_builder.Rows() - m_header; }
    std::size_t bytes() const { return m_builder.Bytes(); }
    std::unique_ptr<TCheckedCellBlock> finish()
    {
        return std::make_unique<TCheckedCellBlock>(std::move(m_builder).Finish());
    }

private:
    TCellBlockBuilder m_builder;
    int m_header = 0;
};
} // namespace

namespace {
// The stream being read on this thread, for the library's waits inside a fetch.
struct StreamWaiter
{
    std::chrono::steady_clock::time_point Due;
    bool Pending = false; // rows read and not handed over
    std::function<void()> HandOver;
};
thread_local StreamWaiter *t_waiter = nullptr;

int pollFor(int socket, bool read, int timeout)
{
    pollfd p{socket, static_cast<short>(read ? POLLIN : POLLOUT), 0};
    int rc = 0;
    do {
        rc = poll(&p, 1, timeout);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) errno = ETIMEDOUT;
    return rc;
}
} // namespace

int WaitForSocket(int socket, my_bool isRead, int timeout)
{
    StreamWaiter *waiter = t_waiter;
    if (isRead && waiter && waiter->Pending) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              waiter->Due - std::chrono::steady_clock::now())
                              .count();
        const int due = static_cast<int>(std::max<long long>(left, 0));
        if (timeout < 0 || due < timeout) {
            const int rc = pollFor(socket, true, due);
            if (rc != 0) return rc;
            // Between rows: what the batch holds is whole.
            waiter->HandOver();
            if (timeout >= 0) timeout -= due;
        }
    }
    return pollFor(socket, isRead, timeout);
}

bool streamResult(TmySQLClientTaskData *task, MYSQL *mysql, const TmySQLRowSink &rows)
{
    MYSQL_RES *result = mysql_use_result(mysql);
    if (!result) return false;
    readFields(result, task->Fields);
    const auto sink = [&](BatchPacker &batch, bool first) {
        auto mail = std::make_unique<TmySQLRowMail>();
        mail->OnRows = task->OnRows;
        mail->Batch.ResultIndex = task->ResultIndex;
        mail->Batch.First = first;
        if (first) mail->Batch.Fields = task->Fields;
        mail->Batch.Block = batch.finish();
        mail->Batch.RowsSoFar = task->StreamedRows;
        if (rows) rows(std::move(mail));
    };
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(StreamBatchMilliseconds);
    auto batch = std::make_unique<BatchPacker>(*task, true, 64 * 1024);
    bool firstSent = false;
    StreamWaiter waiter;
    waiter.HandOver = [&] {
        const std::size_t bytes = batch->bytes();
        sink(*batch, !firstSent);
        firstSent = true;
        waiter.Pending = false;
        if (task->Gate) task->Gate->Pass(task->StopRequested);
        batch = std::make_unique<BatchPacker>(*task, false,
                                              std::min(bytes + bytes / 8, StreamBatchBytes));
    };
    // Only inside the fetches: the drain after a stop hands nothing over.
    struct Registered
    {
        explicit Registered(StreamWaiter *w) { t_waiter = w; }
        ~Registered() { t_waiter = nullptr; }
    };
    {
        const Registered registered(&waiter);
        while (!task->StopRequested.load(std::memory_order_relaxed)) {
            const MYSQL_ROW row = mysql_fetch_row(result);
            if (!row) break;
            const unsigned long *lengths = mysql_fetch_lengths(result);
            if (!batch->add(row, lengths)) {
                waiter.HandOver();
                batch->add(row, lengths); // a row of 4 GiB does not fit anywhere: it is dropped
            }
            ++task->StreamedRows;
            if (!waiter.Pending) {
                waiter.Pending = true;
                waiter.Due = Clock::now() + interval;
            }
            if (batch->rows() >= StreamBatchRows || batch->bytes() >= StreamBatchBytes ||
                ((task->StreamedRows & 63) == 0 && Clock::now() >= waiter.Due))
                waiter.HandOver();
        }
    }
    // Taken before the result is freed: the end of the rows, or the error that ended them.
    const unsigned int error = mysql_errno(mysql);
    const std::string errorText = error ? stringOf(mysql_error(mysql)) : std::string();
    if (batch->rows() > 0 || !firstSent) sink(*batch, !firstSent);
    const bool stopped = task->StopRequested.load();
    // Freeing a result read this way reads what the server still sends: after a stop, until the
    // server has ended the statement, so the connection is in step for the next request.
    mysql_free_result(result);
    if (stopped) {
        // Ended by the stop (the server's interruption, or the connection cut when it could not
        // be asked), or finished before the stop took effect.
        task->Stopped = true;
        return true;
    }
    if (error == 0) return true;
    task->ErrorNumber = error;
    task->ErrorText = errorText;
    return false;
}
