#include "remote/ampctld.h"

#include "model/errors.h"
#include "model/hooks.h"
#include "model/readings.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What a command does with its reply in basic mode: a query answers its value
// lines only; a setting (and the caps dump) ends with "RPRT 0".
enum class Kind { Query, Setting };

struct Cmd {
    char letter; // 0: long name only
    const char *name;
    int args;
    Kind kind;
};

const Cmd kCmds[] = {
    {'f', "get_freq", 0, Kind::Query},    {'F', "set_freq", 1, Kind::Setting},
    {'l', "get_level", 1, Kind::Query},   {'R', "reset", 1, Kind::Setting},
    {'_', "get_info", 0, Kind::Query},    {0, "set_powerstat", 1, Kind::Setting},
    {0, "get_powerstat", 0, Kind::Query}, {'1', "dump_caps", 0, Kind::Setting},
    {0, "dump_state", 0, Kind::Query},    {'q', "quit", 0, Kind::Query},
    {'Q', "quit", 0, Kind::Query},
};

// Hamlib's error numbers.
constexpr int kEinval = -1, kEnimpl = -4, kErjcted = -9;

const char *const kLevelNames = "SWR PWRINPUT PWRFORWARD PWRREFLECTED PWRPEAK FAULT WARNING "
                                "TEMP_METER VD_METER ID_METER ";

// A reply: the value lines of basic mode and of extended mode ("Key: value"
// fields end with the separator), and the status.
struct Reply {
    int code = 0;
    std::string basic, ext;
};

std::string Printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// A whole decimal number, as Hamlib reads the arguments of R and set_powerstat.
bool Number(const std::string &text, long *v) {
    char *end = nullptr;
    errno = 0;
    *v = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && *end == '\0';
}

// The error of the list that a client is told about: among the alarms and
// protections (faults) or among the other codes (warnings), an alarm before a
// protection, and the newest of equals. "title text", or `none`.
std::string ErrorLine(Works *w, bool faults, const char *none) {
    int codes[kErrCodes];
    int n = ErrListSnapshot(w, codes);
    int best = -1, bestRank = -1;
    for (int i = 0; i < n; i++) {
        int type = w->errTab[codes[i]].type;
        bool fault = (type & (kErrTypeAlarm | kErrTypeProtection)) != 0;
        if (fault != faults) continue;
        int rank = (type & kErrTypeAlarm) != 0 ? 1 : 0;
        if (rank >= bestRank) {
            best = codes[i];
            bestRank = rank;
        }
    }
    if (best < 0) return none;
    const char *title = w->errTab[best].title;
    std::string line(title, strnlen(title, sizeof w->errTab[best].title));
    std::string more = ErrText(w, best);
    while (!more.empty() && more.back() == ' ')
        more.pop_back();
    if (!more.empty()) line += " " + more;
    return line;
}

long Watts(float w) {
    return std::lround(static_cast<double>(w));
}

// The value of a level as ampctld prints it, false for a name not served.
bool Level(Works *w, const AmpctldServer *srv, const std::string &name, std::string *value) {
    if (name == "SWR")
        *value = Printf("%f", static_cast<double>(w->swr.load()));
    else if (name == "PWRINPUT")
        *value = Printf("%ld", Watts(w->pwrIn.load()));
    else if (name == "PWRFORWARD")
        *value = Printf("%ld", Watts(w->pwrFwd.load()));
    else if (name == "PWRREFLECTED")
        *value = Printf("%ld", Watts(w->pwrRefl.load()));
    else if (name == "PWRPEAK")
        *value = Printf("%ld", Watts(std::max(srv->peakW, w->pwrFwd.load())));
    else if (name == "FAULT")
        *value = ErrorLine(w, true, "No Fault");
    else if (name == "WARNING")
        *value = ErrorLine(w, false, "None");
    else if (name == "TEMP_METER")
        *value = Printf("%f", static_cast<double>(std::max(w->temp1.load(), w->temp2.load())));
    else if (name == "VD_METER")
        *value = Printf("%f", static_cast<double>(CalvTensVadcAmp(w, w->tinyData[3].load())));
    else if (name == "ID_METER")
        *value = Printf("%f", static_cast<double>(SupplyCurrent(w)));
    else
        return false;
    return true;
}

// A change of state: refused while a tune runs.
bool TuneRunning(Works *w) {
    return w->tuneState.load() != 0;
}

Reply Run(Works *w, const AmpctldServer *srv, const Cmd &c, const std::string *arg, char sep) {
    Reply r;
    const std::string name = c.name;
    long v = 0;
    if (name == "get_freq") {
        int32_t f = w->freq.load();
        r.basic = Printf("%d\n", f);
        r.ext = Printf("Frequency(Hz): %d", f) + sep;
    } else if (name == "set_freq") {
        r.code = kErjcted; // the frequency comes from the radio
    } else if (name == "get_level") {
        std::string value;
        if (arg[0] == "?")
            value = kLevelNames;
        else if (!Level(w, srv, arg[0], &value))
            r.code = kEinval;
        r.basic = r.ext = value + "\n";
    } else if (name == "reset") {
        if (!Number(arg[0], &v) || v < 0 || v > 2)
            r.code = kEinval;
        else if (v != 1 || TuneRunning(w)) // erasing the tuner memory is not offered
            r.code = kErjcted;
        else
            GPIO_Errori(w); // as key 1: acknowledges the error list
    } else if (name == "get_info") {
        r.basic = Printf("HELIX %s\n", w->swVersion);
        r.ext = Printf("Info: HELIX %s", w->swVersion) + sep;
    } else if (name == "set_powerstat") {
        if (!Number(arg[0], &v) || (v != 0 && v != 1 && v != 2 && v != 4))
            r.code = kEinval;
        else if (v == 0) // no power-off over the network
            r.code = kErjcted;
        else if (v != 1 && (TuneRunning(w) || hooks.AmplifierStandby == nullptr ||
                            hooks.AmplifierStandby(w, v == 2 ? 1 : 0) != 0))
            r.code = kErjcted;
    } else if (name == "get_powerstat") {
        int stat = w->bypass.load() == 1 ? 2 : 4; // stand-by, operate
        r.basic = Printf("%d\n", stat);
        r.ext = Printf("Power Status: %d\n", stat);
    } else if (name == "dump_caps") {
        r.basic = r.ext = Printf("Model name:\t\tHELIX\nBackend version:\t%s\n"
                                 "Amp type:\t\tOther\nPort type:\t\tNetwork link\n"
                                 "Get level: %s\nCan Reset:\t\tY\nCan get Info:\t\tY\n",
                                 w->swVersion, kLevelNames);
    } else if (name == "dump_state") {
        r.basic = "0\n";
        r.ext = std::string("ampctld Protocol Ver: 0") + sep + "Amplifier Model: HELIX\n";
    }
    return r;
}

const Cmd *Find(const std::string &name, bool isLong) {
    for (const Cmd &c : kCmds)
        if (isLong ? name == c.name : (name.size() == 1 && c.letter != 0 && c.letter == name[0]))
            return &c;
    return nullptr;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string AmpctldRequest(Works *w, const AmpctldServer *srv, std::string *carry,
                           const std::string &line, bool *quit) {
    const std::string text = *carry + line + "\n";
    carry->clear();
    std::string out;
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        while (i < n && Blank(text[i]))
            i++;
        if (i >= n) break;
        if (text[i] == '#') { // a comment to the end of the line
            i = text.find('\n', i);
            continue;
        }
        const size_t start = i;
        // A leading punctuation character asks for the extended reply, with
        // itself as the field separator ('+': a line feed).
        char sep = 0;
        char c = text[i];
        if (std::ispunct(static_cast<unsigned char>(c)) && c != '\\' && c != '_') {
            sep = c == '+' ? '\n' : c;
            i++;
        }
        std::string name;
        bool isLong = i < n && text[i] == '\\';
        if (isLong) {
            i++;
            while (i < n && !Blank(text[i]))
                name += text[i++];
        } else if (i < n && !Blank(text[i])) {
            name = text[i++];
        }
        const Cmd *cmd = Find(name, isLong);
        if (cmd == nullptr) {
            // Not served: the rest of the line is dropped, so that the
            // arguments of a command unknown here are never read as commands.
            out += Printf("RPRT %d\n", kEnimpl);
            break;
        }
        std::string args[1];
        for (int a = 0; a < cmd->args; a++) {
            while (i < n && Blank(text[i]))
                i++;
            if (i >= n) { // the argument comes with the next line
                *carry = text.substr(start);
                return out;
            }
            while (i < n && !Blank(text[i]))
                args[a] += text[i++];
        }
        if (cmd->name == std::string("quit")) {
            *quit = true;
            return out;
        }
        Reply r = Run(w, srv, *cmd, args, sep);
        if (sep != 0) {
            out += std::string(cmd->name) + ":";
            for (int a = 0; a < cmd->args; a++)
                out += " " + args[a];
            out += sep;
            if (r.code == 0) out += r.ext;
            out += Printf("RPRT %d\n", r.code);
        } else if (r.code != 0) {
            out += Printf("RPRT %d\n", r.code);
        } else {
            out += r.basic;
            if (cmd->kind == Kind::Setting) out += "RPRT 0\n";
        }
    }
    return out;
}

namespace {

void CloseClient(AmpctldClient *c) {
    if (c->fd >= 0) close(c->fd);
    *c = AmpctldClient{};
}

int Listen(Works *w, AmpctldServer *srv, uint64_t now) {
    char host[kOptionText];
    std::snprintf(host, sizeof host, "%s", w->options.ampctldBind);
    char port[8];
    std::snprintf(port, sizeof port, "%d", w->options.ampctldPort.load());
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo *res = nullptr;
    int fd = -1;
    const char *why = nullptr;
    if (getaddrinfo(host, port, &hints, &res) != 0 || res == nullptr) {
        why = "not an address";
    } else {
        fd = socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int one = 1;
        if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (fd < 0 || bind(fd, res->ai_addr, res->ai_addrlen) != 0 ||
            listen(fd, kAmpctldClients) != 0)
            why = std::strerror(errno);
    }
    if (res != nullptr) freeaddrinfo(res);
    if (why != nullptr) {
        if (fd >= 0) close(fd);
        if (!srv->failLogged) LogErrTrace("ampctld: cannot listen on %s:%s: %s", host, port, why);
        srv->failLogged = true;
        srv->retryAt = now + 5000;
        return -1;
    }
    LogInfo("ampctld: listening on %s:%s", host, port);
    srv->failLogged = false;
    srv->listenFd = fd;
    return 0;
}

// A new client takes a free slot, or the slot of the client silent longest.
void Accept(AmpctldServer *srv, uint64_t now) {
    int fd = accept4(srv->listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    AmpctldClient *slot = nullptr;
    for (AmpctldClient &c : srv->clients) {
        if (c.fd < 0) {
            slot = &c;
            break;
        }
        if (slot == nullptr || c.lastRx < slot->lastRx) slot = &c;
    }
    if (slot->fd >= 0) {
        LogInfo("ampctld: every client slot taken; the one silent longest gives way");
        CloseClient(slot);
    }
    slot->fd = fd;
    slot->lastRx = now;
}

// Writes what it can; false when the client is to be closed.
bool Flush(AmpctldClient *c) {
    while (!c->out.empty()) {
        ssize_t k = send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            c->out.erase(0, static_cast<size_t>(k));
            continue;
        }
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
        return false;
    }
    return c->out.size() <= kAmpctldOutMax;
}

// Reads and answers; false when the client is to be closed.
bool Serve(Works *w, AmpctldServer *srv, AmpctldClient *c, uint64_t now) {
    char buf[512];
    ssize_t k = recv(c->fd, buf, sizeof buf, MSG_DONTWAIT);
    if (k == 0) return false;
    if (k < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c->lastRx = now;
    for (ssize_t j = 0; j < k; j++) {
        if (buf[j] != '\n') {
            c->line += buf[j];
            if (c->line.size() > kAmpctldLineMax) return false;
            continue;
        }
        bool quit = false;
        c->out += AmpctldRequest(w, srv, &c->carry, c->line, &quit);
        c->line.clear();
        if (quit) {
            Flush(c);
            return false;
        }
        if (c->carry.size() > kAmpctldLineMax) return false;
    }
    return Flush(c);
}

} // namespace

void AmpctldStep(Works *w, AmpctldServer *srv, uint64_t now, int waitMs) {
    float fwd = w->pwrFwd.load();
    if (fwd >= srv->peakW || expired(srv->peakAt, now, kAmpctldPeakMs)) {
        srv->peakW = fwd;
        srv->peakAt = now;
    }
    if (srv->listenFd < 0 && (now < srv->retryAt || Listen(w, srv, now) != 0)) {
        SleepMs(static_cast<uint32_t>(waitMs));
        return;
    }
    for (AmpctldClient &c : srv->clients)
        if (c.fd >= 0 && expired(c.lastRx, now, kAmpctldIdleMs)) CloseClient(&c);
    pollfd p[1 + kAmpctldClients];
    p[0] = {srv->listenFd, POLLIN, 0};
    for (int i = 0; i < kAmpctldClients; i++) {
        const AmpctldClient &c = srv->clients[i];
        p[1 + i] = {c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0};
    }
    if (poll(p, 1 + kAmpctldClients, waitMs) <= 0) return;
    for (int i = 0; i < kAmpctldClients; i++) {
        AmpctldClient &c = srv->clients[i];
        short ev = p[1 + i].revents;
        if (c.fd < 0 || ev == 0) continue;
        bool keep = (ev & POLLIN) ? Serve(w, srv, &c, now) : (ev & POLLOUT) ? Flush(&c) : false;
        if (!keep) CloseClient(&c);
    }
    if (p[0].revents & POLLIN) Accept(srv, now);
}

void AmpctldCloseAll(AmpctldServer *srv) {
    for (AmpctldClient &c : srv->clients)
        CloseClient(&c);
    if (srv->listenFd >= 0) close(srv->listenFd);
    srv->listenFd = -1;
}

void *Ampctld(void *arg) {
    Works *w = static_cast<Works *>(arg);
    AmpctldServer srv;
    while (w->running.load() != 0 && w->options.ampctldServer.load() == 1)
        AmpctldStep(w, &srv, NowMs(), 20);
    AmpctldCloseAll(&srv);
    return nullptr;
}
