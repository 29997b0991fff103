// The power-board command set in one table: one row per queue code with its
// name, the text it sends (or its format and what fills it), the board
// setting it belongs to and the reply the board gives. The command reference
// in docs/protocols.md is written from these rows by
// scripts/board_commands.py (a test checks the two agree).
//
// To add a command: an enumerator here, a row in board_cmds.cpp (with a
// format function when the text has fields), the reply in
// amplifier/decode.cpp, the answer in the simulated board (sim/board.cpp).
#pragma once
#include <cstddef>

struct Works;

// Queue codes: what IncPNTIn_CMDLinear takes and linearProcessStatus holds
// while the command is next to go.
enum BoardCmd : int {
    kCmdVersion = 0,         // "VSM;"
    kCmdStatus = 1,          // "ST;": the status poll
    kCmdAntenna = 7,         // "SA%d;"
    kCmdFreqRead = 8,        // "FM;": the measured frequency, polled with "ST;"
    kCmdFreq = 9,            // "FA%011lu;"
    kCmdTunerRead = 10,      // "MT;"
    kCmdTunerWord = 11,      // "MT1%08X;"
    kCmdFreqSense = 12,      // "FS%01d%04d;"
    kCmdResetTrips = 13,     // "CPFFFF;"
    kCmdAttenuator = 14,     // "AT..;" from attenuator
    kCmdAttenuatorTune = 15, // "AT..;" from attenuatorTune
    kCmdAttenuatorMax = 16,  // "AT11;"
    kCmdProtectionOff = 17,  // "MP0;"
    kCmdProtectionOn = 18,   // "MP1;"
    kCmdAmpInLine = 19,      // "AB0;"
    kCmdAmpBypass = 20,      // "AB1;"
    kCmdInput = 21,          // "AN%d;"
    kCmdThresholds = 22,     // "TS%04d%04d%04d%04d;"
    kCmdFan = 23,            // "FN0050;" or "FN1%03d;"
    kCmdPowerSettings = 24,  // "PS%04d%04d%04d%04d;"
    kCmdTunerStored = 27,    // "MT1%08X;" with the stored word
    kCmdFilter = 28,         // "SF30000%02x;"
    kCmdFwUpdate = 30,       // "MR1;"
    kCmdMicroReady = 32,     // "MR0;"
    kCmdGenericMode = 33,    // "GM%04d%04d;"
    kCmdReadSettings = 34,   // "GS;"
    kCmdWriteSettings = 35,  // "GS%s;"
    kCmdEeprom0 = 36,        // "ER0000;"
    kCmdEeprom1 = 37,        // "ER0001;"
    kCmdEeprom2 = 38,        // "ER0002;"
    kCmdTunerThrough = 39,   // "MT1%08X;", tuner out of circuit
    kCmdTunerClear = 40,     // "MT1%08X;", tuner cleared
};

struct BoardCmdRow {
    BoardCmd code;
    const char *text;   // the text sent, or its format
    const char *fields; // what fills the format ("" for a fixed text)
    // The board setting the command writes: codes with one setting share a
    // pending slot and supersede each other in the ring.
    BoardCmd setting;
    const char *reply; // what the board answers and what the decoder keeps
    // Builds the text from the current values; nullptr: `text` as it is.
    int (*format)(const Works *works, char *out, size_t cap);
};

// The row of `code`; nullptr when the code names no command.
const BoardCmdRow *FindBoardCmd(int code);
// "AT00;" .. "AT11;" for attenuator value 0..3 (held in range).
const char *AttenuatorText(int value);
