#include "config/antenna_banks.h"
#include "config/antenna_save.h"

#include "config/table_text.h"
#include "model/numbers.h"
#include "config/tuner_memory.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "model/hooks.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct DefaultBand {
    const char *name;
    int32_t fStart, fStop;
};

constexpr DefaultBand kDefaultBands[kAntRows] = {
    {"160m", 1800000, 2000000},  {"80m", 3500000, 4000000},   {"60m", 5330500, 5450000},
    {"40m", 7000000, 7300000},   {"30m", 10100000, 10150000}, {"20m", 14000000, 14350000},
    {"17m", 18068000, 18168000}, {"15m", 21000000, 21450000}, {"12m", 24890000, 24990000},
    {"10m", 28000000, 29700000}, {"6m", 50000000, 54000000},
};

// Fills `row` from one row line; fields the line does not carry stay 0, a
// number not finite or out of range reads as 0 and clears *ok. Returns where
// the reading stopped.
const char *ParseRow(const char *line, AntennaRow *row, bool *ok = nullptr) {
    *row = AntennaRow{};
    // Band name: up to the first blank or tab, at most 7 characters kept; the
    // rest of a longer name is skipped up to the separator.
    const char *p = line;
    int n = 0;
    while (*p != '\0' && !IsFieldSeparator(*p)) {
        if (n < 7) row->name[n++] = *p;
        p++;
    }
    row->name[n] = '\0';
    bool good = true;
    long long v = 0;
    good &= ReadInteger(&p, 0, 0, INT32_MAX, &v) >= 0;
    row->fStart = static_cast<int32_t>(v);
    v = 0;
    good &= ReadInteger(&p, 0, 0, INT32_MAX, &v) >= 0;
    row->fStop = static_cast<int32_t>(v);
    uint8_t *bytes[] = {&row->ampEnable, &row->ant, &row->atuOff, &row->att};
    for (uint8_t *b : bytes) {
        v = 0;
        good &= ReadInteger(&p, 10, 0, 255, &v) >= 0;
        *b = static_cast<uint8_t>(v);
    }
    double pwr = 0;
    good &= ReadReal(&p, 0.0, 10000.0, &pwr) >= 0;
    row->pwr = static_cast<float>(pwr);
    if (ok != nullptr) *ok = good;
    return p;
}

int MarkerIndex(const char *line) {
    if (std::strncmp(line + 1, "Gen", 3) == 0) return 0;
    if (std::strncmp(line + 1, "Tav", 3) == 0) return 1;
    if (std::strncmp(line + 1, "817", 3) == 0) return 2;
    if (std::strncmp(line + 1, "Net", 3) == 0) return 3;
    if (std::strncmp(line + 1, "Udp", 3) == 0) return 4;
    return -1;
}

} // namespace

std::string BankAntennaFile(int bank) {
    if (bank >= 1 && bank <= 19) return "/opt/set/antenna_b" + std::to_string(bank) + ".txt";
    return "/opt/set/antenna.txt";
}

std::string BankAtuFile(int bank, int ant) {
    std::string base = "/opt/set/atu_ant" + std::to_string(ant);
    if (bank >= 1 && bank <= 19) return base + "_b" + std::to_string(bank) + ".txt";
    return base + ".txt";
}

namespace {

// The default names and ranges into every row; keepSettings 0 resets the
// row settings as well.
void DefaultRows(AntennaRow *tab, int keepSettings) {
    for (int i = 0; i < kAntRows; i++) {
        AntennaRow &r = tab[i];
        std::snprintf(r.name, sizeof r.name, "%s", kDefaultBands[i].name);
        r.fStart = kDefaultBands[i].fStart;
        r.fStop = kDefaultBands[i].fStop;
        if (keepSettings == 0) {
            r.ampEnable = 0;
            r.ant = 1;
            r.atuOff = 1;
            r.att = 0;
            r.pwr = 0.0f;
        }
    }
}

// A bank's table read into `tab` (which holds the table it replaces, whose
// settings rows the file does not name keep); returns the marker's mode.
int ReadBankRows(int bank, AntennaRow *tab, int *rows) {
    for (int i = 0; i < kAntRows; i++)
        tab[i].ampEnable = 0;
    std::string text;
    if (!ReadFileText(BankAntennaFile(bank).c_str(), &text)) {
        DefaultRows(tab, 0);
        *rows = kAntRows;
        return 0;
    }
    int mode = ParseTabConfigText(text, tab, rows, nullptr);
    for (int i = 0; i < *rows; i++) {
        if (tab[i].fStart == 0 || tab[i].fStop == 0) {
            DefaultRows(tab, 1);
            *rows = kAntRows;
            Trace("Error Reinit antenna\n");
            break;
        }
    }
    return mode;
}

void WriteBankRows(int bank, int mode, const AntennaRow *tab, int rows) {
    static const char *const kMarkers[] = {"!Gen\n", "!Tav\n", "!817\n", "!Net\n", "!Udp\n"};
    std::string text = kMarkers[mode >= 1 && mode <= 4 ? mode : 0];
    for (int i = 0; i < rows; i++) {
        const AntennaRow &r = tab[i];
        char line[128];
        std::snprintf(line, sizeof line, "%s %ld %ld %i %i %i %i %2.1f\n", r.name,
                      static_cast<long>(r.fStart), static_cast<long>(r.fStop), r.ampEnable, r.ant,
                      r.atuOff, r.att, static_cast<double>(r.pwr));
        text += line;
    }
    if (RemountRw() != 0) {
        Trace("can't mount rw /opt/set/ error %d\n", errno);
        return;
    }
    WriteFileSafe(BankAntennaFile(bank).c_str(), text, false);
    RemountRo();
}

} // namespace

void InitTabAntenna(Works *w, int keepSettings) {
    std::lock_guard<std::mutex> lock(w->antTabLock);
    DefaultRows(w->antTab, keepSettings);
    w->memRows = kAntRows;
}

int ParseTabConfigText(const std::string &text, AntennaRow *tab, int *rows, std::string *why) {
    int mode = 0;
    *rows = 0;
    int n = 0;
    if (why != nullptr) why->clear();
    auto refuse = [&](const char *what) {
        if (why != nullptr && why->empty()) Refuse(why, n, what);
    };
    if (int at = FirstLongLine(text, 511); at != 0 && why != nullptr)
        Refuse(why, at, "longer than 511 characters");
    // Lines over 511 characters are cut, never read on as another row.
    for (std::string line : TableLines(text, 511)) {
        n++;
        // Hand-edited files: indentation, tabs and empty lines are not data.
        size_t lead = 0;
        while (lead < line.size() && IsFieldSeparator(line[lead]))
            lead++;
        line.erase(0, lead);
        if (line.empty()) continue;
        if (line[0] == ';') continue;
        if (line[0] == '!') {
            int m = MarkerIndex(line.c_str());
            if (m >= 0) mode = m;
            continue;
        }
        if (*rows >= kAntRows) break;
        AntennaRow &r = tab[*rows];
        bool ok = true;
        if (!OnlyBlanksLeft(ParseRow(line.c_str(), &r, &ok))) refuse("not a band row");
        if (!ok) refuse("a number not finite or out of range");
        // (The loader then takes the default names and ranges for all rows.)
        if (r.fStart == 0 || r.fStop == 0) refuse("a band without its frequencies");
        (*rows)++;
    }
    return mode;
}

int LoadTabConfig(Works *w, int bank) {
    AntennaRow tab[kAntRows];
    int rows = 0;
    CopyAntTab(w, tab);
    int mode = ReadBankRows(bank, tab, &rows);
    {
        // Published whole: a reader never sees a row half loaded.
        std::lock_guard<std::mutex> lock(w->antTabLock);
        std::copy(tab, tab + kAntRows, w->antTab);
        w->memRows = rows;
    }
    w->bandRow = -1;
    // The memory-table cursor stays on a row of the table now in memory.
    int row = w->memRow;
    if (row >= rows || row < 0) w->memRow = 0;
    return mode;
}

void SaveTabConfig(Works *w, int bank) {
    SaveTabConfigAs(w, bank, w->ModeWorkIdx);
}

void SaveTabConfigAs(Works *w, int bank, int mode) {
    AntennaRow tab[kAntRows];
    int rows = CopyAntTab(w, tab);
    WriteBankRows(bank, mode, tab, rows);
}

void CopyTabConfig(int from, int to) {
    AntennaRow tab[kAntRows];
    DefaultRows(tab, 0);
    int rows = 0;
    int mode = ReadBankRows(from, tab, &rows);
    WriteBankRows(to, mode, tab, rows);
}

void SaveToBank(Works *w, int bank, int antIdx) {
    int32_t freq = w->freq;
    {
        std::lock_guard<std::mutex> lock(w->antTabLock);
        int rows = w->memRows;
        for (int i = 0; i < rows && i < kAntRows; i++) {
            AntennaRow &r = w->antTab[i];
            if (r.fStart <= freq && freq <= r.fStop) {
                r.ant = static_cast<uint8_t>(antIdx + 1);
                r.atuOff = w->tunerThrough;
                r.att = w->attenuator;
                r.ampEnable = w->attenuatorShown <= 3 ? 1 : 0;
                break;
            }
        }
    }
    SaveTabConfig(w, bank);
}

int LoadAllBankTable(Works *w, int bank) {
    w->ModeWorkIdx = LoadTabConfig(w, bank);
    for (int ant = 0; ant < 3; ant++)
        LoadTabAtu(w, bank, ant);
    CallHook(hooks.SetModeWorkIDX, w);
    return w->ModeWorkIdx;
}

void DeleteFileConf(Works *w, int bank, int kind) {
    (void)w;
    std::string path;
    if (kind >= 0 && kind <= 2)
        path = BankAtuFile(bank, kind + 1);
    else if (kind == 3)
        path = BankAntennaFile(bank);
    else
        return;
    if (RemountRw() != 0) {
        Trace("can't mount rw /opt/set/ error %d\n", errno);
        return;
    }
    if (RunShell(ResolveCommand("rm") + " -f " + ResolvePath(path)) != 0)
        LogErr("can't delete file bank %d", bank);
    RemountRo();
}
