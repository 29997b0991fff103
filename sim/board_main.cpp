// helix-sim-board --root DIR [--drive W] [--gain G] [--swr S] [--power-class C]
//                 [--temp-tau SECONDS] [--quiet]
// A simulated power board on a pseudo-terminal linked as DIR/dev/ttyAMA0.
// Prints each command and its reply; runs until killed. SIGUSR1 makes it stay
// silent for the next four commands, SIGUSR2 refuses the next one with '?'.
#include "board.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

int main(int argc, char **argv) {
    std::string root;
    float drive = 0.0f, gain = 10.0f, swr = 1.2f, tau = 60.0f;
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
        else if (a == "--swr")
            swr = std::strtof(next(), nullptr);
        else if (a == "--power-class")
            powerClass = next()[0];
        else if (a == "--temp-tau")
            tau = std::strtof(next(), nullptr);
        else if (a == "--quiet")
            quiet = true;
        else {
            std::fprintf(stderr,
                         "usage: %s --root DIR [--drive W] [--gain G] [--swr S] "
                         "[--power-class C] [--temp-tau S] [--quiet]\n",
                         argv[0]);
            return 2;
        }
    }
    if (root.empty()) {
        std::fprintf(stderr, "%s: --root DIR is required\n", argv[0]);
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = OnSilent;
    sigaction(SIGUSR1, &sa, nullptr);
    sa.sa_handler = OnRefuse;
    sigaction(SIGUSR2, &sa, nullptr);

    static SimBoard board;
    SimBoardSet(&board, [&](SimBoardState &st) {
        st.driveW = drive;
        st.gain = gain;
        st.loadSwr = swr;
        st.thermalTau = tau;
        st.ee[2][0] = 0x01;
        st.ee[2][1] = static_cast<uint8_t>(powerClass);
    });
    if (!quiet)
        board.onFrame = [](const SimFrame &f) {
            std::printf("%s%s -> %s\n", f.crcOk ? "" : "(bad CRC) ", f.text.c_str(),
                        f.reply.empty() ? "(no reply)" : f.reply.c_str());
            std::fflush(stdout);
        };
    if (SimBoardStart(&board, root) != 0) {
        std::perror("helix-sim-board");
        return 1;
    }
    std::printf("power board on %s (%s)\n", board.linkPath.c_str(), board.slavePath.c_str());
    std::fflush(stdout);
    while (!gStop) {
        usleep(20000);
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
    return 0;
}
