// Packing a stored result for the grid, on the thread that ran the statement: private to the
// client, the windows never include it.
#pragma once

#include "mySQLTask.h"

// Reads a stored result: the columns, where every row stands, and, when the task asks for it,
// the packed and checked cell block.
void gatherResult(TmySQLClientTaskData *task);

// Reads the result of the statement just sent as the server sends it (mysql_use_result), packing
// each row into the current batch, and hands every batch to rows: at StreamBatchRows rows, at
// StreamBatchBytes, or StreamBatchMilliseconds after its first row, whichever comes first (also
// while the library waits for the next row: see WaitForSocket), and the last at the end. The
// first batch goes even for no rows: it carries the column names. A stop asked of the task ends
// the packing and reads what the server still sends. False when the server reported an error (in
// the task).
bool streamResult(TmySQLClientTaskData *task, MYSQL *mysql, const TmySQLRowSink &rows);

// The library's wait for its socket (MARIADB_OPT_IO_WAIT): a poll, which, inside a stream on this
// thread, hands the rows read so far over when their time is up before the next row has come.
int WaitForSocket(int socket, my_bool isRead, int timeout);
