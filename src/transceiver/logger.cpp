#include "transceiver/logger.h"

#include "model/errors.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/udp.h"
#include "platform/wait.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr size_t kNameMax = 32;   // an element or attribute name
constexpr size_t kValueMax = 256; // an element's text
constexpr int kChildrenMax = 64;

// A strict reader of one flat element: <RadioInfo> holding leaf elements
// only. Markup declarations (a DTD, entities, CDATA, comments) and processing
// instructions after the XML declaration are refused; entity references are
// never expanded (a field that holds one does not read as a number).
struct Reader {
    const char *p;
    const char *end;
    const char *why = nullptr;

    bool Fail(const char *reason) {
        if (why == nullptr) why = reason;
        return false;
    }
    void Space() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
            p++;
    }
    bool Take(std::string_view lit) {
        if (static_cast<size_t>(end - p) < lit.size() || std::string_view(p, lit.size()) != lit)
            return false;
        p += lit.size();
        return true;
    }
    static bool NameChar(char c, bool first) {
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        return letter || (!first && ((c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':'));
    }
    bool Name(std::string_view *name) {
        const char *start = p;
        while (p < end && NameChar(*p, p == start) && static_cast<size_t>(p - start) <= kNameMax)
            p++;
        if (p == start || static_cast<size_t>(p - start) > kNameMax) return Fail("bad name");
        *name = std::string_view(start, static_cast<size_t>(p - start));
        return true;
    }
    // After a start tag's name: attributes (read, not kept), then ">" (1) or
    // "/>" (2); 0 when it does not read.
    int TagEnd() {
        for (int attrs = 0; attrs < 8; attrs++) {
            const char *before = p;
            Space();
            if (Take(">")) return 1;
            if (Take("/>")) return 2;
            std::string_view name;
            if (p == before || !Name(&name)) return Fail("bad tag"), 0;
            Space();
            if (!Take("=")) return Fail("bad attribute"), 0;
            Space();
            if (p >= end || (*p != '"' && *p != '\'')) return Fail("bad attribute"), 0;
            const char quote = *p++;
            while (p < end && *p != quote && *p != '<' && *p != '&')
                p++;
            if (p >= end || *p != quote) return Fail("bad attribute"), 0;
            p++;
        }
        return Fail("too many attributes"), 0;
    }
};

// A whole decimal number of at most 9 digits, blanks around it allowed.
bool Number(std::string_view v, int64_t *out) {
    while (!v.empty() &&
           (v.front() == ' ' || v.front() == '\t' || v.front() == '\r' || v.front() == '\n'))
        v.remove_prefix(1);
    while (!v.empty() &&
           (v.back() == ' ' || v.back() == '\t' || v.back() == '\r' || v.back() == '\n'))
        v.remove_suffix(1);
    if (v.empty() || v.size() > 9) return false;
    int64_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    *out = n;
    return true;
}

bool SameText(std::string_view a, const char *b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

// One field of the element into `out`; false (and *why) when it does not read.
bool Field(std::string_view name, std::string_view value, RadioInfo *out, unsigned *seen,
           const char **why) {
    static const char *const kNames[] = {"RadioNr",       "Freq",           "TXFreq",
                                         "ActiveRadioNr", "IsTransmitting", "app"};
    int idx = -1;
    for (int i = 0; i < 6; i++)
        if (name == kNames[i]) idx = i;
    if (idx < 0) return true; // a field this unit does not use
    if (*seen & (1u << idx)) return *why = "a field twice", false;
    *seen |= 1u << idx;
    int64_t n = 0;
    switch (idx) {
    case 0:
    case 3:
        if (!Number(value, &n) || n < 1 || n > 2) return *why = "radio number not 1 or 2", false;
        (idx == 0 ? out->radioNr : out->activeRadioNr) = static_cast<int>(n);
        return true;
    case 1:
    case 2: {
        // Tens of hertz; 0 means none. One outside 100 kHz - 60 MHz is refused.
        if (!Number(value, &n)) return *why = "frequency not a number", false;
        if (n != 0 && (n * 10 < kLoggerFreqMin || n * 10 > kLoggerFreqMax))
            return *why = "frequency out of range", false;
        (idx == 1 ? out->freqHz : out->txFreqHz) = n == 0 ? -1 : static_cast<int32_t>(n * 10);
        return true;
    }
    case 4:
        if (SameText(value, "true"))
            out->transmitting = 1;
        else if (SameText(value, "false"))
            out->transmitting = 0;
        else
            return *why = "transmit state not True or False", false;
        return true;
    default:
        if (value.size() >= sizeof out->app) return *why = "app name too long", false;
        for (char c : value)
            if (c < ' ' || c > '~' || c == '&') return *why = "app name not plain text", false;
        // (An empty element's value has no bytes at all: nothing to copy.)
        if (!value.empty()) std::memcpy(out->app, value.data(), value.size());
        out->app[value.size()] = '\0';
        return true;
    }
}

bool ParseElement(Reader &r, RadioInfo *out) {
    r.Space();
    if (r.Take("<?xml")) {
        // The XML declaration: plain text up to "?>".
        while (r.p + 1 < r.end && !(r.p[0] == '?' && r.p[1] == '>')) {
            if (*r.p == '<' || *r.p == '&') return r.Fail("bad declaration");
            r.p++;
        }
        if (!r.Take("?>")) return r.Fail("bad declaration");
        r.Space();
    }
    std::string_view root;
    if (!r.Take("<") || !r.Name(&root) || root != "RadioInfo") return r.Fail("not RadioInfo");
    if (r.TagEnd() != 1) return r.Fail("empty RadioInfo");
    unsigned seen = 0;
    for (int children = 0;; children++) {
        r.Space();
        if (r.Take("</")) {
            std::string_view name;
            if (!r.Name(&name) || name != "RadioInfo") return r.Fail("bad end tag");
            r.Space();
            if (!r.Take(">")) return r.Fail("bad end tag");
            break;
        }
        if (r.p >= r.end) return r.Fail("cut short");
        if (children >= kChildrenMax) return r.Fail("too many fields");
        if (!r.Take("<")) return r.Fail("text outside a field");
        if (r.p < r.end && (*r.p == '!' || *r.p == '?'))
            return r.Fail("markup declaration or instruction");
        std::string_view name, value;
        if (!r.Name(&name)) return false;
        int kind = r.TagEnd();
        if (kind == 0) return false;
        if (kind == 1) {
            const char *start = r.p;
            while (r.p < r.end && *r.p != '<')
                r.p++;
            if (static_cast<size_t>(r.p - start) > kValueMax) return r.Fail("field too long");
            value = std::string_view(start, static_cast<size_t>(r.p - start));
            std::string_view close;
            if (!r.Take("</")) return r.Fail("nested element");
            if (!r.Name(&close) || close != name) return r.Fail("end tag does not match");
            r.Space();
            if (!r.Take(">")) return r.Fail("bad end tag");
        }
        if (!Field(name, value, out, &seen, &r.why)) return false;
    }
    // Only blanks (and the NUL some senders append) after the element.
    while (r.p < r.end &&
           (*r.p == ' ' || *r.p == '\t' || *r.p == '\r' || *r.p == '\n' || *r.p == '\0'))
        r.p++;
    if (r.p != r.end) return r.Fail("bytes after RadioInfo");
    if (out->radioNr < 0) return r.Fail("no RadioNr");
    if (out->freqHz < 0 && out->txFreqHz < 0) return r.Fail("no frequency");
    return true;
}

// An ignored datagram: logged at most once a minute, with the count since.
void Ignored(LoggerState *st, uint64_t now, const char *why) {
    st->badSinceLog++;
    if (st->badLogged && !expired(st->badLoggedMs, now, kLoggerBadLogMs)) return;
    LogErr("logger: datagram ignored (%s); %u ignored since the last report", why,
           static_cast<unsigned>(st->badSinceLog));
    st->badLogged = true;
    st->badLoggedMs = now;
    st->badSinceLog = 0;
}

// The radio the unit follows: the one the option names, else the active one.
int Followed(Works *w, LoggerState *st) {
    int n = w->options.loggerRadioNr.load();
    return n == 1 || n == 2 ? n : st->active;
}

// What the radios say into the shared record: the followed radio's frequency
// and transmit state, and whether any radio heard transmits (1), none does
// (0), or one does not say (2: the board's transmit bit decides).
void Publish(Works *w, LoggerState *st) {
    const LoggerRadio &r = st->radio[Followed(w, st) - 1];
    int any = 0;
    for (const LoggerRadio &x : st->radio) {
        if (x.txHz == 0) continue;
        if (x.tx == 1) any = 1;
        if (x.tx == -1 && any == 0) any = 2;
    }
    bool moved = w->logTxAny.exchange(static_cast<uint8_t>(any)) != any;
    moved |= w->logTx.exchange(r.tx == 1 ? 1 : 0) != (r.tx == 1 ? 1 : 0);
    if (r.txHz != 0) moved |= w->logFreq.exchange(r.txHz) != r.txHz;
    if (moved) WakeSupervisor(w);
}

} // namespace

int ParseRadioInfo(const char *data, size_t len, RadioInfo *out, const char **why) {
    *out = RadioInfo{};
    if (len > kLoggerDatagramMax) return *why = "over 8 KiB", -1;
    Reader r{data, data + len};
    // A UTF-8 byte order mark may lead.
    r.Take("\xEF\xBB\xBF");
    if (!ParseElement(r, out)) {
        *why = r.why != nullptr ? r.why : "does not read";
        *out = RadioInfo{};
        return -1;
    }
    return 0;
}

void LoggerDatagram(Works *w, LoggerState *st, const char *data, size_t len, uint64_t now) {
    RadioInfo info;
    const char *why = nullptr;
    if (ParseRadioInfo(data, len, &info, &why) != 0) return Ignored(st, now, why);
    st->lastValidMs = now;
    if (st->silent) {
        st->silent = false;
        DeleteErrore(w, kErrLogger);
        LogInfo("logger: radio info again");
    }
    // A new sender is logged, at most once a minute.
    if (std::strcmp(info.app, st->app) != 0 &&
        (st->appLoggedMs == 0 || expired(st->appLoggedMs, now, kLoggerBadLogMs))) {
        std::memcpy(st->app, info.app, sizeof st->app);
        LogInfo("logger: RadioInfo from \"%s\"", st->app);
        st->appLoggedMs = now == 0 ? 1 : now;
    }
    LoggerRadio &r = st->radio[info.radioNr - 1];
    r.txHz = info.txFreqHz > 0 ? info.txFreqHz : info.freqHz;
    r.tx = info.transmitting;
    if (info.activeRadioNr > 0) st->active = info.activeRadioNr;
    Publish(w, st);
}

void LoggerTimers(Works *w, LoggerState *st, uint64_t now) {
    if (st->silent || !expired(st->lastValidMs, now, kLoggerSilenceMs)) return;
    st->silent = true;
    AddErrore(w, kErrLogger);
    LogInfo("logger: no valid radio info for 15 s");
    // What the radios said no longer holds: the board's transmit bit counts.
    for (LoggerRadio &r : st->radio)
        r.tx = -1;
    Publish(w, st);
}

void LoggerStep(Works *w, LoggerState *st, uint64_t now) {
    if (!st->started) {
        st->started = true;
        st->lastValidMs = now;
    }
    if (st->fd < 0 && now >= st->reopenAt) {
        std::string why;
        st->fd = UdpListen(w->options.loggerUdpBind, w->options.loggerUdpPort.load(), &why);
        if (st->fd >= 0) {
            LogInfo("logger: listening on %s port %d", w->options.loggerUdpBind,
                    w->options.loggerUdpPort.load());
            st->openFailLogged = false;
        } else {
            if (!st->openFailLogged)
                LogErrTrace("logger: cannot listen on %s port %d: %s", w->options.loggerUdpBind,
                            w->options.loggerUdpPort.load(), why.c_str());
            st->openFailLogged = true;
            st->reopenAt = now + kLoggerReopenMs;
        }
    }
    static thread_local char buf[kLoggerDatagramMax + 1];
    // A bounded number a pass, so the time rules run under a flood too.
    for (int i = 0; st->fd >= 0 && i < 64; i++) {
        long n = UdpReceive(st->fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            LogErrTrace("logger: socket error, listening again");
            UdpClose(st->fd);
            st->fd = -1;
            st->reopenAt = now + kLoggerReopenMs;
            break;
        }
        LoggerDatagram(w, st, buf, static_cast<size_t>(n), now);
    }
    LoggerTimers(w, st, now);
}

void LoggerClose(Works *w, LoggerState *st) {
    UdpClose(st->fd);
    st->fd = -1;
    // Back in this mode later, nothing old is taken for the radio's frequency.
    w->logFreq = 0;
    w->logTx = 0;
    w->logTxAny = 0;
    DeleteErrore(w, kErrLogger);
}

void *Logger(void *arg) {
    Works *w = static_cast<Works *>(arg);
    LoggerState st;
    while (w->loggerOn.load() == '1' && w->running.load() != 0) {
        LoggerStep(w, &st, NowMs());
        // A datagram ends the wait at once.
        WaitPortOrWake(st.fd, -1, 100);
    }
    LoggerClose(w, &st);
    return nullptr;
}
