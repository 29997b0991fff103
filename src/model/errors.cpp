#include "model/errors.h"

#include "model/cmd_queue.h"
#include "model/fault_history.h"
#include "model/hooks.h"
#include "model/works.h"
#include "platform/log.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

struct ErrDef {
    ErrCode code;
    uint8_t type;
    const char *title;
    const char *text;
};

constexpr uint8_t kWarning = 0;
constexpr uint8_t kAlarm = kErrTypeAlarm;
constexpr uint8_t kProtection = kErrTypeProtection;
constexpr uint8_t kTemporary = kErrTypeTemporary;

constexpr ErrDef kErrDefs[] = {
    {kErrTemp1AlarmEnded, kWarning | kProtection, "1-High", "temperature"},
    {kErrHighSwr, kAlarm | kProtection, "HI SWR", "error"},
    {kErrTemp1Alarm, kAlarm, "1-High", "temperature"},
    {kErrInputPower, kAlarm | kProtection, "PWR IN", "error"},
    {kErrBoardComm, kWarning | kTemporary, "Comm", "warn "},
    {kErrRemoteUsb, kWarning | kTemporary, "Remote warn", "Usb"},
    {kErrAudioNotFound, kWarning | kTemporary, "Audio", "not found"},
    {kErrTavNotSelected, kWarning | kTemporary, "TAV mode", "not activated"},
    {kErrTavExtIo, kWarning | kTemporary, "TAV EXTIO", "warning"},
    {kErrAudioRead, kWarning, "Audio read", "warning"},
    {kErrAudioWrite, kWarning, "Audio write", "warning"},
    {kErrWebSocket, kWarning, "Web socket", "warning"},
    {kErrTuneTimeout, kWarning | kTemporary, "Auto Tune", "timeout"},
    {kErrTuneSwrWarning, kWarning | kTemporary, "Auto Tune", "SWR warning"},
    {kErrTuneTavAbort, kWarning | kTemporary, "Auto Tune", "TAV aborts"},
    {kErrProtectionTrip, kAlarm | kProtection, "Error", "---"},
    {kErrMicroReset, kWarning | kTemporary, "Micro Reset", "warning"},
    {kErrCmdNotAvailable, kWarning | kTemporary, "CMD not", "available"},
    {kErrTuneMaxSwr, kWarning | kTemporary, "Auto Tune", "Max SWR"},
    {kErrBandStandby, kWarning | kProtection | kTemporary, "Band warn", "StBy"},
    {kErrRemoteCat, kWarning | kTemporary, "Remote warn", "Cat"},
    {kErrTemp2AlarmEnded, kWarning | kProtection, "2-High", "temperature"},
    {kErrTemp2Alarm, kAlarm, "2-High", "temperature"},
    {kErrTemp1Warning, kWarning | kProtection, "2-Warning", "temperature"},
    {kErrTemp2Warning, kWarning | kProtection, "2-Warning", "temperature"},
    {kErrCatNoAnswer, kWarning, "CAT link", "no answer"},
    {kErrRigctld, kWarning, "rigctld", "unreachable"},
    {kErrLogger, kWarning, "Logger", "no radio info"},
};

constexpr bool RowsInCodeOrder() {
    for (int i = 0; i < kErrCodes; i++)
        if (kErrDefs[i].code != i) return false;
    return true;
}
static_assert(sizeof kErrDefs / sizeof kErrDefs[0] == kErrCodes, "one row per code");
static_assert(RowsInCodeOrder(), "rows in code order");

bool ValidCode(int code) {
    return code >= 0 && code < kErrCodes;
}

// Position of `code` in the list, or -1. Caller holds errLock.
int FindLocked(Works *w, int code) {
    int n = w->errCount.load();
    for (int i = 0; i < n; i++)
        if (w->errList[i].load() == code) return i;
    return -1;
}

// Removes the entry at `pos`, moving later ones down. Caller holds errLock.
void RemoveAtLocked(Works *w, int pos) {
    int n = w->errCount.load();
    for (int i = pos; i + 1 < n; i++)
        w->errList[i] = w->errList[i + 1].load();
    w->errList[n - 1] = 0;
    w->errCount = n - 1;
}

// Removes every entry for which `match(code)` holds, logging each.
template <typename Match> void RemoveMatching(Works *w, Match match) {
    std::lock_guard<std::mutex> lock(w->errLock);
    int i = 0;
    while (i < w->errCount.load()) {
        int code = w->errList[i].load();
        if (match(code)) {
            RemoveAtLocked(w, i);
            Trace("Del temp err: %i (%i , %i)\n", code, i, w->errCount.load());
        } else {
            i++;
        }
    }
}

} // namespace

void InitErrTab(Works *w) {
    for (int i = 0; i < kErrCodes; i++) {
        w->errTab[i].type = kErrDefs[i].type;
        std::snprintf(w->errTab[i].title, sizeof w->errTab[i].title, "%s", kErrDefs[i].title);
        std::snprintf(w->errTab[i].text, sizeof w->errTab[i].text, "%s", kErrDefs[i].text);
    }
    SetErrDetail(w, kErrBoardComm, kErrDefs[kErrBoardComm].text);
    SetErrDetail(w, kErrProtectionTrip, kErrDefs[kErrProtectionTrip].text);
}

std::string ErrText(Works *w, int code) {
    if (!ValidCode(code)) return "";
    std::lock_guard<std::mutex> lock(w->errLock);
    const char *text = code == kErrBoardComm        ? w->errDetail
                       : code == kErrProtectionTrip ? w->tripLabel
                                                    : w->errTab[code].text;
    return std::string(text, strnlen(text, sizeof w->errTab[code].text));
}

void SetErrDetail(Works *w, int code, const char *text) {
    std::lock_guard<std::mutex> lock(w->errLock);
    if (code == kErrBoardComm) std::snprintf(w->errDetail, sizeof w->errDetail, "%s", text);
    if (code == kErrProtectionTrip) std::snprintf(w->tripLabel, sizeof w->tripLabel, "%s", text);
}

// Only a change of the list wakes the supervisor: the board's status replies
// clear their conditions on every poll.
void AddErrore(Works *w, int code) {
    if (!ValidCode(code)) return;
    if (w->errSuspend.load() & 1) return;
    {
        std::lock_guard<std::mutex> lock(w->errLock);
        if (FindLocked(w, code) >= 0) return;
        int n = w->errCount.load();
        w->errList[n] = code;
        w->errCount = n + 1;
        Trace("Add: N: %i err:%i\n", n + 1, code);
    }
    WakeSupervisor(w);
    FaultHistoryRecord(w, code, kFaultAdded);
    uint8_t type = kErrDefs[code].type;
    if (type & kProtection) {
        uint8_t old = w->errFlags.fetch_or(1);
        if (!(old & 1)) Trace(" -->set protezione 0x%x\n", old | 1);
    }
    if (type & kTemporary) {
        uint8_t old = w->errFlags.fetch_or(4);
        if (!(old & 4)) Trace(" -->tasto reset errore 0x%x\n", old | 4);
    }
}

void DeleteErrore(Works *w, int code) {
    {
        std::lock_guard<std::mutex> lock(w->errLock);
        int pos = FindLocked(w, code);
        if (pos < 0) return;
        RemoveAtLocked(w, pos);
        Trace("Del ERROR: N: %i err:%i\n", w->errCount.load(), code);
    }
    WakeSupervisor(w);
}

int ExistError(Works *w, int code) {
    std::lock_guard<std::mutex> lock(w->errLock);
    return FindLocked(w, code) >= 0 ? 1 : 0;
}

int ExistAnError(Works *w) {
    std::lock_guard<std::mutex> lock(w->errLock);
    return w->errCount.load() > 0 ? w->errList[0].load() : -1;
}

int ErrListSnapshot(Works *w, int codes[]) {
    std::lock_guard<std::mutex> lock(w->errLock);
    int n = w->errCount.load();
    for (int i = 0; i < n; i++)
        codes[i] = w->errList[i].load();
    return n;
}

int VerifyError(Works *w) {
    std::lock_guard<std::mutex> lock(w->errLock);
    int n = w->errCount.load();
    int temps = 0;
    for (int code : {kErrTemp1Alarm, kErrTemp2Alarm, kErrTemp1Warning, kErrTemp2Warning})
        if (FindLocked(w, code) >= 0) temps++;
    return n > temps ? 1 : 0;
}

void VerifyWarningTemporanei(Works *w) {
    RemoveMatching(w,
                   [](int code) { return ValidCode(code) && (kErrDefs[code].type & kTemporary); });
}

void VerifyWarningTemporaneiDopoResetBias(Works *w) {
    RemoveMatching(w, [](int) { return true; });
}

void ResetBiasCmd(Works *w) {
    if (w->boardStatus[2].load() != 0 || (w->boardStatus[1].load() & 2)) {
        IncPNTIn_CMDLinear(kCmdResetTrips, w);
        Trace(">>> ERRORI: RESET Protezione AMPL!\n");
    }
    if (w->boardStatus[2].load() & 0x80) InitMicroCmdAfterReset(w);
    IncPNTIn_CMDLinear(kCmdProtectionOff, w);
    IncPNTIn_CMDLinear(w->bypass.load() == 1 ? kCmdAmpBypass : kCmdAmpInLine, w);
    IncPNTIn_CMDLinear(kCmdAttenuator, w);
}

void VerificaEsistonoErrori(Works *w) {
    int first = ExistAnError(w);
    if (first < 0) return;
    Trace("FOUND ERR: %d \n", first);
    ResetBiasCmd(w);
    VerifyWarningTemporaneiDopoResetBias(w);
}

void ClearDisplayError(Works *w) {
    w->errFlags.fetch_or(2);
    // A tune that ran out of cycles left the protection and its pads in;
    // clearing its warning, with no other protection standing, takes them
    // out again (the attenuator in use goes back), as the screen then says.
    bool timedOut = ExistError(w, kErrTuneTimeout) || ExistError(w, kErrTuneSwrWarning);
    DeleteErrore(w, kErrTuneTimeout);
    DeleteErrore(w, kErrTuneSwrWarning);
    DeleteErrore(w, kErrTuneTavAbort);
    bool otherProtection = false;
    for (int code = 0; code < kErrCodes; code++)
        if ((kErrDefs[code].type & kErrTypeProtection) != 0 && ExistError(w, code))
            otherProtection = true;
    if (timedOut && !otherProtection) {
        IncPNTIn_CMDLinear(kCmdProtectionOff, w);
        IncPNTIn_CMDLinear(kCmdAttenuator, w);
    }
    // Status byte 1 is a number (0-15): written as its hex digit, never as a raw byte.
    Trace(" -->reset protezione %X\n", static_cast<unsigned>(w->boardStatus[1].load()));
}

void GestErrore(Works *w) {
    Trace(">>> ERRORI: GestErrore\n");
    uint8_t flags = w->errFlags.load();
    if (flags & 1) {
        Trace(">>> ERRORI: ResetBiasCmd\n");
        ResetBiasCmd(w);
        w->cmdQueueDrain = 1;
        w->errResend = 1;
    } else if (flags & 4) {
        // Acknowledging a micro reset of the board (kErrMicroReset, a temporary
        // warning) also gives the board its settings back, back to back, so
        // "MR0;" is out before a status poll could raise the warning again.
        if (w->boardStatus[2].load() & 0x80) {
            ResetBiasCmd(w);
            w->cmdQueueDrain = 1;
        }
        VerifyWarningTemporanei(w);
        w->errFlags.fetch_and(static_cast<uint8_t>(~4));
    } else if (ExistAnError(w) >= 0) {
        Trace(">>> ERRORI2: VerificaEsistonoErrori\n");
        VerificaEsistonoErrori(w);
    }
    GestErroreRemote(w);
}

void GestErroreSerial(Works *w) {
    ClearDisplayError(w);
    if (w->errFlags.load() & 1) VerifyWarningTemporaneiDopoResetBias(w);
    if (w->errFlags.load() & 4) {
        VerifyWarningTemporanei(w);
        w->errFlags.fetch_and(static_cast<uint8_t>(~4));
    }
    if (ExistAnError(w) >= 0) VerificaEsistonoErrori(w);
}

void GestErroreRemote(Works *w) {
    SetupRecord *s = w->setup;
    Trace(">>> RESTART REMOTE: %i %i audio %x %x\n", w->remoteOn.load(), w->remoteFault.load(),
          s->EnableWrite.load(), s->EnableRead.load());
    if (w->remoteOn.load() != 1 || w->remoteFault.load() != 1) return;
    Trace(">>> RESTART REMOTE!\n");
    w->remoteFault = 0;
    if (s->EnableWrite.load() == '0') {
        s->EnableWrite = '1';
        Trace("start audio write\n");
        CallHook(hooks.StartThreadAudioWrite, w);
    }
    if (s->EnableRead.load() == '0') {
        s->EnableRead = '1';
        Trace("start audio read\n");
        CallHook(hooks.StartThreadAudioRead, w);
    }
    if (s->EnableCAT.load() == '0') {
        s->EnableCAT = '1';
        CallHook(hooks.StartThreadCAT, w);
    }
    if (s->EnableFFT.load() == '0') {
        s->EnableFFT = '1';
        CallHook(hooks.StartTavReadFFT, w);
    }
}

namespace {
// The codes standing when the operator acknowledges the list go to the
// fault history.
void RecordAcknowledged(Works *w) {
    int codes[kErrCodes];
    int n = ErrListSnapshot(w, codes);
    for (int i = 0; i < n; i++)
        FaultHistoryRecord(w, codes[i], kFaultAcked);
}
} // namespace

int GPIO_Errori(Works *w) {
    if (w->errFlags.load() != 0) {
        RecordAcknowledged(w);
        Trace("----------> 1- ERRORI!!\n");
        GestErrore(w);
        return 1;
    }
    int first = ExistAnError(w);
    if (first >= 0) {
        Trace("----------> 2- ERRORI!!\n");
        GestErroreRemote(w);
        if (first == kErrTemp1Alarm) return 0;
        RecordAcknowledged(w);
        VerificaEsistonoErrori(w);
        return 1;
    }
    return 0;
}

namespace {
void ShowPortError(Works *w, int link) {
    std::snprintf(w->portErrorText, sizeof w->portErrorText, "%s", w->linkFailText[link]);
}
} // namespace

void ReportPortError(Works *w, int link, const char *text) {
    if (link <= 0 || link >= kPortCodes) return;
    std::snprintf(w->linkFailText[link], sizeof w->linkFailText[link], "%s", text);
    w->linkFailed[link] = 1;
    // The text is in place before the screen is told to show it.
    std::lock_guard<std::mutex> lock(w->portErrorLock);
    if (w->portError.load() != 0) return;
    ShowPortError(w, link);
    w->portError = link;
}

bool ShowNextPortError(Works *w) {
    std::lock_guard<std::mutex> lock(w->portErrorLock);
    if (w->portError.load() != 0) return false;
    for (int link = 1; link < kPortCodes; link++) {
        if (w->linkFailed[link].load() == 0) continue;
        ShowPortError(w, link);
        w->portError = link;
        return true;
    }
    return false;
}

int AnswerPortError(Works *w) {
    std::lock_guard<std::mutex> lock(w->portErrorLock);
    int link = w->portError.load();
    if (link <= 0 || link >= kPortCodes) return 0;
    w->linkFailed[link] = 0;
    w->portError = -1;
    return link;
}
