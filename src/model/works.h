// The one record through which every thread shares state. `main` owns it for
// the whole run and hands its address to each thread. Each section names the
// threads that write its fields. Scalars that cross threads are atomics; a
// field with more than one writer says why that is safe. Texts and tables are
// written before the threads start, by their one owner, or under the lock
// named beside them, and other threads then read them under that lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <pthread.h>

#include "display/fb.h"
#include "model/records.h"
#include "model/remote_link.h"

template <typename T> using Shared = std::atomic<T>;

constexpr int kCmdQueueSlots = 30;
// Codes refused by a full ring wait here, at most one per board setting, so
// 41 places (one per command code) can never run out.
constexpr int kCmdPendingSlots = 41;
constexpr int kErrCodes = 28;
// Links that report a port that failed to open (portError values).
constexpr int kPortLinear = 1;    // power board
constexpr int kPortCatSerial = 2; // FT-817 CAT
constexpr int kPortTav = 3;       // TAV serial
constexpr int kPortSpectrum = 5;  // USB spectrum reader
constexpr int kPortCodes = 6;
constexpr int kSpectrumWords = 1024;
constexpr int32_t kTuneMemBankUnknown = INT32_MIN;
// Bits of screenFlags: the full-screen page over the normal display.
constexpr int32_t kScreenStatus = 1, kScreenMemory = 2, kScreenFilter = 4, kScreenFaults = 8;
// Bits of tuneOpt: the setting "Enable TAV Tune" and the hand-shake of a tune
// on the TAV transceiver's carrier (supervisor, TUNE key, tune end, TAV link).
constexpr uint8_t kTuneOptTav = 1 << 0;      // the TAV transceiver's carrier starts a tune
constexpr uint8_t kTuneOptStarted = 1 << 1;  // the supervisor started a tune on the carrier
constexpr uint8_t kTuneOptSendRx = 1 << 2;   // a tune ended: the TAV link sends "RX;"
constexpr uint8_t kTuneOptRxSent = 1 << 3;   // "RX;" went out: no new tune until cleared
constexpr uint8_t kTuneOptKeyStart = 1 << 4; // the TUNE key started the tune (TAV mode)
constexpr uint8_t kTuneOptSendTx = 1 << 5;   // the TAV link sends "TU120;TX2;" (a carrier)
constexpr uint8_t kTuneOptTxSent = 1 << 6;   // "TU120;TX2;" went out: the carrier is awaited
// Any of these: a carrier tune is under way.
constexpr uint8_t kTuneOptHandShake =
    kTuneOptStarted | kTuneOptSendRx | kTuneOptRxSent | kTuneOptKeyStart;
// Bits of txTest: the transmit test of the STARTTX key.
constexpr uint8_t kTxTestSend = 1 << 0;    // the TAV link sends "RX;" or "TU120;TX2;"
constexpr uint8_t kTxTestOn = 1 << 1;      // the test transmits (else back to receive)
constexpr uint8_t kTxTestInput0 = 1 << 4;  // the test switched the board to input 0
constexpr uint8_t kTxTestInputOk = 1 << 5; // ... and the board's "AN" reply confirmed it

// TAV transceiver state decoded from its parameter frames, guarded by serMut.
struct TavParams {
    int32_t memoryMode; // bit 0 of byte 0
    int32_t frameVfoB;  // bit 4: this frame's frequency belongs to VFO B
    int32_t activeVfoB; // bit 5: VFO B is the active VFO
    uint32_t freqA, freqB, freqMem;
    uint32_t freqCur, freqPrev;
    int32_t modeA, modeB, modeCur;
    int32_t lp;
    int32_t offset12;
    int32_t offset20;
    // The transceiver also reports its transmit state and input selector in
    // two payload bytes after the signed offset, encoded like the other
    // digits (0x30 + value): byte 31 = transmit flag (0 receive, 1
    // transmit), byte 32 = input selector (0..15). A byte outside '0'..'?'
    // or a payload too short to hold it leaves the field as it was.
    int32_t txFlag;   // transmit state reported by the transceiver
    int32_t inputSel; // input selector reported by the transceiver
    int32_t received; // 1 once the first parameter frame of the run arrived
};

// Spectrum record: two buffers of 1024 32-bit words in main's frame.
struct SpectrumRec {
    uint32_t *buf0;
    uint32_t *buf1;
    int32_t count;
};

// One entry of the error description table (61 bytes on the unit).
struct ErrDesc {
    uint8_t type; // bit0 alarm, bit1 protection, bit2 temporary
    char title[30];
    char text[30];
};

struct PcmDev;

// Fault-history lines waiting for the writer (model/fault_history.h).
constexpr int kFaultQueueLines = 32;
constexpr int kFaultLineLen = 256;
struct FaultQueue {
    std::mutex lock; // guards the fields below
    char lines[kFaultQueueLines][kFaultLineLen];
    int count;
    uint32_t dropped;      // records lost to a full queue
    uint64_t retryAfterMs; // after a failed append: no new try before this
    Shared<uint32_t> generation;
};

// Grouped by owner: each section names the threads that write its fields
// ("start-up" is main before the threads run; "keys" is the GPIO thread's key
// dispatcher, also reached from the remote commands and the keyboard).
// The peak needle of one meter (supervisor).
struct PeakRecord {
    Shared<float> angle;  // radians, 0 until the first peak is drawn
    Shared<int32_t> hold; // ms of hold left
    Shared<float> val;    // peak in meter units
    Shared<int32_t> decCnt;
};

struct Works {
    // --- process: start-up ---
    // 1 while the process runs: set by start-up; any thread may drop it to 0
    // (keyb, a signal, the keys), never back, so the writes commute.
    Shared<int32_t> running;
    char swVersion[20];
    // The setup record: its switch characters are atomics anyone may set; its
    // text slots are written (read from the file, or the live values copied
    // in), formatted and saved only under setupLock.
    std::recursive_mutex setupLock;
    SetupRecord *setup;
    pthread_mutex_t *connMut;
    pthread_mutex_t *sendMut;
    pthread_mutex_t *serMut;
    TavParams *tavPar;
    SpectrumRec *fftRec;
    Shared<int32_t> timerUsec;
    int32_t timerWake = -1; // wakes the supervisor at once: a new frequency (any link)
    // Working mode, the frequency source: 0 generic, 1 TAV, 2 FT-817, 3 a rig
    // daemon (rigctld), 4 the logging program's datagrams. The bank loader
    // (start-up, keys).
    Shared<int32_t> ModeWorkIdx;
    OptionsRecord options;   // the options file (start-up, parameter pages)
    TunerDesign tunerDesign; // the tuner design file (start-up)

    // --- link failures: Linear, Serial, CatSerial set them; the keys clear ---
    // portError names the failure on the screen (-1: just dismissed); each
    // link also keeps its own, so one link's failure never hides another's.
    Shared<int32_t> portError;
    char portErrorText[100];                // written before portError names it
    std::mutex portErrorLock;               // one writer of portError and its text at a time
    Shared<uint8_t> linkFailed[kPortCodes]; // by portError value
    char linkFailText[kPortCodes][100];     // written by that link before linkFailed

    // --- power-board link and command ring: Linear; any thread queues codes ---
    Shared<int32_t> linFD;
    int32_t linWake = -1;                // wakes the link's pause: a code was queued (any thread)
    Shared<int32_t> linearProcessStatus; // link state (see amplifier/linear.h)
    Shared<int32_t> counterrortimeout;   // 1 ms idle polls since the last send
    Shared<int32_t> cmdQueue[kCmdQueueSlots];
    Shared<int32_t> cmdQueueIn;
    Shared<int32_t> cmdQueueOut;
    Shared<uint8_t> cmdQueueDrain;
    std::mutex cmdQueueLock; // guards the ring's slots and the pending set
    // Codes that found the ring full, oldest first; the link sends them before
    // the ring (guarded by cmdQueueLock).
    Shared<int32_t> cmdPending[kCmdPendingSlots];
    Shared<int32_t> cmdPendingCount;
    char lastCmd[2];
    Shared<int32_t> lastCmdCode;
    Shared<int32_t> retryCount, retryTotal, retryStops;
    Shared<int32_t> errHoldOff; // ms (also Serial, timer)
    Shared<uint8_t> errResend;  // 0 idle, 1 requested, 2 in progress
    Shared<uint8_t> linkFlags;  // (also keyb)

    // --- power-board identity and measurements: Linear (decoded replies) ---
    char boardVersion[8];
    char eePage0[32];
    char eePage1[32];
    Shared<uint8_t> boardOpt;
    Shared<char> powerClass; // '1' higher class
    Shared<uint8_t> microReady;
    Shared<uint8_t> boardStatus[3];
    Shared<uint16_t> rawPwr[3];
    Shared<float> pwrIn, pwrFwd, pwrRefl, pwrFwdAux;
    Shared<float> swr;
    Shared<float> rawAux;
    Shared<float> temp1, temp2;
    Shared<int32_t> freqMeasured;
    // A carrier is on: Linear from the board's transmit bit in working modes 0
    // and 2, the timer from the transceiver (TAV, rig daemon) in modes 1 and 3:
    // one writer in each mode.
    Shared<int32_t> txReady;
    char statusSeen[40]; // the last status reply's readings, to tell new ones

    // --- board settings: timer (frequency actions), keys, Linear (replies) ---
    Shared<int32_t> freq;
    Shared<int32_t> freqPrev;
    Shared<int32_t> antenna;
    Shared<int32_t> antInput;
    Shared<uint8_t> attenuator, attenuatorTune, attenuatorShown;
    Shared<uint8_t> bypass, bypassReq;
    Shared<uint8_t> filterBits;
    Shared<uint8_t> fsMode;
    Shared<int32_t> fsValue;
    Shared<int32_t> tsThreshold[4];
    Shared<int32_t> psValue[4];
    Shared<int32_t> gmValue[2];
    char genSettings[12];

    // --- tuner word and tune: Linear runs the tune; keys and timer load words ---
    Shared<uint32_t> tunerWord;
    Shared<int32_t> tuneL, tuneC;
    Shared<uint8_t> tunerThrough;
    Shared<int32_t> tuneMode; // network mode decoded from tunerWord
    Shared<uint8_t> tuneSem;
    Shared<uint8_t> tuneState; // 0 idle, 1 tuning, 2 "CPFFFF;" then tune, 3 "ST;" then tune
    Shared<int32_t> tuneStep;
    Shared<float> tuneSwrBest;
    Shared<int32_t> tuneBand;
    Shared<uint8_t> tuneMethod;
    // Tune settings: the setup reader and the parameter pages (keys).
    Shared<float> swrTarget;
    Shared<uint8_t> swrTimeoutIdx;
    Shared<uint8_t> tuneOpt;
    Shared<int8_t> tuneEnabled; // bit 7 set: no tuner installed
    Shared<uint8_t> tuneDebug;

    // --- temperatures and fan: Linear; limits from the setup reader and keys ---
    Shared<int32_t> fanTarget, fanPercent;
    Shared<float> tempMax1, tempMax2;
    Shared<int32_t> tempHyst, fanHyst;
    Shared<uint8_t> tempLogOn, tempLogStarted;
    // Per sensor (0: temp1, 1: temp2) what the alarm has done, so its actions
    // run once per alarm even while the error list is suspended: see
    // amplifier/temperature.cpp.
    Shared<uint8_t> tempAlarm[2];
    Shared<int32_t> maxTempAllowed;
    Shared<uint8_t> tempUnits;
    double tempLogTimer; // ms since the last temperature-log record (timer)

    // --- tables and banks: start-up, then the keys (bank change, editors;
    // also the remote frame loop's "VORNBANK", kept apart by the bank lock) ---
    BandConfig *bandTab;
    int32_t bandTabCount;
    FanRow *fanTab;
    int32_t fanTabCount;
    FilterRow filterTab[kFilterRows];
    Shared<int32_t> numBanco;
    // The antenna-table row of the frequency (timer); -1 asks the timer to
    // choose it again (the bank loaders). The timer sets a row only over its
    // own 100, so a request made during its choice is never lost.
    Shared<int32_t> bandRow;
    Shared<int32_t> maxBank;
    // The antenna table of the current bank and its rows in use: written by
    // the bank loader and the memory editor (keys, the remote frame loop)
    // under antTabLock; every other thread reads a copy (CopyAntTab).
    std::mutex antTabLock;
    AntennaRow antTab[kAntRows];
    Shared<int32_t> memRows;
    // Tuner memory of the current bank, one table per antenna (also Linear,
    // storing a tune).
    std::mutex tuneMemLock; // guards tuneMem, tuneMemBank and their files
    TuneEntry tuneMem[kTuneMemAnts][kTuneMemEntries];
    // The bank whose file each table was last loaded from (before the first
    // load the tables count as the current bank's).
    int32_t tuneMemBank[kTuneMemAnts] = {kTuneMemBankUnknown, kTuneMemBankUnknown,
                                         kTuneMemBankUnknown};

    // --- error list: any thread through AddErrore/DeleteErrore ---
    std::mutex errLock; // guards errList/errCount and the run-time texts below
    Shared<int32_t> errList[kErrCodes];
    Shared<int32_t> errCount;
    ErrDesc errTab[kErrCodes];
    Shared<uint8_t> errFlags;
    Shared<uint8_t> errSuspend;
    // Run-time texts of kErrBoardComm, kErrProtectionTrip: Linear sets them (SetErrDetail), the
    // readers copy them (ErrText), both under errLock.
    char errDetail[30];
    char tripLabel[10];
    FaultQueue faultQueue; // (the supervisor writes it out)

    // --- transceiver links: Serial (TAV), CatSerial (FT-817), Cat (pass-through),
    // Rigctl (a rig daemon), Logger (the logging program's datagrams) ---
    Shared<int32_t> serFD;
    Shared<int32_t> catFD;
    Shared<int32_t> catSerFD;
    Shared<int32_t> catFreq;
    Shared<uint8_t> catMode;
    // The rig daemon link: its run switch ('1' runs it; the working mode sets
    // it), the last frequency and transmit state the daemon reported.
    SetupSwitch rigctlOn;
    Shared<int32_t> rigFreq;
    Shared<uint8_t> rigPtt;
    // The logger link: its run switch ('1' runs it; the working mode sets it);
    // Logger writes what the logging program says: the followed radio's
    // frequency (Hz, 0 none yet) and transmit state, and whether any radio
    // transmits (1), none (0) or one does not say (2). The timer writes
    // logHold: 1 while a band change waits for receive (the message line).
    SetupSwitch loggerOn;
    Shared<int32_t> logFreq;
    Shared<uint8_t> logTx;
    Shared<uint8_t> logTxAny;
    Shared<uint8_t> logHold;
    Shared<uint8_t> txTest;   // transmit-test hand-shake bits (keys, Serial, Linear)
    Shared<int32_t> rxSettle; // timer passes to wait after the TAV went back to RX

    // --- remote link and audio: Wsocket/Wclient, th_leggi, th_scrivi; the
    // switches from the keys and the setup reader ---
    Shared<int32_t> wsSocket;    // WebSocket socket descriptor, -1 none
    Shared<int32_t> wsConnected; // remote peer connected (guarded by connMut)
    Shared<uint8_t> remoteOn;
    Shared<uint8_t> remoteFault;
    Shared<int16_t> tcpPort;
    char serverAddr[16];
    char accessPhrase[13];
    char remoteCmd[200];   // body of the last "ST" frame, for dispStat
    RemoteLink remoteLink; // a peer's bank saves; the server's status on a remote station
    Shared<int32_t> fftDivide;
    void *opusEnc;
    void *opusDec;
    Shared<int32_t> audioBitrate;
    Shared<int32_t> audioFrame;
    Shared<int32_t> audioFormat;
    Shared<int32_t> audioRate;
    Shared<int32_t> audioBuffers;
    // Audio devices: the capture handle is the capture thread's own; the
    // playback handle, its buffer and readiness are shared between the
    // playback thread and the frame loops under audioOutLock.
    PcmDev *audioCapture;
    PcmDev *audioPlayback;
    uint8_t *playBuf;
    Shared<int32_t> playBufLen;
    Shared<int32_t> audioOutReady;
    Shared<int32_t> audioOutGone; // the frame loop saw the playback device go
    Shared<int32_t> captureChannels;
    std::mutex audioOutLock;

    // --- panel micro and key scan: GPIO; codes posted by any thread ---
    Shared<uint8_t> tinyCmd;
    Shared<uint8_t> tinyCmdOut;
    Shared<uint8_t> tinyPoll;    // next rail poll: 0..2 D1..D3, 3 pause
    Shared<int32_t> tinyTimer;   // GPIO passes until the next panel-micro exchange
    Shared<uint8_t> tinyData[4]; // panel micro: version, 12 V, 15 V, amplifier supply
    Shared<int32_t> lastKeyTime;

    // --- operator interface: keys (menus, pages, editors) ---
    Shared<int32_t> menuIdx;    // current soft-key menu 0..12 (also timer)
    Shared<int32_t> parPage;    // parameter page 0..parPages-1
    Shared<int32_t> parItem;    // item of the page
    Shared<int32_t> parPages;   // number of parameter pages (33)
    Shared<int32_t> memRow;     // row of the memory-table editor
    Shared<int32_t> filterRow;  // row chosen on the filter page
    Shared<int32_t> saveBank;   // store-tune destination bank
    Shared<int32_t> saveAnt;    // store-tune destination antenna (0-based)
    Shared<int32_t> copyFrom;   // bank copy origin
    Shared<int32_t> copyTo;     // bank copy destination
    Shared<int32_t> resetBank;  // bank to reset (maxBank: every bank)
    Shared<uint8_t> keyFlags;   // bit 0 a key is held, bit 1 "ATU ByPass not saved!"
    Shared<uint8_t> manualTune; // manual L/C stepping active
    Shared<uint8_t> filterView; // filter page shown
    Shared<uint8_t> factoryDefault;
    // A short notice on the information bar (keys, timer, remote): which one
    // (ui/status.h) and until when (monotonic ms).
    Shared<uint8_t> notice;
    Shared<uint64_t> noticeUntilMs;
    // Parameter pages whose value a step changed since it was saved (bit p).
    Shared<uint64_t> parUnsaved;
    Shared<int32_t> faultTop; // first entry shown on the fault-history page
    // Display preferences: the setup reader and the parameter pages.
    Shared<uint8_t> auxFwdEnable;
    Shared<uint8_t> viewTimeStr;
    Shared<uint8_t> viewTemp;
    Shared<uint8_t> powerUnits;
    Shared<uint8_t> saveScreenIdx;
    Shared<double> offsetPlot;

    // --- screen: the keys choose the view and picture; timer draws ---
    // The pixels of fb (work and background buffers) and imageName are
    // written only under frameLock: the supervisor holds it for a whole
    // pass; a key loading a page, the start-up screens and a peer's screen
    // image take it for their drawing.
    std::recursive_mutex frameLock;
    FbScreen fb;
    char imageName[64];
    Shared<int32_t> imageX, imageY;
    Shared<int32_t> viewType;
    Shared<int32_t> screenFlags;
    Shared<int32_t> spanHz;
    // Spectra stored for the plot so far (storeFFT, the peer's thread), and 1
    // while none came for a while (timer): the plot then says so.
    Shared<uint32_t> spectraStored;
    Shared<uint8_t> plotNoData;
    Shared<int32_t> memCol;
    Shared<uint8_t> saveScreenOn; // screen saver shown (timer, keys)
    Shared<uint8_t> redrawBack;   // 1: reload the main background once

    // --- heartbeats (model/heartbeat.h): each followed thread counts its own
    // beat and sets its beatOn bit while it runs; main's watchdog reads them ---
    Shared<uint32_t> beat[3];
    Shared<uint32_t> beatOn;

    // --- status readers and meters: timer (the slow readers at most once a second) ---
    std::mutex statusReadLock; // guards the reader state below
    uint64_t cpuTempReadMs;    // when "my_temp" last ran
    uint8_t cpuTempRead;       // 1 once it has run
    uint8_t cpuTempFailLogged; // 1 while a failure has been logged
    uint64_t audioProbeMs;     // when the audio-device probe last ran
    int32_t audioProbeCount;   // its last count
    uint8_t audioProbeRead;    // 1 once it has run
    int64_t dateTimeSec;       // wall-clock second of the dateTime text
    char dateTime[80];         // clock text of the information bar
    Shared<float> cpuTemp, gpuTemp;
    Shared<float> needleAngle1, needleAngle2; // radians
    PeakRecord peak[2];                       // the left (forward) and the right meter
};

// Program-wide globals: the meter steps are run state, the others settings
// (InitGlobalVar, the setup file).
// Atomics: the setup reader and the parameter pages (keys) write them, the
// GPIO thread and the supervisor read them; the power-board link sets the
// forward meter's scale from the board's class.
extern std::atomic<double> TIME_LONG_PRESS; // seconds
extern std::atomic<int> number_ofStep_meter_FWD;
extern std::atomic<int> number_ofStep_meter_REFL;
extern std::atomic<int> number_ofStep_meter_SWR;
extern std::atomic<int> number_ofStep_meter_PW;
extern std::atomic<int> fattoremedia;
extern std::atomic<double> PeakDecrement;
extern std::atomic<int> PeakDecrementTime;
extern std::atomic<int> TimerPeakSec;

// True while the start-up starts the links (the bank loader then leaves
// the starting to it).
extern std::atomic<bool> linksStarting;

// Network setting counters (set to 3 by main).
extern int CntIP, CntDNS, CntNetMask, CntGateway;

// Points a zeroed record at the objects that live beside it (setup record,
// locks, TAV record, spectrum record and its two buffers); no port is open yet.
void LinkWorks(Works *works, SetupRecord *setup, pthread_mutex_t *connMut, pthread_mutex_t *sendMut,
               pthread_mutex_t *serMut, TavParams *tavPar, SpectrumRec *fftRec, uint32_t *spectrum0,
               uint32_t *spectrum1);

// Closes what LinkWorks opened (a record that does not live for the run).
void UnlinkWorks(Works *works);

// Something the screen shows moved (a new frequency, a key, new readings, the
// error list): the supervisor's next pass runs at once. Its frequency
// actions follow a new frequency without waiting for a tick, and an idle
// screen may wait longer between passes without missing a change.
void WakeSupervisor(Works *works);

// Copies the antenna table under its lock into `out` (kAntRows rows);
// returns the rows in use (0..kAntRows).
int CopyAntTab(Works *works, AntennaRow *out);

// The start values of the live run state: the run flag, links, board
// identity, the frequency and thresholds in force, the audio frame the audio
// threads size their buffers by, the run-time switches of the setup record.
// Set once at start; a factory reset leaves them.
void InitRunState(Works *works);
// The defaults of the settings (what the setup file and the menus change);
// the setup read and the factory reset start from them.
void InitSettingDefaults(Works *works);
// Both, into a zeroed record: the record's start values.
void InitGlobalVar(Works *works);

// Posts a code to the panel micro: waits until the mailbox is empty, then stores.
// Gives up (returns -1) when the GPIO thread is switched off, when `running`
// drops, or when the mailbox stays full for a second (logged).
int PostTinyCmd(Works *works, uint8_t code);
