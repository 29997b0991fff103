#include "config/band_table.h"

#include "config/table_text.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include <cstdlib>

namespace {

// Number readers that continue from where the previous number ended; a
// missing number reads as 0 and leaves the position where it was.
uint32_t NextUnsigned(const char **p) {
    char *end = nullptr;
    unsigned long v = std::strtoul(*p, &end, 0);
    if (end == *p) return 0;
    *p = end;
    return static_cast<uint32_t>(v);
}

float NextFloat(const char **p) {
    char *end = nullptr;
    float v = std::strtof(*p, &end);
    if (end == *p) return 0.0f;
    *p = end;
    return v;
}

int32_t NextInt(const char **p) {
    char *end = nullptr;
    long v = std::strtol(*p, &end, 10);
    if (end == *p) return 0;
    *p = end;
    return static_cast<int32_t>(v);
}

// `rest`, when given, gets where the reading stopped.
BandConfig ParseRow(const std::string &line, const char **rest = nullptr) {
    BandConfig r{};
    const char *p = line.c_str();
    r.fStart = NextUnsigned(&p);
    r.fStop = NextUnsigned(&p);
    float fwdW = NextFloat(&p), fwdRaw = NextFloat(&p);
    float reflW = NextFloat(&p), reflRaw = NextFloat(&p);
    float inW = NextFloat(&p), inRaw = NextFloat(&p);
    r.K0 = fwdW / (fwdRaw * fwdRaw);
    r.K1 = reflW / (reflRaw * reflRaw);
    r.K2 = inW / (inRaw * inRaw);
    r.K3 = NextFloat(&p);
    r.sogliaPwIn = NextFloat(&p);
    r.sogliaCorrente = NextFloat(&p);
    r.sogliaRefl = NextFloat(&p);
    r.sogliaFwd = NextFloat(&p);
    for (int i = 0; i < 5; i++) {
        r.startL[i] = NextInt(&p);
        r.startC[i] = NextInt(&p);
    }
    r.fineStep = NextInt(&p);
    if (rest != nullptr) *rest = p;
    return r;
}

} // namespace

int ParseBandTable(const std::string &text, BandConfig **rows, bool trace) {
    std::vector<std::string> lines = TableLines(text, 255);
    int count = 0;
    for (const auto &l : lines)
        if (!IsCommentLine(l)) count++;
    if (trace) Trace("N row Config File %d \n", count);
    *rows = count > 0 ? new BandConfig[count]() : nullptr;
    int n = 0;
    for (const auto &l : lines) {
        if (IsCommentLine(l)) continue;
        BandConfig r = ParseRow(l);
        (*rows)[n++] = r;
        if (!trace) continue;
        // The input calibration pair as read, for the trace.
        const char *p = l.c_str();
        NextUnsigned(&p);
        NextUnsigned(&p);
        for (int i = 0; i < 4; i++)
            NextFloat(&p);
        float inW = NextFloat(&p), inRaw = NextFloat(&p);
        Trace("->%u,%u,%02.07f,%02.07f,%02.07f,%02.07f (%02.02f,%02.02f) Soglie: PWIN %02.01f, "
              "Corrente: %02.01f, REFL: %02.01f, FWD: %02.01f\n",
              r.fStart, r.fStop, r.K0, r.K1, r.K2, r.K3, inW, inRaw, r.sogliaPwIn, r.sogliaCorrente,
              r.sogliaRefl, r.sogliaFwd);
        Trace("\ttunepar: %d %d, %d %d, %d %d, %d %d, %d %d, step:%d\n", r.startL[0], r.startC[0],
              r.startL[1], r.startC[1], r.startL[2], r.startC[2], r.startL[3], r.startC[3],
              r.startL[4], r.startC[4], r.fineStep);
    }
    return count;
}

int CheckBandTable(const std::string &text, std::string *why) {
    if (int n = FirstLongLine(text, 255)) return Refuse(why, n, "longer than 255 characters");
    int n = 0;
    for (const auto &l : TableLines(text, 255)) {
        n++;
        if (IsCommentLine(l)) continue;
        const char *rest = nullptr;
        ParseRow(l, &rest);
        if (!OnlyBlanksLeft(rest)) return Refuse(why, n, "not a row of numbers");
    }
    return 0;
}

int ReadConfigFile(Works *w) {
    w->bandTabCount = 0;
    std::string text;
    if (!ReadFileText("/opt/set/config.txt", &text)) {
        TraceRaw("Config File not FOUND!!");
        LogErr("can't open /opt/set/config.txt");
        return 0;
    }
    BandConfig *rows = nullptr;
    int count = ParseBandTable(text, &rows, true);
    // Read once per run; a second read (tests) replaces the first.
    delete[] w->bandTab;
    w->bandTab = rows;
    w->bandTabCount = count;
    return count;
}

int BandRowForFreq(const BandConfig *rows, int count, int32_t freq) {
    for (int i = 0; i + 1 < count; i++) {
        if (freq >= static_cast<int32_t>(rows[i].fStart) &&
            freq < static_cast<int32_t>(rows[i + 1].fStart))
            return i;
    }
    return -1;
}
