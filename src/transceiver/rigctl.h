// The radio followed through a Hamlib rig daemon (rigctld): a TCP client that
// asks for the frequency ("+f") and the transmit state ("+t") every 100 ms,
// one request in flight, and reads each reply to its end in the extended
// form: the command's echo ("get_freq:"), its value line ("Frequency: N")
// and "RPRT n". Bytes that come outside a reply are dropped before the next
// request. A reply that does not read so, or a frequency outside 100 kHz to
// 60 MHz, is ignored and logged once: it neither moves the unit nor counts
// as an answer. A failure (refused, daemon gone, no whole reply within 1 s)
// closes the connection, raises the rigctld warning and tries again after
// 1 s, then 2, 4, 8 and 10 s; each kind of failure is logged once until the
// daemon answers again, which also removes the warning.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Works;

constexpr int kRigctlPollMs = 100;
constexpr int kRigctlReplyMs = 1000;
constexpr int kRigctlBackoffFirstMs = 1000;
constexpr int kRigctlBackoffLastMs = 10000;
constexpr int kRigctlLineMax = 255;  // a longer reply line is garbage
constexpr int kRigctlReplyLines = 8; // a reply without "RPRT" by then is garbage
constexpr int64_t kRigctlFreqMin = 100000, kRigctlFreqMax = 60000000;

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
    bool ignoredLogged = false;             // a reply ignored was logged
    char peer[160] = {};                    // "address:port" for the log
};

// One pass at time `now` (monotonic ms); returns the ms to sleep before the next.
int RigctlStep(Works *works, RigctlLink *link, uint64_t now);
// Closes the connection (the link stays as it is otherwise).
void RigctlClose(RigctlLink *link);
// A reply line without its line feed: 0 a value (*value), 1 "RPRT n"
// (*value = n), -1 neither.
int RigctlParseLine(const std::string &line, int64_t *value);
// A whole extended reply (its lines, the last "RPRT n") to the command `cmd`
// whose value line starts with `key` and ": ": 0 with the value, 1 for an
// error report (*value = n), -1 for a reply that does not read.
int RigctlParseReply(const std::vector<std::string> &lines, const char *cmd, const char *key,
                     int64_t *value);
// The thread body: runs while works->rigctlOn is '1' and the run goes on.
void *Rigctl(void *arg);
