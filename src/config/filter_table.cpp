#include "config/filter_table.h"

#include "model/cmd_queue.h"
#include "config/table_text.h"
#include "model/numbers.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"

#include <cstdio>
#include <cstdint>
#include <cstdlib>

static const char *const kFilterPath = "/opt/set/filter.txt";
static const char *const kFilterHeader =
    ";Fstart(hz)\tFstop         enabled   : 1= abilitata, l'ordine delle righe corrisponde al "
    "filtro di attivazione   j23 ultimo by pass (0 ,54000000)  verso esterno\n";

// One row line; `rest`, when given, gets where the reading stopped.
static FilterRow ParseFilterRow(const std::string &line, const char **rest = nullptr) {
    const char *p = line.c_str();
    FilterRow r{};
    long long v[3] = {0, 0, 0};
    // A number out of range (a negative or too large frequency) ends the
    // reading there, so the check refuses the line.
    const char *stop = nullptr;
    for (int i = 0; i < 3 && stop == nullptr; i++) {
        const char *at = p;
        if (ReadInteger(&p, i < 2 ? 0 : 10, i < 2 ? 0 : INT32_MIN, INT32_MAX, &v[i]) < 0) {
            v[i] = 0;
            stop = at;
        }
    }
    r.fStart = static_cast<int32_t>(v[0]);
    r.fStop = static_cast<int32_t>(v[1]);
    r.enabled = static_cast<int32_t>(v[2]);
    if (rest != nullptr) *rest = stop != nullptr ? stop : p;
    return r;
}

int CheckTabFiltri(const std::string &text, std::string *why) {
    if (int n = FirstLongLine(text, 511)) return Refuse(why, n, "longer than 511 characters");
    int n = 0, rows = 0;
    for (const auto &line : TableLines(text, 511)) {
        n++;
        if (rows >= kFilterRows) break; // the reader stops here
        if (IsCommentLine(line)) continue;
        const char *rest = nullptr;
        ParseFilterRow(line, &rest);
        if (!OnlyBlanksLeft(rest)) return Refuse(why, n, "not start, stop and flag");
        rows++;
    }
    return 0;
}

int ParseTabFiltri(Works *w, const std::string &text) {
    for (auto &row : w->filterTab)
        row.enabled = 0;
    int n = 0;
    for (const auto &line : TableLines(text, 511)) {
        if (n >= kFilterRows) break;
        if (IsCommentLine(line)) continue;
        FilterRow r = ParseFilterRow(line);
        w->filterTab[n] = r;
        Trace("Filter %i %ld,%ld,%x\n", n, static_cast<long>(r.fStart), static_cast<long>(r.fStop),
              static_cast<unsigned>(r.enabled & 0xFF));
        n++;
    }
    return n;
}

int LoadTabFiltri(Works *w) {
    for (auto &row : w->filterTab)
        row.enabled = 0;
    std::string text;
    if (!ReadFileText(kFilterPath, &text)) {
        Trace("Filter File not FOUND!!\n");
        return 0;
    }
    return ParseTabFiltri(w, text);
}

std::string FormatTabFiltri(Works *w) {
    std::string out = kFilterHeader;
    char line[80];
    for (const auto &row : w->filterTab) {
        std::snprintf(line, sizeof line, "%ld\t\t%ld\t\t%i \n", static_cast<long>(row.fStart),
                      static_cast<long>(row.fStop), row.enabled & 0xFF);
        out += line;
    }
    return out;
}

int SaveTabFiltri(Works *w) {
    Trace("SaveTabFiltri \n");
    return WriteFileSafe(kFilterPath, FormatTabFiltri(w));
}

void SetFilterFromfreq(Works *w) {
    int32_t freq = w->freq.load();
    for (int i = 0; i < kFilterRows; i++) {
        const FilterRow &row = w->filterTab[i];
        if ((row.enabled & 0xFF) != 1 || freq < row.fStart || freq > row.fStop) continue;
        uint8_t mask = static_cast<uint8_t>(1u << i);
        uint8_t old = w->filterBits.load();
        if (mask == old) return;
        // The link formats "SF" from filterBits when it sends it: set first,
        // and keep it only if the command was accepted.
        w->filterBits = mask;
        if (IncPNTIn_CMDLinear(kCmdFilter, w) != 0) {
            w->filterBits = old;
            return;
        }
        Trace(">>>>>>>>>>>>>>> SET FILTER: %i!!\n", i + 1);
        return;
    }
}

void EnDisFilter(Works *w, uint8_t value) {
    int row = w->filterRow.load();
    if (row < 0 || row >= kFilterRows) return;
    w->filterTab[row].enabled = static_cast<int32_t>((w->filterTab[row].enabled & ~0xFF) | value);
    SetFilterFromfreq(w);
    SaveTabFiltri(w);
}
