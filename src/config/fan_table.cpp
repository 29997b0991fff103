#include "config/fan_table.h"

#include "config/table_text.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include <cstdio>
#include <cstdlib>

// One row line; `rest`, when given, gets where the reading stopped.
static FanRow ParseFanRow(const std::string &l, const char **rest = nullptr) {
    const char *p = l.c_str();
    char *end = nullptr;
    FanRow r{};
    r.temperature = std::strtof(p, &end);
    if (end != p) p = end;
    double pct = std::strtod(p, &end);
    // A fan speed is 0..100 %; anything else (or not a number) is cut
    // to that range rather than converted out of the integer's range.
    if (end == p || !(pct > 0.0))
        r.percent = 0;
    else
        r.percent = pct >= 100.0 ? 100 : static_cast<int32_t>(pct);
    if (rest != nullptr) *rest = end != p ? end : p;
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
        FanRow r = ParseFanRow(l);
        (*rows)[n++] = r;
        if (trace) Trace("->t:%.02f: %d \n", r.temperature, r.percent);
    }
    return count;
}

int CheckFanTable(const std::string &text, std::string *why) {
    if (int n = FirstLongLine(text, 255)) return Refuse(why, n, "longer than 255 characters");
    int n = 0;
    for (const auto &l : TableLines(text, 255)) {
        n++;
        if (IsCommentLine(l)) continue;
        const char *rest = nullptr;
        ParseFanRow(l, &rest);
        if (!OnlyBlanksLeft(rest)) return Refuse(why, n, "not a temperature and a percentage");
    }
    return 0;
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
