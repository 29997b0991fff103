// Frames to the remote peer. Every sender writes one whole frame (or chunk)
// under `sendMut`, and only while a peer is connected (`wsConnected` 1) on the
// socket published in `wsSocket`. A write that does not finish within
// kWsSendTimeoutMs, or fails, marks the link down; the reading thread then
// closes it. Senders return 0 when the frame went out, -1 otherwise.
#pragma once
#include <cstdint>
struct Works;

constexpr int kWsSendTimeoutMs = 300;

// "PA": a TAV parameter payload as read from the transceiver (at most 123 bytes).
int sendWebSockSerParFrame(Works *works, const uint8_t *payload, int length);
// "SP": spectrum bytes, in chunks of 512 (works may be null: nothing is sent).
int sendWebSockSerSpectrFrame(Works *works, const uint8_t *bins, int count);
// "CA": one answer read from the CAT pass-through port (at most 123 bytes).
int sendWebSockCatFrame(Works *works, const uint8_t *text, int length);
// "ST": the status text (44 bytes) from the supervisor. Never waits for the
// send lock: while another frame is being written this status is skipped (the
// next supervisor pass sends a fresh one).
int sendWebSockStatusFrame(Works *works, const char *text, int length);
// "ST" carrying a remote command (Part of the key actions): waits for the lock.
int sendWebSockRemoteCmd(Works *works, const char *command);
// "SO": `audioFrame` stereo 16-bit frames, Opus-encoded when `audioBitrate` is
// non-zero, else raw.
int sendWebSockAudioFrame(Works *works, const int16_t *samples);

// Any tagged binary frame (short up to 123 body bytes, extended above): the
// common path of the senders, also used by tests.
int WsSendTagged(Works *works, const char tag[2], const uint8_t *body, int length);
// A chunked object ("SP" or "FB").
int WsSendChunked(Works *works, const char tag[2], const uint8_t *data, int total);

// A control frame (ping, pong or close; at most 125 payload bytes, never
// masked) on the published socket, under the send lock; 0 when it went out.
int WsSendControl(Works *works, uint8_t kind, const uint8_t *payload, int length);
// The same frame written straight to `fd` (a connection not published yet).
int WsWriteControl(int fd, uint8_t kind, const uint8_t *payload, int length);

// Writes all of `data` to `fd` within `timeoutMs`; 0 when all went out.
int WsWriteAll(int fd, const uint8_t *data, int length, int timeoutMs);

// Publishes a connected peer: under sendMut, wsSocket := fd, then under
// connMut wsConnected := 1.
void WsLinkUp(Works *works, int fd);
// Ends the link on `fd`: under sendMut wsConnected := 0 and wsSocket := -1,
// then the descriptor is closed, once. Safe with fd -1.
void WsLinkClose(Works *works, int fd);
