// helix-sim-board: a simulated power board on a pseudo-terminal linked as
// DIR/dev/ttyAMA0, with a control input (FIFO and standard input). See --help.
#include "board.h"
#include "panel_web.h"
#include "model/readings.h"
#include "platform/clock.h"
#include "platform/panel_micro_sim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static volatile sig_atomic_t gStop = 0, gSilent = 0, gRefuse = 0;
static void OnSignal(int) {
    gStop = 1;
}
static void OnSilent(int) {
    gSilent = 1;
}
static void OnRefuse(int) {
    gRefuse = 1;
}

static void Usage(const char *prog, FILE *to) {
    std::fprintf(
        to,
        "usage: %s --root DIR [options]\n"
        "A simulated power board on a pseudo-terminal linked as DIR/dev/ttyAMA0.\n"
        "Prints each command and its reply; runs until killed.\n\n"
        "  --drive W          drive (input) power, watts (0: receive)\n"
        "  --gain G           small-signal gain with the amplifier in line (10)\n"
        "  --sat W            saturated output, watts (66, or 132 with --power-class 1;\n"
        "                     0: a linear amplifier)\n"
        "  --max-drive W      drive that trips the input sensor (9, or 18; 0: never)\n"
        "  --swr S            a fixed SWR of the load, tuner model off (1.2)\n"
        "  --load R,X|NAME    tuner model on with antenna load R + jX ohms, or an\n"
        "                     antenna model (vertical dipole dipole-coax endfed nomatch)\n"
        "  --fwd W            forward power shown instead of the model's\n"
        "  --refl W           reflected power shown instead of the model's\n"
        "  --temp1 C          heat-sink sensor 1 at start (25)\n"
        "  --temp2 C          heat-sink sensor 2 at start (25)\n"
        "  --temp-tau S       thermal time constant, seconds (60; 0 holds them)\n"
        "  --aux RAW          raw supply-current reading, 0..4095, instead of the model's\n"
        "  --freq HZ          measured frequency until \"FA\" sets another (14070000)\n"
        "  --tolerance SEED   tuner parts drawn within +-5 %% from SEED\n"
        "  --noise SEED       2 counts plus 3 %% noise on the reflected reading, from SEED\n"
        "  --power-class C    EEPROM power class character (0: 60 W, 1: 120 W)\n"
        "  --ctl PATH         control FIFO (DIR/sim-board.ctl)\n"
        "  --wire PATH        log of the commands but the status polls (DIR/sim-board.wire)\n"
        "  --quiet            do not print the exchanges\n"
        "  --help             this text\n\n"
        "Control input: one command per line, written to the control FIFO\n"
        "(echo \"drive 50\" > DIR/sim-board.ctl) or typed on standard input:\n%s\n"
        "The PA rail (and so the supply current for a given output) follows the\n"
        "panel micro's reading in DIR/panel-micro.txt (\"vamp\"), as the screen shows it.\n"
        "Signals: SIGUSR1 silent for the next four commands, SIGUSR2 refuses the next\n"
        "one with '?'.\n",
        prog, SimBoardControlHelp());
}

// The wire log: every command but the status polls ("ST;", "FM;", answered
// or not), one line each, "HH:MM:SS.mmm TEXT -> REPLY"; the file starts
// again (the old one kept as PATH.1) past 256 KiB.
static FILE *gWire = nullptr;
static std::string gWirePath;
static void WireLog(const SimFrame &f) {
    bool poll = f.text == "ST;" || f.text == "FM;";
    if (gWire == nullptr || poll) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    std::fprintf(gWire, "%02d:%02d:%02d.%03ld %s%s -> %s\n", t.tm_hour, t.tm_min, t.tm_sec,
                 ts.tv_nsec / 1000000, f.crcOk ? "" : "(bad CRC) ", f.text.c_str(),
                 f.reply.empty() ? "(no reply)" : f.reply.c_str());
    std::fflush(gWire);
    if (std::ftell(gWire) > 256 * 1024) {
        std::fclose(gWire);
        std::rename(gWirePath.c_str(), (gWirePath + ".1").c_str());
        gWire = std::fopen(gWirePath.c_str(), "we");
    }
}

// The PA rail in volts as the controller reads it from the simulated panel
// micro (DIR/panel-micro.txt "vamp", else the micro's default byte).
static float PanelRailVolts(const std::string &root, char powerClass) {
    uint8_t adc = kSimPanelRails[2];
    FILE *f = std::fopen((root + "/panel-micro.txt").c_str(), "re");
    if (f != nullptr) {
        char key[32];
        char value[32];
        while (std::fscanf(f, "%31s %31s", key, value) == 2) {
            long v = std::strtol(value, nullptr, 0);
            if (std::strcmp(key, "vamp") == 0 && v >= 0 && v <= 255) adc = static_cast<uint8_t>(v);
        }
        std::fclose(f);
    }
    return RailVolts(adc, powerClass);
}

// Splits `buf` into lines and runs each through the control input.
static void Feed(SimBoard *board, std::string *acc, const char *data, ssize_t n) {
    acc->append(data, static_cast<size_t>(n));
    size_t pos;
    while ((pos = acc->find('\n')) != std::string::npos) {
        std::string line = acc->substr(0, pos);
        acc->erase(0, pos + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::printf("control: %s\n", SimBoardControl(board, line).c_str());
        std::fflush(stdout);
    }
    if (acc->size() > 4096) acc->clear();
}

int main(int argc, char **argv) {
    std::string root, ctl, load, wire, tolerance, noise;
    float drive = 0.0f, gain = 10.0f, swr = 1.2f, tau = 60.0f, fwd = -1.0f, refl = -1.0f;
    float sat = -1.0f, maxDrive = -1.0f; // below 0: from the power class
    float temp1 = 25.0f, temp2 = 25.0f;
    int aux = -1;
    long long freq = 14070000;
    char powerClass = '0';
    bool quiet = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--root")
            root = next();
        else if (a == "--drive")
            drive = std::strtof(next(), nullptr);
        else if (a == "--gain")
            gain = std::strtof(next(), nullptr);
        else if (a == "--sat")
            sat = std::strtof(next(), nullptr);
        else if (a == "--max-drive")
            maxDrive = std::strtof(next(), nullptr);
        else if (a == "--swr")
            swr = std::strtof(next(), nullptr);
        else if (a == "--load")
            load = next();
        else if (a == "--fwd")
            fwd = std::strtof(next(), nullptr);
        else if (a == "--refl")
            refl = std::strtof(next(), nullptr);
        else if (a == "--temp1")
            temp1 = std::strtof(next(), nullptr);
        else if (a == "--temp2")
            temp2 = std::strtof(next(), nullptr);
        else if (a == "--aux")
            aux = std::atoi(next());
        else if (a == "--freq")
            freq = std::atoll(next());
        else if (a == "--tolerance")
            tolerance = next();
        else if (a == "--noise")
            noise = next();
        else if (a == "--power-class")
            powerClass = next()[0];
        else if (a == "--temp-tau")
            tau = std::strtof(next(), nullptr);
        else if (a == "--ctl")
            ctl = next();
        else if (a == "--wire")
            wire = next();
        else if (a == "--quiet")
            quiet = true;
        else if (a == "--help" || a == "-h") {
            Usage(argv[0], stdout);
            return 0;
        } else {
            Usage(argv[0], stderr);
            return 2;
        }
    }
    if (root.empty()) {
        std::fprintf(stderr, "%s: --root DIR is required (see --help)\n", argv[0]);
        return 2;
    }
    if (ctl.empty()) ctl = root + "/sim-board.ctl";
    if (wire.empty()) wire = root + "/sim-board.wire";
    gWirePath = wire;
    gWire = std::fopen(wire.c_str(), "we");
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = OnSilent;
    sigaction(SIGUSR1, &sa, nullptr);
    sa.sa_handler = OnRefuse;
    sigaction(SIGUSR2, &sa, nullptr);
    // Started in the background of a terminal: reading standard input then
    // fails (instead of stopping the process) and only the FIFO is used.
    sa.sa_handler = SIG_IGN;
    sigaction(SIGTTIN, &sa, nullptr);

    SimLoad simLoad;
    if (!load.empty()) {
        std::string text = load;
        for (char &c : text)
            if (c == ',') c = ' ';
        if (!SimLoadParse(text, &simLoad)) {
            std::fprintf(stderr, "%s: --load %s: not R,X nor an antenna model\n", argv[0],
                         load.c_str());
            return 2;
        }
    }
    static SimBoard board;
    SimBoardSet(&board, [&](SimBoardState &st) {
        SimBoardRated(st, powerClass);
        st.driveW = drive;
        st.gain = gain;
        if (sat >= 0.0f) st.satW = sat;
        if (maxDrive >= 0.0f) st.maxDriveW = maxDrive;
        st.loadSwr = swr;
        st.tunerModel = !load.empty();
        st.load = simLoad;
        st.thermalTau = tau;
        st.fwdW = fwd;
        st.reflW = refl;
        st.temp1 = temp1;
        st.temp2 = temp2;
        st.auxRaw = aux > 4095 ? 4095 : aux;
        st.freq = static_cast<uint32_t>(freq);
        st.ee[2][0] = 0x01;
        st.supplyV = PanelRailVolts(root, powerClass);
    });
    for (const std::string &line : {"tolerance " + tolerance, "noise " + noise}) {
        if (line.back() == ' ') continue;
        std::string answer = SimBoardControl(&board, line);
        if (answer.rfind("ok", 0) != 0) {
            std::fprintf(stderr, "%s: --%s: not a seed (%s)\n", argv[0], line.c_str(),
                         answer.c_str());
            return 2;
        }
    }
    board.onFrame = [quiet](const SimFrame &f) {
        WireLog(f);
        if (!quiet)
            std::printf("%s%s -> %s\n", f.crcOk ? "" : "(bad CRC) ", f.text.c_str(),
                        f.reply.empty() ? "(no reply)" : f.reply.c_str());
        std::fflush(stdout);
    };
    if (SimBoardStart(&board, root) != 0) {
        std::perror("helix-sim-board");
        return 1;
    }
    // The control FIFO, opened for reading and writing so it never reports
    // end of file between two writers.
    struct stat sb {};
    if (lstat(ctl.c_str(), &sb) == 0 && !S_ISFIFO(sb.st_mode)) unlink(ctl.c_str());
    if (mkfifo(ctl.c_str(), 0666) != 0 && errno != EEXIST)
        std::fprintf(stderr, "helix-sim-board: no control FIFO %s: %s\n", ctl.c_str(),
                     std::strerror(errno));
    int ctlFd = open(ctl.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    std::printf("power board on %s (%s), control %s\n", board.linkPath.c_str(),
                board.slavePath.c_str(), ctl.c_str());
    std::fflush(stdout);
    bool stdinOpen = true;
    std::string ctlAcc, inAcc;
    // DIR/sim-board.state: the "show" line, twice a second, for the page.
    std::string stateFile = root + "/sim-board.state";
    uint64_t stateAt = 0;
    while (!gStop) {
        if (NowMs() - stateAt >= 500) {
            stateAt = NowMs();
            float volts = PanelRailVolts(root, powerClass);
            SimBoardSet(&board, [volts](SimBoardState &st) { st.supplyV = volts; });
            SimWriteStateLine(stateFile, SimBoardControl(&board, "show"));
        }
        pollfd p[2] = {{ctlFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        int r = poll(p, 2, 20);
        char buf[512];
        if (r > 0 && ctlFd >= 0 && (p[0].revents & POLLIN)) {
            ssize_t n = read(ctlFd, buf, sizeof buf);
            if (n > 0) Feed(&board, &ctlAcc, buf, n);
        }
        if (r > 0 && stdinOpen && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = read(0, buf, sizeof buf);
            if (n > 0)
                Feed(&board, &inAcc, buf, n);
            else if (n == 0 || errno != EINTR)
                stdinOpen = false; // end of input (or none): the FIFO still works
        }
        if (gSilent) {
            gSilent = 0;
            SimBoardFault(&board, [](SimBoardFaults &f) { f.silent = 4; });
        }
        if (gRefuse) {
            gRefuse = 0;
            SimBoardFault(&board, [](SimBoardFaults &f) {
                f.refuse = 1;
                f.refuseChar = '?';
            });
        }
    }
    SimBoardStop(&board);
    if (ctlFd >= 0) close(ctlFd);
    unlink(ctl.c_str());
    unlink(stateFile.c_str());
    return 0;
}
