// helix-sim-radio --root DIR [--ft817 | --tav] [--freq HZ] [--vfo a|b] [--mode N]
//                 [--tx 0|1] [--input N] [--port PATH] [--no-cat] [--ctl PATH]
// Runs a simulated radio on a pseudo-terminal linked into the simulated root
// until it is killed. Without --ft817/--tav the interface marker of the
// unit's current bank (<root>/opt/set/antenna_b<N>.txt) chooses: "!817" the
// FT-817, "!Net" too (the radio behind a rig daemon), else the TAV (also for
// "!Udp", where the unit follows the logging program instead); and when
// the unit switches its interface (INTERF), the radio follows within a second.
// Lines on standard input or written to the control FIFO (DIR/sim-radio.ctl)
// change it while it runs: "freq HZ", "vfo a|b", "mode N", "tx 0|1",
// "input N", and the link faults "silent 0|1", "garbage TEXT"; "show".
#include "radio.h"
#include "panel_web.h"
#include "platform/clock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static volatile sig_atomic_t gStop = 0;
static void OnSignal(int) {
    gStop = 1;
}

static int Usage(const char *prog) {
    std::fprintf(stderr,
                 "usage: %s --root DIR [--ft817|--tav] [--freq HZ] [--vfo a|b] [--mode N]\n"
                 "          [--tx 0|1] [--input N] [--port PATH] [--no-cat] [--ctl PATH]\n"
                 "Control lines (standard input or the FIFO DIR/sim-radio.ctl): freq HZ,\n"
                 "vfo a|b, mode N, tx 0|1, input N, silent 0|1, garbage TEXT, show\n",
                 prog);
    return 2;
}

static SimRadioKind KindFromBank(const std::string &root) {
    std::string mode = PanelWorkingMode(root);
    return mode == "ft817" || mode == "net" ? SimRadioKind::Ft817 : SimRadioKind::Tav;
}

int main(int argc, char **argv) {
    SimRadioConfig cfg;
    bool kindGiven = false;
    std::string ctl;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const char *v = nullptr;
        if (a == "--root" && (v = next()))
            cfg.root = v;
        else if (a == "--ft817")
            cfg.kind = SimRadioKind::Ft817, kindGiven = true;
        else if (a == "--tav")
            cfg.kind = SimRadioKind::Tav, kindGiven = true;
        else if (a == "--freq" && (v = next()))
            cfg.freq = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--vfo" && (v = next()))
            cfg.vfoB = (v[0] == 'b' || v[0] == 'B');
        else if (a == "--mode" && (v = next()))
            cfg.opMode = std::atoi(v);
        else if (a == "--tx" && (v = next()))
            cfg.tx = std::atoi(v);
        else if (a == "--input" && (v = next()))
            cfg.inputSel = std::atoi(v);
        else if (a == "--port" && (v = next()))
            cfg.port = v;
        else if (a == "--no-cat")
            cfg.catPort.clear();
        else if (a == "--ctl" && (v = next()))
            ctl = v;
        else
            return Usage(argv[0]);
    }
    if (cfg.root.empty()) return Usage(argv[0]);
    while (cfg.root.size() > 1 && cfg.root.back() == '/')
        cfg.root.pop_back();
    if (!kindGiven) cfg.kind = KindFromBank(cfg.root);
    if (ctl.empty()) ctl = cfg.root + "/sim-radio.ctl";

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    // Started in the background of a terminal: reading standard input then
    // fails (instead of stopping the process) and only the FIFO is used.
    std::signal(SIGTTIN, SIG_IGN);
    SimRadio *radio = SimRadioStart(cfg);
    if (radio == nullptr) return 1;
    std::printf("%s on %s%s (%s)\n", cfg.kind == SimRadioKind::Ft817 ? "FT-817" : "TAV",
                cfg.root.c_str(), cfg.port.c_str(), SimRadioPty(radio).c_str());
    std::fflush(stdout);

    // The control FIFO, opened for reading and writing so it never reports
    // end of file between two writers; standard input takes the same lines.
    struct stat sb {};
    if (lstat(ctl.c_str(), &sb) == 0 && !S_ISFIFO(sb.st_mode)) unlink(ctl.c_str());
    if (mkfifo(ctl.c_str(), 0666) != 0 && errno != EEXIST)
        std::fprintf(stderr, "helix-sim-radio: no control FIFO %s: %s\n", ctl.c_str(),
                     std::strerror(errno));
    int ctlFd = open(ctl.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    std::printf("control %s\n", ctl.c_str());
    std::fflush(stdout);
    bool input = true;
    std::string inAcc, ctlAcc;
    auto feed = [&](std::string *acc, const char *data, ssize_t n) {
        acc->append(data, static_cast<size_t>(n));
        size_t pos;
        while ((pos = acc->find('\n')) != std::string::npos) {
            std::string cmd = acc->substr(0, pos);
            acc->erase(0, pos + 1);
            if (!cmd.empty() && cmd.back() == '\r') cmd.pop_back();
            std::printf("control: %s\n", SimRadioControl(radio, cmd).c_str());
            std::fflush(stdout);
        }
        if (acc->size() > 4096) acc->clear();
    };
    // DIR/sim-radio.state: the "show" line, five times a second, for the page.
    std::string stateFile = cfg.root + "/sim-radio.state";
    uint64_t kindAt = NowMs();
    while (!gStop) {
        if (!kindGiven && NowMs() - kindAt >= 1000) {
            kindAt = NowMs();
            SimRadioKind kind = KindFromBank(cfg.root);
            if (kind != cfg.kind) {
                // The same radio state behind the other protocol, on the same port.
                cfg.kind = kind;
                cfg.freq = SimRadioFreq(radio);
                SimRadioStop(radio);
                radio = SimRadioStart(cfg);
                if (radio == nullptr) return 1;
                std::printf("now %s on %s%s\n", kind == SimRadioKind::Ft817 ? "FT-817" : "TAV",
                            cfg.root.c_str(), cfg.port.c_str());
                std::fflush(stdout);
            }
        }
        SimWriteStateLine(stateFile, SimRadioControl(radio, "show"));
        pollfd p[2] = {{ctlFd, POLLIN, 0}, {input ? 0 : -1, POLLIN, 0}};
        if (poll(p, 2, 200) <= 0) continue;
        char buf[256];
        if (ctlFd >= 0 && (p[0].revents & POLLIN)) {
            ssize_t n = read(ctlFd, buf, sizeof buf);
            if (n > 0) feed(&ctlAcc, buf, n);
        }
        if (input && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = read(0, buf, sizeof buf);
            if (n > 0)
                feed(&inAcc, buf, n);
            else if (n == 0 || errno != EINTR)
                input = false; // no more commands there: the FIFO still works
        }
    }
    if (ctlFd >= 0) close(ctlFd);
    unlink(ctl.c_str());
    unlink(stateFile.c_str());
    SimRadioStop(radio);
    return 0;
}
