#include "client_login.h"

void copyLogin(const TmySQLClient *from, TmySQLClient *to)
{
    if (!from || !to) return;
    to->setHostname(from->Hostname());
    to->setUsername(from->Username());
    to->setPassword(from->Password());
    to->setPort(from->Port());
    to->setCapabilities(from->Capabilities());
    to->setTlsMode(from->TlsMode());
    to->setTlsCaFile(from->TlsCaFile());
    to->setTlsPeerFingerprint(from->TlsPeerFingerprint());
    to->setTunnelSocket(from->TunnelSocket());
}
