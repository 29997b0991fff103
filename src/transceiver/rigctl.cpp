#include "transceiver/rigctl.h"

#include "model/errors.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *FaultText(RigctlFault f) {
    switch (f) {
    case RigctlFault::Refused:
        return "connection refused";
    case RigctlFault::Gone:
        return "daemon gone";
    case RigctlFault::Timeout:
        return "no answer within 1 s";
    case RigctlFault::Garbage:
        return "garbage reply";
    default:
        return "";
    }
}

// Closes, raises the warning and waits the back-off before the next attempt.
// A kind of failure is logged once per outage.
int Fail(Works *w, RigctlLink *l, uint64_t now, RigctlFault kind, const char *detail) {
    RigctlClose(l);
    w->rigPtt = 0;
    AddErrore(w, kErrRigctld);
    if (l->logged != kind) {
        LogErrTrace("rigctld %s: %s%s", l->peer, FaultText(kind), detail);
        l->logged = kind;
    }
    l->state = RigctlState::Idle;
    int wait = l->backoffMs;
    l->nextAt = now + static_cast<uint64_t>(wait);
    l->backoffMs = wait * 2 > kRigctlBackoffLastMs ? kRigctlBackoffLastMs : wait * 2;
    return wait;
}

// A reply came: the daemon is there.
void Answered(Works *w, RigctlLink *l) {
    if (l->logged != RigctlFault::None) {
        LogInfo("rigctld %s: answering again", l->peer);
        l->logged = RigctlFault::None;
    }
    l->backoffMs = kRigctlBackoffFirstMs;
    DeleteErrore(w, kErrRigctld);
}

// Starts a connection to the daemon named by the options.
int Connect(Works *w, RigctlLink *l, uint64_t now) {
    char host[kOptionText];
    std::snprintf(host, sizeof host, "%s", w->options.rigctldAddress);
    char port[8];
    std::snprintf(port, sizeof port, "%d", w->options.rigctldPort.load());
    std::snprintf(l->peer, sizeof l->peer, "%s:%s", host, port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    int gai = getaddrinfo(host, port, &hints, &res);
    if (gai != 0 || res == nullptr) {
        char detail[128];
        std::snprintf(detail, sizeof detail, " (%s)", gai_strerror(gai));
        return Fail(w, l, now, RigctlFault::Refused, detail);
    }
    l->fd = socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int r = l->fd < 0 ? -1 : connect(l->fd, res->ai_addr, res->ai_addrlen);
    int err = errno;
    freeaddrinfo(res);
    l->in.clear();
    l->since = now;
    if (r == 0) {
        l->state = RigctlState::Ready;
        l->nextAt = now;
        return 0;
    }
    if (l->fd >= 0 && err == EINPROGRESS) {
        l->state = RigctlState::Connecting;
        return 1;
    }
    char detail[128];
    std::snprintf(detail, sizeof detail, " (%s)", std::strerror(err));
    return Fail(w, l, now, RigctlFault::Refused, detail);
}

int Connecting(Works *w, RigctlLink *l, uint64_t now) {
    pollfd p{l->fd, POLLOUT, 0};
    if (poll(&p, 1, 0) <= 0) {
        if (expired(l->since, now, kRigctlReplyMs))
            return Fail(w, l, now, RigctlFault::Timeout, " (connecting)");
        return 5;
    }
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(l->fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
        char detail[128];
        std::snprintf(detail, sizeof detail, " (%s)", std::strerror(err));
        return Fail(w, l, now, RigctlFault::Refused, detail);
    }
    LogInfo("rigctld %s: connected", l->peer);
    l->state = RigctlState::Ready;
    l->nextAt = now;
    return 0;
}

// Sends a request; whatever came outside a reply is dropped first.
bool Send(RigctlLink *l, const char *request) {
    char buf[512];
    while (recv(l->fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    l->in.clear();
    size_t n = std::strlen(request);
    return send(l->fd, request, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// Reads what waits; true with one whole reply (to its "RPRT" line) in
// `lines`. A closed or failed connection, an over-long line or a reply
// without its end is reported through `fault`.
bool ReadReply(RigctlLink *l, std::vector<std::string> *lines, RigctlFault *fault) {
    char buf[512];
    for (;;) {
        lines->clear();
        size_t at = 0;
        for (size_t nl; (nl = l->in.find('\n', at)) != std::string::npos; at = nl + 1) {
            std::string line = l->in.substr(at, nl - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines->push_back(line);
            if (line.rfind("RPRT ", 0) == 0) {
                l->in.erase(0, nl + 1);
                return true;
            }
        }
        if (lines->size() >= kRigctlReplyLines || l->in.size() - at > kRigctlLineMax) {
            *fault = RigctlFault::Garbage;
            return false;
        }
        ssize_t n = recv(l->fd, buf, sizeof buf, 0);
        if (n > 0) {
            l->in.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
        *fault = RigctlFault::Gone; // end of stream, or a reset
        return false;
    }
}

// A reply that does not read, or a value out of range: nothing changes, the
// warning stays as it is, and the first such reply of a run is logged.
void Ignored(RigctlLink *l, const char *what, const std::vector<std::string> &lines) {
    if (l->ignoredLogged) return;
    l->ignoredLogged = true;
    std::string text;
    for (const std::string &line : lines)
        text += (text.empty() ? "" : "|") + line;
    for (char &c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) c = '?';
    LogErrTrace("rigctld %s: reply to %s ignored \"%.60s\"", l->peer, what, text.c_str());
}

// The whole reply to the request in flight.
int Reply(Works *w, RigctlLink *l, uint64_t now) {
    std::vector<std::string> lines;
    RigctlFault fault = RigctlFault::None;
    if (!ReadReply(l, &lines, &fault)) {
        if (fault == RigctlFault::Garbage) {
            Ignored(l, l->state == RigctlState::WaitFreq ? "get_freq" : "get_ptt", lines);
            return Fail(w, l, now, fault, " (no end of reply)");
        }
        if (fault != RigctlFault::None) return Fail(w, l, now, fault, "");
        if (expired(l->since, now, kRigctlReplyMs))
            return Fail(w, l, now, RigctlFault::Timeout, "");
        return 2;
    }
    int64_t value = 0;
    if (l->state == RigctlState::WaitFreq) {
        int kind = RigctlParseReply(lines, "get_freq", "Frequency", &value);
        if (kind == 0 && (value < kRigctlFreqMin || value > kRigctlFreqMax)) kind = -1;
        if (kind < 0) {
            Ignored(l, "get_freq", lines);
        } else {
            Answered(w, l);
            l->ignoredLogged = false;
        }
        if (kind == 0) {
            if (w->rigFreq.exchange(static_cast<int32_t>(value)) != value) WakeSupervisor(w);
            l->freqRprtLogged = false;
        } else if (kind == 1 && !l->freqRprtLogged) {
            // The daemon is there but its radio is not: the frequency stays.
            LogErrTrace("rigctld %s: get_freq answered RPRT %lld", l->peer,
                        static_cast<long long>(value));
            l->freqRprtLogged = true;
        }
        if (!Send(l, "+t\n")) return Fail(w, l, now, RigctlFault::Gone, "");
        l->state = RigctlState::WaitPtt;
        l->since = now;
        return 0;
    }
    // Only a frequency answer counts as the daemon answering (the warning).
    int kind = RigctlParseReply(lines, "get_ptt", "PTT", &value);
    if (kind == 0 && (value < 0 || value > 3)) kind = -1;
    if (kind < 0)
        Ignored(l, "get_ptt", lines);
    else // a radio whose transmit state cannot be read ("RPRT") counts as receiving
        w->rigPtt = kind == 0 && value != 0 ? 1 : 0;
    l->state = RigctlState::Ready;
    return 0;
}

} // namespace

int RigctlParseLine(const std::string &line, int64_t *value) {
    const char *p = line.c_str();
    int kind = 0;
    if (std::strncmp(p, "RPRT ", 5) == 0) {
        kind = 1;
        p += 5;
    }
    const char *digits = *p == '-' ? p + 1 : p;
    if (*digits < '0' || *digits > '9') return -1;
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(p, &end, 10);
    if (errno != 0) return -1;
    // A frequency may come with decimals ("7074000.000000"); they are dropped.
    if (kind == 0 && *end == '.') {
        end++;
        while (*end >= '0' && *end <= '9')
            end++;
    }
    if (*end != '\0') return -1;
    *value = v;
    return kind;
}

int RigctlParseReply(const std::vector<std::string> &lines, const char *cmd, const char *key,
                     int64_t *value) {
    int64_t code = 0;
    if (lines.size() < 2 || lines.front() != std::string(cmd) + ":" ||
        RigctlParseLine(lines.back(), &code) != 1)
        return -1;
    if (code != 0) {
        *value = code;
        return lines.size() == 2 ? 1 : -1;
    }
    std::string head = std::string(key) + ": ";
    if (lines.size() != 3 || lines[1].rfind(head, 0) != 0) return -1;
    return RigctlParseLine(lines[1].substr(head.size()), value) == 0 ? 0 : -1;
}

void RigctlClose(RigctlLink *l) {
    if (l->fd >= 0) close(l->fd);
    l->fd = -1;
    l->in.clear();
}

int RigctlStep(Works *w, RigctlLink *l, uint64_t now) {
    switch (l->state) {
    case RigctlState::Idle:
        if (now < l->nextAt) return static_cast<int>(l->nextAt - now);
        return Connect(w, l, now);
    case RigctlState::Connecting:
        return Connecting(w, l, now);
    case RigctlState::Ready:
        if (now < l->nextAt) return static_cast<int>(l->nextAt - now);
        if (!Send(l, "+f\n")) return Fail(w, l, now, RigctlFault::Gone, "");
        l->state = RigctlState::WaitFreq;
        l->since = now;
        l->nextAt = now + kRigctlPollMs;
        return 0;
    default:
        return Reply(w, l, now);
    }
}

void *Rigctl(void *arg) {
    Works *w = static_cast<Works *>(arg);
    LogInfo("rigctld client for %s:%d", w->options.rigctldAddress, w->options.rigctldPort.load());
    RigctlLink link;
    while (w->rigctlOn.load() == '1' && w->running.load() != 0) {
        int ms = RigctlStep(w, &link, NowMs());
        // Long waits in short steps, so a dropped switch is seen at once.
        uint64_t start = NowMs();
        while (ms > 0 && !expired(start, NowMs(), static_cast<uint64_t>(ms)) &&
               w->rigctlOn.load() == '1' && w->running.load() != 0)
            SleepMs(ms < 10 ? static_cast<uint32_t>(ms) : 10u);
    }
    RigctlClose(&link);
    w->rigPtt = 0;
    DeleteErrore(w, kErrRigctld);
    return nullptr;
}
