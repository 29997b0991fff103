#include "amplifier/commands.h"

#include "model/board_cmds.h"
#include "model/cmd_queue.h"
#include "amplifier/linear.h"
#include "amplifier/tune.h"
#include "config/tuner_memory.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <cstdio>
#include <cstring>

namespace {

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
    case kCmdTunerStored:
        LoadTuneFromMEM(w, w->antenna.load());
        w->tunerThrough = 0;
        break;
    case kCmdTunerThrough: {
        w->tunerThrough = 1;
        uint32_t word = w->tunerWord.load();
        word |= 1u << 16;
        word &= ~((1u << 18) | (1u << 23));
        w->tunerWord = word;
        break;
    }
    default: // kCmdTunerClear
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
    const BoardCmdRow *row = FindBoardCmd(code);
    if (row == nullptr) return -1;
    int n = row->format != nullptr ? row->format(w, text, cap)
                                   : std::snprintf(text, cap, "%s", row->text);
    if (n < 0 || static_cast<size_t>(n) >= cap) return -1;
    // Every command text starts with the two letters it is recorded by.
    letters[0] = text[0];
    letters[1] = text[1];
    return n;
}

int SetAttenuatorCMD(Works *w, int value, int code) {
    const char *text = AttenuatorText(value);
    const char letters[2] = {'A', 'T'};
    int r = Send(w, code, text, static_cast<int>(std::strlen(text)), letters);
    Trace(">> %s\n", text);
    return r;
}

void AttivaDisattivaProtezione(Works *w, int on) {
    if (on == 1) {
        IncPNTIn_CMDLinear(kCmdProtectionOn, w);
        IncPNTIn_CMDLinear(kCmdAttenuatorMax, w);
        Trace("PROTEZIONE ON -------------\n");
    } else {
        IncPNTIn_CMDLinear(kCmdProtectionOff, w);
        Trace("PROTEZIONE OFF -------------\n");
    }
}

int LinearSendCommand(Works *w, int code) {
    switch (code) {
    case kCmdAttenuator:
        return SetAttenuatorCMD(w, w->attenuator.load(), kCmdAttenuator);
    case kCmdAttenuatorTune:
        return SetAttenuatorCMD(w, w->attenuatorTune.load(), kCmdAttenuatorTune);
    case kCmdAttenuatorMax:
        return SetAttenuatorCMD(w, 3, kCmdAttenuatorMax);
    case kCmdTunerStored:
    case kCmdTunerThrough:
    case kCmdTunerClear:
        return SendTunerWord(w, code);
    case kCmdWriteSettings:
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
    case kCmdTunerWord:
        w->tunerThrough = (w->tunerWord.load() >> 16) & 1;
        break;
    case kCmdAmpInLine:
        w->bypassReq = 0;
        Trace(">> %s\n", text);
        break;
    case kCmdAmpBypass:
        w->bypassReq = 1;
        w->attenuatorShown = 4;
        Trace(">> %s\n", text);
        break;
    case kCmdInput:
    case kCmdFan:
    case kCmdPowerSettings:
    case kCmdFilter:
    case kCmdGenericMode:
        Trace(">> %s\n", text);
        break;
    case kCmdReadSettings:
        Trace(">>r: %s\n", text);
        break;
    case kCmdFwUpdate:
        // The board goes into its firmware loader: leave it alone for good.
        w->linkFlags.fetch_or(4);
        w->linearProcessStatus = kLinParked;
        break;
    default:
        break;
    }
    return r;
}
