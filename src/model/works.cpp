#include "model/works.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/wait.h"
#include "platform/panel_micro.h"

#include <algorithm>

std::atomic<double> TIME_LONG_PRESS = 0.5;
std::atomic<int> number_ofStep_meter_FWD = 60;
std::atomic<int> number_ofStep_meter_REFL = 60;
std::atomic<int> number_ofStep_meter_SWR = 60;
std::atomic<int> number_ofStep_meter_PW = 60;
std::atomic<int> fattoremedia = 2;
std::atomic<double> PeakDecrement = 1.0;
std::atomic<int> PeakDecrementTime = 1;
std::atomic<int> TimerPeakSec{3000};
int CntIP, CntDNS, CntNetMask, CntGateway;
std::atomic<bool> linksStarting{false};

void LinkWorks(Works *w, SetupRecord *setup, pthread_mutex_t *connMut, pthread_mutex_t *sendMut,
               pthread_mutex_t *serMut, TavParams *tavPar, SpectrumRec *fftRec, uint32_t *spectrum0,
               uint32_t *spectrum1) {
    w->setup = setup;
    w->connMut = connMut;
    w->sendMut = sendMut;
    w->serMut = serMut;
    w->tavPar = tavPar;
    w->fftRec = fftRec;
    fftRec->buf0 = spectrum0;
    fftRec->buf1 = spectrum1;
    // Descriptor 0 would be standard input.
    w->linFD = w->serFD = w->catFD = w->catSerFD = -1;
    w->linWake = WakeOpen();
    w->timerWake = WakeOpen();
}

void UnlinkWorks(Works *w) {
    WakeClose(w->linWake);
    WakeClose(w->timerWake);
    w->linWake = w->timerWake = -1;
}

int CopyAntTab(Works *w, AntennaRow *out) {
    std::lock_guard<std::mutex> lock(w->antTabLock);
    std::copy(w->antTab, w->antTab + kAntRows, out);
    return std::clamp(w->memRows.load(), 0, kAntRows);
}

void WakeSupervisor(Works *w) {
    WakeSignal(w->timerWake);
}

void InitRunState(Works *w) {
    w->running = 1;
    w->bypass = 1;
    w->wsSocket = -1;
    w->viewType = 1;
    w->timerUsec = 10000;
    w->freq = 14070000;
    w->freqPrev = 14070000;
    w->spanHz = 160000;
    w->tsThreshold[0] = 4095;
    w->tsThreshold[1] = 4095;
    w->tsThreshold[2] = 1500;
    w->tsThreshold[3] = 3700;
    w->tinyCmdOut = kTinyVersion;
    w->tuneBand = -1;
    w->errSuspend = 1;
    w->memCol = -1;
    w->bandRow = -1;
    w->ModeWorkIdx = -1;
    w->boardOpt = 255;
    w->powerClass = static_cast<char>(255);
    w->audioFrame = 240;
    w->audioFormat = 2;
    w->audioRate = 48000;
    w->fanPercent = -1;
    if (w->setup != nullptr) {
        w->setup->EnableSerial = '1';
        w->setup->EnableCatSerial = '1';
        w->setup->EnableSpectrum = '1';
    }
    number_ofStep_meter_FWD = 60;
    number_ofStep_meter_REFL = 60;
    number_ofStep_meter_SWR = 60;
    number_ofStep_meter_PW = 60;
}

void InitSettingDefaults(Works *w) {
    w->fsValue = 10;
    w->tempMax1 = 60.0f;
    w->tempMax2 = 80.0f;
    w->maxTempAllowed = 60;
    w->psValue[0] = 1;
    w->psValue[1] = 1000;
    w->gmValue[0] = 2;
    w->gmValue[1] = 100;
    w->tempHyst = 1;
    w->fanHyst = 1;
    w->numBanco = 1;
    w->maxBank = 20;
    w->tcpPort = 6666;
    w->audioBuffers = 20;

    TIME_LONG_PRESS = 0.5;
    fattoremedia = 2;
    PeakDecrement = 1.0;
    PeakDecrementTime = 1;
    TimerPeakSec = 3000;
}

void InitGlobalVar(Works *w) {
    InitRunState(w);
    InitSettingDefaults(w);
}

int PostTinyCmd(Works *w, uint8_t code) {
    // Only the GPIO thread empties the mailbox; without it a post would wait for ever.
    if (w->setup != nullptr && w->setup->EnableGPIO.load() != '1') return -1;
    // The GPIO thread takes a code within a few ms; a mailbox still full after
    // a second means it is not taking them, and waiting longer would hang the poster.
    uint64_t start = NowMs();
    for (;;) {
        uint8_t expected = 0;
        if (w->tinyCmd.compare_exchange_weak(expected, code)) return 0;
        if (w->running == 0) return -1;
        if (expired(start, NowMs(), 1000)) {
            Trace("tinyCmd busy: code %d dropped\n", code);
            LogErr("tinyCmd busy: code %d dropped", code);
            return -1;
        }
        SleepUs(100);
    }
}
