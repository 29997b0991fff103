#include "amplifier/commands.h"

#include "model/cmd_queue.h"
#include "amplifier/linear.h"
#include "amplifier/tune.h"
#include "config/tuner_memory.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Every field has a fixed width on the wire; a value that would not fit is
// held at the nearest value that does, so the board never sees a longer text.
int Fit(int v, int lo, int hi) {
    return std::clamp(v, lo, hi);
}

const char *const kAttText[4] = {"AT00;", "AT01;", "AT10;", "AT11;"};

// The commands without fields, by queue code.
struct FixedCmd {
    int code;
    const char *text;
};
constexpr FixedCmd kFixedCmds[] = {
    {0, "VSM;"},  {1, "ST;"},      {8, "FM;"},      {10, "MT;"},     {13, "CPFFFF;"}, {16, "AT11;"},
    {17, "MP0;"}, {18, "MP1;"},    {19, "AB0;"},    {20, "AB1;"},    {30, "MR1;"},    {32, "MR0;"},
    {34, "GS;"},  {36, "ER0000;"}, {37, "ER0001;"}, {38, "ER0002;"},
};

// Takes the tuner-word flag with one atomic test-and-set; gives up when the
// program stops.
bool TakeTuneSem(Works *w) {
    while (w->tuneSem.exchange(1) != 0) {
        if (w->running.load() == 0) return false;
        SleepUs(1);
    }
    return true;
}

int Send(Works *w, int code, const char *text, int n, const char letters[2]) {
    LastCmdSent(w, letters[0], letters[1], code);
    int r = writeLinearPort(w->linFD.load(), text, static_cast<size_t>(n), w);
    w->linearProcessStatus = kLinWait;
    return r;
}

int SendTunerWord(Works *w, int code) {
    if (!TakeTuneSem(w)) return -1;
    switch (code) {
    case 27:
        LoadTuneFromMEM(w, w->antenna.load());
        w->tunerThrough = 0;
        break;
    case 39: {
        w->tunerThrough = 1;
        uint32_t word = w->tunerWord.load();
        word |= 1u << 16;
        word &= ~((1u << 18) | (1u << 23));
        w->tunerWord = word;
        break;
    }
    default: // 40: tuner cleared
        w->tunerThrough = 0;
        w->tuneC = 0;
        w->tuneL = 0;
        w->tunerWord = 1u << 23;
        break;
    }
    char text[32], letters[2];
    int n = FormatLinearCmd(w, code, text, sizeof text, letters);
    int r = Send(w, code, text, n, letters);
    w->tuneSem = 0;
    return r;
}

} // namespace

int FormatLinearCmd(Works *w, int code, char *text, size_t cap, char letters[2]) {
    int n = -1;
    for (const FixedCmd &c : kFixedCmds)
        if (c.code == code) n = std::snprintf(text, cap, "%s", c.text);
    switch (code) {
    case 7:
        n = std::snprintf(text, cap, "SA%d;", Fit(w->antenna.load() + 1, 0, 9));
        break;
    case 9:
        n = std::snprintf(text, cap, "FA%011lu;",
                          static_cast<unsigned long>(static_cast<uint32_t>(w->freq.load())));
        break;
    case 11:
    case 27:
    case 39:
    case 40:
        n = std::snprintf(text, cap, "MT1%08X;", static_cast<unsigned>(w->tunerWord.load()));
        break;
    case 12:
        n = std::snprintf(text, cap, "FS%01d%04d;", Fit(w->fsMode.load(), 0, 9),
                          Fit(w->fsValue.load() / 10, 0, 9999));
        break;
    case 14:
    case 15: {
        int v = code == 14 ? w->attenuator.load() : w->attenuatorTune.load();
        n = std::snprintf(text, cap, "%s", kAttText[Fit(v, 0, 3)]);
        break;
    }
    case 21:
        n = std::snprintf(text, cap, "AN%d;", Fit(w->antInput.load(), 0, 9));
        break;
    case 22:
        n = std::snprintf(text, cap, "TS%04d%04d%04d%04d;", Fit(w->tsThreshold[0].load(), 0, 9999),
                          Fit(w->tsThreshold[1].load(), 0, 9999),
                          Fit(w->tsThreshold[2].load(), 0, 9999),
                          Fit(w->tsThreshold[3].load(), 0, 9999));
        break;
    case 23:
        if (w->fanTarget.load() < 50)
            n = std::snprintf(text, cap, "FN0050;");
        else
            n = std::snprintf(text, cap, "FN1%03d;", Fit(w->fanTarget.load(), 0, 999));
        break;
    case 24:
        n = std::snprintf(text, cap, "PS%04d%04d%04d%04d;", Fit(w->psValue[0].load(), 0, 9999),
                          Fit(w->psValue[1].load(), 0, 9999), Fit(w->psValue[2].load(), 0, 9999),
                          Fit(w->psValue[3].load(), 0, 9999));
        break;
    case 28:
        n = std::snprintf(text, cap, "SF30000%02x;", static_cast<unsigned>(w->filterBits.load()));
        break;
    case 33:
        n = std::snprintf(text, cap, "GM%04d%04d;", Fit(w->gmValue[0].load(), 0, 9999),
                          Fit(w->gmValue[1].load(), 0, 9999));
        break;
    case 35:
        n = std::snprintf(text, cap, "GS%.10s;", w->genSettings);
        break;
    default:
        break;
    }
    if (n < 0 || static_cast<size_t>(n) >= cap) return -1;
    // Every command text starts with the two letters it is recorded by.
    letters[0] = text[0];
    letters[1] = text[1];
    return n;
}

int SetAttenuatorCMD(Works *w, int value, int code) {
    const char *text = kAttText[Fit(value, 0, 3)];
    const char letters[2] = {'A', 'T'};
    int r = Send(w, code, text, static_cast<int>(std::strlen(text)), letters);
    Trace(">> %s\n", text);
    return r;
}

void AttivaDisattivaProtezione(Works *w, int on) {
    if (on == 1) {
        IncPNTIn_CMDLinear(18, w);
        IncPNTIn_CMDLinear(16, w);
        Trace("PROTEZIONE ON -------------\n");
    } else {
        IncPNTIn_CMDLinear(17, w);
        Trace("PROTEZIONE OFF -------------\n");
    }
}

int LinearSendCommand(Works *w, int code) {
    switch (code) {
    case 14:
        return SetAttenuatorCMD(w, w->attenuator.load(), 14);
    case 15:
        return SetAttenuatorCMD(w, w->attenuatorTune.load(), 15);
    case 16:
        return SetAttenuatorCMD(w, 3, 16);
    case 27:
    case 39:
    case 40:
        return SendTunerWord(w, code);
    case 35:
        if (w->ModeWorkIdx.load() != 0)
            w->genSettings[1] = static_cast<char>(w->genSettings[1] & ~2);
        else
            w->genSettings[1] = static_cast<char>(w->genSettings[1] | 2);
        break;
    default:
        break;
    }
    char text[64], letters[2];
    int n = FormatLinearCmd(w, code, text, sizeof text, letters);
    if (n < 0) return -1;
    int r = Send(w, code, text, n, letters);
    switch (code) {
    case 11:
        w->tunerThrough = (w->tunerWord.load() >> 16) & 1;
        break;
    case 19:
        w->bypassReq = 0;
        Trace(">> %s\n", text);
        break;
    case 20:
        w->bypassReq = 1;
        w->attenuatorShown = 4;
        Trace(">> %s\n", text);
        break;
    case 21:
    case 23:
    case 24:
    case 28:
    case 33:
        Trace(">> %s\n", text);
        break;
    case 34:
        Trace(">>r: %s\n", text);
        break;
    case 30:
        // The board goes into its firmware loader: leave it alone for good.
        w->linkFlags.fetch_or(4);
        w->linearProcessStatus = kLinParked;
        break;
    default:
        break;
    }
    return r;
}
