// helix-sim-panel --root DIR [--port N] [--title TEXT]: the simulated unit
// in a browser. Serves on 127.0.0.1 a page with the live screen (DIR/dev/fb0),
// the six soft keys (through DIR/dev/mem) and the world around the amplifier:
// control lines to the simulated board (DIR/sim-board.ctl) and radio
// (DIR/sim-radio.ctl), the panel micro's settings (DIR/panel-micro.txt), and
// readouts of the board wire, the error list and the logs. See --help.
#include "model/errors.h"
#include "model/works.h"
#include "panel_keys.h"
#include "panel_web.h"
#include "sim_panel_page.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Panel {
    std::string root, title;
    std::string boardCtl, radioCtl, trace, log, wire;
    std::mutex screenLock; // the last image
    uint64_t screenHash = 0;
    std::string screenPng, screenTag;
    std::mutex keyLock;
    Clock::time_point downAt[7];
    bool down[7] = {};
    std::mutex errLock; // the error list and the folded tails
    PanelErrorList errors;
    PanelFold logTail, traceTail;
};

uint64_t Fnv1a(const std::vector<uint8_t> &d) {
    uint64_t h = 1469598103934665603ULL;
    const uint64_t *p = reinterpret_cast<const uint64_t *>(d.data());
    for (size_t i = 0; i < d.size() / 8; i++)
        h = (h ^ p[i]) * 1099511628211ULL;
    return h;
}

// The current screen as PNG and its tag; false when there is no screen.
bool Screen(Panel *p, std::string *png, std::string *tag) {
    std::vector<uint8_t> px;
    if (!PanelReadScreen(p->root + "/dev/fb0", &px)) return false;
    uint64_t h = Fnv1a(px);
    std::lock_guard<std::mutex> g(p->screenLock);
    if (h != p->screenHash || p->screenPng.empty()) {
        if (PanelEncodePng(px.data(), kPanelScreenW, kPanelScreenH, &p->screenPng) != 0)
            return false;
        p->screenHash = h;
        char buf[24];
        std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
        p->screenTag = buf;
    }
    *png = p->screenPng;
    *tag = p->screenTag;
    return true;
}

// A press shorter than the unit's debounce would be lost: a key goes up no
// sooner than 120 ms after it went down.
constexpr auto kMinPress = std::chrono::milliseconds(120);

int KeyDown(Panel *p, int k) {
    std::lock_guard<std::mutex> g(p->keyLock);
    if (SimKeySet(p->root, k, true) != 0) return -1;
    if (!p->down[k]) p->downAt[k] = Clock::now();
    p->down[k] = true;
    return 0;
}

int KeyUp(Panel *p, int k) {
    Clock::time_point at;
    {
        std::lock_guard<std::mutex> g(p->keyLock);
        at = p->downAt[k];
    }
    std::this_thread::sleep_until(at + kMinPress);
    std::lock_guard<std::mutex> g(p->keyLock);
    p->down[k] = false;
    return SimKeySet(p->root, k, false);
}

// A key held by a page that went away is let go after 30 s.
void ReleaseForgotten(Panel *p, bool all) {
    std::lock_guard<std::mutex> g(p->keyLock);
    for (int k = 1; k <= 6; k++)
        if (p->down[k] && (all || Clock::now() - p->downAt[k] > std::chrono::seconds(30))) {
            SimKeySet(p->root, k, false);
            p->down[k] = false;
        }
}

bool Listening(const std::string &fifo) {
    // A FIFO opens for writing without waiting only while someone reads it.
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// The simulator's state line, "" when it does not run (no FIFO reader).
std::string FirstLine(const std::string &path) {
    std::vector<std::string> l = PanelTail(path, 1);
    return l.empty() ? "" : l[0];
}

std::string JsonLines(const std::vector<std::string> &lines) {
    std::string out = "[";
    for (size_t i = 0; i < lines.size(); i++)
        out += (i ? "," : "") + PanelJsonString(lines[i]);
    return out + "]";
}

std::string State(Panel *p) {
    // A record only for the error titles and texts, filled once.
    static Works *const errTab = [] {
        auto *w = new Works;
        InitErrTab(w);
        return w;
    }();
    Works &works = *errTab;
    PanelErrorList list;
    std::vector<std::string> log, trace;
    {
        std::lock_guard<std::mutex> g(p->errLock);
        PanelErrorsUpdate(&p->errors, p->trace);
        list = p->errors;
        PanelFoldUpdate(&p->logTail, p->log);
        PanelFoldUpdate(&p->traceTail, p->trace);
        log = PanelFoldLines(p->logTail);
        trace = PanelFoldLines(p->traceTail);
    }
    std::string errs = "[";
    for (size_t i = 0; i < list.codes.size(); i++) {
        int c = list.codes[i];
        bool known = c >= 0 && c < kErrCodes;
        // The texts the screen shows: codes 4 and 15 as the trace last named them.
        std::string text = known ? ErrText(&works, c) : "";
        if (c == 4 && !list.commText.empty()) text = list.commText;
        if (c == 15 && !list.tripText.empty()) text = list.tripText;
        errs += (i ? "," : "") + std::string("{\"code\":") + std::to_string(c) +
                ",\"title\":" + PanelJsonString(known ? works.errTab[c].title : "?") +
                ",\"text\":" + PanelJsonString(text) + ",\"alarm\":" +
                ((known && (works.errTab[c].type & kErrTypeAlarm)) ? "true" : "false") + "}";
    }
    errs += "]";
    std::string keys;
    {
        std::lock_guard<std::mutex> g(p->keyLock);
        for (int k = 1; k <= 6; k++)
            keys += p->down[k] ? '1' : '0';
    }
    return "{\"title\":" + PanelJsonString(p->title) + ",\"root\":" + PanelJsonString(p->root) +
           ",\"board\":" + (Listening(p->boardCtl) ? "true" : "false") +
           ",\"radio\":" + (Listening(p->radioCtl) ? "true" : "false") +
           ",\"keys\":" + PanelJsonString(keys) + ",\"errors\":" + errs +
           ",\"mode\":" + PanelJsonString(PanelWorkingMode(p->root)) +
           ",\"defaultPhrase\":" + (PanelDefaultPhrase(p->root) ? "true" : "false") +
           ",\"boardState\":" + PanelJsonString(FirstLine(p->root + "/sim-board.state")) +
           ",\"radioState\":" + PanelJsonString(FirstLine(p->root + "/sim-radio.state")) +
           ",\"wire\":" + JsonLines(PanelTail(p->wire, 40)) + ",\"log\":" + JsonLines(log) +
           ",\"trace\":" + JsonLines(trace) + "}";
}

void Usage(FILE *to) {
    std::fprintf(
        to, "usage: helix-sim-panel --root DIR [--port N] [--title TEXT]\n"
            "Serves the simulated unit at DIR on http://127.0.0.1:N/ (8817): the screen\n"
            "(DIR/dev/fb0), the keys (DIR/dev/mem), the world (DIR/sim-board.ctl,\n"
            "DIR/sim-radio.ctl, DIR/panel-micro.txt) and the readouts (DIR/sim-board.wire,\n"
            "DIR/var/log/helix.log, the controller's trace DIR/var/log/helix.trace).\n\n"
            "HTTP interface:\n"
            "  GET  /                     the page\n"
            "  GET  /screen.png[?have=T]  the screen (ETag T; 204 when it is still T)\n"
            "  POST /api/key?n=K&a=A      key K 1-6: A down, up, or press (&ms=M, 120 ms)\n"
            "  POST /api/board  (body)    one control line to the power board\n"
            "  POST /api/radio  (body)    one control line to the radio\n"
            "  POST /api/micro?key=K&value=V  panel micro setting (v12, v15, vamp, version)\n"
            "  POST /api/logger?f1=HZ&f2=HZ&active=N&tx=0|1  a logging program's RadioInfo\n"
            "                             datagrams for radios 1 and 2, to 127.0.0.1 on the\n"
            "                             unit's LoggerUdpPort\n"
            "  GET  /api/state            JSON: errors (the screen's texts), the working mode,\n"
            "                             whether the unit takes the default access phrase\n"
            "                             from beyond loopback,\n"
            "                             wire, log and trace (repeated lines folded),\n"
            "                             simulators up and their state lines\n"
            "                             (DIR/sim-board.state, sim-radio.state)\n");
}

} // namespace

int main(int argc, char **argv) {
    static Panel panel;
    Panel *p = &panel;
    int port = 8817;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--root")
            p->root = next();
        else if (a == "--port")
            port = std::atoi(next().c_str());
        else if (a == "--title")
            p->title = next();
        else if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (p->root.empty() || port <= 0 || port > 65535) {
        Usage(stderr);
        return 2;
    }
    while (p->root.size() > 1 && p->root.back() == '/')
        p->root.pop_back();
    if (p->title.empty()) p->title = p->root;
    p->boardCtl = p->root + "/sim-board.ctl";
    p->radioCtl = p->root + "/sim-radio.ctl";
    p->wire = p->root + "/sim-board.wire";
    p->log = p->root + "/var/log/helix.log";
    p->trace = p->root + "/var/log/helix.trace";

    // SIGINT and SIGTERM end the server from a thread of their own.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server srv;
    // Idle keep-alive connections end soon, so a stop never waits long on them.
    srv.set_keep_alive_timeout(1);
    srv.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kSimPanelPage, "text/html; charset=utf-8");
    });
    srv.Get("/screen.png", [p](const httplib::Request &req, httplib::Response &res) {
        std::string png, tag;
        res.set_header("Cache-Control", "no-store");
        if (!Screen(p, &png, &tag)) {
            res.status = 503;
            res.set_content("no screen at " + p->root + "/dev/fb0\n", "text/plain");
            return;
        }
        res.set_header("ETag", tag);
        if (req.has_param("have") && req.get_param_value("have") == tag) {
            res.status = 204;
            return;
        }
        res.set_content(png, "image/png");
    });
    srv.Post("/api/key", [p](const httplib::Request &req, httplib::Response &res) {
        int k = std::atoi(req.get_param_value("n").c_str());
        std::string a = req.get_param_value("a");
        int rc = -1;
        if (k >= 1 && k <= 6) {
            if (a == "down")
                rc = KeyDown(p, k);
            else if (a == "up")
                rc = KeyUp(p, k);
            else if (a == "press") {
                int ms = req.has_param("ms") ? std::atoi(req.get_param_value("ms").c_str()) : 120;
                ms = std::max(120, std::min(ms, 10000));
                rc = KeyDown(p, k);
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                if (rc == 0) rc = KeyUp(p, k);
            }
        }
        res.status = rc == 0 ? 200 : 400;
        res.set_content(rc == 0 ? "ok\n" : "error: key 1-6, a=down|up|press, and DIR/dev/mem\n",
                        "text/plain");
    });
    auto line = [](const std::string &fifo) {
        return [fifo](const httplib::Request &req, httplib::Response &res) {
            std::string text = req.body, why;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            if (PanelSendLine(fifo, text, &why) == 0) {
                res.set_content("sent: " + text + "\n", "text/plain");
            } else {
                res.status = 503;
                res.set_content("error: " + why + "\n", "text/plain");
            }
        };
    };
    srv.Post("/api/board", line(p->boardCtl));
    srv.Post("/api/radio", line(p->radioCtl));
    srv.Post("/api/micro", [p](const httplib::Request &req, httplib::Response &res) {
        std::string key = req.get_param_value("key");
        int v = std::atoi(req.get_param_value("value").c_str());
        if (PanelSetMicro(p->root, key, v) == 0) {
            res.set_content("ok " + key + " " + std::to_string(v) + "\n", "text/plain");
        } else {
            res.status = 400;
            res.set_content("error: key v12|v15|vamp|version, value 0-255\n", "text/plain");
        }
    });
    srv.Post("/api/logger", [p](const httplib::Request &req, httplib::Response &res) {
        auto num = [&req](const char *key) { return std::atol(req.get_param_value(key).c_str()); };
        const long f1 = num("f1"), f2 = num("f2"), active = num("active");
        const bool tx = num("tx") == 1;
        auto inRange = [](long hz) { return hz >= 100000 && hz <= 60000000; };
        if (!inRange(f1) || !inRange(f2) || (active != 1 && active != 2)) {
            res.status = 400;
            res.set_content("error: f1, f2 in Hz (100 kHz - 60 MHz), active 1 or 2\n", "text/plain");
            return;
        }
        const int port = PanelLoggerPort(p->root);
        std::string why;
        int rc = PanelSendUdp(port, PanelRadioInfo(1, static_cast<int32_t>(f1), active, tx), &why);
        if (rc == 0)
            rc = PanelSendUdp(port, PanelRadioInfo(2, static_cast<int32_t>(f2), active, tx), &why);
        if (rc != 0) {
            res.status = 503;
            res.set_content("error: " + why + "\n", "text/plain");
            return;
        }
        res.set_content("sent RadioInfo for radios 1 and 2 to 127.0.0.1:" + std::to_string(port) +
                            " (active " + std::to_string(active) + (tx ? ", transmitting)\n" : ")\n"),
                        "text/plain");
    });
    srv.Get("/api/state", [p](const httplib::Request &, httplib::Response &res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(State(p), "application/json");
    });

    if (!srv.bind_to_port("127.0.0.1", port)) {
        std::fprintf(stderr, "helix-sim-panel: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::thread sigThread([&srv, &sigs] {
        int sig = 0;
        sigwait(&sigs, &sig);
        srv.stop();
    });
    std::thread keeper([&srv, p] {
        while (!srv.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (srv.is_running()) {
            ReleaseForgotten(p, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    std::printf("helix-sim-panel: http://127.0.0.1:%d/ (unit %s)\n", port, p->root.c_str());
    std::fflush(stdout);
    srv.listen_after_bind();
    ReleaseForgotten(p, true);
    pthread_kill(sigThread.native_handle(), SIGTERM); // harmless if it already returned
    sigThread.join();
    keeper.join();
    return 0;
}
