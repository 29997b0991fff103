#include "ui/status.h"

#include "model/readings.h"

#include "model/tuner_word.h"
#include "model/errors.h"
#include "model/hooks.h"
#include "model/remote_link.h"
#include "model/numbers.h"
#include "remote/access.h"
#include "model/works.h"
#include "display/fb.h"
#include "display/graph.h"
#include "display/ttf.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "config/network.h"
#include "ui/menu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace {

// A processor temperature as printed ("45.2" or "45.2'C"); 0 when it is no
// finite number of degrees.
float TempOrZero(const char *text) {
    double v = 0;
    return ReadReal(&text, -100.0, 300.0, &v) == 1 ? static_cast<float>(v) : 0.0f;
}

constexpr uint64_t kReaderIntervalMs = 1000;

void Text(Works *w, int slotNo, int x, int y, const char *text, int r, int g, int b) {
    putString(slotNo, x, y, text, r, g, b, &w->fb, 0, 0, 0, 0);
}

// The next line of `text` from `pos` as fgets with a 32-byte buffer reads it:
// at most 31 characters, the line feed included when it fits.
bool NextLine(const std::string &text, size_t *pos, std::string *line) {
    if (*pos >= text.size()) return false;
    size_t end = *pos;
    while (end < text.size() && end - *pos < 31) {
        if (text[end++] == '\n') break;
    }
    *line = text.substr(*pos, end - *pos);
    *pos = end;
    return true;
}

} // namespace

int ParseCpuTemp(Works *w, const std::string &out) {
    size_t pos = 0;
    std::string line;
    int lines = 0;
    while (lines < 2 && NextLine(out, &pos, &line)) {
        if (lines == 0) {
            w->cpuTemp = TempOrZero(line.c_str());
        } else {
            std::string part = line.size() > 5 ? line.substr(5, 4) : std::string();
            w->gpuTemp = TempOrZero(part.c_str());
        }
        lines++;
    }
    return lines;
}

void ReadCPUTemp(Works *w, uint64_t now) {
    std::lock_guard<std::mutex> lock(w->statusReadLock);
    if (w->cpuTempRead && !expired(w->cpuTempReadMs, now, kReaderIntervalMs)) return;
    w->cpuTempRead = 1;
    w->cpuTempReadMs = now;
    std::string out;
    int st = RunShellRead(ResolveCommand("my_temp"), &out, 1024);
    if (st < 0 || out.empty()) {
        // Keep the last figures; say so once per failure, not once a second.
        if (!w->cpuTempFailLogged) LogErrTrace("my_temp: no reading, keeping the last values\n");
        w->cpuTempFailLogged = 1;
        return;
    }
    w->cpuTempFailLogged = 0;
    ParseCpuTemp(w, out);
}

void ReadCPUTemp(Works *w) {
    ReadCPUTemp(w, NowMs());
}

void ReadDataOra(Works *w, int64_t epochSec) {
    std::lock_guard<std::mutex> lock(w->statusReadLock);
    if (epochSec == w->dateTimeSec && w->dateTime[0] != '\0') return;
    w->dateTimeSec = epochSec;
    time_t t = static_cast<time_t>(epochSec);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return;
    std::strftime(w->dateTime, sizeof w->dateTime, "%Y-%m-%d %H:%M:%S", &local);
}

void ReadDataOra(Works *w) {
    ReadDataOra(w, EpochSeconds());
}

int Get_AudioTAV(Works *w, uint64_t now) {
    std::lock_guard<std::mutex> lock(w->statusReadLock);
    if (w->audioProbeRead && !expired(w->audioProbeMs, now, kReaderIntervalMs))
        return w->audioProbeCount;
    w->audioProbeRead = 1;
    w->audioProbeMs = now;
    std::string out;
    int count = 0;
    if (RunShellRead(ResolveCommand("lsusb") + " | " + ResolveCommand("grep") + " 0d8c", &out) <
        0) {
        Trace("Error opening pipe.\n");
    } else {
        size_t pos = 0, nl;
        while (pos < out.size()) {
            nl = out.find('\n', pos);
            std::string line = out.substr(pos, nl == std::string::npos ? nl : nl - pos + 1);
            Trace("----------------- %s\n", line.c_str());
            count++;
            pos = nl == std::string::npos ? out.size() : nl + 1;
        }
    }
    w->audioProbeCount = count;
    return count;
}

int Get_AudioTAV(Works *w) {
    return Get_AudioTAV(w, NowMs());
}

void InfoBandText(Works *w, char *out, size_t cap) {
    int32_t f = w->freq.load();
    if (f >= 26000000 && f <= 28000000) {
        std::snprintf(out, cap, "NOPA");
        return;
    }
    AntennaRow tab[kAntRows];
    int rows = CopyAntTab(w, tab);
    int found = -1;
    for (int i = 0; i < rows; i++)
        if (tab[i].fStart <= f && f <= tab[i].fStop) found = i;
    if (found < 0)
        std::snprintf(out, cap, "Band:---");
    else
        std::snprintf(out, cap, "Band:%.*s", static_cast<int>(sizeof tab[found].name),
                      tab[found].name);
}

void InfoSupplyText(Works *w, char *out, size_t cap) {
    double volts = CalvTensVadcAmp(w, w->tinyData[3].load());
    double amps = SupplyCurrent(w);
    // The lower class has no reading above 20 V: such a figure is not a supply.
    if (w->powerClass.load() != '1' && volts > 20)
        std::snprintf(out, cap, "PA Voltage: -----       Current: %04.01fA", amps);
    else
        std::snprintf(out, cap, "PA Voltage: %04.01fV       Current: %04.01fA", volts, amps);
}

namespace {

// What the information bar shows: the texts and the colours that depend on
// the state. Only bytes, so that two equal bars compare equal byte for byte.
constexpr uint64_t kNoticeMs = 3000;

const char *NoticeText(uint8_t notice) {
    switch (notice) {
    case kNoticeBankKept:
        return "Tune running: bank not changed";
    case kNoticeAntennaKept:
        return "Tune running: antenna not changed";
    case kNoticeTunerThrough:
        return "Tuner bypassed (Atu: Bpy): no tune";
    default:
        return "";
    }
}

struct InfoBar {
    uint8_t message; // 0: none, 1: the debug line, 2: second function, 3: bypass not
                     // saved, 4: a remote station lost its server, 5: a notice,
                     // 6: a band change from the logger waits for receive
    uint8_t notice;
    uint8_t remote; // 0: "Local", 1: "Remote", 2: "Remote" in red (a fault)
    char debug[2][128];
    char box[6][128];
    char temps[128];
    char supply[128];
};

// A remote station shows its server's amplifier, marked "Remote".
void ComposeRemoteBar(Works *w, const RemoteStatus &r, InfoBar *bar) {
    std::snprintf(bar->box[0], sizeof bar->box[0], "%s", InterfaceName(r.iface - '0'));
    std::snprintf(bar->box[1], sizeof bar->box[1], "  Coax: --");
    std::snprintf(bar->box[2], sizeof bar->box[2], "Band:%s",
                  r.band[0] == '\0' || r.band[0] == '-' ? "---" : r.band);
    if (r.bypass)
        std::snprintf(bar->box[3], sizeof bar->box[3], "Att %s", attNames[4]);
    else
        std::snprintf(bar->box[3], sizeof bar->box[3], "Att %sdB", AttenuatorName(r.att));
    std::snprintf(bar->box[4], sizeof bar->box[4], "Ant %d", r.ant + 1);
    std::snprintf(bar->box[5], sizeof bar->box[5], "%s",
                  r.tuner == 'B'   ? "Atu: Bpy"
                  : r.tuner == 'N' ? "Atu: None"
                                   : "Atu: On");
    bar->remote = 1;
    if (w->tempUnits.load() == 1)
        std::snprintf(bar->temps, sizeof bar->temps, "PA Temp: %04.01f°F",
                      static_cast<double>(ConversionCelsius_to_Fahrenheit(r.temp)));
    else
        std::snprintf(bar->temps, sizeof bar->temps, "PA Temp: %04.01f°C",
                      static_cast<double>(r.temp));
    std::snprintf(bar->supply, sizeof bar->supply, "PA Voltage: %04.01fV       Current: %04.01fA",
                  static_cast<double>(r.volts), static_cast<double>(r.amps));
}

void ComposeInfoBar(Works *w, InfoBar *bar) {
    std::memset(bar, 0, sizeof *bar);
    // 1: the message line.
    if (w->tuneDebug.load() != 0) {
        bar->message = 1;
        std::snprintf(bar->debug[0], sizeof bar->debug[0],
                      "PW %04d FWD %04d REFL %04d SWR %03.02f (%X)", w->rawPwr[0].load(),
                      w->rawPwr[1].load(), w->rawPwr[2].load(), static_cast<double>(w->swr.load()),
                      w->tinyData[3].load());
        std::snprintf(bar->debug[1], sizeof bar->debug[1], "freq %lu L%i,C%i,%.3s",
                      static_cast<unsigned long>(static_cast<uint32_t>(w->freqMeasured.load())),
                      w->tuneL.load(), w->tuneC.load(), ModeTuneDebug);
    } else if (w->keyFlags.load() & 1) {
        bar->message = 2;
    } else if (w->ModeWorkIdx.load() == 4 && w->logHold.load() != 0) {
        bar->message = 6;
    } else if (w->notice.load() != kNoticeNone && NowMs() < w->noticeUntilMs.load()) {
        bar->message = 5;
        bar->notice = w->notice.load();
    } else if (w->keyFlags.load() & 2) {
        bar->message = 3;
    } else if (RemoteStatusLost(w)) {
        bar->message = 4;
    }

    // 2: the boxes.
    std::snprintf(bar->box[0], sizeof bar->box[0], "%s", InterfaceName(w->ModeWorkIdx.load()));
    std::snprintf(bar->box[1], sizeof bar->box[1], "%s",
                  (w->boardStatus[0].load() & 1) ? "Coax:RX+TX" : "  Coax:RTX");
    InfoBandText(w, bar->box[2], sizeof bar->box[2]);
    if (w->bypass.load() == 1)
        std::snprintf(bar->box[3], sizeof bar->box[3], "Att %s", attNames[4]);
    else
        std::snprintf(bar->box[3], sizeof bar->box[3], "Att %sdB",
                      AttenuatorName(AttenuatorOnBoard(w)));
    std::snprintf(bar->box[4], sizeof bar->box[4], "Ant %d", w->antenna.load() + 1);
    std::snprintf(bar->box[5], sizeof bar->box[5], "%s",
                  w->tunerThrough.load() != 0 ? "Atu: Bpy" : "Atu: On");
    if (w->remoteOn.load() == 1) bar->remote = w->remoteFault.load() == 1 ? 2 : 1;

    // 3, 4: temperatures, supply voltage and current.
    double t1 = w->temp1.load(), t2 = w->temp2.load();
    if (w->tempUnits.load() == 1)
        std::snprintf(bar->temps, sizeof bar->temps, "PA Temp1: %04.01f°F      Temp2: %04.01f°F",
                      static_cast<double>(ConversionCelsius_to_Fahrenheit(static_cast<float>(t1))),
                      static_cast<double>(ConversionCelsius_to_Fahrenheit(static_cast<float>(t2))));
    else
        std::snprintf(bar->temps, sizeof bar->temps, "PA Temp1: %04.01f°C      Temp2: %04.01f°C",
                      t1, t2);
    InfoSupplyText(w, bar->supply, sizeof bar->supply);
    RemoteStatus r;
    if (RemoteStatusShown(w, &r)) ComposeRemoteBar(w, r, bar);
}

void PaintInfoBar(Works *w, const InfoBar &bar) {
    if (bar.message == 1) {
        Text(w, 8, 5, 350, bar.debug[0], 250, 250, 0);
        Text(w, 8, 500, 350, bar.debug[1], 250, 250, 0);
    } else if (bar.message == 2) {
        Text(w, 8, 5, 350, "Entering second function...", 250, 250, 250);
    } else if (bar.message == 3) {
        Text(w, 8, 5, 350, "ATU ByPass not saved!", 250, 250, 250);
    } else if (bar.message == 4) {
        Text(w, 8, 5, 350, "Link to the server lost: this unit's own readings", 250, 0, 0);
    } else if (bar.message == 5) {
        Text(w, 8, 5, 350, NoticeText(bar.notice), 250, 250, 250);
    } else if (bar.message == 6) {
        Text(w, 8, 5, 350, "Logger: radio transmits, band change waits for receive", 250, 250, 0);
    }

    static const int kBox[7][3] = {{1, 110, 10},    {115, 260, 125}, {265, 400, 275},
                                   {405, 520, 415}, {525, 600, 535}, {605, 710, 615},
                                   {715, 799, 725}};
    for (const auto &b : kBox)
        DrawRect(&w->fb, b[0], 278, b[1], 303, 200, 200, 200);
    const int y = 298;
    for (int i = 0; i < 6; i++)
        Text(w, 8, kBox[i][2], y, bar.box[i], 0, 200, 255);
    // The last box is the narrowest: its word ends inside it ("Remote" at
    // x 725 ran past the screen's right edge).
    const char *where = bar.remote == 0 ? "Local" : "Remote";
    int x = std::min(kBox[6][2], kBox[6][1] - 3 - getStringSpace(8, where));
    if (bar.remote == 2)
        Text(w, 8, x, y, where, 250, 0, 0);
    else
        Text(w, 8, x, y, where, 0, 200, 255);

    DrawRect(&w->fb, 1, 307, 400, 332, 100, 100, 100);
    Text(w, 8, 10, 327, bar.temps, 0, 200, 0);
    DrawRect(&w->fb, 405, 307, 799, 332, 100, 100, 100);
    Text(w, 8, 415, 327, bar.supply, 0, 200, 0);
}

// Rows of the bar and of the message line under it.
constexpr int kInfoTop = 278, kInfoBottom = 359;

} // namespace

void DrawInfoBar(Works *w) {
    InfoBar bar;
    ComposeInfoBar(w, &bar);
    if (fbBandBegin(&w->fb, kBandInfo, kInfoTop, kInfoBottom, &bar, sizeof bar) != 0) {
        PaintInfoBar(w, bar);
        fbBandEnd(&w->fb, kBandInfo);
    }
}

void InfoBarBoxes(Works *w, char boxes[6][128]) {
    InfoBar bar;
    ComposeInfoBar(w, &bar);
    std::memcpy(boxes, bar.box, sizeof bar.box);
}

void ShowNotice(Works *w, Notice notice) {
    w->notice = notice;
    w->noticeUntilMs = NowMs() + kNoticeMs;
}

void ViewStatusTX(Works *w) {
    if (w->screenFlags.load() != 0) return; // not over a full-screen page
    if (!(w->boardStatus[1].load() & 1)) return;
    for (int y = 175; y <= 209; y++)
        DrawHorizontalLine(375, y, 430, 250, 0, 0, &w->fb, 0);
    Text(w, 8, 390, 200, "TX", 255, 255, 255);
}

void ViewStatusInfo(Works *w, TavParams tav) {
    if (w->screenFlags.load() != kScreenStatus) return;
    SetupRecord *s = w->setup;
    // The TAV link is only asked for in TAV mode: in the other modes its port
    // may be missing or belong to the FT-817.
    if (w->ModeWorkIdx.load() == 1 && s->EnableSerial.load() == '0') {
        s->EnableSerial = '1';
        CallHook(hooks.StartThreadTAV, w);
    }
    bool fahrenheit = w->tempUnits.load() == 1;
    auto F = [](float c) { return static_cast<double>(ConversionCelsius_to_Fahrenheit(c)); };
    char buf[160];
    auto Row = [&](int y, const char *label, const char *text) {
        if (label != nullptr) Text(w, 8, 5, y, label, 255, 255, 255);
        Text(w, 8, 180, y, text, 255, 255, 255);
    };

    std::snprintf(buf, sizeof buf, "SW ver. %.20s, FW ver. %.8s", w->swVersion, w->boardVersion);
    Row(110, "VERSION", buf);
    std::snprintf(buf, sizeof buf, "%.32s (%.32s), TYPE: %s, MAXPOWER: %s", w->eePage0, w->eePage1,
                  w->boardOpt.load() == '0'   ? "EU"
                  : w->boardOpt.load() == '1' ? "USA"
                                              : "",
                  w->powerClass.load() == '0'   ? "60W"
                  : w->powerClass.load() == '1' ? "120W"
                                                : "");
    Row(132, "SN", buf);
    std::snprintf(buf, sizeof buf, "FWD:%02.01f, RFL:%02.01f , PW:%02.01f, SWR:%02.01f",
                  static_cast<double>(w->pwrFwd.load()), static_cast<double>(w->pwrRefl.load()),
                  static_cast<double>(w->pwrIn.load()), static_cast<double>(w->swr.load()));
    Row(154, "POWER", buf);
    long shown = s->EnableSerial.load() == '1' ? w->freq.load() : w->freqMeasured.load();
    std::snprintf(buf, sizeof buf, "%ldHz(%ld)", shown, static_cast<long>(tav.freqCur));
    Row(176, "FREQUENCY", buf);
    double amps = SupplyCurrent(w), raw = w->rawAux.load();
    if (fahrenheit)
        std::snprintf(buf, sizeof buf, "Current:%05.01fA (%05.01f), Tbrd:%04.02f°F, Thsk:%04.02f°F",
                      amps, raw, F(w->temp1.load()), F(w->temp2.load()));
    else
        std::snprintf(buf, sizeof buf, "Current:%05.01fA (%05.01f), Tbrd:%04.02f°C, Thsk:%04.02f°C",
                      amps, raw, static_cast<double>(w->temp1.load()),
                      static_cast<double>(w->temp2.load()));
    Row(198, "TEMPERATURE", buf);
    if (fahrenheit)
        std::snprintf(buf, sizeof buf, "CPU:%4.01f°F, GPU:%4.01f°F", F(w->cpuTemp.load()),
                      F(w->gpuTemp.load()));
    else
        std::snprintf(buf, sizeof buf, "CPU:%2.01f°C, GPU:%2.01f°C",
                      static_cast<double>(w->cpuTemp.load()),
                      static_cast<double>(w->gpuTemp.load()));
    Row(220, nullptr, buf);
    if (fahrenheit)
        std::snprintf(buf, sizeof buf, "Set Point Alarm %4.01f°F", F(w->tempMax1.load()));
    else
        std::snprintf(buf, sizeof buf, "Set Point Alarm %04.02f°C",
                      static_cast<double>(w->tempMax1.load()));
    Row(242, nullptr, buf);
    std::snprintf(buf, sizeof buf, "IP:%.31s, NetMask:%.31s ", IP, NetMask);
    Row(264, "LAN", buf);
    std::snprintf(buf, sizeof buf, "Gateway:%.31s, DNS:%.31s ", Gateway, DNS);
    Row(286, nullptr, buf);
    std::snprintf(buf, sizeof buf, "State 0x%02x 0x%02x,ES:%d,ER:%d", w->boardStatus[0].load(),
                  w->boardStatus[1].load(), w->retryTotal.load(), w->retryStops.load());
    Row(308, "STATUS", buf);
    Row(330, nullptr, ExistError(w, kErrTavExtIo) ? "No EXT IO data" : "EXT IO connected");
    std::snprintf(buf, sizeof buf, "ver. %x, V12: %02.01fV, V15: %02.01fV, Vamp: %02.01fV",
                  w->tinyData[0].load(), static_cast<double>(CalvTensVadcAmp(w, w->tinyData[1])),
                  static_cast<double>(CalvTensVadcAmp(w, w->tinyData[2])),
                  static_cast<double>(CalvTensVadcAmp(w, w->tinyData[3])));
    Row(352, "AMPL", buf);
    // A unit reachable from the network with the phrase every unit ships with.
    if (WsDefaultPhraseExposed(w)) Text(w, 8, 5, 374, "default access phrase", 255, 80, 80);
    if (w->menuIdx.load() == 0) {
        w->dateTime[sizeof w->dateTime - 1] = '\0';
        Text(w, 8, 300, 400, w->dateTime, 255, 255, 255);
    }
}
