// The wire rules of the remote link that need no socket: the accept value of
// the opening handshake, the header lines each side counts, the receive-buffer
// limits and the reassembly of chunked objects ("SP", "FB").
#pragma once
#include <cstdint>

constexpr const char *kWsGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr int kWsMaxKey = 64;         // longer handshake keys are refused
constexpr int kWsLineMax = 1023;      // one handshake line (longer ones are split)
constexpr int kWsRecvMax = 4 + 65535; // the largest frame a peer of this system sends
constexpr int kWsChunkData = 512;     // data bytes of one chunk
constexpr int kWsChunkFrame = 526;    // a whole chunk frame on the wire
constexpr int kWsShortBody = 123;     // largest body of a short binary frame
constexpr int kWsSpectrumCap = 1706;  // largest spectrum object
constexpr int kWsHandshakeMs = 10000; // silence allowed before the phrase

// Accept value for `key` (Base64 of SHA-1 over key + GUID) into `out` (29 bytes
// with the NUL). Returns 0, or -1 when the key is longer than kWsMaxKey.
int WsAcceptValue(const char *key, char out[29]);

// Counting of the handshake lines, for the server (request, 7 prefixes, done at
// 8) and the client (response, 5 prefixes, done above 5).
struct WsHandshake {
    bool server = true;
    int count = 0;
    bool keySeen = false;
    bool refused = false; // key too long, or (client) a wrong accept value
    char key[kWsMaxKey + 1]{};
    char expect[29]{}; // client: the accept value its own key asks for
};
// Prepares a client count that checks the accept value of `ownKey`.
void WsHandshakeClient(WsHandshake *h, const char *ownKey);
// Counts one complete line (with its line end). Returns 1 when the handshake
// is complete, 0 to read on, -1 when it is refused.
int WsHandshakeLine(WsHandshake *h, const char *line, int length);

// Checks the first four bytes of a frame. Returns the bytes that follow them
// (may be 0 or more), or -1 for a frame this system never sends: the 32-bit
// length form, a set mask bit, a payload too short to hold what the header
// promises.
int WsFrameRest(const uint8_t head[4]);

// Putting a chunked object back together in `target` of `capacity` bytes.
struct WsAssembly {
    uint32_t total = 0; // T of the object being built, 0 none
    uint32_t next = 0;  // offset of the next chunk expected
};
// One chunk body (after the tag: T, O, data of `length` bytes in all).
// Returns the object length T when this chunk completed it, 0 when it was
// taken, -1 when it was dropped (the object then starts over at O = 0).
int WsAssembleChunk(WsAssembly *a, uint8_t *target, uint32_t capacity, const uint8_t *body,
                    int length);

inline uint32_t WsGet32(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void WsPut32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
