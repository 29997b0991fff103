#include "radio.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

uint64_t Ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// One pseudo-terminal: the radio keeps the master and also holds the slave
// open so the line stays up while the controller reopens it.
struct Pty {
    int master = -1, slave = -1;
    std::string name, link;
};

bool OpenPty(Pty *p, const std::string &link) {
    if (openpty(&p->master, &p->slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    termios tio;
    tcgetattr(p->slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(p->slave, TCSANOW, &tio);
    fcntl(p->master, F_SETFL, fcntl(p->master, F_GETFL) | O_NONBLOCK);
    fcntl(p->master, F_SETFD, FD_CLOEXEC);
    fcntl(p->slave, F_SETFD, FD_CLOEXEC);
    p->name = ttyname(p->slave);
    p->link = link;
    unlink(link.c_str());
    if (symlink(p->name.c_str(), link.c_str()) != 0) {
        std::perror(link.c_str());
        return false;
    }
    return true;
}

void ClosePty(Pty *p) {
    if (!p->link.empty()) {
        char target[256];
        ssize_t n = readlink(p->link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == p->name)
            unlink(p->link.c_str());
    }
    if (p->master >= 0) close(p->master);
    if (p->slave >= 0) close(p->slave);
    p->master = p->slave = -1;
}

// Writes what the line takes; when nobody reads the port and its buffer stays
// full for 50 ms the rest is dropped, as bytes sent to a deaf line are lost.
void WriteAll(int fd, const uint8_t *p, size_t n) {
    int waits = 0;
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN && ++waits <= 50) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            return;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void WriteText(int fd, const std::string &s) {
    WriteAll(fd, reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

uint32_t FromBcd(const uint8_t *b) {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++)
        v = v * 100 + (b[i] >> 4) * 10 + (b[i] & 0x0F);
    return v * 10;
}

} // namespace

struct SimRadio {
    SimRadioConfig cfg;
    Pty port, cat;
    std::atomic<bool> run{true};
    std::atomic<bool> silent{false}; // link fault: no answers, no stream
    std::thread thread;
    std::mutex lock; // guards the state and the command log
    uint32_t freq = 0, freqOther = 0;
    int vfoB = 0, opMode = 0, tx = 0, inputSel = 0;
    std::vector<std::string> commands;
    std::string portText, catText; // partial TAV text commands
    std::vector<uint8_t> cmd817;   // partial FT-817 command
    uint64_t cmd817At = 0;
    uint8_t eeprom[0x2000]{};
};

void SimFt817Bcd(uint32_t hz, uint8_t out[4]) {
    uint32_t v = hz / 10;
    for (int i = 3; i >= 0; i--) {
        uint32_t two = v % 100;
        v /= 100;
        out[i] = static_cast<uint8_t>(((two / 10) << 4) | (two % 10));
    }
}

std::vector<uint8_t> SimTavParamPayload(const SimTavState &s) {
    std::vector<uint8_t> p(33, '0');
    p[0] = static_cast<uint8_t>(0x40 | (s.memory & 1) | ((s.frameVfoB & 1) << 4) |
                                ((s.activeVfoB & 1) << 5));
    for (int i = 0; i < 8; i++)
        p[1 + i] = static_cast<uint8_t>('0' + ((s.freq >> (28 - 4 * i)) & 0xF));
    p[9] = static_cast<uint8_t>(0x80 | (s.opMode & 0x0F));
    p[20] = static_cast<uint8_t>(0x40 | (s.lp ? 0x08 : 0));
    for (int i = 0; i < 3; i++)
        p[23 + i] = static_cast<uint8_t>('0' + ((s.offset12 >> (8 - 4 * i)) & 0xF));
    uint32_t o20 = static_cast<uint32_t>(s.offset20) & 0xFFFFF;
    for (int i = 0; i < 5; i++)
        p[26 + i] = static_cast<uint8_t>('0' + ((o20 >> (16 - 4 * i)) & 0xF));
    p[31] = static_cast<uint8_t>('0' + (s.tx & 1));
    p[32] = static_cast<uint8_t>('0' + (s.inputSel & 0x0F));
    return p;
}

std::vector<uint8_t> SimTavFrame(int type, char kind, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> f;
    f.push_back(static_cast<uint8_t>(type));
    f.push_back(static_cast<uint8_t>(kind));
    size_t n = payload.size();
    for (int i = 0; i < 4; i++)
        f.push_back(static_cast<uint8_t>('0' + ((n >> (4 * i)) & 0xF)));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

namespace {

// ---- FT-817 ----

void Ft817Command(SimRadio *r, const uint8_t *c) {
    std::lock_guard<std::mutex> g(r->lock);
    char name[16];
    std::snprintf(name, sizeof name, "op=%02X", c[4]);
    r->commands.emplace_back(name);
    int fd = r->port.master;
    uint8_t ack = 0x00;
    switch (c[4]) {
    case 0x03: { // read frequency and mode
        uint8_t out[5];
        SimFt817Bcd(r->freq, out);
        out[4] = static_cast<uint8_t>(r->opMode);
        WriteAll(fd, out, 5);
        return;
    }
    case 0x01: // set frequency
        r->freq = FromBcd(c);
        break;
    case 0x07: // set mode
        r->opMode = c[0];
        break;
    case 0x81: // VFO A/B toggle
        std::swap(r->freq, r->freqOther);
        r->vfoB ^= 1;
        r->eeprom[0x55] = static_cast<uint8_t>(r->vfoB);
        break;
    case 0x08: // PTT on
        r->tx = 1;
        break;
    case 0x88: // PTT off
        r->tx = 0;
        break;
    case 0xBB: { // read EEPROM: two bytes from the address
        unsigned a = ((c[0] << 8) | c[1]) % (sizeof r->eeprom - 1);
        uint8_t out[2] = {r->eeprom[a], r->eeprom[a + 1]};
        WriteAll(fd, out, 2);
        return;
    }
    case 0xE7: { // receive status: squelch, S-meter
        uint8_t out = 0x05;
        WriteAll(fd, &out, 1);
        return;
    }
    case 0xF7: { // transmit status: bit 7 set while not transmitting
        uint8_t out = r->tx ? 0x00 : 0x80;
        WriteAll(fd, &out, 1);
        return;
    }
    default:
        break;
    }
    // Hamlib waits for one byte after a command that returns nothing.
    WriteAll(fd, &ack, 1);
}

void Ft817Input(SimRadio *r, const uint8_t *b, ssize_t n) {
    uint64_t now = Ms();
    // A command left half-sent for long is stale: start again with this byte.
    if (!r->cmd817.empty() && now - r->cmd817At > 500) r->cmd817.clear();
    for (ssize_t i = 0; i < n; i++) {
        if (r->cmd817.empty()) r->cmd817At = now;
        r->cmd817.push_back(b[i]);
        if (r->cmd817.size() == 5) {
            Ft817Command(r, r->cmd817.data());
            r->cmd817.clear();
        }
    }
}

// ---- TAV ----

void TavCommand(SimRadio *r, const std::string &c) {
    std::lock_guard<std::mutex> g(r->lock);
    r->commands.push_back(c);
    if (c == "RX")
        r->tx = 0;
    else if (c.rfind("TX", 0) == 0)
        r->tx = 1;
}

void TavInput(SimRadio *r, const uint8_t *b, ssize_t n) {
    for (ssize_t i = 0; i < n; i++) {
        if (b[i] == ';') {
            TavCommand(r, r->portText);
            r->portText.clear();
        } else if (r->portText.size() < 200) {
            r->portText.push_back(static_cast<char>(b[i]));
        }
    }
}

std::string CatAnswer(SimRadio *r, const std::string &c) {
    std::lock_guard<std::mutex> g(r->lock);
    char buf[64];
    if (c == "DT") return "DT001;";
    if (c == "FA" || c == "FB") {
        uint32_t f = (c == "FA") == (r->vfoB == 0) ? r->freq : r->freqOther;
        std::snprintf(buf, sizeof buf, "%s%011u;", c.c_str(), f);
        return buf;
    }
    if (c.size() > 2 && c[0] == 'F' && (c[1] == 'A' || c[1] == 'B')) {
        uint32_t f = static_cast<uint32_t>(std::strtoul(c.c_str() + 2, nullptr, 10));
        if ((c[1] == 'A') == (r->vfoB == 0))
            r->freq = f;
        else
            r->freqOther = f;
        return c + ";";
    }
    if (c == "MD") {
        std::snprintf(buf, sizeof buf, "MD%d;", r->opMode);
        return buf;
    }
    if (c == "TX" || c.rfind("TX", 0) == 0) r->tx = 1;
    if (c == "RX") r->tx = 0;
    return c + ";"; // anything else is echoed
}

void CatInput(SimRadio *r, const uint8_t *b, ssize_t n) {
    for (ssize_t i = 0; i < n; i++) {
        if (b[i] == ';') {
            std::string a = CatAnswer(r, r->catText);
            r->catText.clear();
            WriteText(r->cat.master, a);
        } else if (r->catText.size() < 200) {
            r->catText.push_back(static_cast<char>(b[i]));
        }
    }
}

void SendTavFrames(SimRadio *r, bool spectrum, bool both) {
    SimTavState s;
    {
        std::lock_guard<std::mutex> g(r->lock);
        s.activeVfoB = r->vfoB;
        s.opMode = r->opMode;
        s.offset12 = r->cfg.offset12;
        s.offset20 = r->cfg.offset20;
        s.tx = r->tx;
        s.inputSel = r->inputSel;
        s.frameVfoB = r->vfoB;
        s.freq = r->freq;
    }
    std::vector<uint8_t> frame = SimTavFrame(1, '1', SimTavParamPayload(s));
    if (both) { // the other VFO now and then
        SimTavState o = s;
        o.frameVfoB = !s.activeVfoB;
        std::lock_guard<std::mutex> g(r->lock);
        o.freq = r->freqOther;
        std::vector<uint8_t> f2 = SimTavFrame(1, '1', SimTavParamPayload(o));
        frame.insert(frame.begin(), f2.begin(), f2.end());
    }
    WriteAll(r->port.master, frame.data(), frame.size());
    if (spectrum) {
        std::vector<uint8_t> bins(1024);
        for (size_t i = 0; i < bins.size(); i++)
            bins[i] = static_cast<uint8_t>(60 + (i % 64 == 0 ? 80 : (i * 7) % 13));
        std::vector<uint8_t> f = SimTavFrame(0, '0', bins);
        WriteAll(r->port.master, f.data(), f.size());
    }
}

void Loop(SimRadio *r) {
    uint64_t lastParam = 0, lastSpectrum = Ms();
    unsigned passes = 0;
    while (r->run) {
        pollfd fds[2];
        int nfds = 0;
        fds[nfds++] = {r->port.master, POLLIN, 0};
        if (r->cat.master >= 0) fds[nfds++] = {r->cat.master, POLLIN, 0};
        poll(fds, static_cast<nfds_t>(nfds), 5);
        uint8_t buf[512];
        ssize_t n = read(r->port.master, buf, sizeof buf);
        if (r->silent) { // a dead link: what arrives is lost, nothing goes out
            if (r->cat.master >= 0) n = read(r->cat.master, buf, sizeof buf);
            continue;
        }
        if (n > 0) {
            if (r->cfg.kind == SimRadioKind::Ft817)
                Ft817Input(r, buf, n);
            else
                TavInput(r, buf, n);
        }
        if (r->cat.master >= 0) {
            n = read(r->cat.master, buf, sizeof buf);
            if (n > 0) CatInput(r, buf, n);
        }
        if (r->cfg.kind != SimRadioKind::Tav) continue;
        uint64_t now = Ms();
        if (r->cfg.paramPeriodMs > 0 &&
            now - lastParam >= static_cast<uint64_t>(r->cfg.paramPeriodMs)) {
            lastParam = now;
            bool spectrum = r->cfg.spectrumPeriodMs > 0 &&
                            now - lastSpectrum >= static_cast<uint64_t>(r->cfg.spectrumPeriodMs);
            if (spectrum) lastSpectrum = now;
            SendTavFrames(r, spectrum, (++passes % 5) == 0);
        }
    }
}

std::string InRoot(const SimRadioConfig &cfg, const std::string &unitPath) {
    return cfg.root.empty() ? unitPath : cfg.root + unitPath;
}

} // namespace

SimRadio *SimRadioStart(const SimRadioConfig &cfg) {
    auto *r = new SimRadio;
    r->cfg = cfg;
    r->freq = cfg.freq;
    r->freqOther = 7074000;
    r->vfoB = cfg.vfoB;
    r->opMode = cfg.opMode;
    r->tx = cfg.tx;
    r->inputSel = cfg.inputSel;
    r->eeprom[0x55] = static_cast<uint8_t>(cfg.vfoB);
    if (!OpenPty(&r->port, InRoot(cfg, cfg.port))) {
        ClosePty(&r->port);
        delete r;
        return nullptr;
    }
    if (cfg.kind == SimRadioKind::Tav && !cfg.catPort.empty()) {
        if (!OpenPty(&r->cat, InRoot(cfg, cfg.catPort))) {
            ClosePty(&r->port);
            ClosePty(&r->cat);
            delete r;
            return nullptr;
        }
        fcntl(r->cat.master, F_SETFL, fcntl(r->cat.master, F_GETFL) | O_NONBLOCK);
    }
    r->thread = std::thread(Loop, r);
    return r;
}

void SimRadioStop(SimRadio *r) {
    if (r == nullptr) return;
    r->run = false;
    if (r->thread.joinable()) r->thread.join();
    ClosePty(&r->port);
    ClosePty(&r->cat);
    delete r;
}

void SimRadioSetFreq(SimRadio *r, uint32_t hz) {
    std::lock_guard<std::mutex> g(r->lock);
    r->freq = hz;
}
void SimRadioSetVfo(SimRadio *r, int vfoB) {
    std::lock_guard<std::mutex> g(r->lock);
    if ((vfoB != 0) != (r->vfoB != 0)) std::swap(r->freq, r->freqOther);
    r->vfoB = vfoB != 0;
    r->eeprom[0x55] = static_cast<uint8_t>(r->vfoB);
}
void SimRadioSetMode(SimRadio *r, int mode) {
    std::lock_guard<std::mutex> g(r->lock);
    r->opMode = mode;
}
void SimRadioSetTx(SimRadio *r, int tx) {
    std::lock_guard<std::mutex> g(r->lock);
    r->tx = tx;
}
void SimRadioSetInput(SimRadio *r, int inputSel) {
    std::lock_guard<std::mutex> g(r->lock);
    r->inputSel = inputSel;
}
uint32_t SimRadioFreq(SimRadio *r) {
    std::lock_guard<std::mutex> g(r->lock);
    return r->freq;
}
int SimRadioTx(SimRadio *r) {
    std::lock_guard<std::mutex> g(r->lock);
    return r->tx;
}
std::vector<std::string> SimRadioCommands(SimRadio *r) {
    std::lock_guard<std::mutex> g(r->lock);
    return r->commands;
}
std::string SimRadioPty(SimRadio *r) {
    return r->port.name;
}

void SimRadioSendRaw(SimRadio *r, const std::vector<uint8_t> &bytes) {
    WriteAll(r->port.master, bytes.data(), bytes.size());
}

void SimRadioSetSilent(SimRadio *r, bool silent) {
    r->silent = silent;
}

std::string SimRadioControl(SimRadio *r, const std::string &line) {
    char word[16] = {}, arg[128] = {};
    int n = std::sscanf(line.c_str(), "%15s %127s", word, arg);
    if (n <= 0) return "ok";
    std::string w = word;
    char *end = nullptr;
    unsigned long long v = std::strtoull(arg, &end, 10);
    bool num = n >= 2 && end != arg && *end == '\0';
    if (w == "freq" && num && v > 0 && v < 4294967296ULL)
        SimRadioSetFreq(r, static_cast<uint32_t>(v));
    else if (w == "vfo" && n >= 2 && std::strchr("aAbB", arg[0]) != nullptr)
        SimRadioSetVfo(r, arg[0] == 'b' || arg[0] == 'B');
    else if (w == "mode" && num)
        SimRadioSetMode(r, static_cast<int>(v));
    else if (w == "tx" && num)
        SimRadioSetTx(r, v != 0);
    else if (w == "input" && num)
        SimRadioSetInput(r, static_cast<int>(v));
    else if (w == "silent" && num)
        SimRadioSetSilent(r, v != 0);
    else if (w == "garbage" && n >= 2) {
        std::string text = line.substr(line.find(arg));
        SimRadioSendRaw(r, std::vector<uint8_t>(text.begin(), text.end()));
    } else if (w == "show") {
        std::lock_guard<std::mutex> g(r->lock);
        char out[160];
        std::snprintf(out, sizeof out, "ok freq %u, vfo %c, mode %d, tx %d, input %d, silent %d",
                      r->freq, r->vfoB ? 'b' : 'a', r->opMode, r->tx, r->inputSel,
                      r->silent.load() ? 1 : 0);
        return out;
    } else
        return "error: " + line;
    return "ok " + line;
}
