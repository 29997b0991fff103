#include "remote/ws_proto.h"

#include "display/utf8.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>
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

const char *const kResponse[] = {"HTTP/1.1 101 Switching Protocols", "Upgrade: websocket",
                                 "Connection: Upgrade",
                                 "Sec-WebSocket-Accept:", "Sec-WebSocket-Protocol: chat"};

bool StartsWith(const char *line, const char *prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Text of `n` bytes equal to `word`, letter case aside.
bool Same(const char *text, size_t n, const char *word) {
    return std::strlen(word) == n && strncasecmp(text, word, n) == 0;
}

// `word` among the comma-separated tokens of `text` (n bytes), case aside.
bool HasToken(const char *text, size_t n, const char *word) {
    size_t at = 0;
    while (at < n) {
        while (at < n && (text[at] == ' ' || text[at] == '\t' || text[at] == ','))
            ++at;
        size_t end = at;
        while (end < n && text[end] != ',')
            ++end;
        size_t e = end;
        while (e > at && (text[e - 1] == ' ' || text[e - 1] == '\t'))
            --e;
        if (Same(text + at, e - at, word)) return true;
        at = end;
    }
    return false;
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

int Refuse(WsHandshake *h) {
    h->refused = true;
    return -1;
}

// One request line of `n` characters (its line end removed).
int RequestLine(WsHandshake *h, const char *line, size_t n) {
    if (n == 0) {
        if (h->lines == 0) return 0; // blank lines before the request line
        if (!h->upgrade) return h->get ? 2 : Refuse(h);
        // Without a key there is no accept value to answer with.
        return h->keySeen ? 1 : Refuse(h);
    }
    if (++h->lines > kWsRequestLines) return Refuse(h);
    if (h->lines == 1) {
        if (std::strncmp(line, "GET ", 4) != 0) return Refuse(h);
        h->get = true;
        size_t end = 4;
        while (end < n && line[end] != ' ')
            ++end;
        size_t len = std::min(end - 4, sizeof h->path - 1);
        std::memcpy(h->path, line + 4, len);
        h->path[len] = '\0';
        return 0;
    }
    const char *colon = static_cast<const char *>(std::memchr(line, ':', n));
    if (colon == nullptr) {
        h->ownForm = false;
        return 0;
    }
    size_t nameLen = size_t(colon - line);
    const char *value = colon + 1;
    size_t valueLen = n - nameLen - 1;
    while (valueLen > 0 && (*value == ' ' || *value == '\t'))
        ++value, --valueLen;
    while (valueLen > 0 && (value[valueLen - 1] == ' ' || value[valueLen - 1] == '\t'))
        --valueLen;
    if (Same(line, nameLen, "Upgrade")) {
        if (HasToken(value, valueLen, "websocket")) h->upgrade = true;
    } else if (Same(line, nameLen, "Connection")) {
        if (valueLen != 19 || std::strncmp(value, "keep-alive, Upgrade", 19) != 0)
            h->ownForm = false;
    } else if (Same(line, nameLen, "Sec-WebSocket-Key")) {
        if (valueLen > kWsMaxKey) {
            LogErr("key longer than %d characters refused", kWsMaxKey);
            return Refuse(h);
        }
        std::memcpy(h->key, value, valueLen);
        h->key[valueLen] = '\0';
        h->keySeen = true;
        LogDebug("Caught key %s", h->key);
    } else if (Same(line, nameLen, "Sec-WebSocket-Protocol")) {
        if (HasToken(value, valueLen, "chat")) h->chat = true;
    } else if (Same(line, nameLen, "Origin")) {
        h->ownForm = false;
        h->origin = true;
        size_t k = valueLen < sizeof h->originText ? valueLen : 0;
        std::memcpy(h->originText, value, k);
        h->originText[k] = '\0';
    } else if (Same(line, nameLen, "Host")) {
        size_t k = valueLen < sizeof h->host ? valueLen : 0;
        std::memcpy(h->host, value, k);
        h->host[k] = '\0';
    } else if (!Same(line, nameLen, "Sec-WebSocket-Version")) {
        h->ownForm = false;
    }
    return 0;
}

} // namespace

void WsHandshakeClient(WsHandshake *h, const char *ownKey) {
    *h = WsHandshake{};
    h->server = false;
    WsAcceptValue(ownKey, h->expect);
}

int WsHandshakeLine(WsHandshake *h, const char *line, int length) {
    LogDebug("Received %d bytes %s", length, line);
    if (h->server) {
        size_t n = size_t(length);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            --n;
        return RequestLine(h, line, n);
    }
    for (int i = 0; i < 5; ++i) {
        if (!StartsWith(line, kResponse[i])) continue;
        ++h->count;
        LogDebug("Caught %s go to status %d/%d", kResponse[i], h->count, 5);
        if (i == 0) h->statusSeen = true;
        if (!StartsWith(line, "Sec-WebSocket-Accept: ")) continue;
        if (!TakeKey(line + 22, h->key)) {
            LogErr("key longer than %d characters refused", kWsMaxKey);
            return Refuse(h);
        }
        LogDebug("Caught key %s", h->key);
        if (std::strcmp(h->key, h->expect) != 0) {
            LogErr("keys not correct %s %s", h->expect, h->key);
            return Refuse(h);
        }
        LogDebug("keys correct %s %s", h->expect, h->key);
        h->keySeen = true;
        break; // the rest of the prefixes are not tried on this line
    }
    if (length < 3) {
        ++h->count;
        LogDebug("status advanced %d", h->count);
        // A server that does not name the subprotocol ends its answer here.
        if (h->statusSeen && h->keySeen) return 1;
    }
    if (h->count <= 5) return 0;
    // A response without an accept value proves nothing.
    return h->keySeen ? 1 : Refuse(h);
}

int WsUpgradeReply(const WsHandshake *h, char *out, int cap) {
    char accept[29];
    WsAcceptValue(h->key, accept);
    int n = std::snprintf(out, size_t(cap),
                          "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Accept: %s\r\n%s\r\n",
                          accept, h->chat || h->ownForm ? "Sec-WebSocket-Protocol: chat\r\n" : "");
    return n < cap ? n : cap - 1;
}

int WsParseHead(const uint8_t *f, int have, WsHead *h) {
    if (have < 2) return 0;
    *h = WsHead{};
    h->b0 = f[0];
    int n7 = f[1] & 0x7F;
    h->masked = (f[1] & 0x80) != 0;
    bool text = h->b0 == kWsText, binary = h->b0 == kWsBinary;
    bool control = h->b0 == kWsClose || h->b0 == kWsPing || h->b0 == kWsPong;
    if (n7 == 127) return -1; // the 64-bit length form: no peer of this system sends it
    if (h->masked && !text && !binary && !control) return -1;
    if (control && n7 > 125) return -1;
    int at = 2, len = n7;
    if (n7 == 126) {
        if (have < 4) return 0;
        len = (f[2] << 8) | f[3];
        at = 4;
        h->extended = true;
    }
    if (h->masked || (text && !h->extended)) {
        h->keyAt = at;
        at += 4;
    } else if (!text && !binary && !control && !h->extended && (h->b0 & 1)) {
        at += 4; // an unknown odd kind: read as the short text form
    }
    if (binary && len < 2) return -1; // a binary payload needs its tag
    if (!text && !binary && !control && at + len < 4) return -1;
    h->payloadAt = at;
    h->length = len;
    return at + len;
}

uint16_t WsRefusedCode(const uint8_t *f) {
    return (f[1] & 0x7F) == 127 ? 1009 : 1002;
}

bool WsValidUtf8(const uint8_t *text, int n) {
    unsigned pos = 0;
    int valid = 1;
    uint32_t cp;
    while (utf8_get_next_char(text, size_t(n), &pos, &valid, &cp) == 1)
        if (valid == 0) return false;
    return true;
}

void WsUnmask(const uint8_t *f, const WsHead &h, uint8_t *out) {
    const uint8_t *p = f + h.payloadAt;
    if (h.keyAt < 0) {
        std::memcpy(out, p, size_t(h.length));
        return;
    }
    const uint8_t *k = f + h.keyAt;
    for (int i = 0; i < h.length; ++i)
        out[i] = p[i] ^ k[i & 3];
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
