#include "explore.h"

#include "amplifier/linear.h"
#include "amplifier/tune.h"
#include "board.h"
#include "config/antenna_banks.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "config/options.h"
#include "config/setup.h"
#include "config/tuner_design.h"
#include "config/tuner_memory.h"
#include "display/fb.h"
#include "display/fonts.h"
#include "model/board_cmds.h"
#include "model/cmd_queue.h"
#include "model/errors.h"
#include "model/hooks.h"
#include "model/tav_params.h"
#include "model/tuner_word.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "remote/commands.h"
#include "sim_root.h"
#include "supervisor/timer.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/status.h"
#include "unit_record.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// --- the unit's files at the start of every sequence ---

// Five banks, one per working mode: bank 0 a rig daemon, 1 the FT-817, 2
// generic (the board measures), 3 the TAV transceiver, 4 a logging program's
// datagrams. Each has rows with
// the tuner in line and bypassed, the amplifier in line and bypassed, on
// different antennas and attenuators.
const char *const kMarkers[5] = {"!Net\n", "!817\n", "!Gen\n", "!Tav\n", "!Udp\n"};
const char *const kRows = "160m 1800000 2000000 0 1 1 0 0.0\n"
                          "80m 3500000 4000000 1 3 0 1 0.0\n"
                          "40m 7000000 7300000 1 1 0 0 0.0\n"
                          "30m 10100000 10150000 1 2 1 2 0.0\n"
                          "20m 14000000 14350000 1 2 0 0 0.0\n"
                          "15m 21000000 21450000 1 3 0 3 0.0\n"
                          "10m 28000000 29700000 0 1 1 0 0.0\n";
// Stored solutions: 20 m on antenna 2, 40 m on antenna 1, 80 m on antenna 3.
const char *const kAtu[3] = {
    "; index frequency valid mode L C\n2115 7075000 1 1 120 200\n2120 7100000 1 2 60 90\n",
    "; index frequency valid mode L C\n3112 14020000 1 1 44 121\n3117 14070000 1 1 42 118\n",
    "; index frequency valid mode L C\n1400 3600000 1 1 300 400\n",
};
const char *const kBands = "1800000 2000000 100 1000 10 500 5 250 0 20 10 100 600\n"
                           "3500000 4000000 100 1000 10 500 5 250 0 20 10 100 600\n"
                           "7000000 7300000 100 1000 10 500 5 250 0 20 10 100 600\n"
                           "10100000 10150000 100 1000 10 500 5 250 0 20 10 100 600\n"
                           "14000000 14350000 100 1000 10 500 5 250 0 20 12 100 600\n"
                           "21000000 21450000 100 1000 10 500 5 250 0 20 12 100 600\n"
                           "28000000 54000000 100 1000 10 500 5 250 0 20 10 100 600\n";
const char *const kFilters = "1800000 2000000 1\n3500000 4000000 1\n7000000 7300000 1\n"
                             "10100000 10150000 1\n14000000 14350000 1\n21000000 21450000 1\n"
                             "28000000 29700000 1\n";
const char *const kSetup = "EnableKeyb: 0\nEnableGPIO: 0\nEnableRead: 0\nEnableWrite: 0\n"
                           "EnableCAT: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\n"
                           "EnableFFT: 0\nAutoTuneMode: 1\nSWRescAutoTune: 150\nNumBanco: 1\n"
                           "MAXbank: 5\nAttenuatorTune: 0\n";

// Frequencies the radio visits: in each band of the table, and outside all.
const int32_t kInBand[] = {1850000,  1990000,  3600000,  3790000,  7075000,  7100000, 7200000,
                           10120000, 14020000, 14070000, 14300000, 21200000, 28500000};
const int32_t kOutside[] = {5000000, 12000000, 25000000};

struct LoadChoice {
    double r, x;
};
const LoadChoice kLoads[] = {{50, 0}, {200, 0}, {25, 10}, {800, 0}, {12, -30}};

std::string Root() {
    static std::string root = [] {
        // In memory where there is such a file system: every save syncs its
        // file, which on a disk costs more than the whole event.
        const char *tmp = std::getenv("TMPDIR");
        if ((tmp == nullptr || tmp[0] == '\0') && access("/dev/shm", W_OK) == 0)
            setenv("TMPDIR", "/dev/shm", 1);
        std::string r = MakeTempSimRoot();
        UseSimRoot(r);
        static char made[512];
        std::snprintf(made, sizeof made, "%s", r.c_str());
        std::atexit([] { RemoveSimRoot(made); });
        LoadFontSet();
        return r;
    }();
    return root;
}

void Write(const std::string &rel, const std::string &text) {
    std::ofstream f(Root() + rel, std::ios::trunc | std::ios::binary);
    f << text;
}

std::string Read(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void FreshFiles() {
    // Whatever the last sequence left (fault history, logs) goes.
    std::string set = Root() + "/opt/set";
    if (DIR *d = opendir(set.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') unlink((set + "/" + e->d_name).c_str());
        closedir(d);
    }
    unlink((Root() + "/commands.log").c_str());
    Write("/opt/set/setup.txt", kSetup);
    Write("/opt/set/config.txt", kBands);
    Write("/opt/set/filter.txt", kFilters);
    for (int b = 0; b < 5; b++) {
        Write(BankAntennaFile(b), std::string(kMarkers[b]) + kRows);
        for (int a = 1; a <= 3; a++)
            Write(BankAtuFile(b, a), kAtu[a - 1]);
    }
}

// --- the unit in this process ---

int32_t RowOf(const Works *w, int32_t f) {
    int rows = std::clamp(w->memRows.load(), 0, kAntRows);
    for (int i = 0; i < rows; i++)
        if (w->antTab[i].fStart <= f && f <= w->antTab[i].fStop) return i;
    return -1;
}

constexpr uint32_t kScreenW = 16, kScreenH = 4;

struct Wire {
    std::string cmd, reply;
};

struct World {
    std::unique_ptr<UnitRecord> unit;
    std::vector<uint8_t> screen;
    SupervisorState sup;
    LinearLink link;
    SimBoardState board;
    uint64_t modelMs = 0;
    uint64_t now = 1000000; // supervisor clock, ms
    uint64_t linkAt = 1000000;
    int fds[2] = {-1, -1};
    bool answered = true;
    int silentLeft = 0;
    long fmPolls = 0; // "FM;" answered (generic mode's frequency)
    bool windowOpen = false;
    std::deque<Wire> wire;
    // The radio and the operator's hands, as the explorer set them.
    int32_t radioFreq = 14070000;
    bool tx = false;
    // The tune now running, as observed from its start.
    bool tuneSeen = false;
    int tunesStarted = 0;
    int tuneBank = 0, tuneAnt = 0;
    int32_t tuneSegFrom = 0, tuneSegTo = 0;
    bool tuneKept = true; // still on its bank, antenna and segment
    // Files a legitimate write may have changed since the last check.
    std::map<std::string, std::string> files, initial;
    std::string allowFile; // the one file a store may change now
    int allowFrom = -1, allowTo = -1;
    bool allowAny = false; // the operator edited the tables on purpose

    Works *w() { return unit->w(); }
    World();
    ~World();
};

World::World() {
    FreshFiles();
    // One write window for the whole sequence: the saves inside it nest and
    // run no remount of their own (a process each, most of the time otherwise).
    windowOpen = RemountRw() == 0;
    unit = std::make_unique<UnitRecord>();
    // No thread of this process is ever started: every loop is stepped here.
    hooks.StartThreadLinear = nullptr;
    hooks.StartThreadTAV = nullptr;
    hooks.StartThreadCAT = nullptr;
    hooks.StartThreadCATserial = nullptr;
    hooks.StartThreadAudioRead = nullptr;
    hooks.StartThreadAudioWrite = nullptr;
    hooks.StartTavReadFFT = nullptr;
    hooks.StartThreadSoket = nullptr;
    hooks.StartThreadRigctl = nullptr;
    hooks.StartThreadCommRemote = nullptr;
    hooks.ExitThreadRemote = nullptr;
    hooks.ExitCAT = nullptr;
    Works *wk = w();
    // The screen's texts are what the invariants read (the information bar
    // and the key labels as composed for drawing); the pixels go to a screen
    // of a few rows, where the drawing clips them: drawing 800 x 480 on every
    // pass would cost nine tenths of the run.
    screen.assign(kScreenW * kScreenH * 4, 0);
    fbSetup(&wk->fb, kScreenW, kScreenH, 32, screen.data());
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    wk->linFD = fds[0];
    wk->running = 1;
    // The start-up as main runs it.
    ReadConfigFile(wk);
    InitMicroCmd(wk);
    ReadVentolaFile(wk);
    LoadTabFiltri(wk);
    readSetup(wk);
    ReadOptions(wk);
    ReadTunerDesign(wk);
    LoadAllBankTable(wk, wk->numBanco);
    wk->bandRow = -1;
    wk->linearProcessStatus = kLinStatus;
    wk->errSuspend = 0;
    InitMenuNova(wk);
    board.tunerModel = true;
    board.load = SimLoad{SimLoadKind::Fixed, 50.0, 0.0};
    board.freq = static_cast<uint32_t>(radioFreq);
    SupervisorStart(wk, &sup, now);
    for (int b = 0; b < 5; b++)
        for (int a = 1; a <= 3; a++) {
            std::string p = Root() + BankAtuFile(b, a);
            files[p] = initial[p] = Read(p);
        }
}

World::~World() {
    if (windowOpen) RemountRo();
    Works *wk = w();
    wk->linFD = -1;
    for (int fd : fds)
        if (fd >= 0) close(fd);
    fbRelease(&wk->fb);
    delete[] wk->bandTab;
    wk->bandTab = nullptr;
    delete[] wk->fanTab;
    wk->fanTab = nullptr;
}

// The frequency source of the working mode reports the radio; the drive
// follows the operator's carrier.
void FeedSources(World &x, float driveW) {
    Works *w = x.w();
    switch (w->ModeWorkIdx.load()) {
    case 1:
        pthread_mutex_lock(w->serMut);
        w->tavPar->freqCur = w->tavPar->freqA = static_cast<uint32_t>(x.radioFreq);
        w->tavPar->txFlag = x.tx ? 1 : 0;
        w->tavPar->received = 1;
        pthread_mutex_unlock(w->serMut);
        break;
    case 2:
        w->catFreq = x.radioFreq;
        break;
    case 3:
        w->rigFreq = x.radioFreq;
        w->rigPtt = x.tx ? 1 : 0;
        break;
    case 4:
        w->logFreq = x.radioFreq;
        w->logTx = w->logTxAny = x.tx ? 1 : 0;
        break;
    default:
        x.board.freq = static_cast<uint32_t>(x.radioFreq);
        break;
    }
    x.board.driveW = x.tx ? driveW : 0.0f;
}

std::string ReadFrame(int fd) {
    std::string frame;
    char c;
    while (read(fd, &c, 1) == 1) {
        frame.push_back(c);
        if (c == ';' || frame.size() > 200) break;
    }
    return frame;
}

// The board answers what the link just sent (or stays silent). False when silent.
bool BoardSide(World &x) {
    std::string frame = ReadFrame(x.fds[1]);
    std::string cmd = frame.size() > 2 ? frame.substr(2) : frame;
    bool answer = x.silentLeft <= 0;
    if (!answer) {
        x.silentLeft--;
        x.wire.push_back({cmd, "(silent)"});
    } else {
        if (cmd == "FM;") x.fmPolls++;
        std::string reply = SimBoardAnswer(x.board, cmd, x.linkAt, &x.modelMs);
        x.wire.push_back({cmd, reply});
        std::string out = SimBoardFrame(reply, false);
        ssize_t n = write(x.fds[1], out.data(), out.size());
        (void)n;
    }
    if (x.wire.size() > 40) x.wire.pop_front();
    return answer;
}

// The link runs up to the supervisor's clock: each command is answered at
// once, a silent board costs its reply time-out.
void LinkPass(World &x) {
    Works *w = x.w();
    for (int guard = 0; guard < 20000 && x.linkAt <= x.now; guard++) {
        int before = w->linearProcessStatus.load();
        int pause = LinearStep(w, &x.link, x.linkAt);
        int after = w->linearProcessStatus.load();
        if (after == kLinWait && before != kLinWait) x.answered = BoardSide(x);
        if (after == kLinWait && before == kLinWait && !x.answered && pause == 1) {
            x.linkAt = std::max(x.linkAt + 1, x.link.sentAt + kLinReplyTimeoutMs);
            continue;
        }
        x.linkAt += static_cast<uint64_t>(pause > 0 ? pause : 0);
    }
    if (x.linkAt < x.now) x.linkAt = x.now;
}

void FileAllow(World &x, int bank, int ant, int32_t segFrom) {
    int32_t from, to;
    int first, end;
    AtuIdxSearch(segFrom, &from, &to, &first, &end);
    x.allowFile = Root() + BankAtuFile(bank, ant + 1);
    // The grid point at the segment's top (a frequency just below it rounds
    // to it) is the next segment's first.
    x.allowFrom = first;
    x.allowTo = end + 1;
}

// Follows the tune from its start to its end: what it belongs to, and
// whether it stayed there.
void WatchTune(World &x) {
    Works *w = x.w();
    bool running = w->tuneState.load() != 0;
    if (running && !x.tuneSeen) {
        x.tuneSeen = true;
        x.tunesStarted++;
        x.tuneBank = w->numBanco.load();
        x.tuneAnt = w->antenna.load();
        int first, end;
        AtuIdxSearch(x.radioFreq, &x.tuneSegFrom, &x.tuneSegTo, &first, &end);
        x.tuneKept = true;
    } else if (running) {
        if (w->numBanco.load() != x.tuneBank || w->antenna.load() != x.tuneAnt ||
            x.radioFreq < x.tuneSegFrom || x.radioFreq >= x.tuneSegTo)
            x.tuneKept = false;
    } else if (x.tuneSeen) {
        x.tuneSeen = false;
        if (x.tuneKept) FileAllow(x, x.tuneBank, x.tuneAnt, x.tuneSegFrom);
    }
}

void Pass(World &x, float driveW) {
    x.now += 10;
    FeedSources(x, driveW);
    LinkPass(x);
    WatchTune(x);
    SupervisorStep(x.w(), &x.sup, x.now);
    WatchTune(x);
}

// Settled: nothing waits for the board, the frequency actions are done and
// the link is back to its polls.
bool Settled(World &x) {
    Works *w = x.w();
    int st = w->linearProcessStatus.load();
    bool polling = st == kLinStatus || st == kLinFreqPoll || st == kCmdTunerWord ||
                   st == kLinParked ||
                   (st == kLinWait && x.answered); // not a silent board's time-out
    return CmdQueueEmpty(w) && polling && w->freq.load() == w->freqPrev.load() &&
           w->bandRow.load() != -1;
}

// --- invariants ---

const char *PadsName(const SimBoardState &b) {
    return AttenuatorName((b.pad3 ? 2 : 0) + (b.pad2 ? 1 : 0));
}

bool Through(uint32_t word) {
    return (word & kTunerModeThrough) != 0 && (word & (kTunerModeCL | kTunerModeLC)) == 0;
}

struct Checker {
    std::string fail;
    void Check(bool ok, const char *inv, const std::string &what) {
        if (!ok && fail.empty()) fail = std::string(inv) + ": " + what;
    }
};

std::string Num(long v) {
    return std::to_string(v);
}

void CheckBoard(World &x, Checker &c, bool manualWord, bool tuneWord, bool alarmStandby) {
    Works *w = x.w();
    const SimBoardState &b = x.board;
    const bool tuning = w->tuneState.load() != 0;
    const bool manual = w->manualTune.load() != 0;
    int mode = w->ModeWorkIdx.load();
    // The board was handed to its firmware loader (the operator's choice):
    // it answers nothing more.
    if (w->linearProcessStatus.load() == kLinParked) return;
    // The logger mode holds a band change while a radio transmits, and says
    // so on the message line.
    if (mode == 4 && w->logHold.load() != 0) return;
    c.Check(w->freq.load() == x.radioFreq, "I1 board = unit",
            "the unit follows " + Num(w->freq.load()) + " Hz, the radio is on " + Num(x.radioFreq));
    // A micro reset puts the board on its own defaults and raises error 16:
    // the operator's RESET brings the unit's settings back to it.
    // So does a command the board never answered (error 4, "Err XX"): the
    // reset sends every setting again.
    if (ExistError(w, kErrMicroReset) || ExistError(w, kErrBoardComm)) return;
    if (mode != 0)
        c.Check(b.freq == static_cast<uint32_t>(x.radioFreq), "I1 board = unit",
                "the board was told " + Num(b.freq) + " Hz");
    bool filterRow = false;
    for (const FilterRow &f : w->filterTab)
        if ((f.enabled & 0xFF) == 1 && f.fStart <= x.radioFreq && x.radioFreq <= f.fStop)
            filterRow = true;
    if (filterRow)
        c.Check(b.filterMask == w->filterBits.load(), "I1 board = unit",
                "board filter " + Num(b.filterMask) + ", unit " + Num(w->filterBits.load()));
    int r = RowOf(w, x.radioFreq);
    // The memory table's editor changes the rows: they apply from the next
    // band change, not while the operator edits them.
    if (r < 0 || w->menuIdx.load() == 6 || w->menuIdx.load() == 7) return;
    const AntennaRow row = w->antTab[r];
    if (row.ant != 0)
        c.Check(b.antenna == row.ant && w->antenna.load() == row.ant - 1, "I1 board = unit",
                std::string("row ") + row.name + " calls for antenna " + Num(row.ant) +
                    ", the board is on " + Num(b.antenna) + ", the unit says " +
                    Num(w->antenna.load() + 1));
    if (tuning) return;
    // A protection in force (an alarm, a trip, a failed tune) may hold the
    // amplifier and its pads away from the row until the operator's reset;
    // the screen must still say what the board has (I2).
    // (Any listed error waits for the operator: the reset that acknowledges
    // it sends the unit's settings again.)
    if (b.protection || w->errCount.load() > 0) return;
    if (row.ampEnable != 0) {
        // After a fault (an alarm, a trip, a micro reset, a board that did
        // not answer) the amplifier and its pads may stay as the fault left
        // them, the screen saying so (I2), until the operator sets them or
        // the band changes.
        if (alarmStandby) return;
        c.Check(!b.bypass, "I1 board = unit",
                std::string("row ") + row.name +
                    " puts the amplifier in line, the board bypasses it");
        c.Check(std::strcmp(PadsName(b), AttenuatorName(row.att)) == 0, "I1 board = unit",
                std::string("row ") + row.name + " calls for attenuator " +
                    AttenuatorName(row.att) + " dB, the board has " + PadsName(b));
    } else if (!alarmStandby) {
        c.Check(b.bypass, "I1 board = unit",
                std::string("row ") + row.name +
                    " bypasses the amplifier, the board has it in line");
    }
    if (manual || manualWord || tuneWord) return;
    if (row.atuOff != 0) {
        c.Check(Through(b.tunerWord), "I1 board = unit",
                std::string("row ") + row.name + " bypasses the tuner, the board's word is " +
                    Num(b.tunerWord));
        return;
    }
    int32_t from, to;
    int first, end;
    int idx = AtuIdxSearch(x.radioFreq, &from, &to, &first, &end);
    int ant = w->antenna.load();
    int best = SearchBestTune(w, idx, first, end, ant);
    uint32_t want = kTunerModeCL;
    if (best >= 0) {
        TuneEntry e{};
        LoadTuneValFromTabRam(&e, best, ant, w);
        want = (e.mode == 2 ? kTunerModeLC : kTunerModeCL);
        uint32_t tmp = want;
        (void)tmp;
        c.Check(DecodeInduttanzaFromTuneval(b.tunerWord) == e.L &&
                    DecodeCapacitaFromTuneval(b.tunerWord) == e.C &&
                    (b.tunerWord & (kTunerModeCL | kTunerModeLC)) == want,
                "I1 board = unit",
                "memory entry " + Num(best) + " of antenna " + Num(ant + 1) + " holds L " +
                    Num(e.L) + " C " + Num(e.C) + ", the board's word is L " +
                    Num(DecodeInduttanzaFromTuneval(b.tunerWord)) + " C " +
                    Num(DecodeCapacitaFromTuneval(b.tunerWord)));
    } else {
        c.Check((b.tunerWord & 0x00FFFFFFu) == kTunerModeCL, "I1 board = unit",
                "no memory entry at " + Num(x.radioFreq) + ", the board's word is " +
                    Num(b.tunerWord));
    }
}

void CheckScreen(World &x, Checker &c) {
    Works *w = x.w();
    const SimBoardState &b = x.board;
    char boxes[6][128];
    InfoBarBoxes(w, boxes);
    auto box = [&](int i, const std::string &want) {
        c.Check(want == boxes[i], "I2 screen = unit",
                "information bar box " + Num(i) + " says \"" + boxes[i] + "\", the board: \"" +
                    want + "\"");
    };
    box(0, InterfaceName(w->ModeWorkIdx.load()));
    if (ExistError(w, kErrMicroReset) || ExistError(w, kErrBoardComm) ||
        w->linearProcessStatus.load() == kLinParked)
        return; // the error list says why, or the board is in its loader
    box(4, "Ant " + Num(b.antenna));
    const bool held = w->ModeWorkIdx.load() == 4 && w->logHold.load() != 0;
    if (!held && (x.radioFreq < 26000000 || x.radioFreq > 28000000)) {
        int r = RowOf(w, x.radioFreq);
        box(2, r < 0 ? std::string("Band:---") : std::string("Band:") + w->antTab[r].name);
    }
    if (w->tuneState.load() != 0) return;
    std::string att = b.bypass ? std::string("StBy") : std::string(PadsName(b)) + "dB";
    box(3, "Att " + att);
    if (w->manualTune.load() == 0) box(5, Through(b.tunerWord) ? "Atu: Bpy" : "Atu: On");
    if (w->menuIdx.load() == 0) {
        std::string label = KeyLabel(0, 2, 2);
        c.Check(label == "  " + att, "I2 screen = unit",
                "the IN-ATT key says \"" + label + "\", the board: \"" + att + "\"");
    }
}

// Every tuner-memory file is what it was, but for the entries a store was
// allowed to write.
std::string WithoutEntries(const std::string &text, int from, int to) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        int idx = std::atoi(line.c_str());
        if (!line.empty() && line[0] != ';' && idx >= from && idx < to) continue;
        out += line + "\n";
    }
    return out;
}

void CheckFiles(World &x, Checker &c) {
    for (auto &[path, before] : x.files) {
        std::string now = Read(path);
        if (now == before) continue;
        bool ok = x.allowAny;
        if (!ok && path == x.allowFile)
            ok = WithoutEntries(now, x.allowFrom, x.allowTo) ==
                 WithoutEntries(before, x.allowFrom, x.allowTo);
        c.Check(ok, "I3 memories",
                UnresolvePath(path) + " changed:\n--- before\n" + before + "--- after\n" + now);
        before = now;
    }
    x.allowFile.clear();
    x.allowAny = false;
}

void CheckOrphans(World &x, Checker &c) {
    Works *w = x.w();
    c.Check(!(w->tuneState.load() != 0 && w->manualTune.load() != 0), "I4 nothing orphaned",
            "an automatic tune runs under the operator's manual stepping (step " +
                Num(w->tuneStep.load()) + ")");
    c.Check(w->manualTune.load() == 0 || w->menuIdx.load() == 4 || w->menuIdx.load() == 8,
            "I4 nothing orphaned", "manual stepping on in menu " + Num(w->menuIdx.load()));
}

void CheckAlive(World &x, Checker &c, bool settled) {
    Works *w = x.w();
    c.Check(settled || w->linearProcessStatus.load() == kLinParked, "I5 alive",
            "the unit did not settle: " + Num(CmdQueuePending(w)) + " codes wait, link state " +
                Num(w->linearProcessStatus.load()));
}

// --- events ---

struct Runner {
    World x;
    float driveW = 0.0f;
    bool manualWord = false;   // the operator's word is in force (until a band change)
    bool tuneWord = false;     // a tune's word is in force (until a band change)
    bool alarmStandby = false; // a fault's stand-by and pads may stand (see CheckBoard)
    long checks = 0;
    // The start-up's first selection is out before the first event.
    Runner() {
        for (int i = 0, quiet = 0; i < 500 && quiet < 3; i++) {
            Pass(x, 0.0f);
            quiet = Settled(x) ? quiet + 1 : 0;
        }
    }
};

int SegmentOf(int32_t f) {
    int32_t from, to;
    int first, end;
    AtuIdxSearch(f, &from, &to, &first, &end);
    return first;
}

void Apply(Runner &u, const ExploreEvent &e) {
    World &x = u.x;
    Works *w = x.w();
    switch (e.kind) {
    case ExploreKind::Key: {
        int menu = w->menuIdx.load();
        // The parameter pages, the memory table and its editor, the store-tune
        // menu and the bank utilities write the tables on purpose.
        if (menu == 1 || menu == 2 || (menu >= 6 && menu <= 11)) x.allowAny = true;
        if (menu == 4 || w->manualTune.load() != 0) u.manualWord = true;
        if (menu == 0 && e.a == 2) u.alarmStandby = false; // IN-ATT: the operator sets them
        DecodeTasto(w, e.a, e.b != 0 ? 1 << (e.a - 1) : 0);
        if (w->manualTune.load() != 0) u.manualWord = true;
        break;
    }
    case ExploreKind::Qsy:
        if (SegmentOf(e.a) != SegmentOf(x.radioFreq)) u.manualWord = u.tuneWord = false;
        if (RowOf(w, e.a) != RowOf(w, x.radioFreq)) u.alarmStandby = false;
        x.radioFreq = e.a;
        break;
    case ExploreKind::Drive:
        u.driveW = static_cast<float>(e.a) / 10.0f;
        x.tx = e.a > 0;
        break;
    case ExploreKind::Load: {
        const LoadChoice &l = kLoads[e.a % (sizeof kLoads / sizeof kLoads[0])];
        x.board.load = SimLoad{SimLoadKind::Fixed, l.r, l.x};
        break;
    }
    case ExploreKind::Board:
        switch (e.a) {
        case kBoardTripOn:
            u.alarmStandby = true;
            x.board.s2Extra = 0x01;
            break;
        case kBoardTripOff:
            x.board.s2Extra = 0;
            break;
        case kBoardHot:
            u.alarmStandby = true;
            x.board.temp1 = x.board.temp2 = 95.0f;
            break;
        case kBoardCool:
            u.alarmStandby = true;
            x.board.temp1 = x.board.temp2 = 25.0f;
            break;
        case kBoardSilent:
            u.alarmStandby = true;
            x.silentLeft = 2 + e.b % 6;
            break;
        default:
            u.alarmStandby = true;
            SimBoardHotStart(x.board);
            break;
        }
        break;
    case ExploreKind::Remote:
        switch (e.a) {
        case 0:
            std::snprintf(w->remoteCmd, sizeof w->remoteCmd, "VORNBANK");
            dispStat(w);
            u.manualWord = u.tuneWord = false;
            break;
        case 1:
        case 2:
            if (hooks.AmplifierStandby != nullptr) hooks.AmplifierStandby(w, e.a == 1 ? 1 : 0);
            break;
        default: // a peer's key: the same dispatcher as the panel's
            Apply(u, ExploreEvent{ExploreKind::Key, 1 + e.b % 6, 0});
            break;
        }
        break;
    case ExploreKind::Option:
        if (e.a == 0)
            w->options.tuneSearch = w->options.tuneSearch.load() == 1 ? 0 : 1;
        else if (e.a == 1)
            w->tuneOpt.fetch_xor(1);
        else
            w->swrTimeoutIdx = static_cast<uint8_t>(e.b % 5);
        break;
    case ExploreKind::Wait:
        for (int i = 0; i < e.a * 100; i++)
            Pass(x, u.driveW);
        break;
    }
}

// Runs the passes after an event until the unit settles (at most 20 s), then
// checks every invariant. "" when all hold.
std::string Step(Runner &u, const ExploreEvent &e) {
    World &x = u.x;
    Works *w = x.w();
    int bank = w->numBanco.load();
    Apply(u, e);
    int quiet = 0;
    bool settled = false;
    const long fm0 = x.fmPolls;
    for (int i = 0; i < 2000; i++) {
        Pass(x, u.driveW);
        if (w->tuneState.load() != 0) u.tuneWord = true;
        // In generic mode the unit learns the frequency from the board's
        // measurement only: an answer to "FM;" after the event, within a
        // second (what an operator waits for a band change), comes first.
        bool measured = w->ModeWorkIdx.load() != 0 || x.fmPolls > fm0 + 1 || i >= 100;
        quiet = Settled(x) && measured ? quiet + 1 : 0;
        if (quiet >= 3 && i >= 4) {
            settled = true;
            break;
        }
    }
    if (w->numBanco.load() != bank) u.manualWord = u.tuneWord = u.alarmStandby = false;
    Checker c;
    CheckAlive(x, c, settled);
    CheckOrphans(x, c);
    if (w->errCount.load() > 0) u.alarmStandby = true;
    CheckBoard(x, c, u.manualWord, u.tuneWord, u.alarmStandby);
    CheckScreen(x, c);
    CheckFiles(x, c);
    u.checks++;
    return c.fail;
}

std::string Snapshot(World &x) {
    Works *w = x.w();
    std::string s = "wire (newest last):\n";
    for (const Wire &wr : x.wire)
        s += "  " + wr.cmd + " -> " + wr.reply + "\n";
    char boxes[6][128];
    InfoBarBoxes(w, boxes);
    s += "screen: menu " + Num(w->menuIdx.load()) + ", keys:";
    for (int k = 1; k <= 6; k++)
        s += std::string(" [") + KeyLabel(w->menuIdx.load(), k, 1) + "|" +
             KeyLabel(w->menuIdx.load(), k, 2) + "]";
    s += "\n  information bar:";
    for (auto &b : boxes)
        s += std::string(" [") + b + "]";
    s += "\nunit: bank " + Num(w->numBanco.load()) + ", freq " + Num(w->freq.load()) + ", radio " +
         Num(x.radioFreq) + ", antenna " + Num(w->antenna.load() + 1) + ", attenuator " +
         Num(w->attenuator.load()) + ", bypass " + Num(w->bypass.load()) + ", tune state " +
         Num(w->tuneState.load()) + ", manual " + Num(w->manualTune.load()) + ", word " +
         Num(w->tunerWord.load()) + "\n";
    s += "board: antenna " + Num(x.board.antenna) + ", pads " + PadsName(x.board) + ", bypass " +
         Num(x.board.bypass) + ", protection " + Num(x.board.protection) + ", word " +
         Num(x.board.tunerWord) + ", filter " + Num(x.board.filterMask) + ", frequency " +
         Num(x.board.freq) + ", drive " + Num(static_cast<long>(x.board.driveW * 10)) + "\n";
    s += "link: state " + Num(w->linearProcessStatus.load()) + ", next in " +
         Num(static_cast<long>(x.linkAt) - static_cast<long>(x.now)) + " ms, answered " +
         Num(x.answered) + "\n";
    s += "errors:";
    for (int i = 0; i < kErrCodes; i++)
        if (ExistError(w, i)) s += " " + Num(i);
    s += "\nfiles:\n";
    for (auto &[path, text] : x.files) {
        std::string now = Read(path);
        if (now != x.initial[path]) s += "  " + UnresolvePath(path) + ":\n" + now;
    }
    return s;
}

// The unit's development traces go nowhere while a sequence runs.
struct QuietTraces {
    int saved = dup(2);
    QuietTraces() {
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, 2);
            close(null);
        }
    }
    ~QuietTraces() {
        if (saved >= 0) {
            dup2(saved, 2);
            close(saved);
        }
    }
};

std::string Run(const std::vector<ExploreEvent> &events, std::string *detail, long *checks) {
    QuietTraces quiet;
    Runner u;
    for (size_t i = 0; i < events.size(); i++) {
        std::string fail = Step(u, events[i]);
        if (checks) *checks += 1;
        if (std::getenv("HELIX_EXPLORE_TRACE") != nullptr)
            std::printf("== %s: %s\n%s", ExploreEventText(events[i]).c_str(),
                        fail.empty() ? "ok" : fail.c_str(), Snapshot(u.x).c_str());
        if (!fail.empty()) {
            if (detail)
                *detail = "after event " + Num(static_cast<long>(i + 1)) + " (" +
                          ExploreEventText(events[i]) + "), mode " +
                          Num(u.x.w()->ModeWorkIdx.load()) + ", tunes started " +
                          Num(u.x.tunesStarted) + ", tune state " + Num(u.x.w()->tuneState.load()) +
                          "\n" + Snapshot(u.x);
            return fail;
        }
    }
    return "";
}

// What a failure is, without the numbers a shorter sequence may change: the
// shrinking keeps to sequences that fail the same way.
std::string Kind(const std::string &fail) {
    std::string line = fail.substr(0, fail.find('\n')), out;
    for (char ch : line)
        if (ch < '0' || ch > '9') out.push_back(ch);
    return out;
}

// Delta debugging: drops chunks of events, halving the chunk size, while the
// same invariant still fails.
std::vector<ExploreEvent> Shrink(std::vector<ExploreEvent> events, const std::string &fail) {
    const std::string want = Kind(fail);
    for (size_t chunk = events.size() / 2; chunk >= 1; chunk /= 2) {
        for (size_t at = 0; at + chunk <= events.size();) {
            std::vector<ExploreEvent> t(events.begin(), events.begin() + static_cast<long>(at));
            t.insert(t.end(), events.begin() + static_cast<long>(at + chunk), events.end());
            if (!t.empty() && Kind(Run(t, nullptr, nullptr)) == want)
                events = t;
            else
                at += chunk;
        }
        if (chunk == 1) break;
    }
    return events;
}

} // namespace

const char *ExploreKindName(ExploreKind k) {
    static const char *const kNames[] = {"key",   "qsy",    "drive",  "load",
                                         "board", "remote", "option", "wait"};
    return kNames[static_cast<int>(k)];
}

std::string ExploreEventText(const ExploreEvent &e) {
    static const char *const kBoard[] = {"trip on", "trip off", "over-temperature",
                                         "cool",    "silent",   "micro reset"};
    char buf[96];
    switch (e.kind) {
    case ExploreKind::Key:
        std::snprintf(buf, sizeof buf, "key %d %s", e.a, e.b ? "long" : "short");
        break;
    case ExploreKind::Qsy:
        std::snprintf(buf, sizeof buf, "qsy %d", e.a);
        break;
    case ExploreKind::Drive:
        std::snprintf(buf, sizeof buf, "drive %.1f W", e.a / 10.0);
        break;
    case ExploreKind::Load:
        std::snprintf(buf, sizeof buf, "load %.0f%+.0fj ohm", kLoads[e.a % 5].r, kLoads[e.a % 5].x);
        break;
    case ExploreKind::Board:
        std::snprintf(buf, sizeof buf, "board %s", kBoard[e.a % kBoardEvents]);
        break;
    case ExploreKind::Remote:
        if (e.a == 3)
            std::snprintf(buf, sizeof buf, "remote key %d", 1 + e.b % 6);
        else
            std::snprintf(buf, sizeof buf, "remote %s",
                          e.a == 0   ? "bank"
                          : e.a == 1 ? "stand-by"
                                     : "operate");
        break;
    case ExploreKind::Option:
        if (e.a == 2)
            std::snprintf(buf, sizeof buf, "option tune time-out %d", e.b % 5);
        else
            std::snprintf(buf, sizeof buf, "option %s toggled",
                          e.a == 0 ? "model search" : "automatic tune");
        break;
    case ExploreKind::Wait:
        std::snprintf(buf, sizeof buf, "wait %d s", e.a);
        break;
    }
    return buf;
}

std::vector<ExploreEvent> ExploreDraw(uint64_t seed, int count) {
    std::mt19937_64 rng(seed);
    auto pick = [&](int n) { return static_cast<int32_t>(rng() % static_cast<uint64_t>(n)); };
    std::vector<ExploreEvent> out;
    int32_t radio = 14070000;
    for (int i = 0; i < count; i++) {
        ExploreEvent e;
        int r = pick(100);
        if (r < 50) {
            e = {ExploreKind::Key, 1 + pick(6), pick(5) == 0 ? 1 : 0};
        } else if (r < 62) {
            int how = pick(10);
            int32_t f;
            if (how < 4) // inside the band: a few kHz on
                f = radio + (pick(21) - 10) * 1000;
            else if (how < 9)
                f = kInBand[pick(sizeof kInBand / sizeof kInBand[0])];
            else
                f = kOutside[pick(sizeof kOutside / sizeof kOutside[0])];
            radio = f;
            e = {ExploreKind::Qsy, f, 0};
        } else if (r < 72) {
            e = {ExploreKind::Drive, pick(2) == 0 ? 0 : 2 + pick(8), 0};
        } else if (r < 76) {
            e = {ExploreKind::Load, pick(5), 0};
        } else if (r < 84) {
            e = {ExploreKind::Board, pick(kBoardEvents), pick(6)};
        } else if (r < 91) {
            e = {ExploreKind::Remote, pick(4), pick(6)};
        } else if (r < 95) {
            e = {ExploreKind::Option, pick(3), pick(5)};
        } else {
            e = {ExploreKind::Wait, 1 + pick(10), 0};
        }
        out.push_back(e);
    }
    return out;
}

std::string ExploreReplay(const std::vector<ExploreEvent> &events, std::string *detail) {
    return Run(events, detail, nullptr);
}

ExploreReport Explore(const ExploreOptions &opt) {
    ExploreReport rep;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < opt.count; i++) {
        uint64_t seed = opt.seed + static_cast<uint64_t>(i);
        std::vector<ExploreEvent> events = ExploreDraw(seed, opt.events);
        for (const ExploreEvent &e : events)
            rep.kinds[static_cast<int>(e.kind)]++;
        std::string detail;
        std::string fail = Run(events, &detail, &rep.checks);
        rep.sequences++;
        rep.events += static_cast<long>(events.size());
        if (opt.verbose)
            std::fprintf(stdout, "sequence %d (seed %llu): %s\n", i,
                         static_cast<unsigned long long>(seed), fail.empty() ? "ok" : fail.c_str());
        if (fail.empty()) continue;
        if (opt.survey) {
            std::printf("seed %llu: %s | %s\n", static_cast<unsigned long long>(seed),
                        detail.substr(0, detail.find('\n')).c_str(), fail.substr(0, 160).c_str());
            std::fflush(stdout);
            rep.surveyFailures++;
            continue;
        }
        rep.violated = true;
        rep.failingSeed = seed;
        rep.failingSequence = i;
        rep.invariant = fail;
        rep.shrunk = opt.shrink ? Shrink(events, fail) : events;
        std::string why = Run(rep.shrunk, &rep.detail, nullptr);
        rep.invariant = why.empty() ? fail : why;
        if (why.empty()) rep.detail = detail;
        break;
    }
    rep.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return rep;
}

std::vector<ExploreEvent> ExploreParse(const std::string &text) {
    std::vector<ExploreEvent> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        ExploreEvent e{};
        int k = 0, a = 0, b = 0;
        if (std::sscanf(line.c_str(), "%d %d %d", &k, &a, &b) != 3 || k < 0 || k > 7) continue;
        e.kind = static_cast<ExploreKind>(k);
        e.a = a;
        e.b = b;
        out.push_back(e);
    }
    return out;
}
