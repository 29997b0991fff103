// WebSocket server (`Wsocket`, setup switch WebSocket '1') and client
// (`Wclient`, '2') of the remote link. Both end within a few polls of their
// switch or `running` dropping: every wait on the network is a poll of at most
// kWsPollMs.
//
// The server takes several connections at once. Each has wsProveMs to
// complete the handshake and send the access phrase; the first to do so gets
// the session and the others are closed. A session is never displaced by a
// connection that has not proved itself; one whose peer has sent nothing for
// wsTakeoverIdleMs may be taken over by a newly proved peer. A plain GET of
// "/" (no upgrade) is answered with the unit's page and closed. Wrong phrases
// slow their source address down (remote/guard.h); a browser's handshake from
// a foreign page (its Origin header) is refused with 403.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "remote/ws_proto.h"

struct Works;

constexpr int kWsPollMs = 50;
constexpr int kWsBackoffMinMs = 2000;
constexpr int kWsBackoffMaxMs = 30000;
constexpr int kWsPendingMax = 16;    // connections proving themselves at once
constexpr int kWsPendingPerPeer = 4; // of them from one address
constexpr int kWsBacklog = 16;

void *Wsocket(void *arg);
void *Wclient(void *arg);

// Milliseconds the server waits before it listens (start-up settling).
extern std::atomic<int> wsServerStartWaitMs;
// A new connection's time for the handshake and the access phrase (3000).
extern std::atomic<int> wsProveMs;
// A session whose peer has sent nothing for this long may be taken over (60000).
extern std::atomic<int> wsTakeoverIdleMs;
// A client that has heard nothing for this long connects again (30000).
extern std::atomic<int> wsClientSilenceMs;
// The server pings a peer that masks its frames (a standard client) this often (10000).
extern std::atomic<int> wsPingMs;

struct WsLobby;

// One connection's reading side: an input buffer over a socket.
struct WsConn {
    Works *works = nullptr;
    int fd = -1;
    bool server = true;
    uint64_t deadline = 0;    // NowMs() limit while non-zero
    uint64_t lastRx = 0;      // NowMs() of the last bytes received
    uint64_t nextPing = 0;    // server: when the next ping goes out (0: none)
    int silenceMs = 0;        // client: silence that ends the connection (0: none)
    WsLobby *lobby = nullptr; // server: the connections that wait meanwhile
    int inPos = 0, inLen = 0;
    uint8_t in[4096];
};

// What one side keeps about a connection between frames.
struct WsSession {
    bool server = true;
    int fd = -1;
    bool pings = false; // server: the peer masks its frames (a standard client)
    int frames = 0;     // frames acted on
    uint16_t closeCode = 0; // a close frame owed to the peer before the socket closes
    WsAssembly sp, fb;
    uint8_t spBuf[kWsSpectrumCap];
    std::vector<uint8_t> fbBuf; // the screen object, sized on first use
    uint8_t frame[kWsRecvMax];  // the frame being read
    uint8_t plain[kWsRecvMax];  // its payload with the key applied
};

// Results of reading and of acting on a frame.
enum WsEnd {
    kWsGoOn = 0,
    kWsClosed = -1,      // end of stream or a read error
    kWsStopped = -2,     // switch or running dropped
    kWsTimedOut = -3,    // handshake or phrase not in time
    kWsBadFrame = -4,    // a frame this system does not take
    kWsWrongPhrase = -5, // the first text frame was not the phrase
    kWsRefused = -6,     // handshake refused
    kWsPortError = -7,   // a write to the CAT or TAV port failed
    kWsTakenOver = -8,   // a newly proved peer took the silent session over
    kWsSilent = -9,      // client: nothing heard from the server for too long
    kWsPeerClose = -10,  // the peer sent a close frame (answered)
    kWsForbidden = -11,  // a browser's handshake from a foreign origin (403)
};

// Reads one whole frame into `s->frame`; returns its length or a WsEnd.
int WsReadFrame(WsConn *c, WsSession *s);
// Acts on one frame of `length` bytes; kWsGoOn or the reason to end.
int WsDispatch(Works *works, WsSession *s, const uint8_t *frame, int length);
// Serves one accepted peer on `fd` (handshake, phrase, frames) and closes it.
int WsServeConnection(Works *works, int fd);

// Client: the request key (24 characters) from 16 random bytes; 0 on success.
int WsMakeClientKey(char key[25]);
// One connection attempt of the client and, when it succeeds, its frame loop.
// Returns 1 when the link worked (frames arrived) before it ended, 0 for a
// failed attempt, kWsStopped when asked to stop.
int WsClientAttempt(Works *works, const char *key);
// Next back-off after a failed attempt.
inline int WsNextBackoff(int ms) {
    return ms * 2 > kWsBackoffMaxMs ? kWsBackoffMaxMs : ms * 2;
}
