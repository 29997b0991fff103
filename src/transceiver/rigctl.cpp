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

bool Send(RigctlLink *l, const char *request) {
    size_t n = std::strlen(request);
    return send(l->fd, request, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// Reads what waits; true with one whole line in `line`. A closed or failed
// connection or an over-long line is reported through `fault`.
bool ReadLine(RigctlLink *l, std::string *line, RigctlFault *fault) {
    char buf[512];
    for (;;) {
        size_t nl = l->in.find('\n');
        if (nl != std::string::npos) {
            *line = l->in.substr(0, nl);
            l->in.erase(0, nl + 1);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        if (l->in.size() > kRigctlLineMax) {
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

// One reply line to the request in flight.
int Reply(Works *w, RigctlLink *l, uint64_t now) {
    std::string line;
    RigctlFault fault = RigctlFault::None;
    if (!ReadLine(l, &line, &fault)) {
        if (fault != RigctlFault::None) return Fail(w, l, now, fault, "");
        if (expired(l->since, now, kRigctlReplyMs))
            return Fail(w, l, now, RigctlFault::Timeout, "");
        return 2;
    }
    int64_t value = 0;
    int kind = RigctlParseLine(line, &value);
    if (kind < 0) {
        char detail[80];
        std::snprintf(detail, sizeof detail, " \"%.40s\"", line.c_str());
        return Fail(w, l, now, RigctlFault::Garbage, detail);
    }
    Answered(w, l);
    if (l->state == RigctlState::WaitFreq) {
        if (kind == 0 && value > 0 && value <= INT32_MAX) {
            if (w->rigFreq.exchange(static_cast<int32_t>(value)) != value) WakeSupervisor(w);
            l->freqRprtLogged = false;
        } else if (kind == 1 && !l->freqRprtLogged) {
            // The daemon is there but its radio is not: the frequency stays.
            LogErrTrace("rigctld %s: get_freq answered RPRT %lld", l->peer,
                        static_cast<long long>(value));
            l->freqRprtLogged = true;
        }
        if (!Send(l, "t\n")) return Fail(w, l, now, RigctlFault::Gone, "");
        l->state = RigctlState::WaitPtt;
        l->since = now;
        return 0;
    }
    // A radio whose transmit state cannot be read ("RPRT") counts as receiving.
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
        if (!Send(l, "f\n")) return Fail(w, l, now, RigctlFault::Gone, "");
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
