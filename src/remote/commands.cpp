#include "remote/commands.h"

#include "config/setup.h"
#include "model/fault_history.h"
#include "model/hooks.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "remote/frames.h"
#include "platform/panel_micro.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int remoteRebootWaitMs = 4000;

namespace {
void RunReboot() {
    RunShell(ResolveCommand("reboot"));
}
} // namespace
void (*remoteRebootAction)() = RunReboot;

namespace {

bool Starts(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void SpectrumOn(Works *w, char width) {
    w->setup->EnableSpectrum = '1';
    w->setup->Enable1600 = width;
    if (w->fftDivide <= 1) w->fftDivide = 2;
}

// The panel is told first (kTinyFontsLoaded) through the mailbox helper, which gives
// up after its own time-out instead of spinning; the reboot itself follows
// remoteRebootWaitMs later from RemoteCommandsTick, so the session's other
// frames (pings among them) are served meanwhile.
void Reboot(Works *w) {
    if (PostTinyCmd(w, kTinyFontsLoaded) != 0) LogErr("reboot: panel notice not taken");
    uint64_t at = NowMs() + uint64_t(remoteRebootWaitMs);
    w->remoteLink.rebootAt = at != 0 ? at : 1;
}

// "VORNFH[n]": the newest n fault-history lines (10 when no number is given,
// at most 100), newest first, each in "ST" frames of at most 123 bytes: "FH "
// and the start of the line, "FH+" and each further piece; then "FHEND <n>".
void SendFaultHistory(Works *w, const char *arg) {
    constexpr size_t kPiece = 120;
    long n = *arg != '\0' ? std::strtol(arg, nullptr, 10) : 10;
    n = n < 1 ? 1 : n > 100 ? 100 : n;
    std::vector<std::string> lines = FaultHistoryRead(static_cast<size_t>(n));
    for (const std::string &line : lines)
        for (size_t at = 0; at < line.size(); at += kPiece)
            if (sendWebSockRemoteCmd(
                    w, ((at == 0 ? "FH " : "FH+") + line.substr(at, kPiece)).c_str()) != 0)
                return;
    sendWebSockRemoteCmd(w, ("FHEND " + std::to_string(lines.size())).c_str());
}

} // namespace

void RemoteCommandsTick(Works *w, bool force) {
    RemoteLink &r = w->remoteLink;
    uint64_t now = NowMs();
    uint64_t reboot = r.rebootAt.load();
    if (reboot != 0 && now >= reboot && w->running != 0) { // none while shutting down
        r.rebootAt = 0;
        remoteRebootAction();
    }
    if (r.bankSavePending.load() == 0) return;
    if (!force && r.bankSavedMs.load() != 0 &&
        !expired(r.bankSavedMs.load(), now, kBankSaveEveryMs))
        return;
    r.bankSavePending = 0;
    r.bankSavedMs = now;
    writeSetup(w);
}

int dispStat(Works *w) {
    WakeSupervisor(w);
    char *cmd = w->remoteCmd;
    cmd[sizeof w->remoteCmd - 1] = '\0';
    Trace("BUFFER Wsocket : %s\n", cmd);
    if (Starts(cmd, "VORNBANK") || Starts(cmd, "VORNPA1")) {
        std::fputs("ChangeBanco\n", stderr);
        // The step is taken at once; its setup write at most once a second.
        CallHook(hooks.ChangeBancoUnsaved, w);
        w->remoteLink.bankSavePending = 1;
        RemoteCommandsTick(w);
        return kCmdBank;
    }
    if (Starts(cmd, "VORNTU2")) return kCmdTune2;
    if (Starts(cmd, "VORNFT00")) {
        w->setup->EnableSpectrum = '0';
        return kCmdSpectrOff;
    }
    if (Starts(cmd, "VORNFT01")) {
        SpectrumOn(w, '0');
        return kCmdSpectr854;
    }
    if (Starts(cmd, "VORNFT02")) {
        SpectrumOn(w, '1');
        return kCmdSpectr1706;
    }
    if (Starts(cmd, "VORNFD")) {
        long v = std::strtol(cmd + 6, nullptr, 10); // no digits give 0
        int d = int(std::clamp(v, 1L, long(kDivideMax)));
        if (d != v) LogErr("VORNFD: divide %.20s out of 1..%d, cut to %d", cmd + 6, kDivideMax, d);
        w->fftDivide = d;
        return kCmdDivide;
    }
    if (Starts(cmd, "VORNFH")) {
        SendFaultHistory(w, cmd + 6);
        return kCmdFaults;
    }
    if (Starts(cmd, "VORNRB")) {
        Reboot(w);
        return kCmdReboot;
    }
    return kCmdNone;
}
