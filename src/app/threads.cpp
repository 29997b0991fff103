#include "app/threads.h"

#include "config/setup.h"

#include "amplifier/linear.h"
#include "model/works.h"
#include "display/fb.h"
#include "ui/keyb.h"
#include "display/png.h"
#include "model/screen.h"
#include "display/fonts.h"
#include "display/ttf.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "remote/audio.h"
#include "remote/ampctld.h"
#include "remote/compress.h"
#include "remote/wsocket.h"
#include "supervisor/timer.h"
#include "transceiver/cat.h"
#include "transceiver/cat_serial.h"
#include "transceiver/logger.h"
#include "transceiver/rigctl.h"
#include "transceiver/serial.h"
#include "transceiver/tav_read.h"
#include "model/errors.h"
#include "ui/gpio.h"
#include "ui/menu.h"
#include "platform/panel_micro.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

ThreadHandle thrGPIO{"GPIO"}, thrLin{"Linear"}, thrKey{"keyb"}, thrWsock{"Wsocket"},
    thrSer{"Serial"}, thrCat{"Cat"}, thrCatSer{"CatSerial"}, thrTime{"timer"}, thrLeggi{"th_leggi"},
    thrScrivi{"th_scrivi"}, thrFFT{"TAVRead"}, thInit{"LoadThread"}, thAggFw{"AggFWThread"},
    thrRigctl{"Rigctl"}, thrAmpctld{"Ampctld"}, thrLogger{"Logger"};

std::atomic<int> startInitThread{0};
int waitTAV = 0;

namespace {

// Every thread of the set runs here: its body, then the body again for each
// start that came while it was ending, then it clears `alive`.
void *ThreadMain(void *arg) {
    auto *h = static_cast<ThreadHandle *>(arg);
    pthread_setname_np(pthread_self(), h->name);
    std::unique_lock<std::mutex> lock(h->lock);
    for (;;) {
        void *(*body)(void *) = h->body;
        Works *works = h->works;
        h->restart = false;
        lock.unlock();
        body(works);
        lock.lock();
        bool again = h->restart && h->works->running != 0 &&
                     (h->restartSwitch == nullptr || h->restartSwitch->load() == '1');
        if (!again) break;
    }
    h->restart = false;
    h->alive = false;
    return nullptr;
}

} // namespace

int StartThread(ThreadHandle *h, void *(*body)(void *), Works *works, const std::atomic<char> *sw) {
    std::unique_lock<std::mutex> lock(h->lock);
    h->body = body;
    h->works = works;
    h->restartSwitch = sw;
    if (h->alive) {
        // Still in its body (its switch has just dropped, or it never saw it
        // drop): it runs the body again when it returns, if still wanted.
        h->restart = true;
        return 0;
    }
    if (h->started.exchange(false)) {
        // Out of its body: only its last instructions remain, so this join
        // is immediate.
        pthread_join(h->id, nullptr);
    }
    h->alive = true;
    int r = pthread_create(&h->id, nullptr, ThreadMain, h);
    if (r == 0) {
        h->started = true;
    } else {
        h->alive = false;
        LogErr("can't start thread error %d", r);
    }
    return r;
}

bool JoinThread(ThreadHandle *h) {
    pthread_t id;
    {
        std::lock_guard<std::mutex> lock(h->lock);
        if (!h->started.exchange(false)) return false;
        id = h->id;
    }
    pthread_join(id, nullptr);
    return true;
}

bool ThreadsEnded(std::initializer_list<const ThreadHandle *> handles, unsigned ms) {
    uint64_t start = NowMs();
    for (;;) {
        bool any = false;
        for (const ThreadHandle *h : handles)
            any |= h->alive.load();
        if (!any) return true;
        if (expired(start, NowMs(), ms)) return false;
        SleepMs(5);
    }
}

void StartThreadLinear(Works *w) {
    if (w->setup->EnableLinear == '1') StartThread(&thrLin, Linear, w, &w->setup->EnableLinear);
}

void StartThreadTAV(Works *w) {
    if (w->setup->EnableSerial == '1') {
        Trace("TAVread start\n");
        StartThread(&thrSer, Serial, w, &w->setup->EnableSerial);
    }
}

void StartThreadCAT(Works *w) {
    if (w->setup->EnableCAT == '1') {
        Trace("Cat.c start\n");
        StartThread(&thrCat, Cat, w, &w->setup->EnableCAT);
    }
}

void StartThreadCATserial(Works *w) {
    if (w->setup->EnableCatSerial == '1')
        StartThread(&thrCatSer, CatSerial, w, &w->setup->EnableCatSerial);
}

void StartThreadRigctl(Works *w) {
    if (w->rigctlOn.load() == '1') StartThread(&thrRigctl, Rigctl, w, &w->rigctlOn);
}

void StartThreadLogger(Works *w) {
    if (w->loggerOn.load() == '1') StartThread(&thrLogger, Logger, w, &w->loggerOn);
}

void StartThreadAmpctld(Works *w) {
    if (w->options.ampctldServer.load() == 1) StartThread(&thrAmpctld, Ampctld, w);
}

void StartThreadAudioRead(Works *w) {
    if (w->setup->EnableRead == '1') {
        Trace("Th_leggi start\n");
        StartThread(&thrLeggi, th_leggi, w, &w->setup->EnableRead);
    }
}

void StartThreadAudioWrite(Works *w) {
    if (w->setup->EnableWrite == '1') {
        Trace("Th_scrivi start\n");
        StartThread(&thrScrivi, th_scrivi, w, &w->setup->EnableWrite);
    }
}

void StartTavReadFFT(Works *w) {
    if (w->setup->EnableFFT == '1') StartThread(&thrFFT, TAVRead, w, &w->setup->EnableFFT);
}

void StartThreadSoket(Works *w) {
    char mode = w->setup->WebSocket;
    if (mode == '1') {
        Trace(">>>>>>>>>> SOCKET SERVER start\n");
        StartThread(&thrWsock, Wsocket, w);
    } else if (mode == '2') {
        Trace(">>>>>>>>>> SOCKET CLIENT start\n");
        StartThread(&thrWsock, Wclient, w);
    }
}

void StartThreadCommRemote(Works *w) {
    SetupRecord *s = w->setup;
    w->remoteFault = 0;
    struct {
        SetupSwitch *sw;
        void (*start)(Works *);
    } const order[] = {{&s->EnableWrite, StartThreadAudioWrite},
                       {&s->EnableRead, StartThreadAudioRead},
                       {&s->EnableCAT, StartThreadCAT},
                       {&s->EnableFFT, StartTavReadFFT}};
    for (const auto &o : order) {
        if (o.sw->load() == '0') {
            o.sw->store('1');
            o.start(w);
        }
    }
    writeSetup(w);
    PostTinyCmd(w, kTinyRemoteStart);
}

void ExitThreadRemote(Works *w) {
    SetupRecord *s = w->setup;
    s->EnableWrite = '0';
    s->EnableRead = '0';
    s->EnableCAT = '0';
    s->EnableFFT = '0';
    // The threads leave their loops within a few milliseconds; wait for them
    // (at most half a second) so the errors their exits raise are gone below.
    ThreadsEnded({&thrScrivi, &thrLeggi, &thrCat, &thrFFT}, 500);
    for (int code : {kErrAudioRead, kErrAudioWrite, kErrRemoteUsb, kErrRemoteCat})
        DeleteErrore(w, code);
    writeSetup(w);
    PostTinyCmd(w, kTinyRemoteStop);
    Trace(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
}

bool SleepWhileRunning(Works *w, unsigned ms) {
    uint64_t start = NowMs();
    while (!expired(start, NowMs(), ms)) {
        if (w->running == 0) return false;
        SleepMs(50);
    }
    return w->running != 0;
}

void *LoadThread(void *arg) {
    Works *w = static_cast<Works *>(arg);
    int counter = waitTAV;
    bool posted = false;
    while (startInitThread != 0) {
        std::unique_lock<std::recursive_mutex> frame(w->frameLock);
        fbSetBack(&w->fb);
        frame.unlock();
        // One second, but leave at once when the splash phase or the run ends.
        uint64_t start = NowMs();
        while (!expired(start, NowMs(), 1000) && startInitThread != 0 && w->running != 0)
            SleepMs(10);
        if (startInitThread == 0 || w->running == 0) break;
        char text[32];
        std::snprintf(text, sizeof text, "Loading ...%2d", counter);
        if (counter <= 4 && !posted) {
            PostTinyCmd(w, kTinyCountdown);
            posted = true;
        }
        frame.lock();
        putString(9, 300, 400, text, 255, 255, 255, &w->fb, 0, 0, 0, 0);
        counter--;
        fbRealize(&w->fb);
        frame.unlock();
        Trace("Time %s..\n", text);
    }
    return nullptr;
}

int AggFWRemoveMarker() {
    // The shared write window: another writer's save may be open at the same time.
    if (RemountRw() != 0) {
        Trace("can't mount rw /opt/set/ error %d\n", errno);
        return -1;
    }
    if (RunShell(ResolveCommand("rm") + " -f " + ResolvePath("/opt/good") + " >/dev/null 2>&1") !=
        0) {
        LogErrTrace("can't :rm -f /opt/good >/dev/null 2>&1  ->error %d", errno);
        RemountRo(); // the partition goes read-only again even so
        return -1;
    }
    RemountRo();
    Trace("--------- END THREAD AGG FW!!!\n");
    return 0;
}

void *AggFWThread(void *arg) {
    Works *w = static_cast<Works *>(arg);
    // Thirty seconds; a process that ends before then leaves the marker.
    if (!SleepWhileRunning(w, 30000)) return nullptr;
    AggFWRemoveMarker();
    return nullptr;
}

static void ShowImage(Works *w, const char *name) {
    std::lock_guard<std::recursive_mutex> frame(w->frameLock);
    ShowBackground(w, name);
    fbRealize(&w->fb);
}

void StartUp(Works *w) {
    SetupRecord *s = w->setup;
    LoadFontSet();

    PostTinyCmd(w, kTinyFontsLoaded);
    if (s->EnableGPIO == '1') StartThread(&thrGPIO, GPIO, w);
    StartThreadLinear(w);
    SleepWhileRunning(w, 1000);

    waitTAV = 10;
    w->lastKeyTime = static_cast<int32_t>(EpochSeconds());
    ShowImage(w, w->powerClass == '1' ? "start120" : "start");

    startInitThread = 1;
    StartThread(&thInit, LoadThread, w);
    SleepWhileRunning(w, static_cast<unsigned>(waitTAV + 1) * 1000u);
    startInitThread = 0;
    // The countdown may be in the middle of a frame; let it finish before the
    // next picture goes into the same buffers.
    JoinThread(&thInit);

    StartThread(&thAggFw, AggFWThread, w);
    ShowImage(w, "statusB");
    InitMenuNova(w);
    TavParams par{};
    getParameters(&par, w);
    LoadButtons(w, par);

    w->freq = static_cast<int32_t>(par.freqCur);

    CheckAudioFrame(w);
    if (w->audioBitrate > 0) CreateAudioCodec(w);

    linksStarting = true;
    if (s->EnableKeyb == '1') StartThread(&thrKey, keyb, w);
    StartThreadSoket(w);
    StartThreadTAV(w);
    if (s->EnableWrite == '1' || s->EnableRead == '1' || s->EnableCAT == '1' ||
        s->EnableFFT == '1') {
        ExitThreadRemote(w);
        SleepWhileRunning(w, 2000);
        StartThreadCommRemote(w);
        SleepWhileRunning(w, 2000);
        w->remoteOn = 1;
    }
    StartThreadCATserial(w);
    StartThreadRigctl(w);
    StartThreadLogger(w);
    StartThreadAmpctld(w);
    if (s->EnableTime == '1') StartThread(&thrTime, timer, w);
}

int ShutDown(Works *w) {
    Trace("Close..\n");
    startInitThread = 0;
    JoinThread(&thInit);
    {
        std::lock_guard<std::recursive_mutex> frame(w->frameLock);
        ShowBackground(w, "start");
        fbRealize(&w->fb);
        fbSetBack(&w->fb);
        putString(9, 330, 400, "Error! Close Program! Restart hw.", 255, 255, 255, &w->fb, 0, 0, 0,
                  0);
        fbRealize(&w->fb);
    }
    SleepMs(2000);
    LogInfo("Communicator operations end");

    static const struct {
        ThreadHandle *h;
        const char *line;
    } joins[] = {
        {&thrKey, "Communicator joined Key end"},
        {&thrFFT, "Communicator joined FFT end"},
        {&thrLeggi, "Communicator joined Touch end"},
        {&thrScrivi, "Communicator joined Spi end"},
        {&thrWsock, "Communicator joined Wsocket end"},
        {&thrCat, "Communicator joined Cat end"},
        {&thrCatSer, "Communicator joined CatSerial end"},
        {&thrRigctl, "Communicator joined Rigctl end"},
        {&thrLogger, "Communicator joined Logger end"},
        {&thrAmpctld, "Communicator joined Ampctld end"},
        {&thrSer, "Communicator joined Serial end"},
        {&thrLin, "Communicator joined Linear end"},
        {&thrTime, "Communicator joined Time end"},
        {&thrGPIO, "Communicator joined GPIO end"},
    };
    for (const auto &j : joins)
        if (JoinThread(j.h)) LogInfo("%s", j.line);

    JoinThread(&thAggFw); // ends at once when the run ends before its 30 s

    if (w->audioBitrate > 0) DestroyAudioCodec(w);
    Trace("Closed!\n");
    return 0;
}
