// Saves cut short by SIGKILL. A child process loops the real save functions
// (setup, bank table, tuner memory, temperature log, network file) between two
// known contents and is killed at a random moment, a thousand times in a row;
// after every kill each file must hold one of its two contents whole and the
// readers of the next start must take it. A few kills of the whole controller
// while the bank key saves the setup show the real process behaves the same.
#include "board.h"
#include "helix_process.h"
#include "panel_keys.h"
#include "unit.h"

#include "amplifier/temp_log.h"
#include "config/antenna_banks.h"
#include "config/setup.h"
#include "config/tuner_memory.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "config/network.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kBank = 2;
constexpr int kKills = 1000;
const char *kInterfacesText = "auto lo\niface lo inet loopback\n\nauto eth0\n"
                              "iface eth0 inet static\naddress 192.168.1.60\n"
                              "netmask 255.255.255.0\ngateway 192.168.1.1\n"
                              "dns-nameservers 192.168.1.1\n";

// Content `v` (0 or 1) of everything the loop saves, set in the unit's memory.
void SetContent(Works *w, int v) {
    w->tcpPort = v ? 7777 : 6666;
    w->numBanco = kBank;
    w->ModeWorkIdx = 1;
    int rows = v ? 5 : 3;
    w->memRows = rows;
    for (int i = 0; i < kAntRows; i++) {
        AntennaRow &r = w->antTab[i];
        r = AntennaRow{};
        std::snprintf(r.name, sizeof r.name, "%s%u", v ? "B" : "A", unsigned(i & 0xff));
        r.fStart = 1800000 + i * 2000000;
        r.fStop = r.fStart + 200000;
        r.ampEnable = 1;
        r.ant = uint8_t(1 + (i + v) % 3);
        r.pwr = float(100 + v);
    }
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    for (TuneEntry &e : w->tuneMem[0])
        e = TuneEntry{};
    for (int i = 0; i < (v ? 40 : 12); i++)
        w->tuneMem[0][100 + 7 * i] =
            TuneEntry{1, uint8_t(1 + v), int16_t(10 + i), int16_t(300 - i)};
    uint8_t ip[4] = {10, 1, 2, uint8_t(v ? 20 : 10)};
    std::memcpy(IP_v, ip, 4);
    uint8_t mask[4] = {255, 255, uint8_t(v ? 0 : 255), 0};
    std::memcpy(NetMask_v, mask, 4);
}

int AtuEntries(int v) {
    return v ? 40 : 12;
}

// One pass of every save, as the unit makes them; the temperature log gets a
// record (an alarm record every other pass) and starts a new generation every
// eighth pass.
void SaveAll(Works *w, unsigned pass) {
    SetContent(w, int(pass & 1));
    writeSetup(w);
    SaveTabConfig(w, kBank);
    SaveTabAtu(w, kBank, 0);
    LogTempFunction(w, pass % 8 == 7 ? -1 : int(pass & 1));
    SaveLanParam();
}

struct Known {
    std::string setup[2], bank[2], atu[2], lan[2];
    std::string header = ";TX,Temp1,Temp2,FDD,SWR\n";
    std::string recordTail[2]; // a record after its 19-character time stamp
};

// A temperature log is whole when it is absent or its header followed by
// whole records.
bool TempLogWhole(const std::string &path, const Known &k, std::string *why) {
    std::string text;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return true;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    if (text.compare(0, k.header.size(), k.header) != 0) {
        *why = path + " does not start with its header: [" + text + "]";
        return false;
    }
    size_t at = k.header.size();
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) {
            *why = path + " ends in a torn record: [" + text.substr(at) + "]";
            return false;
        }
        std::string line = text.substr(at, nl + 1 - at);
        std::string tail = line.size() > 19 ? line.substr(19) : "";
        if (tail != k.recordTail[0] && tail != k.recordTail[1]) {
            *why = path + " holds a torn record: [" + line + "]";
            return false;
        }
        at = nl + 1;
    }
    return true;
}

// Which of the two contents `text` is: 0, 1, or -1 for neither.
int Which(const std::string &text, const std::string (&known)[2]) {
    return text == known[0] ? 0 : text == known[1] ? 1 : -1;
}

// Every file after a kill: one of its contents whole, read back by the
// readers of the next start. Empty when all is well, else what is wrong.
std::string CheckAfterKill(const ScopedSimRoot &root, const Known &k) {
    std::ostringstream why;
    std::string setup = ReadWholeFile(root.Path("/opt/set/setup.txt"));
    std::string bank = ReadWholeFile(root.Path(BankAntennaFile(kBank)));
    std::string atu = ReadWholeFile(root.Path(BankAtuFile(kBank, 1)));
    std::string lan = ReadWholeFile(root.Path("/etc/network/interfaces"));
    int vs = Which(setup, k.setup), vb = Which(bank, k.bank), va = Which(atu, k.atu),
        vl = Which(lan, k.lan);
    if (vs < 0) why << "setup file torn: [" << setup << "]\n";
    if (vb < 0) why << "bank table torn: [" << bank << "]\n";
    if (va < 0) why << "tuner memory torn: [" << atu << "]\n";
    if (vl < 0) why << "network file torn: [" << lan << "]\n";
    std::string t;
    if (!TempLogWhole(root.Path(kTempLogPath), k, &t)) why << t << "\n";
    if (!TempLogWhole(root.Path(kTempLogPrevPath), k, &t)) why << t << "\n";
    if (!why.str().empty()) return why.str();

    auto fresh = std::make_unique<TestUnit>();
    Works *w = fresh->w();
    readSetup(w);
    if (w->tcpPort.load() != (vs ? 7777 : 6666))
        why << "readSetup took port " << w->tcpPort.load() << "\n";
    LoadTabConfig(w, kBank);
    if (w->memRows.load() != (vb ? 5 : 3) || w->antTab[0].name[0] != (vb ? 'B' : 'A'))
        why << "LoadTabConfig took " << w->memRows.load() << " rows\n";
    if (LoadTabAtu(w, kBank, 0) != AtuEntries(va)) why << "LoadTabAtu took another count\n";
    std::memset(IP_v, 0, 4);
    if (ReadLanParam() != 0 || IP_v[3] != (vl ? 20 : 10))
        why << "ReadLanParam took " << int(IP_v[3]) << "\n";
    return why.str();
}

// Standard output and error go to /dev/null while it lives (the savers and
// readers trace every step); the test's own report comes after.
struct QuietOutput {
    int out = dup(1), err = dup(2);
    QuietOutput() {
        std::fflush(stdout);
        std::fflush(stderr);
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, 1);
        dup2(null, 2);
        close(null);
    }
    ~QuietOutput() {
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
    }
};

TEST(CrashSafety, EverySaveSurvivesAThousandKills) {
    ScopedSimRoot root;
    WriteWholeFile(root.Path("/etc/network/interfaces"), kInterfacesText);
    auto unit = std::make_unique<TestUnit>();
    Works *w = unit->w();
    Known k;
    std::string failure;
    int kills = 0, insideWrite = 0, changes = 0;
    long cycleUs = 0, windowCycleUs = 0;
    {
        QuietOutput quiet;
        for (int v = 0; v < 2; v++) {
            SaveAll(w, unsigned(v));
            k.setup[v] = ReadWholeFile(root.Path("/opt/set/setup.txt"));
            k.bank[v] = ReadWholeFile(root.Path(BankAntennaFile(kBank)));
            k.atu[v] = ReadWholeFile(root.Path(BankAtuFile(kBank, 1)));
            k.lan[v] = ReadWholeFile(root.Path("/etc/network/interfaces"));
            k.recordTail[v] = FormatTempRecord(w, v).substr(19);
        }
        // How long a pass takes here and now, with and without the write
        // window held, to spread the kills over it.
        auto passUs = [&](bool window) {
            if (window) RemountRw();
            auto t0 = std::chrono::steady_clock::now();
            for (unsigned pass = 0; pass < 6; pass++)
                SaveAll(w, pass);
            long us = long(std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - t0)
                               .count() /
                           6);
            if (window) RemountRo();
            return us;
        };
        cycleUs = passUs(false);
        windowCycleUs = passUs(true);

        std::mt19937 rng(20261207);
        std::string last = k.setup[1];
        for (; kills < kKills && failure.empty(); kills++) {
            int ready[2];
            if (pipe(ready) != 0) {
                failure = "no pipe";
                break;
            }
            // Three children in four hold the write window open for their
            // whole life (as a save nested in another's window does): no
            // remount shells, so their kills land in the file writes more
            // often and the test stays short.
            bool holdWindow = kills % 4 != 0;
            unsigned first = rng();
            pid_t pid = fork();
            if (pid == 0) {
                close(ready[0]);
                if (holdWindow) RemountRw();
                char c = 1;
                if (write(ready[1], &c, 1) != 1) _exit(1);
                for (unsigned pass = first;; pass++)
                    SaveAll(w, pass);
            }
            close(ready[1]);
            char c;
            if (pid < 0 || read(ready[0], &c, 1) != 1) {
                close(ready[0]);
                failure = "the saving child did not start";
                if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
                break;
            }
            close(ready[0]);
            long span = holdWindow ? windowCycleUs : cycleUs;
            long delayUs = long(rng() % unsigned(span + span / 2 + 1));
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            kill(pid, SIGKILL);
            int st = 0;
            waitpid(pid, &st, 0);
            if (!WIFSIGNALED(st) || WTERMSIG(st) != SIGKILL) {
                failure = "the child ended by itself";
                break;
            }
            // A temporary file left behind: the kill came inside a safe write.
            for (const std::string &f :
                 {std::string("/opt/set/setup.txt"), BankAntennaFile(kBank), BankAtuFile(kBank, 1),
                  std::string("/etc/network/interfaces")})
                if (access(root.Path(f + ".tmp").c_str(), F_OK) == 0) {
                    insideWrite++;
                    unlink(root.Path(f + ".tmp").c_str());
                }
            std::string why = CheckAfterKill(root, k);
            if (!why.empty()) {
                failure = "after kill " + std::to_string(kills + 1) + " (" +
                          std::to_string(delayUs) + " us):\n" + why;
                break;
            }
            std::string now = ReadWholeFile(root.Path("/opt/set/setup.txt"));
            if (now != last) changes++;
            last = now;
        }
    }
    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_EQ(kills, kKills);
    // The kills were spread over the saving, not all before or after it.
    EXPECT_GT(insideWrite, kKills / 20) << "few kills landed inside a write";
    EXPECT_GT(changes, kKills / 10) << "the contents hardly changed between kills";
    std::printf("%d kills survived (a pass of every save: %ld us, %ld us in an open window; "
                "%d kills left a temporary file, the setup changed %d times)\n",
                kills, cycleUs, windowCycleUs, insideWrite, changes);
}

// The whole controller killed while the bank key saves the setup: the file
// is the one from before a save or after it, whole, and the next start comes
// up on it.
TEST(CrashSafety, WholeControllerKilledWhileKeysSave) {
    ScopedSimRoot root;
    const std::string setupPath = root.Path("/opt/set/setup.txt");
    WriteWholeFile(setupPath,
                   SwitchesOff("EnableGPIO: 1\nEnableLinear: 1\nEnableTime: 1\nMAXbank: 20\n"));
    {
        // The file in the form every save writes, so a save changes only the
        // bank line.
        auto unit = std::make_unique<TestUnit>();
        testing::internal::CaptureStderr();
        readSetup(unit->w());
        writeSetup(unit->w());
        testing::internal::GetCapturedStderr();
    }
    SimBoard board;
    ASSERT_EQ(SimBoardStart(&board, root.root), 0);
    auto upCount = [&] {
        size_t n = 0;
        for (const SimFrame &f : SimBoardFrames(&board))
            if (f.text.rfind("FN", 0) == 0) n++; // the fan: the last command of the start
        return n;
    };
    auto withoutBank = [](const std::string &text) {
        std::string out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("NumBanco: ", 0) != 0) out += line + "\n";
        return out;
    };
    std::mt19937 rng(4242);
    std::string before;
    int saves = 0, pressed = 0;
    constexpr int kRounds = 3;
    for (int round = 0; round <= kRounds; round++) {
        size_t up = upCount();
        HelixProcess p;
        ASSERT_TRUE(p.Start(root.Path("/err" + std::to_string(round) + ".txt")));
        // The start reads the file the last kill left.
        if (!WaitUntil([&] { return upCount() > up; }, kPatienceMs)) {
            std::string frames;
            for (const SimFrame &f : SimBoardFrames(&board))
                frames += f.text + " ";
            ADD_FAILURE() << "start " << round << " did not come up\n"
                          << p.Err() << "\nboard saw: " << frames;
            p.Stop(SIGKILL);
            break;
        }
        if (round == kRounds) {
            EXPECT_GE(p.Stop(SIGTERM), 0);
            break;
        }
        // Keys act once the splash is over.
        if (!p.WaitFor("Time Loading ... 1..")) {
            ADD_FAILURE() << "start " << round << " kept its splash\n" << p.Err();
            p.Stop(SIGKILL);
            break;
        }
        SleepMs(1500);
        before = ReadWholeFile(setupPath);
        std::atomic<bool> stop{false};
        std::atomic<int> presses{0};
        std::thread presser([&] {
            while (!stop) {
                SimKeyHold(root.root, 1, 120);
                presses++;
                SleepMs(60);
            }
        });
        SleepMs(800 + int(rng() % 2500));
        p.Stop(SIGKILL);
        stop = true;
        presser.join();
        std::string after = ReadWholeFile(setupPath);
        if (after != before) saves++;
        // Only the bank line may differ, and it is whole.
        EXPECT_EQ(withoutBank(after), withoutBank(before)) << "round " << round;
        size_t at = after.find("NumBanco: ");
        ASSERT_NE(at, std::string::npos) << after;
        int bankInFile = std::atoi(after.c_str() + at + 10);
        EXPECT_EQ(after.find('\n', at) != std::string::npos, true);
        auto fresh = std::make_unique<TestUnit>();
        testing::internal::CaptureStderr();
        readSetup(fresh->w());
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(fresh->w()->numBanco.load(), bankInFile) << after;
        EXPECT_GT(presses.load(), 0);
        pressed += presses.load();
    }
    SimBoardStop(&board);
    // At least one round saved before its kill (the key did reach the file).
    EXPECT_GT(saves, 0);
    std::printf("%d kills of the controller while saving (%d key presses), the file changed "
                "in %d, every start came up\n",
                kRounds, pressed, saves);
}

} // namespace

namespace {

// Two threads saving the same file at once (a key's save while another
// thread saves the same table): the file ends as one of the two, whole.
TEST(CrashSafety, ConcurrentSavesOfOneFileStayWhole) {
    ScopedSimRoot root;
    const std::string a(6000, 'a'), b(9000, 'b');
    int torn = 0;
    for (int round = 0; round < 60; round++) {
        std::thread t1([&] { WriteFileSafe("/opt/set/same.txt", a, false); });
        std::thread t2([&] { WriteFileSafe("/opt/set/same.txt", b, false); });
        t1.join();
        t2.join();
        std::string now = ReadWholeFile(root.Path("/opt/set/same.txt"));
        if (now != a && now != b) torn++;
    }
    EXPECT_EQ(torn, 0);
}

} // namespace
