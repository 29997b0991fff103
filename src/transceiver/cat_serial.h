// FT-817 CAT serial link (frequency polling), the TAV transceiver's CAT port
// probe and the remote-operation presence checks.
#pragma once
#include "platform/serial.h"
#include <atomic>
#include <cstdint>
#include <string>

struct Works;

extern std::atomic<int> catProcessStatus; // 3 send the request, 2 wait for the reply, 1 decode
extern std::atomic<int> lastCommandSent;  // 3 after the frequency request, 0 after decoding
extern std::atomic<int> counterimeoutCAT; // idle polls since the last send

constexpr int kCatSilenceMs = 1500;
constexpr int kCatProbeBoundMs = 3000; // longest wait for one port's probe answer

struct CatSerialLink {
    int fd = -1;
    uint8_t reply[5]{};
    int got = 0;
    uint64_t sentAt = 0;
    int badRun = 0; // replies in a row that were not a plausible answer
    SerialReopener port; // the port hung up: reopened by its path
};


void *CatSerial(void *arg);
// One pass at time `now`; returns the ms to sleep before the next.
int CatSerialStep(Works *works, CatSerialLink *link, uint64_t now);
int writeSerialCatPort(int fd, const uint8_t *bytes, int length, Works *works);
// 1 when the reply was a plausible answer and was taken, 0 when it was not
// (not two BCD digits per byte, an unknown mode, a frequency the radio cannot
// have) or no request was open.
int DecodeCatSerialCmd(Works *works, const uint8_t *reply, int length);
// True for a byte that is not two BCD digits.
bool VerifyByteFreq(uint8_t byte);
// Replies in a row that were not plausible before warning 25 is raised, as
// for a radio that does not answer.
constexpr int kCatBadReplies = 3;
// Finds the TAV transceiver's CAT port by the "DT;" probe: 0 with catFD set,
// -1 when none answers, -2 when the run or `watch` (if given) dropped meanwhile.
int VerifyCAT(Works *works, const std::atomic<char> *watch = nullptr, std::string *found = nullptr);
int Find_Remote_Settings(Works *works);
