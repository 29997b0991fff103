// TAV transceiver serial link: parameter and spectrum frames in, the
// transmit-control commands out.
//
// Frame: type byte (0..14; 0 spectrum, 1 parameters), kind byte ('0'/'1'),
// four length digits least significant first (0x30 + value), payload.
#pragma once
#include "platform/serial.h"
#include "model/tav_params.h"
#include <cstdint>

struct Works;
struct TavParams;

constexpr int kTavBufSize = 2000;
constexpr int kTavSilenceMs = 1500; // silence that reports kErrTavExtIo (and drops a partial frame)

// Progress of the link between passes of its step.
struct TavLink {
    int fd = -1;
    int phase = 0; // 0 header, 1 kind and length, 2 payload
    int type = 0;
    char kind = 0;
    int length = 0;
    uint8_t lead[5]{};
    uint8_t buf[kTavBufSize]{};
    uint8_t *target = nullptr; // where readSerialPort puts its bytes
    int want = 0, got = 0;
    uint64_t idleSince = 0; // last byte, or last silence report
    SerialReopener port;    // the port hung up: reopened by its path
};

void *Serial(void *arg);

// One pass of the link at time `now`; returns the ms to sleep before the next.
int SerialStep(Works *works, TavLink *link, uint64_t now);
// Moves waiting bytes towards `link->want`: 1 complete, 0 still waiting, -1
// the frame was dropped after kTavSilenceMs of silence.
int readSerialPort(Works *works, TavLink *link, uint64_t now);
// Kind byte and the four length digits; returns the length (capped at 1999).
int decodeCmdParameters(Works *works, const uint8_t *digits, char *kind, int *length);
// Writes all bytes; 0 on success, -1 on a write error.
int writeSerialPort(int fd, const char *text, int length, Works *works);

// Spectrum rotation: start bin for the record's offsets (0..1023), and the
// rotated 1024 bins of `payload`.
int SpectrumStart(const TavParams &par);
void RotateSpectrum(const TavParams &par, const uint8_t *payload, uint8_t *bins);
// Sends the pending transmit-control commands of `tuneOpt` and `txTest`.
void TavTxControl(Works *works, int fd);
