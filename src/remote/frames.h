// Frames to the remote peer from the transceiver links. Nothing is sent while
// no peer is connected (`wsConnected` 0).
#pragma once
#include <cstdint>
struct Works;

// "PA": a TAV parameter payload as read from the transceiver.
int sendWebSockSerParFrame(Works *works, const uint8_t *payload, int length);
// "SP": spectrum bytes.
int sendWebSockSerSpectrFrame(Works *works, const uint8_t *bins, int count);
// "CA": one answer read from the CAT pass-through port.
int sendWebSockCatFrame(Works *works, const uint8_t *text, int length);
// "ST": the status text (44 bytes) from the supervisor.
int sendWebSockStatusFrame(Works *works, const char *text, int length);
