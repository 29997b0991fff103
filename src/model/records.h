// Row types of the tables under /opt/set and the setup record: the shared
// model holds them, the configuration services read and write them.
#pragma once
#include <atomic>
#include <cstdint>

// --- setup file ---
// A one-character switch slot ('0'/'1'); threads watch these while others change them.
using SetupSwitch = std::atomic<char>;
static_assert(sizeof(SetupSwitch) == 1, "a switch slot is one byte");

struct SetupRecord {
    SetupSwitch EnableKeyb;
    SetupSwitch EnableSpi;
    SetupSwitch EnableTouch;
    SetupSwitch DelayedTouch;
    SetupSwitch EnableRead;
    SetupSwitch EnableWrite;
    SetupSwitch EnableCAT;
    SetupSwitch EnableSerial; // run-time: TAV serial link
    SetupSwitch EnableLinear;
    SetupSwitch EnableTime;
    SetupSwitch EnableGPIO;
    SetupSwitch WebSocket;
    char Pitch[10];
    char Quality[4];
    char AudioIn[20];
    SetupSwitch EnableFFT;
    SetupSwitch EnableSpectrum; // run-time: spectrum source
    SetupSwitch Enable1600;
    char Divide[3];
    char InChannels[2];
    char AudioCompress[10];
    char Multiplier[3];
    char AudioOut[20];
    char Server[16];
    char CatPort[13];
    char SerPort[13];
    char LinPort[13];
    SetupSwitch NumAntenna;
    SetupSwitch EnablePwrPeak;
    SetupSwitch TempMode;
    SetupSwitch FreqSensIn;
    char FreqPeriodTime[5];
    SetupSwitch Attenuator;
    SetupSwitch AttenuatorTune;
    char SWRescAutoTune[6];
    SetupSwitch ViewTimeStr;
    SetupSwitch ViewTemp;
    char MaxTemperature[6];
    char MaxTemperature2[6];
    SetupSwitch AutoTuneMaxCicli;
    SetupSwitch PowerUnits;
    SetupSwitch SaveScreenIdx;
    SetupSwitch AutoTuneMode;
    char MaxTempAllowed[6];
    char PSpar1[6];
    char PSpar2[6];
    char PSpar3[6];
    char PSpar4[6];
    SetupSwitch Isteresi1;
    SetupSwitch Isteresi2;
    char OffsetPlot[6];
    SetupSwitch EnableCatSerial; // run-time: CAT serial link
    char CatSerialPort[13];
    char TUNEenabled[4];
    char NumBanco[4];
    char GMpar1[6];
    char GMpar2[6];
    char Peak_media[6];
    char Peak_ValDec[6];
    char Peak_TimeDec[6];
    char Peak_Time[6];
    char MAXbank[4];
    char BTN_longpress_Time[6];
    SetupSwitch EnableDebug;
    SetupSwitch EnableLOGTemp;
    char AudioBuffers[6];
};
static_assert(sizeof(SetupRecord) == 291, "the setup record is 291 bytes");

// --- antenna table of a bank ---
constexpr int kAntRows = 11;

// One band of the antenna table.
struct AntennaRow {
    char name[8];      // band name, at most 7 characters
    int32_t fStart;    // Hz
    int32_t fStop;     // Hz, inclusive
    uint8_t ampEnable; // 1 amplifier in use, 0 bypassed
    uint8_t ant;       // antenna 1..3, 0 keep the one in use
    uint8_t atuOff;    // 1 tuner bypassed
    uint8_t att;       // attenuator index 0..3
    float pwr;
};

// --- band configuration table ---
struct BandConfig {
    uint32_t fStart; // Hz
    uint32_t fStop;  // Hz (kept, not used by the lookup)
    float K0;        // forward watts per reading squared
    float K1;        // reflected
    float K2;        // input (drive)
    float K3;        // reflected correction, times forward power
    float sogliaPwIn;
    float sogliaCorrente;
    float sogliaRefl;
    float sogliaFwd;
    int32_t startL[5];
    int32_t startC[5];
    int32_t fineStep;
};
static_assert(sizeof(BandConfig) == 21 * 4, "a band row is 21 words");

// --- fan table ---
struct FanRow {
    float temperature; // degrees C
    int32_t percent;   // fan speed
};

// --- filter table ---
constexpr int kFilterRows = 8;

struct FilterRow {
    int32_t fStart;  // Hz
    int32_t fStop;   // Hz, inclusive
    int32_t enabled; // only a low byte of 1 enables
};

// --- tuner memory ---
// One stored tuner solution of the tuner memory (one per grid point).
struct TuneEntry {
    uint8_t valid; // non-zero: the entry holds a solution
    uint8_t mode;  // network: 1 CL, 2 LC, 3 bypass
    int16_t L;     // inductor step 0..511
    int16_t C;     // capacitor step 0..511
};
static_assert(sizeof(TuneEntry) == 6, "tuner memory entries are 6 bytes");
constexpr int kTuneMemEntries = 5000;
constexpr int kTuneMemAnts = 3;

// --- options file: settings the setup file does not have ---
constexpr int kOptionText = 128; // longest text value, NUL included

struct OptionsRecord {
    std::atomic<int32_t> tuneSearch{0};    // TuneSearch: 0 the stepped search, 1 the model search
    char accessPhrase[kOptionText] = {};   // AccessPhrase: the remote link's phrase
    char remoteAllow[kOptionText] = {};    // RemoteAllow: peer networks, empty allows all
    char remoteBind[kOptionText] = {};     // RemoteBind: the server's listen address, empty all
    char remoteOrigins[kOptionText] = {};  // RemoteOrigins: more web origins allowed
    char rigctldAddress[kOptionText] = {}; // RigctldAddress
    std::atomic<int32_t> rigctldPort{0};   // RigctldPort
    std::atomic<int32_t> ampctldServer{0}; // AmpctldServer: 1 serves the amplifier protocol
    std::atomic<int32_t> ampctldPort{0};   // AmpctldPort
    char ampctldBind[kOptionText] = {};    // AmpctldBind
    std::atomic<int32_t> loggerUdpPort{0}; // LoggerUdpPort: the logging program's datagrams
    char loggerUdpBind[kOptionText] = {};  // LoggerUdpBind
    std::atomic<int32_t> loggerRadioNr{0}; // LoggerRadioNr: 0 the active radio, 1 or 2 that one
};

// --- tuner design file: the tuner's nominal parts, for the model search ---
struct TunerDesign {
    float lStepNH = 50.0f;  // LStepNH: the smallest coil step, nH
    float cStepPF = 10.0f;  // CStepPF: the smallest capacitor step, pF
    float cStrayPF = 19.0f; // CStrayPF: capacitance always present, pF
    float coilQ = 150.0f;   // CoilQ
    int32_t txSideBit = 23; // TxSideBit: the arrangement bit that puts C on the transmitter side
};
