#include "amplifier/decode.h"

#include "model/cmd_queue.h"
#include "amplifier/linear.h"
#include "amplifier/temperature.h"
#include "amplifier/tune.h"
#include "config/band_table.h"
#include "amplifier/temp_log.h"
#include "config/fan_table.h"
#include "model/works.h"
#include "platform/log.h"
#include "platform/wait.h"
#include "model/errors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int charToInt(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

float SearchK(Works *w, int type) {
    static const float kDefault[4] = {5.156579e-6f, 3.3262754e-6f, 5.5078103e-6f, -0.007f};
    if (type < 0 || type > 3) return 1.0f;
    if (w->bandTabCount == 0 || w->bandTab == nullptr) return kDefault[type];
    int row = BandRowForFreq(w->bandTab, w->bandTabCount, w->freq.load());
    if (row < 0) return 1.0f;
    const BandConfig &r = w->bandTab[row];
    const float k[4] = {r.K0, r.K1, r.K2, r.K3};
    // A refused row (or a zero calibration) has no coefficient: the default.
    return std::isfinite(k[type]) ? k[type] : kDefault[type];
}

float CalcSwr(float fwd, float refl) {
    float swr = 0.0f;
    if (fwd > 0.3f) {
        if (fwd < refl) {
            swr = 100.0f;
        } else {
            float rho = std::sqrt(refl / fwd);
            swr = rho == 1.0f ? 100.0f : (1.0f + rho) / (1.0f - rho);
        }
    } else if (refl > 0.5f) {
        swr = 100.0f;
    }
    return std::min(swr, 100.0f);
}

namespace {

// Four characters at `off` read as a decimal number.
int Field4(const char *r, int off) {
    char f[5];
    std::memcpy(f, r + off, 4);
    f[4] = '\0';
    return std::atoi(f);
}

float Reading(const char *r, int off) {
    return static_cast<float>(static_cast<unsigned>(Field4(r, off)));
}

float Smooth(float old, float now) {
    return old == 0.0f ? now : (9.0f * old + now) / 10.0f;
}

void ClearProtectionFlags(Works *w) {
    w->errFlags.fetch_and(static_cast<uint8_t>(~3));
}

void TakeBoardStateAsTruth(Works *w, uint8_t s0, uint8_t s1) {
    if ((s1 & 8) && w->bypass.load() == 0) {
        w->bypass = 1;
        Trace("STATE DA ERRORE : bypass on\n");
    } else if (!(s1 & 8) && w->bypass.load() == 1) {
        w->bypass = 0;
        Trace("STATE DA ERRORE : bypass off\n");
    }
    bool pad3 = s0 & 8, pad2 = s0 & 4;
    uint8_t att = pad3 && pad2 ? 3 : pad3 ? 2 : pad2 ? 1 : 0;
    if (att == w->attenuator.load()) return;
    w->attenuator = att;
    w->attenuatorShown = att;
    static const char *const kMsg[4] = {
        "STATE DA ERRORE : attenuatore 3dB=off 2dB=off\n",
        "STATE DA ERRORE : attenuatore 3dB=off 2dB=on\n",
        "STATE DA ERRORE : attenuatore 3dB=on 2dB=off\n",
        "STATE DA ERRORE : attenuatore 3dB=on 2dB=on\n",
    };
    TraceRaw(kMsg[att]);
}

// Status replies of the tunes so far (the link thread's own count).
int tuneStatuses = 0;
constexpr int kTuneFreqPollEvery = 4;

// The three status bytes (into s[0..2]), the transmit bit and the bypass
// the board reports.
void StatusBytes(Works *w, const char *r, int mode, uint8_t s[3]) {
    uint8_t s0 = static_cast<uint8_t>(charToInt(r[2]));
    uint8_t s1 = static_cast<uint8_t>(charToInt(r[3]));
    uint8_t s2 = static_cast<uint8_t>(charToInt(r[28]) + 16 * charToInt(r[29]));
    w->boardStatus[0] = s0;
    w->boardStatus[1] = s1;
    w->boardStatus[2] = s2;
    // Without the TAV transceiver, a rig daemon or the logger (the supervisor
    // follows theirs) nothing else tells the tune that a carrier is on: the board's
    // transmit bit does.
    if (mode != 1 && mode != 3 && mode != 4) w->txReady = (s1 & 1) ? 1 : 0;

    if ((s1 & 8) && w->bypass.load() == 0 && w->bypassReq.load() == 1) {
        Trace("--------------- AMPL ERRORE : bypass on %s\n", r);
        w->bypass = 1;
    } else if (!(s1 & 8) && w->bypass.load() == 1 && w->bypassReq.load() == 0) {
        Trace("--------------- AMPL ERRORE : bypass off %s\n", r);
        w->bypass = 0;
    }
    if (ExistError(w, kErrBoardComm)) TakeBoardStateAsTruth(w, s0, s1);
    s[0] = s0;
    s[1] = s1;
    s[2] = s2;
}

// The name of the highest trip bit of S2, the detail of kErrProtectionTrip.
void TripLabel(Works *w, uint8_t s2) {
    static const char *const kTrip[5] = {"I OUT", "REFL", "FWD", "SENS PW", "FILTER TX"};
    char label[sizeof w->tripLabel] = "";
    for (int b = 0; b < 5; b++)
        if (s2 & (1 << b)) std::snprintf(label, sizeof label, "%s", kTrip[b]);
    // The second line of kErrProtectionTrip's box; each new one is traced, so
    // that a reader of the trace shows the box as the screen does.
    if (std::strcmp(label, w->tripLabel) != 0) {
        SetErrDetail(w, kErrProtectionTrip, label);
        Trace("--------------- AMPL TRIP: %s\n", label);
    }
}

// The micro-reset, trip, input-power and high-SWR bits into the error list.
void ProtectionErrors(Works *w, uint8_t s1, uint8_t s2) {
    if ((s2 & 0x80) && w->microReady.load() == 1) AddErrore(w, kErrMicroReset);
    if (s2 & 0x5F) {
        if (s2 & 0x40) {
            AddErrore(w, kErrBandStandby);
        } else {
            TripLabel(w, s2);
            AddErrore(w, kErrProtectionTrip);
        }
    } else {
        DeleteErrore(w, kErrProtectionTrip);
        if (w->errFlags.load() & 2) ClearProtectionFlags(w);
    }
    if ((s2 & 0x20) && w->antInput.load() == 1 && w->tuneState.load() == 0 &&
        (w->tuneOpt.load() & kTuneOptHandShake) == 0)
        AddErrore(w, kErrInputPower);
    if (s1 & 2) {
        AddErrore(w, kErrHighSwr);
    } else {
        DeleteErrore(w, kErrHighSwr);
        if (w->errFlags.load() & 2) ClearProtectionFlags(w);
    }
    if (!(s1 & 4) && (w->errFlags.load() & 2)) ClearProtectionFlags(w);
}

// Powers, SWR, the fifth reading and the temperatures.
void Readings(Works *w, const char *r) {
    float k0 = SearchK(w, 0), k1 = SearchK(w, 1), k2 = SearchK(w, 2), k3 = SearchK(w, 3);
    float vIn = Reading(r, 4), vFwd = Reading(r, 8), vRefl = Reading(r, 12);
    w->rawPwr[0] = static_cast<uint16_t>(Field4(r, 4));
    w->rawPwr[1] = static_cast<uint16_t>(Field4(r, 8));
    w->rawPwr[2] = static_cast<uint16_t>(Field4(r, 12));
    w->pwrIn = vIn * k2 * vIn;
    float fwd = k0 * vFwd * vFwd;
    float refl = k1 * vRefl * vRefl + k3 * fwd;
    if (refl < 0.0f) refl = 0.0f;
    w->pwrFwd = fwd;
    w->pwrRefl = refl;
    w->swr = CalcSwr(fwd, refl);
    w->rawAux = static_cast<float>(Field4(r, 16));
    w->temp1 = Smooth(w->temp1.load(), CalcolaTemp(Field4(r, 20)));
    w->temp2 = Smooth(w->temp2.load(), CalcolaTemp(Field4(r, 24)));
    if (w->auxFwdEnable.load() == 1) {
        float v = Reading(r, 32);
        float cap = w->powerClass.load() == '1' ? 130.0f : 70.0f;
        w->pwrFwdAux = std::min(k0 * v * v, cap);
    }
}

// The command after a status reply, by the tune's state; returns the pause.
int NextAfterStatus(Works *w, int mode) {
    int pause = 10;
    const int state = w->tuneState.load();
    switch (state) {
    case 0: {
        int code;
        bool queued = TakeNextCmd(w, &code);
        w->linearProcessStatus = queued ? code : kLinFreqPoll;
        if (queued && w->cmdQueueDrain.load() == 1 && !PacingBySleep()) pause = 0;
        break;
    }
    case 1:
        // In generic mode the board's measurement is the frequency: it is
        // polled during a tune too (one status in kTuneFreqPollEvery), so that
        // a change of band ends the tune instead of tuning on, and storing
        // into, the old band's antenna and table.
        if (mode == 0 && ++tuneStatuses % kTuneFreqPollEvery == 0) {
            w->linearProcessStatus = kLinFreqPoll;
            break;
        }
        // What was queued meanwhile (a frequency, a setting the operator
        // asked for) goes out before the next step, not after the tune.
        if (int code; TakeNextCmd(w, &code)) {
            w->linearProcessStatus = code;
            break;
        }
        TuneTask(w);
        w->linearProcessStatus = kCmdTunerWord;
        break;
    case 2:
    case 3: {
        w->linearProcessStatus = state == 2 ? kCmdResetTrips : kLinStatus;
        // Back to tuning, unless a stop ended the tune meanwhile.
        uint8_t expect = static_cast<uint8_t>(state);
        w->tuneState.compare_exchange_strong(expect, 1);
        break;
    }
    default:
        w->linearProcessStatus = kLinStatus;
        break;
    }
    return pause;
}

int StatusReply(Works *w, const char *r) {
    // A good reply ends the failure run of the command before it.
    w->retryCount = 0;
    if (w->errResend.load() == 2) {
        GestErroreSerial(w);
        Trace(">>> ERRORI: End Gest Errori!!\n");
        w->errResend = 0;
    }
    // New readings (or status bits) are drawn at once.
    if (std::memcmp(w->statusSeen, r + 2, sizeof w->statusSeen) != 0) {
        std::memcpy(w->statusSeen, r + 2, sizeof w->statusSeen);
        WakeSupervisor(w);
    }
    const int mode = w->ModeWorkIdx.load();
    uint8_t s[3];
    StatusBytes(w, r, mode, s);
    ProtectionErrors(w, s[1], s[2]);
    if (w->tempLogOn.load() == 1 && (s[1] & 1) && w->tempLogStarted.load() == 0) {
        Trace("REMOVE file LOG \n");
        LogTempFunction(w, -1);
        LogTempFunction(w, 0);
        w->tempLogStarted = 1;
    }
    Readings(w, r);
    searchPercentVentola(w);
    GestTemperatureFunction(w, kErrTemp1Alarm, kErrTemp1AlarmEnded, kErrTemp1Warning,
                            w->temp1.load(), w->tempMax1.load());
    GestTemperatureFunction(w, kErrTemp2Alarm, kErrTemp2AlarmEnded, kErrTemp2Warning,
                            w->temp2.load(), w->tempMax2.load());
    return NextAfterStatus(w, mode);
}

// A status reply must reach the S2 digits before its ';' and carry hex
// status digits; anything else would be read past its end or turn into
// phantom trips.
bool StatusWellFormed(const char *r, int length) {
    if (length - 1 < 30) return false;
    // The six readings are four decimal digits each: a reply garbled on the
    // line is refused rather than read as a smaller number.
    for (int at = 4; at < 28; at++)
        if (r[at] < '0' || r[at] > '9') return false;
    return charToInt(r[2]) >= 0 && charToInt(r[3]) >= 0 && charToInt(r[28]) >= 0 &&
           charToInt(r[29]) >= 0;
}

void FillEePage(char *page, const char *r) {
    for (int k = 0; k < 32; k++)
        page[k] = static_cast<char>(charToInt(r[6 + 2 * k]) * 16 + charToInt(r[7 + 2 * k]));
}

// "GS": the board's ten general-setting characters.
void SettingsReply(Works *w, const char *r) {
    int n = 0;
    for (; n < 10; n++) {
        if (r[2 + n] == ';' || r[2 + n] == '\0') {
            Trace("ERRORE!! Impostazioni Generali\n");
            break;
        }
        w->genSettings[n] = r[2 + n];
    }
    w->genSettings[n] = '\0';
    Trace("Impostazioni Generali : %s (%s)\n", w->genSettings, r);
}

// "ER": an EEPROM page; page 2 names the board (options, power class).
void EepromReply(Works *w, const char *r) {
    if (r[5] == '0') {
        FillEePage(w->eePage0, r);
        Trace("EE0:%.32s\n", w->eePage0);
    } else if (r[5] == '1') {
        FillEePage(w->eePage1, r);
        Trace("EE1:%.32s\n", w->eePage1);
    } else if (r[5] == '2') {
        char page[32];
        FillEePage(page, r);
        w->boardOpt = static_cast<uint8_t>(page[0]);
        w->powerClass = page[1];
        number_ofStep_meter_FWD = page[1] == '1' ? 120 : 60;
        Trace("EE2: %x %x\n", static_cast<unsigned>(w->boardOpt.load()),
              static_cast<unsigned>(static_cast<uint8_t>(w->powerClass.load())));
    }
}

int Failed(Works *w, const char *fmt, const char *r) {
    Trace(fmt, r);
    GestRetrayCMD(w);
    return 20;
}

} // namespace

int DecodeCatCmd(Works *w, const char *text, int length) {
    if (length < 3) return -1;
    // A zero-padded copy, so fixed offsets never read past the reply.
    char r[kLinRxSize + 80];
    std::memset(r, 0, sizeof r);
    std::memcpy(r, text, static_cast<size_t>(std::min(length, kLinRxSize)));
    if (r[2] == '?' || r[2] == '!' || r[2] == '&')
        return Failed(w, "---------------------------------------CMD Errato:%s\n", r);

    const char x = r[0], y = r[1];
    auto is = [&](const char *c) { return x == c[0] && y == c[1]; };
    if (is("ST")) {
        if (!StatusWellFormed(r, length))
            return Failed(w, "---------------------------------------cmd non riconosciuto:%s\n", r);
        return StatusReply(w, r);
    }
    if (is("VS")) {
        std::memcpy(w->boardVersion, r + 3, 7);
        w->boardVersion[7] = '\0';
    } else if (is("SA")) {
        // Only a digit names an antenna; anything else would index past the tables.
        if (r[2] >= '1' && r[2] <= '9') w->antenna = r[2] - '0' - 1;
    } else if (is("FM")) {
        char f[12];
        std::memcpy(f, r + 3, 11);
        f[11] = '\0';
        long long v = std::atoll(f);
        if (v > 0 && v <= INT32_MAX && w->freqMeasured.exchange(static_cast<int32_t>(v)) != v)
            WakeSupervisor(w);
    } else if (is("CP")) {
        w->errSuspend.fetch_and(static_cast<uint8_t>(~1));
    } else if (is("AB")) {
        Trace(">> ByPass Ampl: %s\n", r);
        w->bypass = r[2] == '1' ? 1 : 0;
    } else if (is("AN")) {
        if (r[2] >= '0' && r[2] <= '9') w->antInput = r[2] - '0';
        if (w->txTest.load() & kTxTestInput0) w->txTest.fetch_or(kTxTestInputOk);
    } else if (is("FN")) {
        Trace("Ventola: %s\n", r);
    } else if (is("PS")) {
        Trace("Protezioni automatiche setted : %s\n", r);
    } else if (is("SF")) {
        Trace("Pilotaggio Relè : %s\n", r);
    } else if (is("SE")) {
        Trace("SERVICE ATTIVO!! : %s\n", r);
    } else if (is("GM")) {
        Trace("Impostazioni Generic mode : %s\n", r);
    } else if (is("FA") || is("MT") || is("FS") || is("AT") || is("MP") || is("TS")) {
        // acknowledged, nothing to keep
    } else if (is("MR")) {
        Trace("RESET MICRO: %s\n", r);
        if (r[2] == '0') w->microReady = 1;
        Trace("RESET MICRO ----------------------------------  %x\n", w->microReady.load());
    } else if (is("GS")) {
        SettingsReply(w, r);
    } else if (is("ER")) {
        EepromReply(w, r);
    } else {
        return Failed(w, "---------------------------------------cmd non riconosciuto:%s\n", r);
    }
    // Inside a batch the next command goes at once; otherwise the pause
    // before the next poll.
    return NextCmdPriority(w, kLinStatus) && !PacingBySleep() ? 0 : 20;
}
