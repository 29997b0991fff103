// helix-sim-radio --root DIR [--ft817 | --tav] [--freq HZ] [--vfo a|b] [--mode N]
//                 [--tx 0|1] [--input N] [--port PATH] [--no-cat]
// Runs a simulated radio on a pseudo-terminal linked into the simulated root
// until it is killed. Without --ft817/--tav the interface marker of bank 1
// (<root>/opt/set/antenna_b1.txt) chooses: "!817" the FT-817, else the TAV.
// Lines on standard input change it while it runs: "freq HZ", "vfo a|b",
// "mode N", "tx 0|1", "input N".
#include "radio.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <string>
#include <unistd.h>

static volatile sig_atomic_t gStop = 0;
static void OnSignal(int) {
    gStop = 1;
}

static int Usage(const char *prog) {
    std::fprintf(stderr,
                 "usage: %s --root DIR [--ft817|--tav] [--freq HZ] [--vfo a|b] [--mode N]\n"
                 "          [--tx 0|1] [--input N] [--port PATH] [--no-cat]\n",
                 prog);
    return 2;
}

static SimRadioKind KindFromBank(const std::string &root) {
    std::ifstream f(root + "/opt/set/antenna_b1.txt");
    std::string line;
    SimRadioKind kind = SimRadioKind::Tav;
    while (std::getline(f, line))
        if (line.rfind("!817", 0) == 0)
            kind = SimRadioKind::Ft817;
        else if (line.rfind("!Tav", 0) == 0 || line.rfind("!Gen", 0) == 0)
            kind = SimRadioKind::Tav;
    return kind;
}

int main(int argc, char **argv) {
    SimRadioConfig cfg;
    bool kindGiven = false;
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
        else
            return Usage(argv[0]);
    }
    if (cfg.root.empty()) return Usage(argv[0]);
    while (cfg.root.size() > 1 && cfg.root.back() == '/')
        cfg.root.pop_back();
    if (!kindGiven) cfg.kind = KindFromBank(cfg.root);

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    SimRadio *radio = SimRadioStart(cfg);
    if (radio == nullptr) return 1;
    std::printf("%s on %s%s (%s)\n", cfg.kind == SimRadioKind::Ft817 ? "FT-817" : "TAV",
                cfg.root.c_str(), cfg.port.c_str(), SimRadioPty(radio).c_str());
    std::fflush(stdout);

    bool input = true;
    std::string line;
    while (!gStop) {
        pollfd p{0, POLLIN, 0};
        if (!input || poll(&p, 1, 200) <= 0) {
            if (!input) usleep(200000);
            continue;
        }
        char buf[256];
        ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) { // no more commands: keep running until killed
            input = false;
            continue;
        }
        line.append(buf, static_cast<size_t>(n));
        size_t pos;
        while ((pos = line.find('\n')) != std::string::npos) {
            std::string cmd = line.substr(0, pos);
            line.erase(0, pos + 1);
            char word[16] = {};
            char arg[32] = {};
            if (std::sscanf(cmd.c_str(), "%15s %31s", word, arg) < 2) continue;
            std::string w = word;
            if (w == "freq")
                SimRadioSetFreq(radio, static_cast<uint32_t>(std::strtoul(arg, nullptr, 10)));
            else if (w == "vfo")
                SimRadioSetVfo(radio, arg[0] == 'b' || arg[0] == 'B');
            else if (w == "mode")
                SimRadioSetMode(radio, std::atoi(arg));
            else if (w == "tx")
                SimRadioSetTx(radio, std::atoi(arg));
            else if (w == "input")
                SimRadioSetInput(radio, std::atoi(arg));
        }
    }
    SimRadioStop(radio);
    return 0;
}
