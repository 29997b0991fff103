// helix-sim-panel against a simulated root: the page, the screen as PNG, keys
// through dev/mem, control lines into the simulators' FIFOs, the panel micro's
// settings and the error list read back from the trace; and the radio's
// control input with its link faults.
#include "model/tuner_word.h"
#include "config/antenna_banks.h"
#include "helix_process.h"
#include "panel_process.h"
#include "panel_web.h"
#include "platform/clock.h"
#include "radio.h"
#include "screenshot.h"
#include "sim_root.h"
#include "unit.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <png.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

uint32_t Gplev0(const std::string &root) {
    std::string mem = ReadWholeFile(root + "/dev/mem");
    uint32_t v = 0;
    std::memcpy(&v, mem.data() + kSimGPLEV0, 4);
    return v;
}

// Reads what is waiting in a FIFO we hold open for reading.
std::string Drain(int fd, int ms) {
    std::string got;
    WaitUntil(
        [&] {
            char buf[256];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0)
                got.append(buf, static_cast<size_t>(n));
            return !got.empty() && got.back() == '\n';
        },
        ms);
    return got;
}

// Pixel (x, y) of a PNG as 0xRRGGBB, or -1.
long PngPixel(const std::string &png, int x, int y, int *w, int *h) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, png.data(), png.size())) return -1;
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> px(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr)) return -1;
    *w = static_cast<int>(img.width);
    *h = static_cast<int>(img.height);
    const uint8_t *p = px.data() + (static_cast<size_t>(y) * img.width + x) * 3;
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

} // namespace

TEST(SimPanel, ScreenKeysWorldControlsAndReadouts) {
    ScopedSimRoot root;
    // A screen with one known pixel (stored B, G, R, X).
    std::string fb(static_cast<size_t>(kPanelScreenW) * kPanelScreenH * 4, '\0');
    size_t at = (static_cast<size_t>(20) * kPanelScreenW + 10) * 4;
    fb[at] = 0x30, fb[at + 1] = 0x20, fb[at + 2] = 0x10;
    WriteWholeFile(root.Path("/dev/fb0"), fb);
    // The simulators' control FIFOs, read by the test.
    ASSERT_EQ(mkfifo(root.Path("/sim-board.ctl").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(root.Path("/sim-radio.ctl").c_str(), 0666), 0);
    int boardFd = open(root.Path("/sim-board.ctl").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int radioFd = open(root.Path("/sim-radio.ctl").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(boardFd, 0);
    ASSERT_GE(radioFd, 0);

    PanelProcess panel;
    ASSERT_TRUE(panel.Start(root.root));
    httplib::Client c("127.0.0.1", panel.port);

    auto page = c.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("id=\"screen\""), std::string::npos);
    EXPECT_NE(page->body.find("/api/key"), std::string::npos);

    auto shot = c.Get("/screen.png");
    ASSERT_TRUE(shot);
    ASSERT_EQ(shot->status, 200);
    EXPECT_EQ(shot->get_header_value("Content-Type"), "image/png");
    int w = 0, h = 0;
    EXPECT_EQ(PngPixel(shot->body, 10, 20, &w, &h), 0x102030);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(PngPixel(shot->body, 11, 20, &w, &h), 0);
    // Unchanged: 204 for the tag the page holds; changed: a new image.
    std::string tag = shot->get_header_value("ETag");
    auto same = c.Get("/screen.png?have=" + tag);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->status, 204);
    fb[at + 2] = static_cast<char>(0xFF);
    WriteWholeFile(root.Path("/dev/fb0"), fb);
    auto moved = c.Get("/screen.png?have=" + tag);
    ASSERT_TRUE(moved);
    ASSERT_EQ(moved->status, 200);
    EXPECT_EQ(PngPixel(moved->body, 10, 20, &w, &h), 0xFF2030);

    // Key 3 is GPLEV0 bit 24, 0 while held.
    ASSERT_EQ(Gplev0(root.root) & kSimKeysReleased, kSimKeysReleased);
    auto down = c.Post("/api/key?n=3&a=down", "", "text/plain");
    ASSERT_TRUE(down);
    EXPECT_EQ(down->status, 200);
    EXPECT_EQ(Gplev0(root.root) & kSimKeysReleased, kSimKeysReleased & ~(1u << 24));
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.Post("/api/key?n=3&a=up", "", "text/plain"));
    EXPECT_EQ(Gplev0(root.root) & kSimKeysReleased, kSimKeysReleased);
    // A press is held long enough for the unit's debounce to see it.
    ASSERT_TRUE(c.Post("/api/key?n=6&a=down", "", "text/plain"));
    t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.Post("/api/key?n=6&a=up", "", "text/plain"));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));
    auto bad = c.Post("/api/key?n=7&a=down", "", "text/plain");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);

    // World controls arrive as lines in the simulators' control input.
    auto load = c.Post("/api/board", "load 30 -20", "text/plain");
    ASSERT_TRUE(load);
    EXPECT_EQ(load->status, 200);
    EXPECT_EQ(Drain(boardFd, 3000), "load 30 -20\n");
    ASSERT_TRUE(c.Post("/api/radio", "freq 7074000\n", "text/plain"));
    EXPECT_EQ(Drain(radioFd, 3000), "freq 7074000\n");
    auto two = c.Post("/api/board", "temp1 70\ntemp2 80", "text/plain");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->status, 503) << "one line per request";
    auto state = c.Get("/api/state");
    ASSERT_TRUE(state);
    EXPECT_NE(state->body.find("\"radio\":true"), std::string::npos);
    close(radioFd); // the radio is gone: the page is told so
    auto gone = c.Post("/api/radio", "tx 1", "text/plain");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->status, 503);
    EXPECT_NE(gone->body.find("not running"), std::string::npos);

    auto rail = c.Post("/api/micro?key=vamp&value=200", "", "text/plain");
    ASSERT_TRUE(rail);
    EXPECT_EQ(rail->status, 200);
    EXPECT_NE(ReadWholeFile(root.Path("/panel-micro.txt")).find("vamp 200\n"), std::string::npos);

    // Readouts: the error list from the trace, the wire and the log tails.
    WriteWholeFile(root.Path("/var/log/helix.trace"),
                   "Add: N: 1 err:4\nAdd: N: 2 err:21\nDel ERROR: N: 1 err:4\n");
    WriteWholeFile(root.Path("/sim-board.wire"), "12:00:00.000 FA14074000; -> FA14074000;\n");
    WriteWholeFile(root.Path("/sim-board.state"), "drive 4.0 W, temp 44.2/25.1 C\n");
    state = c.Get("/api/state");
    ASSERT_TRUE(state);
    EXPECT_NE(state->body.find("\"errors\":[{\"code\":21,\"title\":\"2-High\""), std::string::npos)
        << state->body;
    EXPECT_NE(state->body.find("FA14074000; -> FA14074000;"), std::string::npos);
    EXPECT_NE(state->body.find("\"board\":true"), std::string::npos);
    EXPECT_NE(state->body.find("\"boardState\":\"drive 4.0 W, temp 44.2/25.1 C\""),
              std::string::npos);

    // A key held when the panel stops is let go.
    ASSERT_TRUE(c.Post("/api/key?n=1&a=down", "", "text/plain"));
    EXPECT_EQ(panel.Stop(), 0);
    EXPECT_EQ(Gplev0(root.root) & kSimKeysReleased, kSimKeysReleased);
    close(boardFd);
}

TEST(SimPanel, ErrorListFollowsTheTraceAcrossChunksAndRestarts) {
    PanelErrorList l;
    PanelErrorsFeed(&l, "noise\nAdd: N: 1 err:4\n -->tasto reset errore 0x4\nAdd: N: 2 er");
    EXPECT_EQ(l.codes, (std::vector<int>{4}));
    PanelErrorsFeed(&l, "r:2\nAdd: N: 3 err:4\nAdd: N: 3 err:13\n");
    EXPECT_EQ(l.codes, (std::vector<int>{4, 2, 13}));
    PanelErrorsFeed(&l,
                    "Del temp err: 4 (0 , 2)\nDel temp err: 13 (1 , 1)\nDel ERROR: N: 0 err:9\n");
    EXPECT_EQ(l.codes, (std::vector<int>{2}));

    ScopedSimRoot root;
    std::string trace = root.Path("/var/log/helix.trace");
    WriteWholeFile(trace, "Add: N: 1 err:16\nAdd: N: 2 err:0\n");
    PanelErrorList f;
    PanelErrorsUpdate(&f, trace);
    EXPECT_EQ(f.codes, (std::vector<int>{16, 0}));
    WriteWholeFile(trace, "Add: N: 1 err:5\n"); // a new run
    PanelErrorsUpdate(&f, trace);
    EXPECT_EQ(f.codes, (std::vector<int>{5}));
    EXPECT_EQ(PanelTail(trace, 5), (std::vector<std::string>{"Add: N: 1 err:5"}));
    // The run-time texts of codes 4 and 15 as the trace last named them.
    PanelErrorsFeed(&f, "STOP RETRAY!! ST (3, 3) Restart da ST\n--------------- AMPL TRIP: REFL\n");
    EXPECT_EQ(f.commText, "Err ST");
    EXPECT_EQ(f.tripText, "REFL");
    // Repeated log lines fold, also when two alternate; the bank's marker.
    PanelFold fold;
    for (int i = 0; i < 3202; i++)
        PanelFoldFeed(&fold, i % 2 ? "<6>EIK, ST\n" : "<6>EIK, ST\n<6>EIK, PA\n");
    PanelFoldFeed(&fold, "<6>done\n");
    EXPECT_EQ(
        PanelFoldLines(fold),
        (std::vector<std::string>{"<6>EIK, ST \u00d73,202", "<6>EIK, PA \u00d71,601", "<6>done"}));
    WriteWholeFile(root.Path("/opt/set/setup.txt"), "NumBanco: 2\n");
    WriteWholeFile(root.Path("/opt/set/antenna_b2.txt"),
                   "40m 7000000 7300000 1 2 0 0 0.0\n !817\n");
    EXPECT_EQ(PanelWorkingMode(root.root), "ft817");
}

TEST(SimRadioControl, LinesChangeTheRadioAndInjectLinkFaults) {
    ScopedSimRoot root;
    SimRadioConfig cfg;
    cfg.root = root.root;
    cfg.kind = SimRadioKind::Tav;
    cfg.catPort.clear();
    cfg.paramPeriodMs = 50;
    SimRadio *r = SimRadioStart(cfg);
    ASSERT_NE(r, nullptr);
    int fd = open(root.Path("/dev/ttyUSB1").c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    ASSERT_GE(fd, 0);
    auto readFor = [&](int ms) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            char buf[4096];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return got;
    };
    EXPECT_EQ(SimRadioControl(r, "freq 7100000"), "ok freq 7100000");
    EXPECT_EQ(SimRadioFreq(r), 7100000u);
    EXPECT_EQ(SimRadioControl(r, "tx 1"), "ok tx 1");
    EXPECT_EQ(SimRadioTx(r), 1);
    EXPECT_EQ(SimRadioControl(r, "freq 7.1MHz").rfind("error", 0), 0u);
    EXPECT_EQ(SimRadioControl(r, "tune 1").rfind("error", 0), 0u);
    EXPECT_EQ(SimRadioFreq(r), 7100000u);
    EXPECT_NE(SimRadioControl(r, "show").find("freq 7100000, vfo a, mode 1, tx 1"),
              std::string::npos);

    EXPECT_FALSE(readFor(300).empty()) << "the radio streams";
    EXPECT_EQ(SimRadioControl(r, "silent 1"), "ok silent 1");
    readFor(100); // what was on its way
    EXPECT_EQ(readFor(400), "") << "a silent radio sends nothing";
    EXPECT_EQ(write(fd, "RX;", 3), 3);
    readFor(100);
    EXPECT_EQ(SimRadioTx(r), 1) << "nor hears anything";
    EXPECT_EQ(SimRadioControl(r, "garbage #junk!"), "ok garbage #junk!");
    EXPECT_NE(readFor(100).find("#junk!"), std::string::npos);
    EXPECT_EQ(SimRadioControl(r, "silent 0"), "ok silent 0");
    EXPECT_FALSE(readFor(2000).empty()) << "streams again";
    close(fd);
    SimRadioStop(r);
}

namespace {

// A simulator program of the build directory, its output to `out`.
pid_t SpawnSim(const std::string &name, const std::string &root, const std::string &out) {
    std::string exe = std::string(HELIX_BUILD_DIR) + "/" + name;
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(exe.c_str(), exe.c_str(), "--root", root.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

void EndSim(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int st;
    waitpid(pid, &st, 0);
}

// The band box of the information bar in a screen PNG.
std::vector<uint8_t> BandBoxOf(const std::string &png) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    std::vector<uint8_t> box;
    if (!png_image_begin_read_from_memory(&img, png.data(), png.size())) return box;
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> px(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr)) return box;
    for (int y = 278; y < 304; y++)
        box.insert(box.end(), px.begin() + (y * 800 + 265) * 3, px.begin() + (y * 800 + 401) * 3);
    return box;
}

// The whole simulated unit as run-sim.sh starts it (generic mode: the
// frequency is the one the board measures): simulators, controller and page.
struct WholeUnit {
    ScopedSimRoot root;
    pid_t board = -1, radio = -1;
    HelixProcess helix;
    PanelProcess panel;
    std::string State() {
        httplib::Client c("127.0.0.1", panel.port);
        auto r = c.Get("/api/state");
        return r ? r->body : std::string();
    }
    ~WholeUnit() {
        helix.Stop(SIGTERM);
        panel.Stop();
        EndSim(board);
        EndSim(radio);
    }
};

// Starts it and waits until the splash is over and the stored tune of the
// start frequency (20 m, 14.070 MHz) went out.
void StartWholeUnit(WholeUnit *u) {
    WriteWholeFile(u->root.Path("/opt/set/setup.txt"), "WebSocket: 0\nEnableKeyb: 0\n");
    std::string log = u->root.Path("/var/log");
    u->board = SpawnSim("helix-sim-board", u->root.root, log + "/sim-board.out");
    u->radio = SpawnSim("helix-sim-radio", u->root.root, log + "/sim-radio.out");
    ASSERT_TRUE(WaitUntil([&] { return access(u->root.Path("/dev/ttyAMA0").c_str(), F_OK) == 0; },
                          kPatienceMs));
    ASSERT_TRUE(u->helix.Start(log + "/helix.trace"));
    ASSERT_TRUE(u->panel.Start(u->root.root));
    ASSERT_TRUE(WaitUntil(
        [&] { return u->State().find("\"board\":true,\"radio\":true") != std::string::npos; },
        kPatienceMs));
    ASSERT_TRUE(u->helix.WaitFor("MEMTUNE: load a Tune for 14070000")) << u->helix.Err();
    ASSERT_TRUE(
        WaitUntil([&] { return u->State().find("MT1") != std::string::npos; }, kPatienceMs));
}

} // namespace

// Worked through the page's interface: the dial moves the unit to 40 m, the
// board hears the new antenna and the screen names the band; a silent board
// raises error 4.
TEST(SimPanel, WholeUnitFollowsTheDialAndShowsABoardLinkFault) {
    WholeUnit u;
    StartWholeUnit(&u);
    if (HasFatalFailure()) return;
    httplib::Client c("127.0.0.1", u.panel.port);
    auto state = [&] { return u.State(); };
    auto before = c.Get("/screen.png");
    ASSERT_TRUE(before);
    std::vector<uint8_t> box20 = BandBoxOf(before->body);
    ASSERT_FALSE(box20.empty());

    auto r1 = c.Post("/api/radio", "freq 7074000", "text/plain");
    auto r2 = c.Post("/api/board", "freq 7074000", "text/plain");
    ASSERT_TRUE(r1 && r2);
    EXPECT_EQ(r1->status, 200);
    EXPECT_EQ(r2->status, 200);
    // The simulators took the lines: their state lines tell.
    EXPECT_TRUE(WaitUntil(
        [&] { return state().find("\"radioState\":\"freq 7074000,") != std::string::npos; },
        kPatienceMs))
        << state();
    EXPECT_TRUE(WaitUntil(
        [&] { return state().find(", freq 7074000, filter") != std::string::npos; }, kPatienceMs))
        << state();
    EXPECT_TRUE(
        WaitUntil([&] { return state().find("SA2; -> SA2;") != std::string::npos; }, kPatienceMs))
        << state();
    EXPECT_TRUE(WaitUntil(
        [&] {
            auto now = c.Get("/screen.png");
            return now && now->status == 200 && !BandBoxOf(now->body).empty() &&
                   BandBoxOf(now->body) != box20;
        },
        kPatienceMs));

    ASSERT_TRUE(c.Post("/api/board", "silent 1000000", "text/plain"));
    EXPECT_TRUE(
        WaitUntil([&] { return state().find("{\"code\":4,") != std::string::npos; }, kPatienceMs))
        << state();
    EXPECT_GE(u.helix.Stop(SIGTERM), 0);
}

// The page itself in a headless browser (tests/support/sim_panel_browser.js, with
// playwright-core and Debian's chromium).
TEST(SimPanel, PageInAHeadlessBrowser) {
    std::string dir = std::string(HELIX_SOURCE_DIR) + "/tests";
    if (std::system("command -v node >/dev/null 2>&1") != 0 ||
        ReadWholeFile(dir + "/node_modules/playwright-core/package.json").empty() ||
        access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "node, playwright-core or chromium missing (scripts/deps.sh installs them)";
    WholeUnit u;
    StartWholeUnit(&u);
    if (HasFatalFailure()) return;
    std::string out = u.root.Path("/browser.out");
    std::string cmd = "node " + dir + "/support/sim_panel_browser.js http://127.0.0.1:" +
                      std::to_string(u.panel.port) + "/ " + u.root.root + " >" + out + " 2>&1";
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << ReadWholeFile(out);
    std::printf("%s", ReadWholeFile(out).c_str());
}

// Heat sinks driven hot and cooled again through the page's interface: the
// alarm (code 2, a red box) protects the amplifier; once cool the alarm goes,
// the warning that it was hot stays (orange) and the amplifier goes to stand-by ("AB1;").
TEST(SimPanel, WholeUnitTemperatureAlarmAndRecovery) {
    WholeUnit u;
    StartWholeUnit(&u);
    if (HasFatalFailure()) return;
    httplib::Client c("127.0.0.1", u.panel.port);
    auto box = [&] { // the first error box, 0xRRGGBB
        auto s = c.Get("/screen.png");
        int w, h;
        return s && s->status == 200 ? PngPixel(s->body, 126, 376, &w, &h) : -1L;
    };
    auto red = [](long p) { return p >= 0 && (p >> 16) > 180 && ((p >> 8) & 0xFF) < 80; };
    auto orange = [](long p) {
        return p >= 0 && (p >> 16) > 200 && ((p >> 8) & 0xFF) > 100 && ((p >> 8) & 0xFF) < 190;
    };
    ASSERT_TRUE(c.Post("/api/board", "tau 0", "text/plain"));
    ASSERT_TRUE(c.Post("/api/board", "temp 95", "text/plain"));
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::string s = u.State();
            return s.find("{\"code\":2,\"title\":\"1-High\",\"text\":\"temperature\",\"alarm\":"
                          "true}") != std::string::npos &&
                   s.find("MP1; -> MP1;") != std::string::npos;
        },
        kPatienceMs))
        << u.State();
    EXPECT_TRUE(WaitUntil([&] { return red(box()); }, kPatienceMs)) << std::hex << box();

    ASSERT_TRUE(c.Post("/api/board", "temp 30", "text/plain"));
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::string s = u.State();
            return s.find("{\"code\":2,") == std::string::npos &&
                   s.find("{\"code\":0,") != std::string::npos &&
                   s.find("AB1; -> AB1;") != std::string::npos;
        },
        kPatienceMs))
        << u.State();
    EXPECT_TRUE(WaitUntil([&] { return orange(box()); }, kPatienceMs)) << std::hex << box();
}

namespace {

// The value after `key` in a simulator's state line ("" when missing).
std::string StateField(const std::string &state, const std::string &key) {
    size_t at = state.find(key + " ");
    if (at == std::string::npos) return "";
    at += key.size() + 1;
    size_t end = state.find_first_of(",\"", at);
    return state.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

} // namespace

// An FT-817 unit worked only through the page's interface and its keys:
// - the power board's port is missing at start: the link-failure screen; the
//   board appears and Retry (key 5) brings the link up;
// - the radio moves to 40 m: the board hears the frequency, antenna 2, the
//   band's filter and the stored tuner word, and the screen names the band;
// - TUNE, TUNE on a 200 ohm load with 5 W: the tune matches it, stores the
//   word and the board keeps it;
// - the board goes silent: error 4; it answers again, RESET clears the error
//   and the unit follows the radio back to 20 m.
TEST(SimPanel, WholeUnitFt817LinkRetryQsyTuneAndSilentBoard) {
    WholeUnit u;
    std::string bank = ReadWholeFile(u.root.Path("/opt/set/antenna_b1.txt"));
    ASSERT_EQ(bank.rfind("!Gen\n", 0), 0u);
    WriteWholeFile(u.root.Path("/opt/set/antenna_b1.txt"), "!817" + bank.substr(4));
    WriteWholeFile(u.root.Path("/opt/set/setup.txt"),
                   "WebSocket: 0\nEnableKeyb: 0\nAutoTuneMode: 1\nSWRescAutoTune: 150\n"
                   "AttenuatorTune: 0\n");
    // Output filters: 1.8-6, 6-10 and 10-16 MHz (masks 01, 02, 04).
    WriteWholeFile(u.root.Path("/opt/set/filter.txt"), "1800000 6000000 1\n6000001 10000000 1\n"
                                                       "10000001 16000000 1\n");
    std::string log = u.root.Path("/var/log");
    u.radio = SpawnSim("helix-sim-radio", u.root.root, log + "/sim-radio.out");
    ASSERT_TRUE(WaitUntil([&] { return access(u.root.Path("/dev/ttyUSB1").c_str(), F_OK) == 0; },
                          kPatienceMs));
    ASSERT_TRUE(u.helix.Start(log + "/helix.trace"));
    ASSERT_TRUE(u.panel.Start(u.root.root));
    httplib::Client c("127.0.0.1", u.panel.port);
    auto tail = [&] {
        std::string e = u.helix.Err();
        return e.substr(e.size() > 3000 ? e.size() - 3000 : 0);
    };
    // The failure band across the picture's caption (dark red).
    auto failureScreen = [&] {
        auto s = c.Get("/screen.png");
        int w, h;
        long p = s && s->status == 200 ? PngPixel(s->body, 4, 290, &w, &h) : -1L;
        return p == 0x500C0C;
    };
    ASSERT_TRUE(u.helix.WaitFor("Unable to open device /dev/ttyAMA0")) << tail();
    EXPECT_TRUE(WaitUntil(failureScreen, kPatienceMs)) << "no link-failure screen";

    const std::string wire = u.root.Path("/sim-board.wire");
    u.board = SpawnSim("helix-sim-board", u.root.root, log + "/sim-board.out");
    ASSERT_TRUE(WaitUntil([&] { return access(u.root.Path("/dev/ttyAMA0").c_str(), F_OK) == 0; },
                          kPatienceMs));
    SleepMs(300);
    EXPECT_TRUE(ReadWholeFile(wire).empty());
    ASSERT_TRUE(u.panel.Press(5)); // Retry
    EXPECT_TRUE(WaitUntil([&] { return !failureScreen(); }, kPatienceMs))
        << "still the failure screen";
    EXPECT_TRUE(WaitUntil([&] { return StateField(u.State(), "freq") == "14074000"; }, kPatienceMs))
        << "the link did not come back\n"
        << u.State() << tail();

    // QSY to 40 m on the radio.
    EXPECT_EQ(StateField(u.State(), "filter"), "04");
    size_t from = ReadWholeFile(wire).size();
    ASSERT_TRUE(u.panel.Line("radio", "freq 7074000"));
    auto since = [&] { return ReadWholeFile(wire).substr(from); };
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::string s = since();
            return s.find("FA00007074000; -> ") != std::string::npos &&
                   s.find("SA2; -> SA2;") != std::string::npos &&
                   s.find("MT1") != std::string::npos;
        },
        kPatienceMs))
        << since();
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::string s = u.State();
            uint32_t word = static_cast<uint32_t>(
                std::strtoul(StateField(s, "tuner word").c_str(), nullptr, 16));
            return StateField(s, "freq") == "7074000" && StateField(s, "filter") == "02" &&
                   DecodeModoFromTuneval(word) == 1 && DecodeInduttanzaFromTuneval(word) == 96 &&
                   DecodeCapacitaFromTuneval(word) == 210;
        },
        kPatienceMs))
        << u.State();
    EXPECT_TRUE(WaitUntil([&] { return ScreenShowsBand(u.root.root, 7074000, 2); }, kPatienceMs));

    // Tune from the keys on a matchable load.
    const std::string atu = u.root.Path(BankAtuFile(1, 2));
    const std::string stored40 = AtuFileEntry(atu, 2115);
    ASSERT_EQ(stored40, "2115 7075000 1 1 96 210");
    ASSERT_TRUE(u.panel.Line("board", "load 200 0"));
    EXPECT_TRUE(WaitUntil(
        [&] { return std::strtod(StateField(u.State(), "seen swr").c_str(), nullptr) > 2.0; },
        kPatienceMs))
        << u.State();
    ASSERT_TRUE(u.panel.Line("board", "drive 0.5"));
    ASSERT_TRUE(u.panel.Press(4)); // TUNE: the tune menu
    SleepMs(500);
    ASSERT_TRUE(u.panel.Press(4)); // TUNE: start
    ASSERT_TRUE(u.helix.WaitFor("START AUTO TUNE")) << tail();
    // The stored entry is the word the board holds, and the load is matched.
    std::string st;
    auto entryOfBoard = [&] {
        st = u.State();
        uint32_t word =
            static_cast<uint32_t>(std::strtoul(StateField(st, "tuner word").c_str(), nullptr, 16));
        char entry[64];
        std::snprintf(entry, sizeof entry, "2115 7075000 1 %d %d %d", DecodeModoFromTuneval(word),
                      DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word));
        return std::string(entry);
    };
    EXPECT_TRUE(WaitUntil(
        [&] {
            return AtuFileEntry(atu, 2115) == entryOfBoard() &&
                   std::strtod(StateField(st, "seen swr").c_str(), nullptr) < 1.5;
        },
        kPatienceMs))
        << AtuFileEntry(atu, 2115) << "\n"
        << st;
    ASSERT_TRUE(u.panel.Line("board", "drive 0"));

    // The board goes silent and comes back.
    ASSERT_TRUE(u.panel.Line("board", "silent 1000000"));
    EXPECT_TRUE(
        WaitUntil([&] { return u.State().find("{\"code\":4,") != std::string::npos; }, kPatienceMs))
        << u.State();
    from = ReadWholeFile(wire).size();
    ASSERT_TRUE(u.panel.Line("board", "silent 0"));
    EXPECT_TRUE(u.panel.Press(1)); // RESET / Error
    EXPECT_TRUE(
        WaitUntil([&] { return u.State().find("{\"code\":4,") == std::string::npos; }, kPatienceMs))
        << u.State();
    // The link talks again: the unit follows the radio back to 20 m.
    ASSERT_TRUE(u.panel.Line("radio", "freq 14074000"));
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::string s = since();
            return s.find("FA00014074000; -> FA00014074000;") != std::string::npos &&
                   s.find("SA1; -> SA1;") != std::string::npos;
        },
        kPatienceMs))
        << since();
    EXPECT_GE(u.helix.Stop(SIGTERM), 0);
}
