#pragma once

// A second connection made as the first was: the same server, login and protection.
#include "mySQLClient.h"

// Copies host, user, password, port, capabilities and the TLS mode, CA and pinned fingerprint.
void copyLogin(const TmySQLClient *from, TmySQLClient *to);
