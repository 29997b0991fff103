// The wire rules of the remote link that need no socket: the accept value of
// the opening handshake, the request and response lines, the frame headers
// (this system's own, unmasked, and the masked ones of standard clients), the
// receive-buffer limits and the reassembly of chunked objects ("SP", "FB").
#pragma once
#include <cstdint>

constexpr const char *kWsGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr int kWsMaxKey = 64;         // longer handshake keys are refused
constexpr int kWsLineMax = 1023;      // one handshake line (longer ones are dropped)
constexpr int kWsRequestLines = 64;   // a request with more lines is refused
constexpr int kWsRecvMax = 8 + 65535; // the largest frame taken (a masked 16-bit length form)
constexpr int kWsChunkData = 512;     // data bytes of one chunk
constexpr int kWsChunkFrame = 526;    // a whole chunk frame on the wire
constexpr int kWsShortBody = 123;     // largest body of a short binary frame
constexpr int kWsSpectrumCap = 1706;  // largest spectrum object

// Frame kinds (byte 0, FIN set).
constexpr uint8_t kWsText = 0x81, kWsBinary = 0x82, kWsClose = 0x88, kWsPing = 0x89, kWsPong = 0x8A;

// Accept value for `key` (Base64 of SHA-1 over key + GUID) into `out` (29 bytes
// with the NUL). Returns 0, or -1 when the key is longer than kWsMaxKey.
int WsAcceptValue(const char *key, char out[29]);

// The opening handshake, line by line. The server takes any order of the
// request's headers and ends the request at its first empty line; the client
// counts the response lines it knows.
struct WsHandshake {
    bool server = true;
    int count = 0;           // client: response lines recognised (and empty lines)
    int lines = 0;           // server: lines of the request
    bool keySeen = false;    // server: the key; client: a correct accept value
    bool refused = false;    // a key too long, a request not a GET, too many lines,
                             // (client) a wrong accept value
    bool statusSeen = false; // client: "HTTP/1.1 101 Switching Protocols"
    bool get = false;        // server: the request line is a GET
    bool upgrade = false;    // server: "Upgrade: websocket"
    bool chat = false;       // server: the subprotocol "chat" was asked for
    bool ownForm = true;     // server: only the lines this system's client sends
    char path[64]{};         // server: the path of the GET
    bool origin = false;     // server: an Origin header came (browsers send one)
    char originText[256]{};  // server: its value ("" when too long to keep)
    char host[256]{};        // server: the Host header's value
    char key[kWsMaxKey + 1]{};
    char expect[29]{}; // client: the accept value its own key asks for
};
// Prepares a client count that checks the accept value of `ownKey`.
void WsHandshakeClient(WsHandshake *h, const char *ownKey);
// Takes one complete line (with its line end). Returns 0 to read on, -1 when
// the handshake is refused, 1 when it is complete (server: an upgrade
// request), 2 (server) for a complete request that asks for no upgrade.
int WsHandshakeLine(WsHandshake *h, const char *line, int length);
// The server's answer to a complete upgrade request, NUL-terminated; its
// length. "Sec-WebSocket-Protocol: chat" is in it when the client asked for
// that subprotocol, or sent this system's own request (whose client expects it).
int WsUpgradeReply(const WsHandshake *h, char *out, int cap);

// A frame header as read from its first bytes.
struct WsHead {
    uint8_t b0 = 0;
    bool masked = false;   // the mask bit (standard clients set it on every frame)
    bool extended = false; // the 16-bit length form
    int keyAt = -1;        // offset of the 4-byte key, -1 when there is none
    int payloadAt = 0;
    int length = 0; // payload bytes
};
// From the first `have` bytes of a frame: the whole frame's length, 0 when
// more bytes are needed to tell, -1 for a frame refused (the 64-bit length
// form, a masked frame of a kind not taken, a control frame over 125 bytes, a
// binary payload without room for its tag). A text frame of the short form
// always carries a key, mask bit or not; a binary or control frame carries
// one when the mask bit is set.
int WsParseHead(const uint8_t *frame, int have, WsHead *h);
// The close code for a frame WsParseHead refused: 1009 (too big) for the
// 64-bit length form, else 1002 (protocol error).
uint16_t WsRefusedCode(const uint8_t *frame);
// True when `n` bytes are well-formed UTF-8 (what a text frame must carry).
bool WsValidUtf8(const uint8_t *text, int n);
// The payload with its key applied into `out` (h.length bytes).
void WsUnmask(const uint8_t *frame, const WsHead &h, uint8_t *out);

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
