// Who may use the remote link: the access phrase, the networks a peer may
// come from (option RemoteAllow) and the address the server listens on
// (option RemoteBind).
#pragma once
#include <cstdint>

struct Works;

// The phrase a peer proves itself with: the option AccessPhrase, whose
// default is the setup's own phrase (so existing peers keep working).
const char *WsPhrase(Works *works);

// The phrase every unit leaves the factory with.
constexpr const char *kWsFactoryPhrase = "tarabantulio";
// True while the server is on, still takes the factory phrase, and listens
// on an address beyond loopback (RemoteBind empty or not 127.x.x.x): the
// operator is told ("default access phrase").
bool WsDefaultPhraseExposed(Works *works);
// The same from the values themselves (the simulated unit's page reads them
// from the files).
bool WsDefaultPhraseExposed(char webSocketSwitch, const char *phrase, const char *bind);

// A browser's handshake (it carries `origin`) is taken only from the unit's
// own page (an http or https origin naming the same host and port as the
// request's `host`) or from an origin listed in RemoteOrigins (commas or
// blanks between entries, such as "http://shack-pc:8080"). A handshake
// without an Origin header (peers, scripts) is not concerned.
bool WsOriginAllowed(const char *origin, const char *host, const char *allowed);

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
