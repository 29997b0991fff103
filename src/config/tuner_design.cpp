#include "config/tuner_design.h"

#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include <cstdlib>
#include <cstring>

namespace {

const char *const kTunerDesignPath = "/opt/set/tuner.txt";

// One key: where its value goes and the values it may take.
struct DesignKey {
    const char *name;
    float TunerDesign::*number; // null for TxSideBit
    double lo, hi;              // as read (a float 0.1 lies above the double 0.1)
};

const DesignKey kDesignKeys[] = {
    {"LStepNH", &TunerDesign::lStepNH, 1.0, 10000.0},
    {"CStepPF", &TunerDesign::cStepPF, 0.1, 10000.0},
    {"CStrayPF", &TunerDesign::cStrayPF, 0.0, 10000.0},
    {"CoilQ", &TunerDesign::coilQ, 5.0, 100000.0},
    {"TxSideBit", nullptr, 18.0, 23.0},
};

bool Apply(const DesignKey &k, const char *value, TunerDesign *d) {
    char *end = nullptr;
    double v = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(v >= k.lo && v <= k.hi)) return false;
    if (k.number != nullptr) {
        d->*k.number = static_cast<float>(v);
        return true;
    }
    if (v != 18.0 && v != 23.0) return false;
    d->txSideBit = static_cast<int32_t>(v);
    return true;
}

// A line of the file as the log may show it: at most 60 bytes, control
// characters and bytes outside ASCII as '?'.
std::string Loggable(const std::string &line) {
    std::string out = line.substr(0, 60);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return out;
}

} // namespace

int ParseTunerDesign(const std::string &text, TunerDesign *d) {
    int bad = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        const DesignKey *key = nullptr;
        for (const DesignKey &k : kDesignKeys) {
            size_t n = std::strlen(k.name);
            if (line.compare(0, n, k.name) == 0 && line.size() > n + 1 && line[n] == ':' &&
                line[n + 1] == ' ')
                key = &k;
        }
        if (key == nullptr || !Apply(*key, line.c_str() + std::strlen(key->name) + 2, d)) {
            LogErr("tuner.txt: bad line \"%s\", keeping the default", Loggable(line).c_str());
            bad++;
        }
    }
    return bad;
}

int ReadTunerDesign(Works *w) {
    w->tunerDesign = TunerDesign{};
    std::string text;
    if (!ReadFileText(kTunerDesignPath, &text)) return 1;
    ParseTunerDesign(text, &w->tunerDesign);
    return 0;
}
