#include "tune_rig.h"

#include "amplifier/tune.h"
#include "config/tuner_memory.h"
#include "model/errors.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>

TuneRig::TuneRig() {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    Works *wk = w();
    wk->linFD = fds[0];
    wk->linearProcessStatus = kLinStatus;
    wk->errSuspend = 0;
    wk->microReady = 1;
    wk->ModeWorkIdx = 2; // FT-817: the board's transmit bit is the go signal
    wk->freq = static_cast<int32_t>(board.freq);
    board.bypass = false;
    board.microReset = false;
    board.tunerModel = true;
}

TuneRig::~TuneRig() {
    w()->linFD = -1;
    for (int fd : fds)
        if (fd >= 0) close(fd);
}

namespace {

// Runs the link until it waits for a reply (a command went out), or at most
// a few passes (nothing to send).
bool SendNext(TuneRig *r) {
    for (int i = 0; i < 8; i++) {
        if (r->w()->linearProcessStatus.load() == kLinWait) return true;
        int pause = LinearStep(r->w(), &r->link, r->now);
        r->now += static_cast<uint64_t>(pause > 0 ? pause : 0);
    }
    return r->w()->linearProcessStatus.load() == kLinWait;
}

double ThreadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

std::string ReadFrame(int fd) {
    std::string frame;
    char c;
    while (read(fd, &c, 1) == 1) {
        frame.push_back(c);
        if (c == ';') break;
    }
    return frame;
}

} // namespace

std::string TuneRigExchange(TuneRig *r) {
    if (!SendNext(r)) return "";
    std::string frame = ReadFrame(r->fds[1]);
    std::string cmd = frame.size() > 2 ? frame.substr(2) : frame;
    r->sent.push_back(cmd);
    if (r->onCommand) r->onCommand(*r, cmd);
    std::string reply = SimBoardFrame(SimBoardAnswer(r->board, cmd, r->now, &r->modelMs), false);
    ssize_t n = write(r->fds[1], reply.data(), reply.size());
    (void)n;
    // Read and decode the reply, byte by byte as the link does.
    for (size_t i = 0; i < reply.size() + 4; i++) {
        int st = r->w()->linearProcessStatus.load();
        if (st != kLinWait && st != kLinDecode) break;
        bool step = st == kLinDecode && r->w()->tuneState.load() == 1 && cmd == "ST;";
        double t0 = step ? ThreadCpuUs() : 0.0;
        int pause = LinearStep(r->w(), &r->link, r->now);
        // The step that ends the tune also writes the tuner-memory file: not
        // search compute, left out.
        if (step && r->w()->tuneState.load() != 0) {
            double us = ThreadCpuUs() - t0;
            r->stepCpuUs += us;
            r->stepCpuMaxUs = std::max(r->stepCpuMaxUs, us);
            r->stepCount++;
        }
        r->now += static_cast<uint64_t>(pause > 0 ? pause : 0);
    }
    return cmd;
}

const char *TuneOutcomeName(TuneOutcome o) {
    switch (o) {
    case TuneOutcome::Success:
        return "success";
    case TuneOutcome::State12:
        return "state 12";
    case TuneOutcome::TimeOut:
        return "time-out";
    case TuneOutcome::Stopped:
        break;
    }
    return "not ended";
}

float TuneRigBestSwr(const SimBoardState &st, float fwdW, uint32_t *word) {
    SimBoardState s = st;
    uint32_t bestWord = 1u << 16;
    float best = SimBoardMeasuredSwr(s, fwdW, SimBoardReflection(s, bestWord));
    // The banks' 512 steps once, then every combination.
    double hz = s.freq > 0 ? static_cast<double>(s.freq) : 14070000.0;
    Cplx zLoad = SimLoadImpedance(s.load, hz);
    std::vector<Cplx> zs(512), yc(512);
    for (int i = 0; i < 512; i++) {
        zs[i] = SimTunerSeriesZ(i, hz, s.parts);
        yc[i] = SimTunerShuntY(i, hz, s.parts);
    }
    for (uint32_t mode : {1u << 23, 1u << 18})
        for (int l = 0; l < 512; l++)
            for (int c = 0; c < 512; c++) {
                uint32_t wd = mode | SimTunerWordL(l) | SimTunerWordC(c);
                double g = SimReflection(SimTunerNetwork(mode == (1u << 18), zs[l], yc[c], zLoad));
                float swr = SimBoardMeasuredSwr(s, fwdW, g);
                if (swr < best) {
                    best = swr;
                    bestWord = wd;
                }
            }
    if (word != nullptr) *word = bestWord;
    return best;
}

TuneRunResult TuneRigRun(TuneRig *r, bool exhaustive, int maxExchanges) {
    TuneRunResult res;
    Works *w = r->w();
    w->freq = static_cast<int32_t>(r->board.freq);
    bool hadTimeoutError = ExistError(w, 12) || ExistError(w, 13);
    StartAutotune(w);
    float fwdSeen = 0.0f;
    while (w->tuneState.load() != 0 && res.exchanges < maxExchanges) {
        TuneRigExchange(r);
        res.exchanges++;
        if (w->tuneState.load() != 0) fwdSeen = SimBoardForward(r->board);
    }
    bool ended = w->tuneState.load() == 0;
    if (!ended) EscAutoTune(w, 0);
    res.samples = cnttuneLast;
    if (!ended) {
        res.outcome = TuneOutcome::Stopped;
    } else if (!hadTimeoutError && (ExistError(w, 12) || ExistError(w, 13))) {
        res.outcome = TuneOutcome::TimeOut;
    } else if (TuneSampleValid(tuneParam) && tuneParam.swr < w->swrTarget.load() &&
               tuneParam.swr > 0.01f) {
        res.outcome = TuneOutcome::Success;
    } else {
        res.outcome = TuneOutcome::State12;
    }
    // The tuner word the last step chose goes out after it.
    for (int i = 0; i < 4 && w->linearProcessStatus.load() != kLinStatus; i++)
        TuneRigExchange(r);
    res.finalWord = r->board.tunerWord;
    res.finalSwr =
        SimBoardMeasuredSwr(r->board, fwdSeen, SimBoardReflection(r->board, r->board.tunerWord));
    res.wordIsBest = res.finalWord == miglioretuneParam.tunerWord;
    int32_t from, to;
    int first, end;
    int idx = AtuIdxSearch(w->freq.load(), &from, &to, &first, &end);
    TuneEntry e{};
    LoadTuneValFromTabRam(&e, idx, w->antenna.load(), w);
    if (e.valid != 0) {
        uint32_t mode = e.mode == 2 ? 1u << 18 : e.mode == 3 ? 1u << 16 : 1u << 23;
        res.stored =
            (mode | SimTunerWordL(e.L) | SimTunerWordC(e.C)) == (res.finalWord & 0x00FFFFFFu);
    }
    if (exhaustive) res.bestSwr = TuneRigBestSwr(r->board, fwdSeen, &res.bestWord);
    res.cpuUsPerStep = r->stepCount > 0 ? r->stepCpuUs / r->stepCount : 0.0;
    res.cpuUsMax = r->stepCpuMaxUs;
    return res;
}
