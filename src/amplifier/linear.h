// The power-board link: one command out, one reply back, decoded, then the
// next. The thread body is a thin loop around LinearStep, which tests drive
// pass by pass with their own clock.
#pragma once
#include <cstddef>
#include <cstdint>

#include "model/board_cmds.h"
#include "platform/serial.h"

struct Works;

// Link states (works->linearProcessStatus): a command code (BoardCmd) is the
// command to send next; the other values are these.
constexpr int kLinStatus = kCmdStatus; // "ST;", the default after every exchange
constexpr int kLinWait = 2;
constexpr int kLinDecode = 3;
constexpr int kLinParked = 31;
constexpr int kLinFreqPoll = kCmdFreqRead; // "FM;", the poll that alternates with "ST;"

constexpr uint64_t kLinReplyTimeoutMs = 1500;
constexpr int kLinRxSize = 504;

// What the link thread keeps between passes besides the shared record.
struct LinearLink {
    char rx[kLinRxSize];
    int rxIdx = 0;
    uint64_t sentAt = 0; // when the command now awaiting its reply went out
    // Bytes read from the port and not yet taken, one at a time, into rx: a
    // read takes all that waits.
    char in[64];
    int inLen = 0, inPos = 0;
    // The port hung up or went away: the board counts as silent while the
    // port is reopened by its path once a second.
    SerialReopener port;
};

// CRC-8/MAXIM (reflected 0x31, init 0, no final xor).
uint8_t Sys_Crc8Calculation(const char *text, size_t length);

// Opens and sets up the port named by "LinPort: "; on failure sets portError.
int OpenLinear(Works *works);
// Writes the CRC digits and `text`; 0 when every byte went out.
int writeLinearPort(int fd, const char *text, size_t length, Works *works);
// Next state after an exchange: the queue when draining, else `dflt`. True
// when a queued code follows at once (draining).
bool NextCmdPriority(Works *works, int dflt);
void LastCmdSent(Works *works, char letter1, char letter2, int code);
// A failed exchange: resend up to three times, then kErrBoardComm and back to "ST;".
void GestRetrayCMD(Works *works);
// Takes the next queued code that names a command (others are dropped).
bool TakeNextCmd(Works *works, int *code);

// One pass of the link at time `now` (ms). Returns how long the caller should
// sleep before the next pass (0 = at once).
int LinearStep(Works *works, LinearLink *link, uint64_t now);
// The wait after a pass that asked for `ms`: for the reply's bytes on the
// port up to its time-out, or the pause before a poll, which a queued batch
// cuts short. (HELIX_PACING=sleep: a plain sleep of `ms`.)
void LinearWait(Works *works, LinearLink *link, int ms, uint64_t now);

void *Linear(void *arg);
