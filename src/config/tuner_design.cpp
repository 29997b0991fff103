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
    float lo, hi;
};

const DesignKey kDesignKeys[] = {
    {"LStepNH", &TunerDesign::lStepNH, 1.0f, 10000.0f},
    {"CStepPF", &TunerDesign::cStepPF, 0.1f, 10000.0f},
    {"CStrayPF", &TunerDesign::cStrayPF, 0.0f, 10000.0f},
    {"CoilQ", &TunerDesign::coilQ, 5.0f, 100000.0f},
    {"TxSideBit", nullptr, 18.0f, 23.0f},
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
            LogErr("tuner.txt: bad line \"%s\", keeping the default", line.c_str());
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
