// Process entry: builds the shared record, loads the tables, starts the
// threads the setup asks for, and shuts them down when `running` drops.
#include "model/cmd_queue.h"
#include "config/setup.h"
#include "config/antenna_banks.h"
#include "config/backup.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "config/options.h"
#include "config/tuner_design.h"
#include "app/hooks.h"
#include "app/threads.h"
#include "model/heartbeat.h"
#include "model/works.h"
#include "model/version.h"
#include "platform/clock.h"
#include "platform/instance.h"
#include "platform/log.h"
#include "platform/service.h"
#include "platform/wait.h"
#include "config/network.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

static Works *gWorks = nullptr;
static int gStopWake = -1; // wakes main at once on a stop signal

// SIGTERM and SIGINT take the normal shutdown path.
static void OnStopSignal(int) {
    if (gWorks != nullptr) gWorks->running.store(0);
    WakeSignal(gStopWake);
}

namespace {

const char kUsage[] =
    "usage: helix [--version | --help | --backup FILE | --restore FILE]\n"
    "  (no arguments)   run the amplifier controller\n"
    "  --version        print the version\n"
    "  --help           print this text\n"
    "  --backup FILE    save every settings file (/opt/set, the network file) to FILE\n"
    "  --restore FILE   put the settings saved in FILE back (the controller stopped)\n"
    "HELIX_ROOT, when set, is prefixed to every fixed path and every shell command\n"
    "  runs from it (<root>/bin), never from the host's PATH (a simulated unit).\n";

int TakeInstanceLock();

// Prints what a backup or restore did; returns its status.
int Report(int status, const std::string &out, const std::string &err) {
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    std::fputs(err.c_str(), stderr);
    return status;
}

// The command line; returns the exit status, or -1 to run the controller.
int Arguments(int argc, char **argv) {
    if (argc < 2) return -1;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("helix %s\n", kSwVersion);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string out, err;
    if (argc == 3 && std::strcmp(argv[1], "--backup") == 0)
        return Report(BackupSettings(argv[2], &out, &err), out, err);
    if (argc == 3 && std::strcmp(argv[1], "--restore") == 0) {
        // Never under a running controller: the lock is held to the end.
        if (int status = TakeInstanceLock(); status != 0) {
            std::fputs("helix: stop the controller before a restore (systemctl stop helix)\n",
                       stderr);
            return status;
        }
        return Report(RestoreSettings(argv[2], &out, &err), out, err);
    }
    if (argc == 2 &&
        (std::strcmp(argv[1], "--backup") == 0 || std::strcmp(argv[1], "--restore") == 0)) {
        std::fprintf(stderr, "helix: %s needs a file (%s FILE)\n%s", argv[1], argv[1], kUsage);
        return 2;
    }
    std::fprintf(stderr, "helix: unknown argument %s\n%s", argv[1], kUsage);
    return 2;
}

// One controller per unit, taken before any device is touched.
int TakeInstanceLock() {
    pid_t holder = 0;
    int r = InstanceLock(kInstanceLockPath, &holder);
    if (r == 0) return 0;
    if (r == 1) {
        std::fprintf(stderr, "helix is already running (pid %ld)\n", static_cast<long>(holder));
        LogErr("helix is already running (pid %ld)", static_cast<long>(holder));
        return 2;
    }
    std::fprintf(stderr, "helix: cannot lock %s: %s\n", kInstanceLockPath, std::strerror(errno));
    LogErr("cannot lock %s: error %d", kInstanceLockPath, errno);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (int status = Arguments(argc, argv); status >= 0) return status;
    if (int status = TakeInstanceLock(); status != 0) return status;
    // A port's hang-up must never end the controller (none is its
    // controlling terminal, and the signal is ignored besides).
    signal(SIGHUP, SIG_IGN);

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
    gStopWake = WakeOpen();
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
    ReadTunerDesign(w);
    LoadAllBankTable(w, w->numBanco);

    w->bandRow = -1;
    Trace("ModeWorkIdx %i \n", w->ModeWorkIdx.load());

    ReadLanParam();

    StartUp(w);
    // Under systemd: ready once the main screen is up (the supervisor's
    // first pass, when it runs); the watchdog is petted while every followed
    // thread beats, checked three times per interval so that one late check
    // never lets it expire. A thread that drops `running` is seen within a
    // second; a stop signal at once.
    const uint64_t checkMs = ServiceWatchdogMs() / 3;
    WatchdogState watchdog;
    bool ready = false;
    while (w->running != 0) {
        if (!ready && (w->setup->EnableTime != '1' || w->beat[kBeatSupervisor].load() > 1)) {
            ServiceReady();
            ready = true;
        }
        if (ready && checkMs > 0 && WatchdogCheck(&watchdog, w, checkMs, NowMs())) ServicePet();
        WaitPortOrWake(-1, gStopWake,
                       checkMs > 0 && checkMs < 1000 ? static_cast<int>(checkMs) : 1000);
    }
    ServiceStopping();
    return ShutDown(w);
}
