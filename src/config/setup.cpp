#include "config/setup.h"

#include "config/antenna_banks.h"
#include "config/table_text.h"
#include "model/numbers.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const char *const kSetupPath = "/opt/set/setup.txt";

enum class Form { Char, Text, Int, TcpPort };

// One key of the file: where its slot is, how its value is read into works and
// how the live value is put back into the slot before a write.
struct Key {
    const char *name;
    Form form;
    size_t offset;                    // slot offset in the record (unused for TcpPort)
    size_t width;                     // slot width
    void (*load)(Works *, int value); // char: digit value; int: scanned value
    int (*save)(Works *);             // live value for the slot (char: digit value)
};

#define SLOT(f) offsetof(SetupRecord, f), sizeof(SetupRecord::f)

int Round(double v) {
    return static_cast<int>(std::lround(v));
}

// Keys in the file's write order.
const Key kKeys[] = {
    {"EnableKeyb", Form::Char, SLOT(EnableKeyb), nullptr, nullptr},
    {"EnableSpi", Form::Char, SLOT(EnableSpi), nullptr, nullptr},
    {"EnableTouch", Form::Char, SLOT(EnableTouch), nullptr, nullptr},
    {"DelayedTouch", Form::Char, SLOT(DelayedTouch), nullptr, nullptr},
    {"EnableGPIO", Form::Char, SLOT(EnableGPIO), nullptr, nullptr},
    {"EnableRead", Form::Char, SLOT(EnableRead), nullptr, nullptr},
    {"EnableWrite", Form::Char, SLOT(EnableWrite), nullptr, nullptr},
    {"EnableCAT", Form::Char, SLOT(EnableCAT), nullptr, nullptr},
    {"EnableLinear", Form::Char, SLOT(EnableLinear), nullptr, nullptr},
    {"EnableTime", Form::Char, SLOT(EnableTime), nullptr, nullptr},
    {"WebSocket", Form::Char, SLOT(WebSocket), nullptr, nullptr},
    {"Pitch", Form::Text, SLOT(Pitch), nullptr, nullptr},
    {"Quality", Form::Text, SLOT(Quality), nullptr, nullptr},
    {"AudioIn", Form::Text, SLOT(AudioIn), nullptr, nullptr},
    {"InChannels", Form::Text, SLOT(InChannels), nullptr, nullptr},
    {"AudioCompress", Form::Int, SLOT(AudioCompress), [](Works *w, int v) { w->audioBitrate = v; },
     [](Works *w) { return w->audioBitrate.load(); }},
    {"Multiplier", Form::Int, SLOT(Multiplier), [](Works *w, int v) { w->audioFrame = v * 240; },
     nullptr},
    {"AudioOut", Form::Text, SLOT(AudioOut), nullptr, nullptr},
    {"Server", Form::Text, SLOT(Server), nullptr, nullptr},
    {"TcpPort", Form::TcpPort, 0, 0, nullptr, nullptr},
    {"CatPort", Form::Text, SLOT(CatPort), nullptr, nullptr},
    {"SerPort", Form::Text, SLOT(SerPort), nullptr, nullptr},
    {"LinPort", Form::Text, SLOT(LinPort), nullptr, nullptr},
    {"NumAntenna", Form::Char, SLOT(NumAntenna), [](Works *w, int v) { w->antenna = v - 1; },
     [](Works *w) { return w->antenna.load() + 1; }},
    {"EnablePwrPeak", Form::Char, SLOT(EnablePwrPeak),
     [](Works *w, int v) { w->auxFwdEnable = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->auxFwdEnable.load()); }},
    {"TempMode", Form::Char, SLOT(TempMode),
     [](Works *w, int v) { w->tempUnits = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->tempUnits.load()); }},
    {"FreqSensIn", Form::Char, SLOT(FreqSensIn),
     [](Works *w, int v) { w->fsMode = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->fsMode.load()); }},
    {"FreqPeriodTime", Form::Int, SLOT(FreqPeriodTime), [](Works *w, int v) { w->fsValue = v; },
     [](Works *w) { return w->fsValue.load(); }},
    {"Attenuator", Form::Char, SLOT(Attenuator),
     [](Works *w, int v) { w->attenuator = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->attenuator.load()); }},
    {"AttenuatorTune", Form::Char, SLOT(AttenuatorTune),
     [](Works *w, int v) { w->attenuatorTune = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->attenuatorTune.load()); }},
    {"SWRescAutoTune", Form::Int, SLOT(SWRescAutoTune),
     [](Works *w, int v) { w->swrTarget = static_cast<float>(v / 100.0); },
     [](Works *w) { return Round(w->swrTarget.load() * 100.0); }},
    {"ViewTimeStr", Form::Char, SLOT(ViewTimeStr),
     [](Works *w, int v) { w->viewTimeStr = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->viewTimeStr.load()); }},
    {"ViewTemp", Form::Char, SLOT(ViewTemp),
     [](Works *w, int v) { w->viewTemp = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->viewTemp.load()); }},
    {"MaxTemperature", Form::Int, SLOT(MaxTemperature),
     [](Works *w, int v) { w->tempMax1 = static_cast<float>(v / 10.0); },
     [](Works *w) { return Round(w->tempMax1.load() * 10.0); }},
    {"MaxTemperature2", Form::Int, SLOT(MaxTemperature2),
     [](Works *w, int v) { w->tempMax2 = static_cast<float>(v / 10.0); },
     [](Works *w) { return Round(w->tempMax2.load() * 10.0); }},
    {"AutoTuneMaxCicli", Form::Char, SLOT(AutoTuneMaxCicli),
     [](Works *w, int v) { w->swrTimeoutIdx = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->swrTimeoutIdx.load()); }},
    {"PowerUnits", Form::Char, SLOT(PowerUnits),
     [](Works *w, int v) { w->powerUnits = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->powerUnits.load()); }},
    {"SaveScreenIdx", Form::Char, SLOT(SaveScreenIdx),
     [](Works *w, int v) { w->saveScreenIdx = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->saveScreenIdx.load()); }},
    {"AutoTuneMode", Form::Char, SLOT(AutoTuneMode),
     [](Works *w, int v) { w->tuneOpt = static_cast<uint8_t>(v); },
     [](Works *w) { return w->tuneOpt.load() & 1; }},
    {"EnableFFT", Form::Char, SLOT(EnableFFT), nullptr, nullptr},
    {"Divide", Form::Int, SLOT(Divide), [](Works *w, int v) { w->fftDivide = v; },
     [](Works *w) { return w->fftDivide.load(); }},
    {"MaxTempAllowed", Form::Int, SLOT(MaxTempAllowed),
     [](Works *w, int v) { w->maxTempAllowed = v; },
     [](Works *w) { return w->maxTempAllowed.load(); }},
    {"PSpar1", Form::Int, SLOT(PSpar1), [](Works *w, int v) { w->psValue[0] = v; },
     [](Works *w) { return w->psValue[0].load(); }},
    {"PSpar2", Form::Int, SLOT(PSpar2), [](Works *w, int v) { w->psValue[1] = v; },
     [](Works *w) { return w->psValue[1].load(); }},
    {"Isteresi1", Form::Char, SLOT(Isteresi1), [](Works *w, int v) { w->tempHyst = v; },
     [](Works *w) { return w->tempHyst.load(); }},
    {"Isteresi2", Form::Char, SLOT(Isteresi2), [](Works *w, int v) { w->fanHyst = v; },
     [](Works *w) { return w->fanHyst.load(); }},
    {"PSpar3", Form::Int, SLOT(PSpar3), [](Works *w, int v) { w->psValue[2] = v; },
     [](Works *w) { return w->psValue[2].load(); }},
    {"PSpar4", Form::Int, SLOT(PSpar4), [](Works *w, int v) { w->psValue[3] = v; },
     [](Works *w) { return w->psValue[3].load(); }},
    {"OffsetPlot", Form::Int, SLOT(OffsetPlot), [](Works *w, int v) { w->offsetPlot = v / 10.0; },
     [](Works *w) { return Round(w->offsetPlot * 10.0); }},
    {"CatSerialPort", Form::Text, SLOT(CatSerialPort), nullptr, nullptr},
    {"TUNEenabled", Form::Int, SLOT(TUNEenabled),
     [](Works *w, int v) { w->tuneEnabled = static_cast<int8_t>(v & 0xFF); },
     [](Works *w) { return static_cast<int>(static_cast<uint8_t>(w->tuneEnabled.load())); }},
    {"NumBanco", Form::Int, SLOT(NumBanco), [](Works *w, int v) { w->numBanco = v; },
     [](Works *w) { return w->numBanco.load(); }},
    {"GMpar1", Form::Int, SLOT(GMpar1), [](Works *w, int v) { w->gmValue[0] = v; },
     [](Works *w) { return w->gmValue[0].load(); }},
    {"GMpar2", Form::Int, SLOT(GMpar2), [](Works *w, int v) { w->gmValue[1] = v; },
     [](Works *w) { return w->gmValue[1].load(); }},
    {"Peak_media", Form::Int, SLOT(Peak_media), [](Works *, int v) { fattoremedia = v; },
     [](Works *) { return fattoremedia.load(); }},
    {"Peak_ValDec", Form::Int, SLOT(Peak_ValDec), [](Works *, int v) { PeakDecrement = v / 10.0; },
     [](Works *) { return Round(PeakDecrement * 10.0); }},
    {"Peak_TimeDec", Form::Int, SLOT(Peak_TimeDec), [](Works *, int v) { PeakDecrementTime = v; },
     [](Works *) { return PeakDecrementTime.load(); }},
    {"Peak_Time", Form::Int, SLOT(Peak_Time), [](Works *, int v) { TimerPeakSec = v; },
     [](Works *) { return TimerPeakSec.load(); }},
    {"MAXbank", Form::Int, SLOT(MAXbank), [](Works *w, int v) { w->maxBank = v; },
     [](Works *w) { return w->maxBank.load(); }},
    {"BTN_longpress_Time", Form::Int, SLOT(BTN_longpress_Time),
     [](Works *, int v) { TIME_LONG_PRESS = v / 10.0; },
     [](Works *) { return Round(TIME_LONG_PRESS * 10.0); }},
    {"EnableDebug", Form::Char, SLOT(EnableDebug),
     [](Works *w, int v) { w->tuneDebug = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->tuneDebug.load()); }},
    {"Enable1600", Form::Char, SLOT(Enable1600), nullptr, nullptr},
    {"EnableLOGTemp", Form::Char, SLOT(EnableLOGTemp),
     [](Works *w, int v) { w->tempLogOn = static_cast<uint8_t>(v); },
     [](Works *w) { return static_cast<int>(w->tempLogOn.load()); }},
    {"AudioBuffers", Form::Int, SLOT(AudioBuffers), [](Works *w, int v) { w->audioBuffers = v; },
     [](Works *w) { return w->audioBuffers.load(); }},
};

char *Bytes(Works *w) {
    return reinterpret_cast<char *>(w->setup);
}

char *SlotOf(Works *w, const Key &k) {
    return Bytes(w) + k.offset;
}

// A one-character slot is a switch that other threads read and write while
// the file is read or written: it is only ever accessed atomically.
SetupSwitch &SwitchOf(Works *w, const Key &k) {
    return *reinterpret_cast<SetupSwitch *>(SlotOf(w, k));
}

// A one-character value must be a visible ASCII character.
bool IsSwitchChar(char c) {
    return c > ' ' && c < 0x7F;
}

// Scans a signed decimal at the start of `text`; false when there is none.
bool ScanInt(const char *text, int *value) {
    long long v = 0;
    const char *p = text;
    while (*p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        p++;
    if (ReadInteger(&p, 10, INT_MIN, INT_MAX, &v) != 1) return false; // no overflow
    *value = static_cast<int>(v);
    return true;
}

// The value of a numeric key as it stands in the file's units.
int NumberOf(Works *w, const Key &k) {
    if (k.form == Form::TcpPort) return w->tcpPort.load();
    if (std::strcmp(k.name, "AudioCompress") == 0) return w->audioBitrate.load();
    if (std::strcmp(k.name, "Divide") == 0) return w->fftDivide.load();
    int v = 0;
    ScanInt(SlotOf(w, k), &v);
    return v;
}

// Copies the live works values into their slots.
void SaveLiveValues(Works *w) {
    for (const Key &k : kKeys) {
        if (k.save == nullptr) continue;
        char *slot = SlotOf(w, k);
        int v = k.save(w);
        if (k.form == Form::Char) {
            SwitchOf(w, k) = static_cast<char>(v + '0');
        } else if (k.form == Form::Int) {
            char buf[24];
            std::snprintf(buf, sizeof buf, "%d", v);
            SetSlot(slot, k.width, buf);
        }
    }
}

// The key whose name, a colon and one blank start `line`, and its value;
// null when the line is none of them.
const Key *MatchKey(const char *line, const char **value) {
    for (const Key &k : kKeys) {
        size_t n = std::strlen(k.name);
        if (std::strncmp(line, k.name, n) != 0 || line[n] != ':' || line[n + 1] != ' ') continue;
        *value = line + n + 2;
        return &k;
    }
    return nullptr;
}

// A value copied up to its first control byte (a carriage return inside the
// line, say): the saved line could not carry the rest.
void CleanValue(const char *value, char *clean, size_t cap) {
    size_t len = 0;
    while (len < cap - 1 && static_cast<unsigned char>(value[len]) >= ' ' && value[len] != 0x7F) {
        clean[len] = value[len];
        len++;
    }
    clean[len] = '\0';
}

// Whether the reader takes `value` for key `k` (a switch that is a visible
// character, a number that starts with a decimal) rather than keeping the
// value it had.
bool ValueReadable(const Key &k, const char *value) {
    if (k.form == Form::Char) return IsSwitchChar(value[0]);
    if (k.form == Form::TcpPort) {
        short port;
        return std::sscanf(value, "%hd", &port) == 1;
    }
    if (k.form == Form::Text || std::strcmp(k.name, "Divide") == 0) return true;
    char clean[sizeof(SetupRecord)];
    CleanValue(value, clean, sizeof clean);
    char slot[sizeof(SetupRecord)];
    SetSlot(slot, k.width, clean);
    int v;
    return ScanInt(slot, &v);
}

// Multiplier, EnableFFT and Enable1600 also set run state that the running
// threads sized themselves by (the audio frame, the spectrum switch): that
// part is taken at start-up only (`startUp`); a factory reset changes the file.
void ApplyLine(Works *w, const char *line, bool startUp) {
    SetupRecord *s = w->setup;
    const char *value = nullptr;
    if (const Key *key = MatchKey(line, &value)) {
        const Key &k = *key;
        if (k.form == Form::TcpPort) {
            short port;
            if (std::sscanf(value, "%hd", &port) == 1) w->tcpPort = port;
            return;
        }
        char *slot = SlotOf(w, k);
        if (k.form == Form::Char) {
            // An empty, blank or non-printable value would store a NUL or a
            // control byte that the next save cannot write as a line.
            if (!IsSwitchChar(value[0])) {
                LogErr("setup: no valid value for %s, keeping '%c'", k.name, SwitchOf(w, k).load());
                return;
            }
            SwitchOf(w, k) = value[0];
            if (k.load != nullptr) k.load(w, value[0] - '0');
            if (startUp && std::strcmp(k.name, "EnableFFT") == 0) s->EnableSpectrum = value[0];
            if (startUp && std::strcmp(k.name, "Enable1600") == 0) s->EnableSpectrum = '1';
            return;
        }
        char clean[sizeof(SetupRecord)];
        CleanValue(value, clean, sizeof clean);
        SetSlot(slot, k.width, clean);
        if (k.form == Form::Text) {
            if (std::strcmp(k.name, "Server") == 0) SET_SLOT(w->serverAddr, slot);
            return;
        }
        // A number that does not start with a decimal keeps the previous value.
        int v;
        if (std::strcmp(k.name, "Divide") == 0) {
            // A value out of range (a huge one would stop the spectrum for
            // good) keeps the default.
            char *end = nullptr;
            long d = std::strtol(clean, &end, 10);
            bool ok = end != clean && d >= 0 && d <= kDivideMax;
            if (!ok) LogErr("setup: Divide %s out of 0..%d, the default 0 kept", clean, kDivideMax);
            w->fftDivide = ok ? static_cast<int>(d) : 0;
        } else if (ScanInt(slot, &v) && k.load != nullptr &&
                   (startUp || std::strcmp(k.name, "Multiplier") != 0)) {
            k.load(w, v);
        }
        return;
    }
}

void EchoToLog(Works *w) {
    for (const Key &k : kKeys) {
        if (k.form == Form::Char) {
            LogInfo("%s: -%c-", k.name, SwitchOf(w, k).load());
        } else if (k.form == Form::Text) {
            LogInfo("%s: -%s-", k.name, SlotOf(w, k));
        } else if (std::strcmp(k.name, "Divide") == 0) {
            LogInfo("Divide: -%s- -%d-", SlotOf(w, k), w->fftDivide.load());
        } else if (std::strcmp(k.name, "TUNEenabled") == 0 ||
                   std::strcmp(k.name, "NumBanco") == 0) {
            LogInfo("%s: -%i-", k.name, NumberOf(w, k));
        } else {
            LogInfo("%s: -%d-", k.name, NumberOf(w, k));
        }
    }
}

} // namespace

void SetSlot(char *slot, size_t width, const char *value) {
    if (width == 0) return;
    size_t n = std::strlen(value);
    if (n > width - 1) n = width - 1;
    std::memmove(slot, value, n);
    slot[n] = '\0';
}

// Fills a record with the default switches and texts. The run-time switches
// are no settings (InitRunState starts them): they stay as they are.
static void SetDefaultSlots(SetupRecord *s) {
    const char serial = s->EnableSerial, cat = s->EnableCatSerial, spectrum = s->EnableSpectrum;
    char *b = reinterpret_cast<char *>(s);
    std::memset(b, 0, sizeof(SetupRecord));
    std::memset(b, '1', sizeof(SetupRecord) - 1);
    s->EnableSerial = serial;
    s->EnableCatSerial = cat;
    s->EnableSpectrum = spectrum;

    for (SetupSwitch *sw :
         {&s->EnableSpi,     &s->EnableTouch,  &s->DelayedTouch,     &s->EnableRead,
          &s->EnableWrite,   &s->EnableCAT,    &s->EnableFFT,        &s->EnablePwrPeak,
          &s->TempMode,      &s->FreqSensIn,   &s->Attenuator,       &s->AttenuatorTune,
          &s->ViewTimeStr,   &s->ViewTemp,     &s->AutoTuneMaxCicli, &s->PowerUnits,
          &s->SaveScreenIdx, &s->AutoTuneMode, &s->EnableDebug,      &s->EnableLOGTemp})
        *sw = '0';
    s->WebSocket = '1';
    s->NumAntenna = '1';
    s->Isteresi1 = '1';
    s->Isteresi2 = '1';
    SET_SLOT(s->Pitch, "2500");
    SET_SLOT(s->Quality, "100");
    SET_SLOT(s->AudioIn, "hw:1");
    SET_SLOT(s->Divide, "0");
    SET_SLOT(s->InChannels, "1");
    SET_SLOT(s->AudioCompress, "0");
    SET_SLOT(s->Multiplier, "2");
    SET_SLOT(s->AudioOut, "hw:1");
    SET_SLOT(s->Server, "127.0.0.1");
    SET_SLOT(s->CatPort, "/dev/ttyUSB0");
    SET_SLOT(s->SerPort, "/dev/ttyUSB1");
    SET_SLOT(s->LinPort, "/dev/ttyAMA0");
    SET_SLOT(s->FreqPeriodTime, "10");
    SET_SLOT(s->SWRescAutoTune, "0");
    SET_SLOT(s->MaxTemperature, "600");
    SET_SLOT(s->MaxTemperature2, "800");
    SET_SLOT(s->MaxTempAllowed, "60");
    SET_SLOT(s->PSpar1, "1");
    SET_SLOT(s->PSpar2, "1000");
    SET_SLOT(s->PSpar3, "0");
    SET_SLOT(s->PSpar4, "0");
    SET_SLOT(s->OffsetPlot, "0");
    SET_SLOT(s->CatSerialPort, "/dev/ttyUSB1");
    SET_SLOT(s->TUNEenabled, "0");
    SET_SLOT(s->NumBanco, "1");
    SET_SLOT(s->GMpar1, "2");
    SET_SLOT(s->GMpar2, "100");
    SET_SLOT(s->Peak_media, "2");
    SET_SLOT(s->Peak_ValDec, "10");
    SET_SLOT(s->Peak_TimeDec, "1");
    SET_SLOT(s->Peak_Time, "3000");
    SET_SLOT(s->MAXbank, "20");
    SET_SLOT(s->BTN_longpress_Time, "5");
    SET_SLOT(s->AudioBuffers, "20");
}

void initSetup(Works *w) {
    InitSettingDefaults(w);
    SET_SLOT(w->accessPhrase, "tarabantulio");
    SetDefaultSlots(w->setup);
    SET_SLOT(w->serverAddr, "127.0.0.1");
}

void FormatSetupFile(Works *w, char *out, size_t cap, size_t *len) {
    std::lock_guard<std::recursive_mutex> lock(w->setupLock);
    SaveLiveValues(w);
    SetupRecord defaults{};
    SetDefaultSlots(&defaults);
    std::string text;
    char line[160];
    for (const Key &k : kKeys) {
        if (k.form == Form::Char) {
            // Every key is one whole line: a live value that is no visible
            // character is written as the key's default.
            char c = SwitchOf(w, k).load();
            if (!IsSwitchChar(c)) c = reinterpret_cast<const char *>(&defaults)[k.offset];
            std::snprintf(line, sizeof line, "%s: %c\n", k.name, c);
        } else if (k.form == Form::TcpPort)
            std::snprintf(line, sizeof line, "TcpPort: %d\n", w->tcpPort.load());
        else if (std::strcmp(k.name, "AudioCompress") == 0)
            std::snprintf(line, sizeof line, "AudioCompress: %d\n", w->audioBitrate.load());
        else if (std::strcmp(k.name, "Divide") == 0)
            std::snprintf(line, sizeof line, "Divide: %d\n",
                          std::clamp(w->fftDivide.load(), 0, kDivideMax));
        else
            std::snprintf(line, sizeof line, "%s: %s\n", k.name, SlotOf(w, k));
        text += line;
    }
    *len = text.size() < cap ? text.size() : cap;
    std::memcpy(out, text.data(), *len);
}

void writeSetup(Works *w) {
    char buf[4096];
    size_t len = 0;
    // One hold from the slots to the file: a later save never lands first.
    std::lock_guard<std::recursive_mutex> lock(w->setupLock);
    FormatSetupFile(w, buf, sizeof buf, &len);
    WriteFileSafe(kSetupPath, std::string(buf, len));
}

namespace {

void ReadSetupFile(Works *w, bool startUp) {
    std::lock_guard<std::recursive_mutex> lock(w->setupLock);
    initSetup(w);
    FILE *f = std::fopen(ResolvePath(kSetupPath).c_str(), "r");
    if (f == nullptr) {
        TraceRaw("Init Setup! ");
        writeSetup(w);
        LogErr("can't open /opt/set/setup.txt");
        return;
    }
    char line[100];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
        if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
        ApplyLine(w, line, startUp);
    }
    std::fclose(f);
    EchoToLog(w);
}

} // namespace

void readSetup(Works *w) {
    ReadSetupFile(w, true);
}

int CheckSetupText(const std::string &text, std::string *why) {
    int n = 0, known = 0;
    bool lineStart = true;
    // Read as readSetup reads it: pieces of at most 99 characters, each
    // taken as a line.
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        size_t len = (nl == std::string::npos ? text.size() : nl + 1) - pos;
        if (len > 99) len = 99;
        std::string line = text.substr(pos, len);
        pos += len;
        if (lineStart) n++;
        lineStart = line.back() == '\n';
        if (line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const char *value = nullptr;
        const Key *k = MatchKey(line.c_str(), &value);
        if (k == nullptr) continue;
        known++;
        if (!ValueReadable(*k, value))
            return Refuse(why, n, std::string(k->name) + " not readable");
    }
    if (known == 0) {
        if (why != nullptr) *why = "no setting of the setup file";
        return -1;
    }
    return 0;
}

void RestoreFactorySetup(Works *w) {
    for (int bank = 0; bank < 20; bank++)
        for (int kind = 0; kind < 4; kind++)
            DeleteFileConf(w, bank, kind);
    std::lock_guard<std::recursive_mutex> lock(w->setupLock);
    initSetup(w);
    writeSetup(w);
    ReadSetupFile(w, false);
}
