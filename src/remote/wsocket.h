// WebSocket server (`Wsocket`, setup switch WebSocket '1') and client
// (`Wclient`, '2') of the remote link. Both end within a few polls of their
// switch or `running` dropping: every wait on the network is a poll of at most
// kWsPollMs.
#pragma once
#include <cstdint>
#include <vector>

#include "remote/ws_proto.h"

struct Works;

constexpr int kWsPollMs = 50;
constexpr int kWsBackoffMinMs = 2000;
constexpr int kWsBackoffMaxMs = 30000;

void *Wsocket(void *arg);
void *Wclient(void *arg);

// Milliseconds the server waits before it listens (start-up settling).
extern int wsServerStartWaitMs;

// One connection's reading side: an input buffer over a socket.
struct WsConn {
    Works *works = nullptr;
    int fd = -1;
    bool server = true;
    uint64_t deadline = 0; // NowMs() limit while non-zero
    int inPos = 0, inLen = 0;
    uint8_t in[4096];
};

// What one side keeps about a connection between frames.
struct WsSession {
    bool server = true;
    int fd = -1;
    bool phraseOk = false; // server: the access phrase arrived
    bool firstText = true; // server: the next text frame is the phrase
    int frames = 0;        // frames acted on
    WsAssembly sp, fb;
    uint8_t spBuf[kWsSpectrumCap];
    std::vector<uint8_t> fbBuf; // the screen object, sized on first use
    uint8_t frame[kWsRecvMax];  // the frame being read
};

// Results of reading and of acting on a frame.
enum WsEnd {
    kWsGoOn = 0,
    kWsClosed = -1,      // end of stream or a read error
    kWsStopped = -2,     // switch or running dropped
    kWsTimedOut = -3,    // handshake or phrase not in time
    kWsBadFrame = -4,    // a frame this system never sends
    kWsWrongPhrase = -5, // the first text frame was not the phrase
    kWsRefused = -6,     // handshake refused
    kWsPortError = -7,   // a write to the CAT or TAV port failed
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
