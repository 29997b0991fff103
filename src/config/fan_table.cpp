#include "config/fan_table.h"

#include "config/table_text.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include "model/numbers.h"

#include <cstdio>

// One row line; `rest`, when given, gets where the reading stopped, `ok`
// whether both numbers were taken. A refused row (a number not finite or out
// of range) runs the fan at full speed from its temperature (0 when that is
// the broken number): cooling fails safe.
static FanRow ParseFanRow(const std::string &l, const char **rest = nullptr, bool *ok = nullptr) {
    const char *p = l.c_str();
    FanRow r{};
    double t = 0, pct = 0;
    bool good = ReadReal(&p, -100.0, 300.0, &t) >= 0;
    r.temperature = static_cast<float>(t);
    // A fan speed is 0..100 %; a larger or negative number is cut to that range.
    good &= ReadReal(&p, -1e9, 1e9, &pct) >= 0;
    r.percent = pct <= 0.0 ? 0 : pct >= 100.0 ? 100 : static_cast<int32_t>(pct);
    if (!good) r.percent = 100;
    if (rest != nullptr) *rest = p;
    if (ok != nullptr) *ok = good;
    return r;
}

int ParseFanTable(const std::string &text, FanRow **rows, bool trace) {
    std::vector<std::string> lines = TableLines(text, 255);
    int count = 0;
    for (const auto &l : lines)
        if (!IsCommentLine(l)) count++;
    if (trace) {
        Trace("N row Ventola File %d \n", count);
        Trace("Setup3 \n");
    }
    *rows = count > 0 ? new FanRow[count]() : nullptr;
    int n = 0;
    for (const auto &l : lines) {
        if (IsCommentLine(l)) continue;
        bool ok = true;
        FanRow r = ParseFanRow(l, nullptr, &ok);
        (*rows)[n++] = r;
        if (!ok) LogErr("ventola.txt row %d refused: a number not finite or out of range", n);
        if (trace) Trace("->t:%.02f: %d \n", r.temperature, r.percent);
    }
    return count;
}

int CheckFanTable(const std::string &text, std::string *why) {
    auto readRow = [](const std::string &l, bool *ok) {
        const char *rest = nullptr;
        ParseFanRow(l, &rest, ok);
        return rest;
    };
    return CheckTableText(text, 255, readRow, "not a temperature and a percentage", why);
}

int ReadVentolaFile(Works *w) {
    std::string text;
    if (!ReadFileText("/opt/set/ventola.txt", &text)) {
        TraceRaw("Ventola File not FOUND!!");
        LogErr("can't open /opt/set/ventola.txt");
        return 0;
    }
    FanRow *rows = nullptr;
    int count = ParseFanTable(text, &rows, true);
    delete[] w->fanTab;
    w->fanTab = rows;
    w->fanTabCount = count;
    return count;
}
