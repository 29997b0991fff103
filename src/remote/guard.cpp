#include "remote/guard.h"

#include "platform/clock.h"
#include "platform/log.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

const char *Ip(uint32_t addr, char *buf) {
    in_addr a{htonl(addr)};
    inet_ntop(AF_INET, &a, buf, INET_ADDRSTRLEN);
    return buf;
}

void Flush(GuardEntry *e, uint64_t now) {
    if (e->unlogged == 0 && e->refused == 0) return;
    char ip[INET_ADDRSTRLEN];
    LogErr("wrong access phrase from %s: %u more, %u tries refused while waiting (last minute)",
           Ip(e->addr, ip), e->unlogged, e->refused);
    e->unlogged = e->refused = 0;
    e->loggedMs = now;
}

GuardEntry *Find(WsGuard *g, uint32_t addr, uint64_t now) {
    for (GuardEntry &e : g->e) {
        if (!e.used || e.addr != addr) continue;
        if (!expired(e.lastMs, now, kGuardForgetMs)) return &e;
        Flush(&e, now);
        e = GuardEntry{};
        return nullptr;
    }
    return nullptr;
}

// A new entry for `addr`: a free one, else the one quiet longest.
GuardEntry *Add(WsGuard *g, uint32_t addr, uint64_t now) {
    GuardEntry *pick = nullptr;
    for (GuardEntry &e : g->e) {
        if (!e.used) {
            pick = &e;
            break;
        }
        if (pick == nullptr || e.lastMs < pick->lastMs) pick = &e;
    }
    if (pick->used) Flush(pick, now);
    *pick = GuardEntry{};
    pick->used = true;
    pick->addr = addr;
    return pick;
}

} // namespace

uint64_t GuardWait(WsGuard *g, uint32_t addr, uint64_t now, bool tryMade) {
    if (g == nullptr) return 0;
    GuardEntry *e = Find(g, addr, now);
    if (e == nullptr || now >= e->untilMs) return 0;
    if (tryMade) {
        e->refused++;
        e->lastMs = now;
    }
    return e->untilMs - now;
}

void GuardFail(WsGuard *g, uint32_t addr, uint64_t now) {
    if (g == nullptr) return;
    GuardEntry *e = Find(g, addr, now);
    if (e == nullptr) e = Add(g, addr, now);
    e->fails++;
    e->lastMs = now;
    if (e->fails >= uint32_t(kGuardFreeTries)) {
        uint32_t doublings = e->fails - uint32_t(kGuardFreeTries);
        uint64_t wait = doublings >= 9 ? kGuardMaxWaitMs : kGuardFirstWaitMs << doublings;
        e->untilMs = now + (wait < kGuardMaxWaitMs ? wait : kGuardMaxWaitMs);
    }
    if (e->loggedMs != 0 && !expired(e->loggedMs, now, kGuardLogEveryMs)) {
        e->unlogged++;
        return;
    }
    char ip[INET_ADDRSTRLEN];
    LogErr("wrong access phrase from %s", Ip(addr, ip));
    e->loggedMs = now;
    e->unlogged = e->refused = 0;
}

void GuardPass(WsGuard *g, uint32_t addr) {
    if (g == nullptr) return;
    for (GuardEntry &e : g->e)
        if (e.used && e.addr == addr) {
            Flush(&e, e.lastMs);
            e = GuardEntry{};
        }
}

void GuardTick(WsGuard *g, uint64_t now) {
    if (g->tickMs != 0 && !expired(g->tickMs, now, 1000)) return;
    g->tickMs = now;
    for (GuardEntry &e : g->e) {
        if (!e.used) continue;
        if (expired(e.loggedMs, now, kGuardLogEveryMs)) Flush(&e, now);
        if (expired(e.lastMs, now, kGuardForgetMs)) e = GuardEntry{};
    }
}
