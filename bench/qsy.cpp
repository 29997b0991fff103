// QSY latency: the real controller on a simulated unit, the radio moved
// between 14.074 and 7.074 MHz, and the time from the radio's change to each
// band command on the board's wire (FA, SF, SA, MT1), for each working mode
// and for the links paced by event (now) and by the fixed sleeps of before
// (HELIX_PACING=sleep), side by side in one run. The floor is the wire time
// of the band's commands and their replies at 115200 baud, one exchange
// already on the wire and the radio's own exchange (FT-817: the 5-byte poll
// and reply at 38400 baud, two stop bits; TAV: one parameter frame), from
// the bytes of this run. In the logger mode (udp) the change is a logging
// program's <RadioInfo> datagram on the loopback, whose own time is taken as
// nil: the floor is the board's wire alone.
//
//   helix-bench-qsy [QSYS] [MODES...]     (default 20; ft817 tav gen; also udp)
// Run from the build directory (helix is taken from beside this program).
#include "board.h"
#include "panel_web.h"
#include "platform/clock.h"
#include "radio.h"
#include "sim_root.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kBoardByteMs = 10.0 / 115200 * 1000; // 8N1
constexpr double kCatByteMs = 11.0 / 38400 * 1000;    // 8N2
constexpr double kTavByteMs = 10.0 / 115200 * 1000;
constexpr int kTavParamBytes = 5 + 33; // header and parameter payload
constexpr int kTavPeriodMs = 200;      // the simulated stream's period
const char *const kBand[] = {"FA", "SF", "SA", "MT1"};
constexpr int kBands = 4;

std::string ExeDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    std::string s(buf);
    return s.substr(0, s.rfind('/'));
}

void WriteFile(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return;
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

pid_t StartHelix(const std::string &dir, const std::string &root, bool bySleep) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int fd = open((root + "/helix.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) dup2(null, 1);
    setsid();
    setenv("HELIX_ROOT", root.c_str(), 1);
    setenv("PATH", (root + "/bin:" + dir + ":" + std::getenv("PATH")).c_str(), 1);
    if (bySleep)
        setenv("HELIX_PACING", "sleep", 1);
    else
        unsetenv("HELIX_PACING");
    if (chdir(dir.c_str()) != 0) _exit(126);
    execl((dir + "/helix").c_str(), "helix", static_cast<char *>(nullptr));
    _exit(127);
}

// The first frame at or after `from` (ms) whose text starts with `prefix`.
const SimFrame *First(const std::vector<SimFrame> &f, uint64_t from, const std::string &prefix) {
    for (const SimFrame &x : f)
        if (x.ms >= from && x.text.compare(0, prefix.size(), prefix) == 0) return &x;
    return nullptr;
}

// A UDP port on the loopback that is free at the moment of asking.
int FreeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 12060;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool Poll(const std::string &t) {
    return t == "ST;" || t == "FM;";
}

struct Result {
    std::vector<double> lat[kBands]; // ms
    std::vector<double> floorMs;
    std::vector<std::string> commands; // per QSY, the band's commands in wire order
    int missed = 0;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

Result Run(const std::string &mode, bool bySleep, int qsys) {
    Result res;
    std::string root = MakeTempSimRoot();
    const char *marker = mode == "tav"     ? "!Tav"
                         : mode == "ft817" ? "!817"
                         : mode == "udp"   ? "!Udp"
                                           : "!Gen";
    // The root's bank 1 with the working mode of this run.
    std::string bank = root + "/opt/set/antenna_b1.txt";
    FILE *f = std::fopen(bank.c_str(), "r");
    std::string rows;
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr)
        if (line[0] != '!') rows += line;
    if (f != nullptr) std::fclose(f);
    WriteFile(bank, std::string(marker) + "\n" + rows);
    // Eight filters on the HF bands, so a band change selects another one.
    WriteFile(root + "/opt/set/filter.txt",
              ";filters\n1800000 2000000 1\n3500000 4000000 1\n5000000 5500000 1\n"
              "7000000 7300000 1\n10100000 10150000 1\n14000000 14350000 1\n"
              "18000000 21450000 1\n24000000 54000000 1\n");
    WriteFile(root + "/opt/set/setup.txt",
              "EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\n"
              "EnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\n");
    const int loggerPort = FreeUdpPort();
    WriteFile(root + "/opt/set/options.txt",
              "LoggerUdpBind: 127.0.0.1\nLoggerUdpPort: " + std::to_string(loggerPort) + "\n");

    SimBoard board;
    if (SimBoardStart(&board, root) != 0) {
        std::fprintf(stderr, "no board\n");
        std::exit(1);
    }
    SimRadio *radio = nullptr;
    if (mode != "gen" && mode != "udp") {
        SimRadioConfig cfg;
        cfg.kind = mode == "tav" ? SimRadioKind::Tav : SimRadioKind::Ft817;
        cfg.root = root;
        cfg.catPort.clear();
        cfg.spectrumPeriodMs = 0;
        cfg.paramPeriodMs = kTavPeriodMs;
        radio = SimRadioStart(cfg);
    }
    auto setFreq = [&](uint32_t hz) {
        std::string why;
        if (mode == "udp")
            PanelSendUdp(loggerPort, PanelRadioInfo(1, static_cast<int32_t>(hz), 1, false), &why);
        else if (radio != nullptr)
            SimRadioSetFreq(radio, hz);
        else
            SimBoardSet(&board, [hz](SimBoardState &st) { st.freq = hz; });
    };
    setFreq(14074000);
    pid_t helix = StartHelix(ExeDir(), root, bySleep);
    // Ready once the supervisor runs (after the splash) and the stored tune
    // of the starting band has gone out.
    uint64_t end = NowMs() + 60000;
    auto ready = [&] {
        FILE *log = std::fopen((root + "/var/log/helix.log").c_str(), "r");
        bool started = false;
        char l[512];
        while (log != nullptr && !started && std::fgets(l, sizeof l, log) != nullptr)
            started = std::strstr(l, "Timer thread started") != nullptr;
        if (log != nullptr) std::fclose(log);
        const std::vector<SimFrame> fr = SimBoardFrames(&board);
        // The logger mode: ready once the first datagram's frequency is out.
        return started && First(fr, 0, "MT1") != nullptr &&
               (mode != "udp" || First(fr, 0, "FA00014074000") != nullptr);
    };
    while (NowMs() < end && !ready()) {
        if (mode == "udp") setFreq(14074000); // until the unit listens
        SleepMs(100);
    }
    SleepMs(1000);

    for (int i = 0; i < qsys; i++) {
        uint32_t hz = i % 2 == 0 ? 7074000 : 14074000;
        SleepMs(700 + (i * 37) % 300); // a radio moved at no particular phase
        uint64_t t0 = NowMs();
        setFreq(hz);
        const SimFrame *mt = nullptr;
        std::vector<SimFrame> fr;
        uint64_t until = t0 + 3000;
        while (NowMs() < until) {
            fr = SimBoardFrames(&board);
            if ((mt = First(fr, t0, "MT1")) != nullptr) break;
            SleepMs(2);
        }
        if (mt == nullptr) {
            res.missed++;
            if (std::getenv("QSY_DEBUG") != nullptr)
                for (const SimFrame &x : fr)
                    if (x.ms + 500 >= t0 && !Poll(x.text))
                        std::fprintf(stderr, "%+6ld %s\n", long(x.ms) - long(t0), x.text.c_str());
            continue;
        }
        double cmdBytes = 0;
        std::string seq;
        for (const SimFrame &x : fr)
            if (x.ms >= t0 && x.ms <= mt->ms && !Poll(x.text)) {
                cmdBytes += 2 + x.text.size() + 2 + x.reply.size();
                seq += x.text;
            }
        res.commands.push_back(seq);
        double radioMs = mode == "ft817" ? 10 * kCatByteMs
                         : mode == "tav" ? kTavParamBytes * kTavByteMs
                                         : 0;
        // One status exchange already on the wire ("4dST;" and its reply).
        double onWire = (5 + 40) * kBoardByteMs;
        res.floorMs.push_back(cmdBytes * kBoardByteMs + onWire + radioMs);
        for (int b = 0; b < kBands; b++) {
            std::string prefix = kBand[b];
            if (b == 0) {
                char fa[20];
                std::snprintf(fa, sizeof fa, "FA%011u", hz);
                prefix = fa;
            }
            const SimFrame *x = First(fr, t0, prefix);
            if (x != nullptr && x->ms <= mt->ms) res.lat[b].push_back(double(x->ms - t0));
        }
        if (std::getenv("QSY_DEBUG") != nullptr)
            std::fprintf(stderr, "qsy %d to %u: MT1 after %ld ms\n", i, hz, long(mt->ms - t0));
    }
    kill(helix, SIGTERM);
    waitpid(helix, nullptr, 0);
    if (radio != nullptr) SimRadioStop(radio);
    SimBoardStop(&board);
    if (std::getenv("QSY_DEBUG") != nullptr)
        std::fprintf(stderr, "root kept: %s\n", root.c_str());
    else
        RemoveSimRoot(root);
    return res;
}

} // namespace

int main(int argc, char **argv) {
    int qsys = argc > 1 ? std::atoi(argv[1]) : 20;
    std::vector<std::string> modes;
    for (int i = 2; i < argc; i++)
        modes.push_back(argv[i]);
    if (modes.empty()) modes = {"ft817", "tav", "gen"};
    double load[3] = {};
    FILE *la = std::fopen("/proc/loadavg", "r");
    if (la != nullptr) {
        if (std::fscanf(la, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(la);
    }
    std::printf("QSY 14.074 <-> 7.074 MHz, %d per run, load average %.2f %.2f %.2f, %ld cores\n",
                qsys, load[0], load[1], load[2], sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("median / p90 in ms from the radio's change to the command on the board's wire\n");
    std::printf("%-6s %-6s %13s %13s %13s %13s %7s %10s\n", "mode", "pacing", "FA", "SF", "SA",
                "MT1", "floor", "MT1/floor");
    for (const std::string &mode : modes) {
        std::vector<std::string> eventCommands;
        for (bool bySleep : {false, true}) {
            Result r = Run(mode, bySleep, qsys);
            std::printf("%-6s %-6s", mode.c_str(), bySleep ? "sleep" : "event");
            for (int b = 0; b < kBands; b++) {
                if (r.lat[b].empty())
                    std::printf(" %13s", "-");
                else
                    std::printf(" %6.0f /%5.0f", Percentile(r.lat[b], 0.5),
                                Percentile(r.lat[b], 0.9));
            }
            double fl = Percentile(r.floorMs, 0.5);
            double mt = Percentile(r.lat[3], 0.5);
            std::printf(" %7.1f %10.1f", fl, fl > 0 && mt >= 0 ? mt / fl : -1.0);
            if (mode == "tav") std::printf("  (+ the stream's %d ms period)", kTavPeriodMs);
            if (r.missed != 0) std::printf("  %d QSYs without MT1", r.missed);
            // The same commands in the same order, whatever the pacing.
            if (!bySleep)
                eventCommands = r.commands;
            else
                std::printf("  wire %s", eventCommands == r.commands ? "identical" : "DIFFERS");
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
