#include "remote/ws_proto.h"

#include "platform/log.h"

#include <cstring>
#include <glib.h>
#include <openssl/sha.h>

int WsAcceptValue(const char *key, char out[29]) {
    size_t n = std::strlen(key);
    if (n > kWsMaxKey) return -1;
    char text[kWsMaxKey + 37];
    std::memcpy(text, key, n);
    std::memcpy(text + n, kWsGuid, 36);
    unsigned char digest[SHA_DIGEST_LENGTH];
    // The digest may hold zero bytes: it is passed on by its length only.
    SHA1(reinterpret_cast<const unsigned char *>(text), n + 36, digest);
    gchar *b64 = g_base64_encode(digest, SHA_DIGEST_LENGTH);
    std::strncpy(out, b64, 28);
    out[28] = '\0';
    g_free(b64);
    return 0;
}

namespace {

const char *const kRequest[] = {"GET ",
                                "Host: ",
                                "Sec-WebSocket-Version: ",
                                "Sec-WebSocket-Protocol: ",
                                "Sec-WebSocket-Key: ",
                                "Connection: keep-alive, Upgrade",
                                "Upgrade: websocket"};
const char *const kResponse[] = {"HTTP/1.1 101 Switching Protocols", "Upgrade: websocket",
                                 "Connection: Upgrade",
                                 "Sec-WebSocket-Accept:", "Sec-WebSocket-Protocol: chat"};

bool StartsWith(const char *line, const char *prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// The rest of a header line without up to two final CR/LF characters; false
// when it is longer than a key may be.
bool TakeKey(const char *rest, char *key) {
    size_t n = std::strlen(rest);
    for (int i = 0; i < 2 && n > 0 && (rest[n - 1] == '\r' || rest[n - 1] == '\n'); ++i)
        --n;
    if (n > kWsMaxKey) return false;
    std::memcpy(key, rest, n);
    key[n] = '\0';
    return true;
}

} // namespace

void WsHandshakeClient(WsHandshake *h, const char *ownKey) {
    *h = WsHandshake{};
    h->server = false;
    WsAcceptValue(ownKey, h->expect);
}

int WsHandshakeLine(WsHandshake *h, const char *line, int length) {
    LogInfo("Received %d bytes %s", length, line);
    const char *const *table = h->server ? kRequest : kResponse;
    int entries = h->server ? 7 : 5;
    for (int i = 0; i < entries; ++i) {
        if (!StartsWith(line, table[i])) continue;
        ++h->count;
        LogInfo("Caught %s go to status %d/%d", table[i], h->count, entries);
        const char *keyPrefix = h->server ? "Sec-WebSocket-Key: " : "Sec-WebSocket-Accept: ";
        if (!StartsWith(line, keyPrefix)) continue;
        if (!TakeKey(line + std::strlen(keyPrefix), h->key)) {
            LogErr("key longer than %d characters refused", kWsMaxKey);
            h->refused = true;
            return -1;
        }
        LogInfo("Caught key %s", h->key);
        h->keySeen = true;
        if (!h->server) {
            if (std::strcmp(h->key, h->expect) == 0) {
                LogErr("keys correct %s %s", h->expect, h->key);
            } else {
                LogErr("keys not correct %s %s", h->expect, h->key);
                h->refused = true;
                return -1;
            }
            break; // the rest of the prefixes are not tried on this line
        }
    }
    if (length < 3) {
        ++h->count;
        LogInfo("status advanced %d", h->count);
    }
    if (h->server) {
        if (h->count < 8) return 0;
        // Without a key there is no accept value to answer with.
        if (!h->keySeen) {
            h->refused = true;
            return -1;
        }
        return 1;
    }
    if (h->count <= 5) return 0;
    if (!h->keySeen) { // a response without an accept value proves nothing
        h->refused = true;
        return -1;
    }
    return 1;
}

int WsFrameRest(const uint8_t head[4]) {
    uint8_t b0 = head[0], b1 = head[1];
    // A short text frame always carries its 4-byte key; standard clients also
    // set the mask bit for it, which changes nothing in its layout.
    if (b0 == 0x81 && b1 >= 0x80 && b1 < 0x80 + 126) b1 &= 0x7F;
    if (b1 > 126) return -1; // the 32-bit length form, or the mask bit
    if (b1 == 126) {
        int n = (head[2] << 8) | head[3];
        if (b0 == 0x82 && n < 2) return -1; // a binary payload needs its tag
        return n;
    }
    int l = b1 + ((b0 & 1) ? 4 : 0);
    if (l < 2) return -1; // the frame would end inside the four bytes read
    return l - 2;
}

int WsAssembleChunk(WsAssembly *a, uint8_t *target, uint32_t capacity, const uint8_t *body,
                    int length) {
    if (length < 8) return -1;
    uint32_t t = WsGet32(body), o = WsGet32(body + 4);
    bool fits = t > 0 && t <= capacity && o % kWsChunkData == 0 && o < t;
    uint32_t n = fits ? (t - o < uint32_t(kWsChunkData) ? t - o : uint32_t(kWsChunkData)) : 0;
    if (!fits || uint32_t(length - 8) < n) {
        a->total = 0;
        a->next = 0;
        return -1;
    }
    if (o == 0 || t != a->total) {
        a->total = t;
        a->next = 0;
    }
    if (o != a->next) { // a chunk out of order: this object is lost
        a->total = 0;
        a->next = 0;
        return -1;
    }
    std::memcpy(target + o, body + 8, n);
    a->next = o + n;
    if (a->next < t) return 0;
    a->total = 0;
    a->next = 0;
    return int(t);
}
