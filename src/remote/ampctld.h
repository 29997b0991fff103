// The amplifier served in Hamlib's amplifier daemon protocol (ampctld's text
// protocol): a TCP server for up to four clients at once that answers the
// frequency followed, the measured levels, the faults, stand-by and operate,
// and the acknowledgement of errors, with ampctld's reply formats in the basic
// and the extended modes. A command is found by its letter or its full long
// name only. A state change goes through the command queue with
// the keys' rules and is refused ("RPRT -9") while a tune runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct Works;

constexpr int kAmpctldClients = 4;
constexpr size_t kAmpctldLineMax = 256;      // longest request line; longer closes the client
constexpr size_t kAmpctldOutMax = 64 * 1024; // unread replies beyond this close the client
constexpr int kAmpctldPeakMs = 1000;         // the peak power's hold
constexpr uint64_t kAmpctldIdleMs = 60000;   // a client silent this long is closed

struct AmpctldClient {
    int fd = -1;
    std::string line;  // the request line being received
    std::string carry; // a command still waiting for its arguments
    std::string out;   // reply bytes not yet written
    uint64_t lastRx = 0; // when it last sent something (or connected)
};

struct AmpctldServer {
    int listenFd = -1;
    AmpctldClient clients[kAmpctldClients];
    uint64_t retryAt = 0; // next attempt to listen after a failure
    bool failLogged = false;
    float peakW = 0.0f; // forward power peak, held kAmpctldPeakMs
    uint64_t peakAt = 0;
};

// The replies to one request line (without its line feed). `carry` holds the
// text of a command that still waits for arguments from the next line, and
// is updated; *quit is set by "q".
std::string AmpctldRequest(Works *works, const AmpctldServer *server, std::string *carry,
                           const std::string &line, bool *quit);
// One pass at `now`: listens when not yet listening, waits up to `waitMs` for
// clients, reads their requests and writes the replies. A client silent for
// kAmpctldIdleMs is closed; a new client while every slot is taken takes the
// slot of the one silent longest.
void AmpctldStep(Works *works, AmpctldServer *server, uint64_t now, int waitMs);
// Closes every client and the listening socket.
void AmpctldCloseAll(AmpctldServer *server);
// The thread body: serves while the option AmpctldServer is 1 and the run goes on.
void *Ampctld(void *arg);
