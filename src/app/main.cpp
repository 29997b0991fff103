// Process entry: builds the shared record, loads the tables, starts the
// threads the setup asks for, and shuts them down when `running` drops.
#include "model/cmd_queue.h"
#include "config/setup.h"
#include "config/antenna_banks.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "config/options.h"
#include "app/hooks.h"
#include "app/threads.h"
#include "model/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "config/network.h"

#include <csignal>
#include <cstdio>
#include <cstring>

static Works *gWorks = nullptr;

// SIGTERM and SIGINT take the normal shutdown path.
static void OnStopSignal(int) {
    if (gWorks != nullptr) gWorks->running.store(0);
}

int main() {
    Trace("START Main ----------------------------------------------------------------\n");
    Trace("HELIX version %s\n", kSwVersion);
    LogInfo("HELIX version %s", kSwVersion);

    static Works works{};
    static SetupRecord setup{};
    static pthread_mutex_t connMut = PTHREAD_MUTEX_INITIALIZER;
    static pthread_mutex_t sendMut = PTHREAD_MUTEX_INITIALIZER;
    static pthread_mutex_t serMut = PTHREAD_MUTEX_INITIALIZER;
    static TavParams tavPar{};
    static SpectrumRec fftRec{};
    static uint32_t spectrum0[kSpectrumWords];
    static uint32_t spectrum1[kSpectrumWords];
    Works *w = &works;

    InstallHooks();
    fbInit(&w->fb);
    std::snprintf(w->swVersion, sizeof w->swVersion, "%s", kSwVersion);
    // The spectrum buffers are static, so they are zero when linked here.
    LinkWorks(w, &setup, &connMut, &sendMut, &serMut, &tavPar, &fftRec, spectrum0, spectrum1);
    InitGlobalVar(w);
    CntIP = CntDNS = CntNetMask = CntGateway = 3;

    gWorks = w;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN); // a peer that goes away must not end the process

    ReadConfigFile(w);
    InitMicroCmd(w);
    ReadVentolaFile(w);
    LoadTabFiltri(w);
    readSetup(w);
    ReadOptions(w);
    LoadAllBankTable(w, w->numBanco);

    w->bandRow = -1;
    Trace("ModeWorkIdx %i \n", w->ModeWorkIdx.load());

    ReadLanParam();

    StartUp(w);
    while (w->running != 0)
        SleepMs(100);
    return ShutDown(w);
}
