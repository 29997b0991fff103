#include "config/options.h"

#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

const char *const kOptionsPath = "/opt/set/options.txt";

// One key: a number with its range, or a text slot.
struct OptionKey {
    const char *name;
    const char *fallback;
    std::atomic<int32_t> OptionsRecord::*number; // null for a text
    char (OptionsRecord::*text)[kOptionText];    // null for a number
    int32_t lo, hi;
};

const OptionKey kOptionKeys[] = {
    {"TuneSearch", "0", &OptionsRecord::tuneSearch, nullptr, 0, 1},
    {"AccessPhrase", "tarabantulio", nullptr, &OptionsRecord::accessPhrase, 1, 0},
    {"RemoteAllow", "", nullptr, &OptionsRecord::remoteAllow, 0, 0},
    {"RemoteBind", "", nullptr, &OptionsRecord::remoteBind, 0, 0},
    {"RemoteOrigins", "", nullptr, &OptionsRecord::remoteOrigins, 0, 0},
    {"RigctldAddress", "127.0.0.1", nullptr, &OptionsRecord::rigctldAddress, 1, 0},
    {"RigctldPort", "4532", &OptionsRecord::rigctldPort, nullptr, 1, 65535},
    {"AmpctldServer", "0", &OptionsRecord::ampctldServer, nullptr, 0, 1},
    {"AmpctldPort", "4531", &OptionsRecord::ampctldPort, nullptr, 1, 65535},
    {"AmpctldBind", "127.0.0.1", nullptr, &OptionsRecord::ampctldBind, 1, 0},
    {"LoggerUdpPort", "12060", &OptionsRecord::loggerUdpPort, nullptr, 1, 65535},
    {"LoggerUdpBind", "0.0.0.0", nullptr, &OptionsRecord::loggerUdpBind, 1, 0},
    {"LoggerRadioNr", "0", &OptionsRecord::loggerRadioNr, nullptr, 0, 2},
};

// Lines of keys not in the table, kept for the next write.
std::mutex gUnknownLock;
std::vector<std::string> gUnknown;

// A whole decimal number within the key's range.
bool ParseNumber(const OptionKey &k, const char *value, int32_t *out) {
    char *end = nullptr;
    long v = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || v < k.lo || v > k.hi) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// Printable text that fits its slot whole (a text is never cut); a text key
// with lo 1 may not be empty.
bool ParseText(const OptionKey &k, const char *value) {
    size_t n = std::strlen(value);
    if (n >= kOptionText || (k.lo == 1 && n == 0)) return false;
    for (size_t i = 0; i < n; i++)
        if (static_cast<unsigned char>(value[i]) < ' ' || value[i] == 0x7F) return false;
    return true;
}

bool Apply(OptionsRecord *o, const OptionKey &k, const char *value) {
    if (k.number != nullptr) {
        int32_t v;
        if (!ParseNumber(k, value, &v)) return false;
        (o->*k.number) = v;
        return true;
    }
    if (!ParseText(k, value)) return false;
    std::snprintf(o->*k.text, kOptionText, "%s", value);
    return true;
}

// Applies the lines of `text` to `o`; lines of unknown keys go to `unknown`.
// Returns the number of values refused (logged when `log`); *why names the
// first.
int ApplyOptionsText(OptionsRecord *o, const std::string &text, std::vector<std::string> *unknown,
                     bool log, std::string *why) {
    int refused = 0, lineNo = 0;
    size_t at = 0;
    while (at < text.size()) {
        lineNo++;
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const OptionKey *key = nullptr;
        for (const OptionKey &k : kOptionKeys) {
            size_t n = std::strlen(k.name);
            if (line.compare(0, n, k.name) == 0 && line.size() > n + 1 && line[n] == ':' &&
                line[n + 1] == ' ') {
                key = &k;
                break;
            }
        }
        if (key == nullptr) {
            unknown->push_back(line);
            continue;
        }
        const char *value = line.c_str() + std::strlen(key->name) + 2;
        if (Apply(o, *key, value)) continue;
        if (log) LogErr("options: bad value for %s, keeping the default", key->name);
        if (refused++ == 0 && why != nullptr)
            *why = "line " + std::to_string(lineNo) + ": bad value for " + key->name;
    }
    return refused;
}

} // namespace

void InitOptions(Works *w) {
    for (const OptionKey &k : kOptionKeys)
        Apply(&w->options, k, k.fallback);
    std::lock_guard<std::mutex> lock(gUnknownLock);
    gUnknown.clear();
}

void ParseOptions(Works *w, const std::string &text) {
    std::vector<std::string> unknown;
    ApplyOptionsText(&w->options, text, &unknown, true, nullptr);
    std::lock_guard<std::mutex> lock(gUnknownLock);
    gUnknown = std::move(unknown);
}

int CheckOptionsText(const std::string &text, std::string *why) {
    OptionsRecord scratch{};
    std::vector<std::string> unknown;
    return ApplyOptionsText(&scratch, text, &unknown, false, why) == 0 ? 0 : -1;
}

int ReadOptions(Works *w) {
    InitOptions(w);
    std::string text;
    if (!ReadFileText(kOptionsPath, &text)) return 1;
    ParseOptions(w, text);
    return 0;
}

std::string FormatOptions(Works *w) {
    std::string out;
    for (const OptionKey &k : kOptionKeys) {
        out += k.name;
        out += ": ";
        if (k.number != nullptr)
            out += std::to_string((w->options.*k.number).load());
        else
            out += w->options.*k.text;
        out += '\n';
    }
    std::lock_guard<std::mutex> lock(gUnknownLock);
    for (const std::string &line : gUnknown)
        out += line + '\n';
    return out;
}

int WriteOptions(Works *w) {
    return WriteFileSafe(kOptionsPath, FormatOptions(w));
}
