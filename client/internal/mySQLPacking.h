// Packing a stored result for the grid, on the thread that ran the statement: private to the
// client, the windows never include it.
#pragma once

#include "mySQLTask.h"

// Reads a stored result: the columns, where every row stands, and, when the task asks for it,
// the packed and checked cell block.
void gatherResult(TmySQLClientTaskData *task);
