// The radio followed through the station logging program: the `<RadioInfo>`
// UDP datagrams N1MM Logger+ defined (and DXLab Commander, Logger32, Log4OM,
// UcxLog and others send), one per radio, at least every 10 s. The unit
// follows the transmit frequency of the radio that has the transmit focus
// (ActiveRadioNr), or of the one radio the option LoggerRadioNr names.
//
// A datagram is read strictly: at most 8 KiB, one flat <RadioInfo> element,
// no DTD, no entities expanded, the fields read at most once each. One that
// does not read, or names a frequency outside 100 kHz - 60 MHz, changes
// nothing and is logged (once a minute at most). 15 s without a valid
// datagram raise the warning "Logger / no radio info"; the frequency in force
// stays, and the next valid datagram clears it. (A band change while the
// radio transmits waits in the supervisor: supervisor/timer.cpp.)
#pragma once
#include <cstddef>
#include <cstdint>

struct Works;

constexpr size_t kLoggerDatagramMax = 8192;
constexpr int32_t kLoggerFreqMin = 100000;   // Hz
constexpr int32_t kLoggerFreqMax = 60000000; // Hz
constexpr uint64_t kLoggerSilenceMs = 15000;
constexpr uint64_t kLoggerBadLogMs = 60000;
constexpr uint64_t kLoggerReopenMs = 1000;
// A band change under transmission waits for receive, or for this long
// without forward power (below kLoggerNoPowerW) on the board.
constexpr uint64_t kLoggerNoPowerMs = 2000;
constexpr float kLoggerNoPowerW = 1.0f;

// What one datagram says. Numbers not present are -1; frequencies in Hz.
struct RadioInfo {
    int radioNr = -1;
    int32_t freqHz = -1;
    int32_t txFreqHz = -1;
    int activeRadioNr = -1;
    int transmitting = -1; // 1 True, 0 False
    char app[32] = {};
};

// Reads one datagram; 0 and *out filled, or -1 with a short reason in *why.
int ParseRadioInfo(const char *data, size_t len, RadioInfo *out, const char **why);

struct LoggerRadio {
    int32_t txHz = 0; // 0 none yet
    int tx = -1;      // -1 the datagrams do not say, 0 receive, 1 transmit
};

struct LoggerState {
    int fd = -1;
    uint64_t reopenAt = 0;
    bool openFailLogged = false;
    LoggerRadio radio[2];
    int active = 1;           // the radio with the transmit focus, as last said
    uint64_t lastValidMs = 0; // the last valid datagram (or the start)
    bool started = false;
    bool silent = false; // the warning is up
    uint64_t badLoggedMs = 0;
    bool badLogged = false;
    uint32_t badSinceLog = 0; // ignored datagrams since the last log line
    char app[32] = {};        // the sender last logged
    uint64_t appLoggedMs = 0; // when (0 never)
};

// One valid or invalid datagram at `now` (monotonic ms): what the radios say
// goes to works->logFreq, logTx and logTxAny.
void LoggerDatagram(Works *works, LoggerState *st, const char *data, size_t len, uint64_t now);
// The silence warning at `now`.
void LoggerTimers(Works *works, LoggerState *st, uint64_t now);
// One pass of the thread at `now`: opens the socket when it is not open (one
// try a second), takes the datagrams that wait, then the time rules.
void LoggerStep(Works *works, LoggerState *st, uint64_t now);
// Closes the socket, drops the warning, the frequency and the transmit states.
void LoggerClose(Works *works, LoggerState *st);
// The thread body: runs while works->loggerOn is '1' and the run goes on.
void *Logger(void *arg);
