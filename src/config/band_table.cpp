#include "config/band_table.h"

#include "config/table_text.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include "model/numbers.h"

#include <cmath>
#include <cstdint>

namespace {

// The largest magnitude a calibration, a factor or a threshold can have.
constexpr double kRealLimit = 1e6;

// Reads one number after the other, each from where the previous one ended;
// a missing number reads as 0. A number that is not finite or is out of its
// field's range marks the row refused.
struct RowReader {
    const char *p;
    bool ok = true;
    uint32_t Unsigned() {
        long long v = 0;
        ok &= ReadInteger(&p, 0, 0, UINT32_MAX, &v) >= 0;
        return static_cast<uint32_t>(v);
    }
    float Real(double lo) {
        double v = 0;
        ok &= ReadReal(&p, lo, kRealLimit, &v) >= 0;
        return static_cast<float>(v);
    }
    int32_t Int() {
        long long v = 0;
        ok &= ReadInteger(&p, 10, INT32_MIN, INT32_MAX, &v) >= 0;
        return static_cast<int32_t>(v);
    }
};

// `rest`, when given, gets where the reading stopped; `ok` whether every
// number was taken. A refused row keeps its start (it still bounds the bands
// around it) but gets no calibration and no threshold (not a number): the
// consumers use their defaults for it, never a limit read from broken text.
BandConfig ParseRow(const std::string &line, const char **rest = nullptr, bool *ok = nullptr,
                    float cal[6] = nullptr) {
    BandConfig r{};
    RowReader in{line.c_str()};
    r.fStart = in.Unsigned();
    r.fStop = in.Unsigned();
    float c[6];
    for (float &x : c)
        x = in.Real(0.0);
    r.K0 = c[0] / (c[1] * c[1]);
    r.K1 = c[2] / (c[3] * c[3]);
    r.K2 = c[4] / (c[5] * c[5]);
    r.K3 = in.Real(-kRealLimit);
    r.sogliaPwIn = in.Real(0.0);
    r.sogliaCorrente = in.Real(0.0);
    r.sogliaRefl = in.Real(0.0);
    r.sogliaFwd = in.Real(0.0);
    for (int i = 0; i < 5; i++) {
        r.startL[i] = in.Int();
        r.startC[i] = in.Int();
    }
    r.fineStep = in.Int();
    if (!in.ok) {
        const float nan = std::nanf("");
        r.K0 = r.K1 = r.K2 = r.K3 = nan;
        r.sogliaPwIn = r.sogliaCorrente = r.sogliaRefl = r.sogliaFwd = nan;
    }
    if (rest != nullptr) *rest = in.p;
    if (ok != nullptr) *ok = in.ok;
    if (cal != nullptr)
        for (int i = 0; i < 6; i++)
            cal[i] = c[i];
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
    int n = 0, line = 0;
    for (const auto &l : lines) {
        line++;
        if (IsCommentLine(l)) continue;
        bool ok = true;
        float cal[6];
        BandConfig r = ParseRow(l, nullptr, &ok, cal);
        (*rows)[n++] = r;
        if (!ok) LogErr("config.txt line %d refused: a number not finite or out of range", line);
        if (!trace) continue;
        float inW = cal[4], inRaw = cal[5]; // the input calibration pair as read
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
    auto readRow = [](const std::string &l, bool *ok) {
        const char *rest = nullptr;
        ParseRow(l, &rest, ok);
        return rest;
    };
    return CheckTableText(text, 255, readRow, "not a row of numbers", why);
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
    // The last row is a band of its own up to its stop (a row that only
    // closes the band before it has no stop above its start).
    if (count > 0) {
        const BandConfig &last = rows[count - 1];
        if (freq >= static_cast<int32_t>(last.fStart) && last.fStop > last.fStart &&
            freq <= static_cast<int32_t>(last.fStop))
            return count - 1;
    }
    return -1;
}
