// Packing a stored result for the grid, on the thread that ran the statement: private to the
// client, the windows never include it.
#pragma once

#include "mySQLTask.h"

// Reads a stored result: the columns, where every row stands, and, when the task asks for it,
// the packed and checked cell block.
void gatherResult(TmySQLClientTaskData *task);

// Reads the result of the statement just sent as the server sends it (mysql_use_result), packing
// each row into the current batch, and hands every batch to rows: after StreamBatchRows rows or
// StreamBatchMilliseconds, whichever comes first, and the last at the end. The first batch goes
// even for no rows: it carries the column names. A stop asked of the task ends the packing and
// reads what the server still sends. False when the server reported an error (in the task).
bool streamResult(TmySQLClientTaskData *task, MYSQL *mysql, const TmySQLRowSink &rows);
