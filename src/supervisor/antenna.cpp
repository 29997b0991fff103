#include "supervisor/antenna.h"

#include "model/cmd_queue.h"
#include "config/antenna_banks.h"
#include "config/tuner_memory.h"
#include "model/works.h"
#include "platform/log.h"
#include "ui/menu.h"
#include "ui/status.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int kAntennas = 3;
constexpr int kAttSteps = 4; // attenuator indices 0..3 ("StBy" is not stored in a row)

// Queues the stored-tune, clear or through code for the current frequency.
// Returns 0 when a code was queued or none was due, -1 when the ring refused it.
int QueueTuneVal(Works *w, int clearIfNone) {
    if (w->tuneState.load() != 0) return 0; // a tune is running: leave the tuner to it
    int32_t segFrom, segTo;
    int first, end;
    int idx = AtuIdxSearch(w->freq.load(), &segFrom, &segTo, &first, &end);
    int code;
    if (EsisteTuneValInTabRam(w, idx, first, end, w->antenna.load()) == 0)
        code = kCmdTunerStored;
    else
        code = clearIfNone != 0 ? kCmdTunerClear : kCmdTunerThrough;
    return IncPNTIn_CMDLinear(code, w);
}

// Writes `fmt` at `pos` of the 44-byte text: as much as fits before byte 44.
// A value wider than its field runs on into the next one, which overwrites it.
void PutField(char *text, int pos, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void PutField(char *text, int pos, const char *fmt, ...) {
    char buf[64];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    size_t len = std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1);
    len = std::min<size_t>(len, static_cast<size_t>(kStatusTextLen - pos));
    std::memcpy(text + pos, buf, len);
}

} // namespace

int AntennaRowOf(Works *w, int32_t freq) {
    AntennaRow tab[kAntRows];
    int rows = CopyAntTab(w, tab);
    for (int i = 0; i < rows; i++)
        if (tab[i].fStart <= freq && freq <= tab[i].fStop) return i;
    return -1;
}

void GestioneAntennaAutomatica(Works *w) {
    // A bank load's request (-1) is taken before the table is read; one
    // made after it stays for the next pass (the row is set only over 100).
    w->bandRow = 100;
    int32_t freq = w->freq.load();
    AntennaRow tab[kAntRows];
    int rows = CopyAntTab(w, tab);
    int i = 0;
    while (i < rows && !(tab[i].fStart <= freq && freq <= tab[i].fStop))
        i++;
    if (i == rows) return;
    int32_t taken = 100;
    w->bandRow.compare_exchange_strong(taken, i);
    const AntennaRow row = tab[i];
    // A code the ring refuses leaves the state as it was and asks the
    // supervisor to make the selection again on its next pass.
    bool retry = false;

    int ant = row.ant;
    if (ant > kAntennas) {
        LogErr("antenna table row %d: antenna %d does not exist, antenna kept", i, ant);
        ant = 0;
    }
    if (ant != 0 && ant != w->antenna.load() + 1 && w->tuneState.load() != 0) {
        // A running tune keeps the antenna it tunes.
        ShowNotice(w, kNoticeAntennaKept);
    } else if (ant != 0 && ant != w->antenna.load() + 1) {
        int prev = w->antenna.load();
        w->antenna = ant - 1;
        if (IncPNTIn_CMDLinear(kCmdAntenna, w) != 0) {
            w->antenna = prev;
            retry = true;
        } else if (w->menuIdx.load() == 0) {
            std::snprintf(KeyLabel(0, 3, 2), kLabelLen, "Auto %d", ant);
        }
    }

    if (row.atuOff == 1) {
        if (IncPNTIn_CMDLinear(kCmdTunerThrough, w) != 0) retry = true;
        Trace("TABLE CONFIG : BYPASS %i (%i)\n", row.atuOff, i);
    } else if (QueueTuneVal(w, 1) != 0) {
        retry = true;
    }

    if (row.ampEnable != 0) {
        if (w->bypass.load() == 1) {
            if (IncPNTIn_CMDLinear(kCmdAmpInLine, w) == 0)
                LabelByPassNova(w, "Off");
            else
                retry = true;
        }
        int att = row.att;
        if (att >= kAttSteps) {
            LogErr("antenna table row %d: attenuator %d does not exist, attenuator kept", i, att);
            att = std::min<int>(w->attenuator.load(), kAttSteps - 1);
        }
        uint8_t prevShown = w->attenuatorShown.load();
        uint8_t prevAtt = w->attenuator.load();
        w->attenuatorShown = static_cast<uint8_t>(att);
        if (prevAtt != att) {
            w->attenuator = static_cast<uint8_t>(att);
            if (IncPNTIn_CMDLinear(kCmdAttenuator, w) != 0) {
                w->attenuator = prevAtt;
                w->attenuatorShown = prevShown;
                retry = true;
            }
        }
    } else if (w->bypass.load() == 0) {
        if (IncPNTIn_CMDLinear(kCmdAmpBypass, w) == 0)
            LabelByPassNova(w, "On");
        else
            retry = true;
    }
    SetAttenuatorLabel(w);
    if (retry) w->bandRow = -1;
}

void GestioneLoadTuneVal(Works *w, int clearIfNone) {
    QueueTuneVal(w, clearIfNone);
}

void CreaBufferDiStato(Works *w, char *text) {
    std::memset(text, ' ', kStatusTextLen);
    text[kStatusTextLen] = '\0';

    int32_t freq = w->freq.load();
    AntennaRow tab[kAntRows];
    int rows = CopyAntTab(w, tab);
    const char *band = "----";
    for (int i = 0; i < rows; i++) {
        if (tab[i].fStart <= freq && freq <= tab[i].fStop) {
            band = tab[i].name;
            break;
        }
    }
    PutField(text, 0, "%-4.4s", band);
    int mode = w->ModeWorkIdx.load();
    PutField(text, 4, "%c", mode >= 1 && mode <= 4 ? static_cast<char>('0' + mode) : '0');
    PutField(text, 5, "%d", w->attenuator.load());
    PutField(text, 6, "%d", w->antenna.load());
    PutField(text, 7, "%c", w->bypass.load() != 0 ? '1' : '0');
    char tuner = (w->tuneEnabled.load() & 0x80) != 0 ? 'N'
                 : w->tunerThrough.load() != 0       ? 'B'
                                                     : 'T';
    PutField(text, 8, "%c", tuner);
    PutField(text, 9, "%c", w->tuneState.load() != 0 ? '1' : '0');
    PutField(text, 10, "%06.02f", static_cast<double>(w->swr.load()));
    PutField(text, 16, "%06.2f", static_cast<double>(w->pwrFwd.load()));
    PutField(text, 22, "%06.02f", static_cast<double>(w->pwrIn.load()));
    float t1 = w->temp1.load(), t2 = w->temp2.load();
    PutField(text, 28, "%04.01f", static_cast<double>(t1 > t2 ? t1 : t2));
    PutField(text, 32, "%4.1f", static_cast<double>(CalvTensVadcAmp(w, w->tinyData[3].load())));
    PutField(text, 36, "%04.01f", static_cast<double>(w->rawAux.load() / 4096.0f * 14.05f));
    PutField(text, 40, "%02d", w->numBanco.load());
    char err = '0';
    {
        std::lock_guard<std::mutex> lock(w->errLock);
        int n = std::clamp(w->errCount.load(), 0, kErrCodes);
        if (n > 0) err = static_cast<char>(w->errList[n - 1].load() + 1);
    }
    text[42] = err;
    text[43] = '0';
}
