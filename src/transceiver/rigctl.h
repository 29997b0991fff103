// The radio followed through a Hamlib rig daemon (rigctld): a TCP client that
// asks for the frequency ("f") and the transmit state ("t") every 100 ms and
// reads the daemon's plain replies, one value line or "RPRT n". A failure
// (refused, daemon gone, no answer within 1 s, a line that is no reply) closes
// the connection, raises the rigctld warning and tries again after 1 s, then
// 2, 4, 8 and 10 s; each kind of failure is logged once until the daemon
// answers again, which also removes the warning.
#pragma once
#include <cstdint>
#include <string>

struct Works;

constexpr int kRigctlPollMs = 100;
constexpr int kRigctlReplyMs = 1000;
constexpr int kRigctlBackoffFirstMs = 1000;
constexpr int kRigctlBackoffLastMs = 10000;
constexpr int kRigctlLineMax = 255; // a longer reply line is garbage

enum class RigctlFault { None, Refused, Gone, Timeout, Garbage };

enum class RigctlState { Idle, Connecting, Ready, WaitFreq, WaitPtt };

struct RigctlLink {
    int fd = -1;
    RigctlState state = RigctlState::Idle;
    std::string in;      // reply bytes not yet taken as a line
    uint64_t since = 0;  // the connect or the request began
    uint64_t nextAt = 0; // the next connection attempt (Idle) or poll (Ready)
    int backoffMs = kRigctlBackoffFirstMs;
    RigctlFault logged = RigctlFault::None; // logged in the current outage
    bool freqRprtLogged = false;            // an "RPRT" to "f" was logged
    char peer[160] = {};                    // "address:port" for the log
};

// One pass at time `now` (monotonic ms); returns the ms to sleep before the next.
int RigctlStep(Works *works, RigctlLink *link, uint64_t now);
// Closes the connection (the link stays as it is otherwise).
void RigctlClose(RigctlLink *link);
// A reply line without its line feed: 0 a value (*value), 1 "RPRT n"
// (*value = n), -1 neither.
int RigctlParseLine(const std::string &line, int64_t *value);
// The thread body: runs while works->rigctlOn is '1' and the run goes on.
void *Rigctl(void *arg);
