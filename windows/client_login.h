#pragma once

// A second connection made as the first was: the same server, login and protection.
#include "mySQLClient.h"

// Copies host, user, password, port, capabilities, the TLS mode, CA and pinned fingerprint, and
// the SSH tunnel's socket: the second connection goes where the first one goes.
void copyLogin(const TmySQLClient *from, TmySQLClient *to);
