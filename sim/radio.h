// Simulated radios on pseudo-terminals linked into a simulated root:
// - an FT-817 answering its CAT protocol (5-byte commands, packed BCD);
// - the TAV transceiver streaming parameter and spectrum frames and obeying
//   "RX;" and "TU120;TX2;", with its CAT port answering "DT;" with "DT001;".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class SimRadioKind { Ft817, Tav };

struct SimRadioConfig {
    SimRadioKind kind = SimRadioKind::Tav;
    std::string root;                      // simulated root ("" = none: links are absolute)
    std::string port = "/dev/ttyUSB1";     // unit path of the radio's serial port
    std::string catPort = "/dev/VORNCAT0"; // TAV only; "" = no CAT port
    uint32_t freq = 14074000;
    int vfoB = 0;     // active VFO
    int opMode = 1;   // TAV: mode nibble; FT-817: mode byte
    int tx = 0;       // TAV transmit state
    int inputSel = 0; // TAV input selector
    int offset12 = 0, offset20 = 0;
    int paramPeriodMs = 200;
    int spectrumPeriodMs = 500; // 0: no spectrum frames
};

struct SimRadio;

// Starts the radio; nullptr (and a message on standard error) on failure.
SimRadio *SimRadioStart(const SimRadioConfig &cfg);
// Stops it and removes its links.
void SimRadioStop(SimRadio *radio);

void SimRadioSetFreq(SimRadio *radio, uint32_t hz);
void SimRadioSetVfo(SimRadio *radio, int vfoB);
void SimRadioSetMode(SimRadio *radio, int mode);
void SimRadioSetTx(SimRadio *radio, int tx);
void SimRadioSetInput(SimRadio *radio, int inputSel);
uint32_t SimRadioFreq(SimRadio *radio);
int SimRadioTx(SimRadio *radio);
// Commands the radio received: TAV text commands ("RX", "TU120", "TX2") or
// FT-817 opcodes as "op=XX".
std::vector<std::string> SimRadioCommands(SimRadio *radio);
// Writes raw bytes on the radio's serial line (a test speaking for the radio).
void SimRadioSendRaw(SimRadio *radio, const std::vector<uint8_t> &bytes);
// Path of the radio's pseudo-terminal (the link target).
std::string SimRadioPty(SimRadio *radio);
// Link faults: while silent the radio neither answers nor streams (what
// arrives is read and dropped); `garbage` bytes go out once on the port.
void SimRadioSetSilent(SimRadio *radio, bool silent);
// One line of the control input: "freq HZ", "vfo a|b", "mode N", "tx 0|1",
// "input N", "silent 0|1", "garbage TEXT", "show". Returns the answer,
// starting "ok" or "error".
std::string SimRadioControl(SimRadio *radio, const std::string &line);

// Encoders shared with the tests.
struct SimTavState {
    uint32_t freq = 14074000;
    int memory = 0, frameVfoB = 0, activeVfoB = 0;
    int opMode = 1, lp = 1, offset12 = 0, offset20 = 0, tx = 0, inputSel = 0;
};
// A 33-byte parameter payload.
std::vector<uint8_t> SimTavParamPayload(const SimTavState &s);
// A whole frame: type, kind, four length digits (least significant first), payload.
std::vector<uint8_t> SimTavFrame(int type, char kind, const std::vector<uint8_t> &payload);
// Four FT-817 packed-BCD bytes of `hz` in 10 Hz units, most significant first.
void SimFt817Bcd(uint32_t hz, uint8_t out[4]);
