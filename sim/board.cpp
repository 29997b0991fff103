#include "board.h"

#include "amplifier/decode.h"
#include "config/band_table.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// CRC-8/MAXIM by table, kept apart from the controller's own loop so the two
// check each other.
uint8_t Crc8(const std::string &s) {
    static uint8_t table[256];
    static bool ready = false;
    if (!ready) {
        for (int i = 0; i < 256; i++) {
            uint8_t c = static_cast<uint8_t>(i);
            for (int b = 0; b < 8; b++)
                c = (c & 1) ? static_cast<uint8_t>((c >> 1) ^ 0x8C) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    uint8_t crc = 0;
    for (unsigned char ch : s)
        crc = table[crc ^ ch];
    return crc;
}

// Thermistor (degrees C, kOhm) as the unit's sensor datasheet gives it.
const float kThermistor[34][2] = {
    {-40, 347.808f}, {-35, 248.591f}, {-30, 179.973f}, {-25, 131.832f}, {-20, 97.679f},
    {-15, 73.119f},  {-10, 55.301f},  {-5, 42.257f},   {0, 32.582f},    {5, 25.324f},
    {10, 19.847f},   {15, 15.679f},   {20, 12.478f},   {25, 10.0f},     {30, 8.068f},
    {35, 6.552f},    {40, 5.353f},    {45, 4.399f},    {50, 3.635f},    {55, 3.020f},
    {60, 2.521f},    {65, 2.115f},    {70, 1.783f},    {75, 1.510f},    {80, 1.284f},
    {85, 1.096f},    {90, 0.939f},    {95, 0.808f},    {100, 0.698f},   {105, 0.605f},
    {110, 0.527f},   {115, 0.460f},   {120, 0.403f},   {125, 0.354f},
};

const float kDefaultK[4] = {5.156579e-6f, 3.3262754e-6f, 5.5078103e-6f, -0.007f};

float BandK(const SimBoardState &st, int type) {
    if (!st.haveBands || st.bandStart.empty()) return kDefaultK[type];
    int32_t f = static_cast<int32_t>(st.freq);
    for (size_t i = 0; i + 1 < st.bandStart.size(); i++)
        if (f >= static_cast<int32_t>(st.bandStart[i]) &&
            f < static_cast<int32_t>(st.bandStart[i + 1]))
            return st.bandK[type][i];
    return 1.0f;
}

int Digits(const std::string &s, size_t off, size_t n) {
    return std::atoi(s.substr(off, n).c_str());
}

std::string Hex64(const uint8_t *page) {
    std::string out;
    char b[3];
    for (int k = 0; k < 32; k++) {
        std::snprintf(b, sizeof b, "%02X", page[k]);
        out += b;
    }
    return out;
}

void UpdateThermal(SimBoardState &st, float dissipated, uint64_t now, uint64_t *last) {
    if (*last == 0 || now < *last) *last = now;
    float dt = static_cast<float>(now - *last) / 1000.0f;
    *last = now;
    if (st.thermalTau <= 0.0f || dt <= 0.0f) return;
    float fan = 1.0f + static_cast<float>(st.fanPercent) / 50.0f;
    float a = 1.0f - std::exp(-dt / st.thermalTau);
    st.temp1 += (st.ambient + dissipated * st.rth1 / fan - st.temp1) * a;
    st.temp2 += (st.ambient + dissipated * st.rth2 / fan - st.temp2) * a;
}

// The reflected detector also sees a part of the forward wave, which the
// band's K3 takes out again.
int ReflRaw(const SimBoardState &st, float fwd, float refl) {
    return SimRawForWatts(refl - BandK(st, 3) * fwd, BandK(st, 1));
}

std::string Status(SimBoardState &st, uint64_t now, uint64_t *last) {
    bool tx = st.driveW > 0.0f || st.fwdW > 0.0f;
    bool inLine = !st.bypass;
    float fwd = SimBoardForward(st);
    double gamma = SimBoardReflection(st, st.tunerWord);
    float refl = st.reflW >= 0.0f ? st.reflW : static_cast<float>(fwd * gamma * gamma);
    float seenSwr = gamma >= 1.0 ? 1e9f : static_cast<float>((1.0 + gamma) / (1.0 - gamma));
    float amps = inLine && tx ? SimBoardCurrent(st, fwd) : 0.0f;
    UpdateThermal(st, amps * st.supplyV - (inLine ? fwd : 0.0f), now, last);

    float k0 = BandK(st, 0), k2 = BandK(st, 2);
    int rawIn = SimRawForWatts(st.driveW, k2);
    int rawFwd = SimRawForWatts(fwd, k0);
    int rawRefl = ReflRaw(st, fwd, refl);
    if (st.noiseSeed != 0 && fwd > 0.0f) {
        double sd = st.reflNoiseCounts * SimGauss(&st.noiseState) +
                    st.reflNoisePct / 100.0 * rawRefl * SimGauss(&st.noiseState);
        rawRefl = std::clamp(static_cast<int>(std::lround(rawRefl + sd)), 0, 4095);
    }
    int rawCur = std::clamp(static_cast<int>(amps * 4096.0f / 14.05f), 0, 4095);
    if (st.auxRaw >= 0) rawCur = std::min(st.auxRaw, 4095);
    if (inLine && tx) {
        if (rawCur > st.ts[3]) st.trips |= 0x01;
        if (rawRefl > st.ts[2]) st.trips |= 0x02;
        if (rawFwd > st.ts[1]) st.trips |= 0x04;
        if (rawIn > st.ts[0]) st.trips |= 0x08;
        if (st.maxDriveW > 0.0f && st.driveW > st.maxDriveW) st.trips |= 0x08; // overdriven
        if (st.protection && seenSwr >= st.swrTripAt) st.swrTrip = true;
    }
    unsigned s0 = ((st.pad2 ? 4u : 0u) | (st.pad3 ? 8u : 0u) | st.s0Extra) & 15u;
    unsigned s1 = ((tx ? 1u : 0u) | (st.swrTrip ? 2u : 0u) | (st.protection ? 4u : 0u) |
                   (st.bypass ? 8u : 0u) | st.s1Extra) &
                  15u;
    unsigned s2 = (st.trips | (st.microReset ? 0x80u : 0u) | st.s2Extra) & 0xFFu;
    char out[64];
    std::snprintf(out, sizeof out, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X00%04d;", s0, s1, rawIn,
                  rawFwd, rawRefl, rawCur, SimThermistorReading(st.temp1),
                  SimThermistorReading(st.temp2), s2 & 15u, s2 >> 4, rawFwd);
    return out;
}

} // namespace

float SimBoardForward(const SimBoardState &st) {
    bool tx = st.driveW > 0.0f || st.fwdW > 0.0f;
    if (st.fwdW >= 0.0f) return st.fwdW;
    if (!tx) return 0.0f;
    if (st.bypass) return st.driveW;
    if (st.trips != 0 || st.swrTrip) return 0.0f;
    float padDb = (st.pad3 ? 3.0f : 0.0f) + (st.pad2 ? 2.0f : 0.0f);
    return SimAmplifierOut(st.driveW * std::pow(10.0f, -padDb / 10.0f), st.gain, st.satW);
}

float SimAmplifierOut(float inW, float gain, float satW) {
    float linear = inW * gain;
    if (!(satW > 0.0f) || !(linear > 0.0f)) return linear;
    // A smooth limiter (Rapp's model, smoothness 3 in power): linear well
    // below satW, within 0.1 % of it at a fifth of satW, never above satW.
    float r = linear / satW;
    return linear / std::cbrt(1.0f + r * r * r);
}

float SimBoardCurrent(const SimBoardState &st, float fwdW) {
    float volts = st.supplyV > 1.0f ? st.supplyV : 1.0f;
    return st.quiescentA + std::max(fwdW, 0.0f) / st.efficiency / volts;
}

void SimBoardRated(SimBoardState &st, char powerClass) {
    float rated = powerClass == '1' ? 120.0f : 60.0f;
    st.gain = 10.0f;
    st.satW = rated * 1.1f;
    st.maxDriveW = rated / st.gain * 1.5f;
    st.ee[2][1] = static_cast<uint8_t>(powerClass);
}

float SimBoardK(const SimBoardState &st, int type) {
    return BandK(st, type);
}

double SimBoardReflection(const SimBoardState &st, uint32_t word) {
    if (!st.tunerModel) return (st.loadSwr - 1.0) / (st.loadSwr + 1.0);
    double hz = st.freq > 0 ? static_cast<double>(st.freq) : 14070000.0;
    return SimReflection(SimTunerInput(word, SimLoadImpedance(st.load, hz), hz, st.parts));
}

float SimBoardMeasuredSwr(const SimBoardState &st, float fwdW, double gamma) {
    float refl = static_cast<float>(fwdW * gamma * gamma);
    float vf = static_cast<float>(SimRawForWatts(fwdW, BandK(st, 0)));
    float vr = static_cast<float>(ReflRaw(st, fwdW, refl));
    float fwd = BandK(st, 0) * vf * vf;
    float r = BandK(st, 1) * vr * vr + BandK(st, 3) * fwd;
    return CalcSwr(fwd, r < 0.0f ? 0.0f : r);
}

int SimRawForWatts(float watts, float k) {
    if (!(watts > 0.0f) || !(k > 0.0f)) return 0;
    // The detectors are read by a 12-bit converter.
    return std::clamp(static_cast<int>(std::lround(std::sqrt(watts / k))), 0, 4095);
}

int SimThermistorReading(float c) {
    float r;
    if (c <= kThermistor[0][0]) {
        r = kThermistor[0][1];
    } else if (c >= kThermistor[33][0]) {
        r = kThermistor[33][1];
    } else {
        int i = 0;
        while (kThermistor[i + 1][0] < c)
            i++;
        float t0 = kThermistor[i][0], r0 = kThermistor[i][1];
        float t1 = kThermistor[i + 1][0], r1 = kThermistor[i + 1][1];
        r = r0 + (c - t0) * (r1 - r0) / (t1 - t0);
    }
    return static_cast<int>(std::lround(4095.0f * r / (10.0f + r)));
}

std::string SimBoardFrame(const std::string &text, bool lower) {
    char crc[3];
    std::snprintf(crc, sizeof crc, lower ? "%02x" : "%02X", Crc8(text));
    return crc + text;
}

namespace {

// Command formats: 'd' a decimal digit, 'h' an upper-case hex digit, 'x' a
// lower-case hex digit, 'b' 0 or 1, 'p' an EEPROM page 0-2, '.' anything but
// ';'; every other character stands for itself.
bool MatchFormat(const std::string &cmd, const char *fmt) {
    size_t n = std::strlen(fmt);
    if (cmd.size() != n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = cmd[i];
        bool ok;
        switch (fmt[i]) {
        case 'd':
            ok = c >= '0' && c <= '9';
            break;
        case 'h':
            ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
            break;
        case 'x':
            ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
            break;
        case 'b':
            ok = c == '0' || c == '1';
            break;
        case 'p':
            ok = c >= '0' && c <= '2';
            break;
        case '.':
            ok = c != ';';
            break;
        default:
            ok = c == fmt[i];
            break;
        }
        if (!ok) return false;
    }
    return true;
}

} // namespace

bool SimBoardKnownCommand(const std::string &cmd) {
    static const char *const kFormats[] = {
        "VSM;",
        "ST;",
        "SAd;",
        "FM;",
        "FAddddddddddd;",
        "MT;",
        "MT1hhhhhhhh;",
        "FSddddd;",
        "CPFFFF;",
        "ATbb;",
        "MPb;",
        "ABb;",
        "ANd;",
        "TSdddddddddddddddd;",
        "FN0050;",
        "FN1ddd;",
        "PSdddddddddddddddd;",
        "SF30000xx;",
        "MRb;",
        "GMdddddddd;",
        "GS;",
        "GS..........;",
        "ER000p;",
    };
    for (const char *f : kFormats)
        if (MatchFormat(cmd, f)) return true;
    return false;
}

std::string SimBoardAnswer(SimBoardState &st, const std::string &cmd, uint64_t now,
                           uint64_t *lastModelMs) {
    std::string letters = cmd.size() >= 2 ? cmd.substr(0, 2) : "XX";
    if (!SimBoardKnownCommand(cmd)) return letters + "?;";
    char out[128];
    if (letters == "ST") return Status(st, now, lastModelMs);
    if (letters == "VS") return std::string("VSM") + st.version + ";";
    if (letters == "SA")
        st.antenna = cmd[2] - '0';
    else if (letters == "FM") {
        std::snprintf(out, sizeof out, "FM0%011u;", st.freq);
        return out;
    } else if (letters == "FA")
        st.freq = static_cast<uint32_t>(std::atoll(cmd.substr(2, 11).c_str()));
    else if (letters == "MT") {
        if (cmd == "MT;") {
            std::snprintf(out, sizeof out, "MT1%08X;", st.tunerWord);
            return out;
        }
        st.tunerWord = static_cast<uint32_t>(std::strtoul(cmd.substr(3, 8).c_str(), nullptr, 16));
    } else if (letters == "FS") {
        st.fsMode = cmd[2] - '0';
        st.fsValue = Digits(cmd, 3, 4);
    } else if (letters == "CP") {
        st.trips = 0;
        st.swrTrip = false;
    } else if (letters == "AT") {
        st.pad3 = cmd[2] == '1';
        st.pad2 = cmd[3] == '1';
    } else if (letters == "MP")
        st.protection = cmd[2] == '1';
    else if (letters == "AB")
        st.bypass = cmd[2] == '1';
    else if (letters == "AN")
        st.antInput = cmd[2] - '0';
    else if (letters == "TS") {
        for (int i = 0; i < 4; i++)
            st.ts[i] = Digits(cmd, 2 + 4 * i, 4);
    } else if (letters == "FN") {
        st.fanPercent = cmd[2] == '0' ? 0 : Digits(cmd, 3, 3);
        st.fanCommands++;
    } else if (letters == "PS") {
        for (int i = 0; i < 4; i++)
            st.ps[i] = Digits(cmd, 2 + 4 * i, 4);
    } else if (letters == "SF") {
        st.filterMask = static_cast<uint8_t>(std::strtoul(cmd.substr(7, 2).c_str(), nullptr, 16));
    } else if (letters == "MR") {
        if (cmd[2] == '0')
            st.microReset = false;
        else
            st.loader = true;
    } else if (letters == "GM") {
        st.gm[0] = Digits(cmd, 2, 4);
        st.gm[1] = Digits(cmd, 6, 4);
    } else if (letters == "GS") {
        if (cmd == "GS;") return std::string("GS") + st.gs + ";";
        std::memcpy(st.gs, cmd.c_str() + 2, 10);
        st.gs[10] = '\0';
    } else if (letters == "ER") {
        int page = cmd[5] - '0';
        return cmd.substr(0, 6) + Hex64(st.ee[page]) + ";";
    }
    return cmd; // the board echoes a command it carried out
}

namespace {

void WriteAll(int fd, const std::string &s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && (errno == EINTR || errno == EAGAIN))
            usleep(1000);
        else
            return;
    }
}

void HandleFrame(SimBoard *b, const std::string &raw) {
    SimFrame f{};
    f.ms = NowMs();
    std::string send;
    {
        std::lock_guard<std::mutex> lock(b->lock);
        if (raw.size() >= 3) {
            f.text = raw.substr(2);
            char mine[3];
            std::snprintf(mine, sizeof mine, "%02x", Crc8(f.text));
            f.crcOk = raw[0] == mine[0] && raw[1] == mine[1];
        } else {
            f.text = raw;
            f.crcOk = false;
        }
        f.known = SimBoardKnownCommand(f.text);
        SimBoardFaults &fl = b->faults;
        if (fl.hotStart) {
            fl.hotStart = false;
            SimBoardHotStart(b->st);
        }
        if (b->st.loader) {
            // In the firmware loader: the protocol is gone.
        } else if (fl.silent > 0) {
            fl.silent--;
        } else {
            std::string letters = f.text.size() >= 2 ? f.text.substr(0, 2) : "XX";
            if (!f.crcOk)
                f.reply = letters + "!;";
            else if (fl.refuse > 0) {
                fl.refuse--;
                f.reply = letters + fl.refuseChar + ";";
            } else
                f.reply = SimBoardAnswer(b->st, f.text, f.ms, &b->lastModelMs);
            bool lower = fl.lowerCrc > 0;
            if (lower) fl.lowerCrc--;
            send = SimBoardFrame(f.reply, lower);
            if (fl.badCrc > 0) {
                fl.badCrc--;
                send[0] = send[0] == '0' ? '1' : '0';
            }
            if (fl.cut > 0 &&
                (fl.cutOn.empty() || f.text.compare(0, fl.cutOn.size(), fl.cutOn) == 0)) {
                fl.cut--;
                send.resize(send.size() / 2);
            }
            if (!fl.garbage.empty()) {
                send = fl.garbage + send;
                fl.garbage.clear();
            }
        }
        b->frames.push_back(f);
    }
    if (!send.empty()) WriteAll(b->master, send);
    if (b->onFrame) b->onFrame(f);
}

void Run(SimBoard *b) {
    std::string acc;
    char buf[256];
    while (!b->stop.load()) {
        pollfd p{b->master, POLLIN, 0};
        int r = poll(&p, 1, 50);
        if (r <= 0 || !(p.revents & POLLIN)) continue;
        ssize_t n = read(b->master, buf, sizeof buf);
        if (n <= 0) {
            usleep(10000);
            continue;
        }
        for (ssize_t i = 0; i < n; i++) {
            acc.push_back(buf[i]);
            if (buf[i] == ';') {
                HandleFrame(b, acc);
                acc.clear();
            } else if (acc.size() > 200) {
                acc.clear(); // no command is this long
            }
        }
    }
}

void LoadBands(SimBoardState &st, const std::string &root) {
    FILE *f = std::fopen((root + "/opt/set/config.txt").c_str(), "rb");
    if (f == nullptr) return;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    BandConfig *rows = nullptr;
    int count = ParseBandTable(text, &rows, false);
    st.haveBands = count > 0;
    st.bandStart.clear();
    for (auto &k : st.bandK)
        k.clear();
    for (int i = 0; i < count; i++) {
        st.bandStart.push_back(rows[i].fStart);
        st.bandK[0].push_back(rows[i].K0);
        st.bandK[1].push_back(rows[i].K1);
        st.bandK[2].push_back(rows[i].K2);
        st.bandK[3].push_back(rows[i].K3);
    }
    delete[] rows;
}

} // namespace

int SimBoardStart(SimBoard *b, const std::string &root) {
    b->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (b->master < 0 || grantpt(b->master) != 0 || unlockpt(b->master) != 0) return -1;
    char name[128];
    if (ptsname_r(b->master, name, sizeof name) != 0) return -1;
    b->slavePath = name;
    // Holding the slave open keeps the master readable while the controller
    // reopens the port, and lets the line start raw.
    b->slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (b->slave < 0) return -1;
    termios tio{};
    tcgetattr(b->slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(b->slave, TCSANOW, &tio);
    b->linkPath = root + "/dev/ttyAMA0";
    unlink(b->linkPath.c_str());
    if (symlink(name, b->linkPath.c_str()) != 0) return -1;
    {
        std::lock_guard<std::mutex> lock(b->lock);
        LoadBands(b->st, root);
    }
    b->stop = false;
    b->thread = std::thread(Run, b);
    return 0;
}

void SimBoardStop(SimBoard *b) {
    b->stop = true;
    if (b->thread.joinable()) b->thread.join();
    if (!b->linkPath.empty()) unlink(b->linkPath.c_str());
    if (b->slave >= 0) close(b->slave);
    if (b->master >= 0) close(b->master);
    b->slave = b->master = -1;
}

void SimBoardSet(SimBoard *b, const std::function<void(SimBoardState &)> &fn) {
    std::lock_guard<std::mutex> lock(b->lock);
    fn(b->st);
}

void SimBoardFault(SimBoard *b, const std::function<void(SimBoardFaults &)> &fn) {
    std::lock_guard<std::mutex> lock(b->lock);
    fn(b->faults);
}

std::vector<SimFrame> SimBoardFrames(SimBoard *b) {
    std::lock_guard<std::mutex> lock(b->lock);
    return b->frames;
}

void SimBoardClearFrames(SimBoard *b) {
    std::lock_guard<std::mutex> lock(b->lock);
    b->frames.clear();
}

void SimBoardHotStart(SimBoardState &st) {
    SimBoardState fresh;
    st.antenna = fresh.antenna;
    st.antInput = fresh.antInput;
    st.pad3 = fresh.pad3;
    st.pad2 = fresh.pad2;
    st.bypass = fresh.bypass;
    st.protection = fresh.protection;
    st.tunerWord = fresh.tunerWord;
    st.filterMask = fresh.filterMask;
    st.fanPercent = fresh.fanPercent;
    std::copy(std::begin(fresh.ts), std::end(fresh.ts), std::begin(st.ts));
    std::copy(std::begin(fresh.ps), std::end(fresh.ps), std::begin(st.ps));
    std::copy(std::begin(fresh.gm), std::end(fresh.gm), std::begin(st.gm));
    st.fsMode = fresh.fsMode;
    st.fsValue = fresh.fsValue;
    std::memcpy(st.gs, fresh.gs, sizeof st.gs);
    st.trips = 0;
    st.swrTrip = false;
    st.microReset = true;
    st.hotStarts++;
}

const char *SimBoardControlHelp() {
    return "drive W        drive (input) power, watts; >0 transmits\n"
           "gain G         small-signal gain: forward = drive x G in line, below saturation\n"
           "sat W          saturated output, watts (0: no saturation)\n"
           "maxdrive W     drive above which the input sensor trips (0: never)\n"
           "supply V       PA rail, volts (the supply current follows it)\n"
           "swr S          a fixed SWR seen by the amplifier (tuner model off)\n"
           "load R X       tuner model on, antenna load R + jX ohms (X may be left out)\n"
           "load NAME      tuner model on, antenna model: vertical dipole dipole-coax\n"
           "               endfed nomatch\n"
           "load off       tuner model off (back to the fixed SWR)\n"
           "tolerance SEED [PCT]  tuner parts drawn within +-PCT % (5) from SEED;\n"
           "               tolerance off: the built-in parts\n"
           "noise SEED [COUNTS PCT]  Gaussian noise on the reflected reading while\n"
           "               transmitting: COUNTS (2) plus PCT % (3) of the reading, from\n"
           "               SEED; noise off: none\n"
           "fwd W|model    forward power shown (transmits when >0)\n"
           "refl W|model   reflected power shown\n"
           "temp1 C        heat-sink sensor 1, degrees C\n"
           "temp2 C        heat-sink sensor 2\n"
           "temp C         both sensors\n"
           "tau S          thermal time constant, seconds (0 holds the temperatures)\n"
           "aux RAW|model  raw supply-current reading (0..4095, 14.05 A full scale)\n"
           "freq HZ        measured frequency (what \"FM;\" answers; \"FA\" sets it too)\n"
           "s0|s1|s2 HEX   status bits forced on\n"
           "silent N       leave the next N commands unanswered\n"
           "refuse [C] [N] answer the next N commands with C ('?', '!' or '&')\n"
           "badcrc N       next N replies with a wrong CRC\n"
           "lowercrc N     next N replies with lower-case CRC digits\n"
           "cut [XY]       cut the next reply (to a command starting XY) in half\n"
           "garbage TEXT   send TEXT before the next reply\n"
           "hotstart       micro reset: power-on settings, S2 bit 7 until \"MR0;\"\n"
           "show           print the board's state\n";
}

std::string SimBoardControl(SimBoard *b, const std::string &line) {
    char word[32] = "", arg1[128] = "", arg2[32] = "";
    int n = std::sscanf(line.c_str(), "%31s %127s %31s", word, arg1, arg2);
    if (n <= 0) return "ok";
    std::string cmd = word, a = arg1;
    bool model = a == "model";
    char *end = nullptr;
    double v = std::strtod(arg1, &end);
    bool num = n >= 2 && end != arg1 && *end == '\0';
    auto need = [&]() { return num || (n >= 2 && model); };
    std::lock_guard<std::mutex> lock(b->lock);
    SimBoardState &st = b->st;
    SimBoardFaults &fl = b->faults;
    float f = static_cast<float>(v);
    if (cmd == "drive" && num)
        st.driveW = std::max(f, 0.0f);
    else if (cmd == "gain" && num)
        st.gain = f;
    else if (cmd == "sat" && num)
        st.satW = std::max(f, 0.0f);
    else if (cmd == "maxdrive" && num)
        st.maxDriveW = std::max(f, 0.0f);
    else if (cmd == "supply" && num && v > 0)
        st.supplyV = f;
    else if (cmd == "swr" && num && v >= 1.0) {
        st.loadSwr = f;
        st.tunerModel = false;
    } else if (cmd == "load" && n >= 2) {
        if (a == "off") {
            st.tunerModel = false;
        } else {
            SimLoad load;
            if (!SimLoadParse(line.substr(line.find(arg1)), &load)) return "error: " + line;
            st.load = load;
            st.tunerModel = true;
        }
    } else if (cmd == "tolerance" && n >= 2) {
        if (a == "off") {
            st.parts = SimTunerBuiltInParts();
            st.partsSeed = 0;
        } else {
            uint64_t seed = std::strtoull(arg1, &end, 10);
            double pct = n >= 3 ? std::strtod(arg2, nullptr) : 5.0;
            if (*end != '\0' || seed == 0 || !(pct >= 0.0 && pct <= 50.0)) return "error: " + line;
            st.parts = SimTunerPartsDrawn(seed, pct);
            st.partsSeed = seed;
            st.partsPct = static_cast<float>(pct);
        }
    } else if (cmd == "noise" && n >= 2) {
        char arg3[32] = "";
        std::sscanf(line.c_str(), "%*s %*s %*s %31s", arg3);
        uint64_t seed = a == "off" ? 0 : std::strtoull(arg1, &end, 10);
        if (a != "off" && (*end != '\0' || seed == 0)) return "error: " + line;
        st.noiseSeed = st.noiseState = seed;
        st.reflNoiseCounts = n >= 3 ? std::strtof(arg2, nullptr) : 2.0f;
        st.reflNoisePct = arg3[0] != '\0' ? std::strtof(arg3, nullptr) : 3.0f;
    } else if (cmd == "fwd" && need())
        st.fwdW = model ? -1.0f : std::max(f, 0.0f);
    else if (cmd == "refl" && need())
        st.reflW = model ? -1.0f : std::max(f, 0.0f);
    else if (cmd == "temp1" && num)
        st.temp1 = f;
    else if (cmd == "temp2" && num)
        st.temp2 = f;
    else if (cmd == "temp" && num)
        st.temp1 = st.temp2 = f;
    else if (cmd == "tau" && num)
        st.thermalTau = std::max(f, 0.0f);
    else if (cmd == "aux" && need())
        st.auxRaw = model ? -1 : std::clamp(static_cast<int>(v), 0, 4095);
    else if (cmd == "freq" && num && v >= 0 && v < 4294967296.0)
        st.freq = static_cast<uint32_t>(v);
    else if ((cmd == "s0" || cmd == "s1" || cmd == "s2") && n >= 2) {
        uint8_t bits = static_cast<uint8_t>(std::strtoul(arg1, nullptr, 16));
        (cmd == "s0" ? st.s0Extra : cmd == "s1" ? st.s1Extra : st.s2Extra) = bits;
    } else if (cmd == "silent" && num)
        fl.silent = static_cast<int>(v);
    else if (cmd == "refuse") {
        fl.refuseChar = n >= 2 && !num ? arg1[0] : '?';
        fl.refuse = n >= 3 ? std::atoi(arg2) : num ? static_cast<int>(v) : 1;
    } else if (cmd == "badcrc" && num)
        fl.badCrc = static_cast<int>(v);
    else if (cmd == "lowercrc" && num)
        fl.lowerCrc = static_cast<int>(v);
    else if (cmd == "cut") {
        fl.cut = 1;
        fl.cutOn = n >= 2 ? a : "";
    } else if (cmd == "garbage" && n >= 2)
        fl.garbage = line.substr(line.find(arg1));
    else if (cmd == "hotstart")
        fl.hotStart = true;
    else if (cmd == "show") {
        char out[512];
        std::snprintf(
            out, sizeof out,
            "ok drive %.1f W, out %.1f W, %.1f A at %.1f V, fwd %s, refl %s, swr %.2f, "
            "temp %.1f/%.1f C, aux %d, "
            "freq %u, filter %02x, fan %d, ts %d %d %d %d, protection %d, bypass %d, "
            "pads %d%d, micro reset %d, trips %02X, load %s, tuner word %08X, seen swr %.2f, "
            "parts %s, noise %s",
            st.driveW, SimBoardForward(st),
            !st.bypass && (st.driveW > 0.0f || st.fwdW > 0.0f)
                ? SimBoardCurrent(st, SimBoardForward(st))
                : 0.0f,
            st.supplyV, st.fwdW < 0 ? "model" : std::to_string(st.fwdW).c_str(),
            st.reflW < 0 ? "model" : std::to_string(st.reflW).c_str(), st.loadSwr, st.temp1,
            st.temp2, st.auxRaw, st.freq, st.filterMask, st.fanPercent, st.ts[0], st.ts[1],
            st.ts[2], st.ts[3], st.protection, st.bypass, st.pad3, st.pad2, st.microReset, st.trips,
            st.tunerModel ? SimLoadName(st.load).c_str() : "off (fixed swr)", st.tunerWord, [&] {
                double g = SimBoardReflection(st, st.tunerWord);
                return g >= 1.0 ? 999.0 : (1.0 + g) / (1.0 - g);
            }(),
            st.partsSeed == 0 ? "built-in" : ("seed " + std::to_string(st.partsSeed)).c_str(),
            st.noiseSeed == 0 ? "off" : ("seed " + std::to_string(st.noiseSeed)).c_str());
        return out;
    } else
        return "error: " + line;
    return "ok " + line;
}
