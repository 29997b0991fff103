#include "model/remote_link.h"

#include "model/numbers.h"
#include "model/works.h"
#include "platform/clock.h"

#include <cstdlib>
#include <cstring>

namespace {

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// A finite number in text[at, at + width) (blanks allowed around it).
bool Field(const char *text, int at, int width, float *out) {
    char buf[8] = {};
    std::memcpy(buf, text + at, size_t(width));
    double v = 0;
    if (!ParseReal(buf, -1e5, 1e5, &v)) return false; // nan and inf refused
    *out = static_cast<float>(v);
    return true;
}

} // namespace

bool ParseStatusText(const char *t, int length, RemoteStatus *out) {
    if (length != kRemoteStatusLen || std::strncmp(t, "VORN", 4) == 0) return false;
    RemoteStatus s{};
    std::memcpy(s.band, t, 4);
    for (int i = 3; i >= 0 && s.band[i] == ' '; --i)
        s.band[i] = '\0';
    if (!Digit(t[4]) || !Digit(t[5]) || !Digit(t[6]) || (t[7] != '0' && t[7] != '1') ||
        std::strchr("NBT", t[8]) == nullptr || t[8] == '\0' || (t[9] != '0' && t[9] != '1') ||
        !Digit(t[40]) || !Digit(t[41]))
        return false;
    s.iface = t[4];
    s.att = t[5] - '0';
    s.ant = t[6] - '0';
    s.bypass = t[7] == '1';
    s.tuner = t[8];
    s.tuning = t[9] == '1';
    if (!Field(t, 10, 6, &s.swr) || !Field(t, 16, 6, &s.fwd) || !Field(t, 22, 6, &s.in) ||
        !Field(t, 28, 4, &s.temp) || !Field(t, 32, 4, &s.volts) || !Field(t, 36, 4, &s.amps))
        return false;
    s.bank = (t[40] - '0') * 10 + (t[41] - '0');
    int code = static_cast<unsigned char>(t[42]) - 1;
    s.err = t[42] == '0' || code < 0 || code >= kErrCodes ? -1 : code;
    *out = s;
    return true;
}

float ReflectedFromSwr(float fwd, float swr) {
    if (!(swr >= 1.0f) || !(fwd > 0.0f)) return 0.0f;
    float g = (swr - 1.0f) / (swr + 1.0f);
    return fwd * g * g;
}

void RemoteStatusStore(Works *w, const RemoteStatus &s) {
    std::lock_guard<std::mutex> lock(w->remoteLink.statusLock);
    w->remoteLink.status = s;
    w->remoteLink.statusMs = NowMs();
}

bool RemoteStatusShown(Works *w, RemoteStatus *out) {
    if (w->setup == nullptr || w->setup->WebSocket.load() != '2' || w->wsConnected.load() != 1)
        return false;
    uint64_t at = w->remoteLink.statusMs.load();
    if (at == 0 || NowMs() - at > kRemoteFreshMs) return false;
    std::lock_guard<std::mutex> lock(w->remoteLink.statusLock);
    *out = w->remoteLink.status;
    return true;
}

bool RemoteStatusLost(Works *w) {
    RemoteStatus s;
    return w->setup != nullptr && w->setup->WebSocket.load() == '2' &&
           w->remoteLink.statusMs.load() != 0 && !RemoteStatusShown(w, &s);
}
