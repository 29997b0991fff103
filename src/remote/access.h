// Who may use the remote link: the access phrase, the networks a peer may
// come from (option RemoteAllow) and the address the server listens on
// (option RemoteBind).
#pragma once
#include <cstdint>

struct Works;

// The phrase a peer proves itself with: the option AccessPhrase, whose
// default is the setup's own phrase (so existing peers keep working).
const char *WsPhrase(Works *works);

// RemoteAllow, read: up to kWsAllowMax networks (addresses in host order).
constexpr int kWsAllowMax = 16;
struct WsAllowList {
    bool all = true; // an empty option allows every peer
    int count = 0;
    uint32_t net[kWsAllowMax] = {}, mask[kWsAllowMax] = {};
};
// Reads a list such as "192.168.1.0/24, 10.0.0.5" (commas or blanks between
// entries). An entry that does not read is logged and left out; a list that
// names entries but none that reads allows nobody.
WsAllowList WsReadAllowList(const char *text);
bool WsAllowed(const WsAllowList &list, uint32_t addr);

// RemoteBind: the IPv4 address to listen on (host order), all addresses for
// an empty text; false when the text is not an IPv4 address.
bool WsBindAddress(const char *text, uint32_t *addr);

// Sets TCP keepalive (idle 10 s, interval 5 s, 3 probes) and TCP_USER_TIMEOUT
// (20 s) on a connection, so a dead peer is noticed on either end.
void WsKeepAlive(int fd);
