#include "config/tuner_memory.h"

#include "model/tuner_word.h"
#include "config/antenna_banks.h"
#include "model/works.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct AtuStep {
    int32_t freq; // the segment starts here
    int32_t step; // grid step of the segment; -1 ends the one before
};

// The grid: finer steps on the low bands. Each pair opens a segment that ends
// at the next pair's frequency.
constexpr AtuStep tabAtuStep[23] = {
    {0, 2000},         {1800000, 2000},   {2000000, 4000},   {3500000, 4000},   {4000000, 5000},
    {5330000, 5000},   {5400000, 5000},   {7000000, 5000},   {7300000, 5000},   {10100000, 10000},
    {10150000, 10000}, {14000000, 10000}, {14350000, 10000}, {18000000, 10000}, {18170000, 10000},
    {21000000, 20000}, {21500000, 25000}, {24850000, 25000}, {25000000, 25000}, {28000000, 25000},
    {29700000, 50000}, {50000000, 50000}, {54000000, -1},
};
constexpr int kSegments = 22;

int SegPoints(int s) {
    return (tabAtuStep[s + 1].freq - tabAtuStep[s].freq) / tabAtuStep[s].step;
}

bool AntOk(int ant) {
    return ant >= 0 && ant < kTuneMemAnts;
}

// works.tuneMemLock guards the RAM tables and their files together: a file
// is always written from a table as it was under the same hold, and a bank
// change cannot slip between storing an entry and saving its file.

int ReadAtuFile(int bank, int ant, TuneEntry *tab);
int WriteAtuFile(int bank, int ant, const TuneEntry *tab);

// At most this many bad lines of one file are logged one by one.
constexpr int kBadLinesLogged = 10;

bool ParseLong(const char *&p, long *v) {
    char *end = nullptr;
    errno = 0;
    long x = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE) return false;
    p = end;
    *v = x;
    return true;
}

bool OnlyBlanks(const char *p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return *p == '\0';
}

// Reads the fields after the index: frequency (ignored), valid, mode, L, C.
bool ParseEntry(const char *p, TuneEntry *e) {
    long freq, valid, mode, l, c;
    if (!ParseLong(p, &freq) || !ParseLong(p, &valid) || !ParseLong(p, &mode) ||
        !ParseLong(p, &l) || !ParseLong(p, &c) || !OnlyBlanks(p))
        return false;
    if (valid < 0 || valid > 255 || mode < 0 || mode > 3 || l < 0 || l > 511 || c < 0 || c > 511)
        return false;
    e->valid = static_cast<uint8_t>(valid);
    e->mode = static_cast<uint8_t>(mode);
    e->L = static_cast<int16_t>(l);
    e->C = static_cast<int16_t>(c);
    return true;
}

} // namespace

int AtuIdxSearch(int32_t freq, int32_t *segFrom, int32_t *segTo, int *firstIdx, int *endIdx) {
    if (freq < 0) {
        *segFrom = *segTo = 0;
        *firstIdx = *endIdx = 0;
        return -1;
    }
    int first = 0;
    int s = 0;
    while (!(tabAtuStep[s].freq <= freq && freq < tabAtuStep[s + 1].freq) && s + 1 < kSegments) {
        first += SegPoints(s);
        s++;
    }
    int32_t from = tabAtuStep[s].freq;
    int32_t to = tabAtuStep[s + 1].freq;
    int32_t step = tabAtuStep[s].step;
    *segFrom = from;
    *segTo = to;
    *firstIdx = first;
    *endIdx = first + SegPoints(s);
    // Nearest grid point, halves rounded up; past the top one more.
    int64_t idx = first + (static_cast<int64_t>(freq) - from + step / 2) / step;
    if (freq > to) idx++;
    return static_cast<int>(idx);
}

int AtuFreqfromIdx(int idx) {
    if (idx < 0) return 0;
    int first = 0;
    for (int s = 0; s < kSegments; s++) {
        int end = first + SegPoints(s);
        if (idx <= end) return tabAtuStep[s].freq + (idx - first) * tabAtuStep[s].step;
        first = end;
    }
    // Past the last grid point: the indices above the top follow the last
    // step from the top, as AtuIdxSearch counts them.
    int64_t f = tabAtuStep[kSegments].freq +
                static_cast<int64_t>(idx - first - 1) * tabAtuStep[kSegments - 1].step;
    return f > INT32_MAX ? INT32_MAX : static_cast<int>(f);
}

void SaveTuneValsuTabRam(TuneEntry entry, int idx, int ant, Works *w) {
    if (idx < 0 || idx >= kTuneMemEntries || !AntOk(ant)) return;
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    w->tuneMem[ant][idx] = entry;
}

void LoadTuneValFromTabRam(TuneEntry *entry, int idx, int ant, Works *w) {
    *entry = TuneEntry{};
    if (idx < 0 || idx >= kTuneMemEntries || !AntOk(ant)) return;
    {
        std::lock_guard<std::mutex> lock(w->tuneMemLock);
        *entry = w->tuneMem[ant][idx];
    }
    if (entry->mode == 3) entry->mode = 1;
}

int SearchBestTune(Works *w, int idx, int firstIdx, int endIdx, int ant) {
    if (!AntOk(ant)) return -1;
    // A candidate must be nearer than the segment is wide.
    long bestDist = static_cast<long>(endIdx) - firstIdx;
    int lo = firstIdx < 0 ? 0 : firstIdx;
    int hi = endIdx > kTuneMemEntries ? kTuneMemEntries : endIdx;
    int best = -1;
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    for (int j = lo; j < hi; j++) {
        if (w->tuneMem[ant][j].valid == 0) continue;
        long d = std::labs(static_cast<long>(j) - idx);
        if (d < bestDist) {
            best = j;
            bestDist = d;
        }
    }
    return best;
}

int EsisteTuneValInTabRam(Works *w, int idx, int firstIdx, int endIdx, int ant) {
    TuneEntry e;
    LoadTuneValFromTabRam(&e, idx, ant, w);
    if (e.valid != 0) return 0;
    return SearchBestTune(w, idx, firstIdx, endIdx, ant) >= 0 ? 0 : 1;
}

int LoadTuneFromMEM(Works *w, int ant) {
    int32_t freq = w->freq.load();
    int32_t segFrom, segTo;
    int first, end;
    int idx = AtuIdxSearch(freq, &segFrom, &segTo, &first, &end);
    TuneEntry e;
    LoadTuneValFromTabRam(&e, idx, ant, w);
    if (e.valid == 0) {
        idx = SearchBestTune(w, idx, first, end, ant);
        if (idx >= 0) LoadTuneValFromTabRam(&e, idx, ant, w);
    }
    uint32_t word = w->tunerWord.load();
    int c = DecodeCapacitaFromTuneval(word);
    int l = DecodeInduttanzaFromTuneval(word);
    int mode = DecodeModoFromTuneval(word);
    w->tuneC = c;
    w->tuneL = l;
    w->tuneMode = mode;
    if (e.valid == 0) return -1;
    if (e.C == c && e.L == l && e.mode == mode) return idx;
    SetC(w, e.C);
    SetI(w, e.L);
    SetMode(w, e.mode);
    ReadTnePar(w);
    Trace(">>>>>>>>>>>>>>> MEMTUNE: load a Tune for %ld idx:%d -> C %d I %d!!\n",
          static_cast<long>(freq), idx, w->tuneC.load(), w->tuneL.load());
    return idx;
}

void InsertTuneToMem(Works *w, int bank, int ant) {
    InsertTuneToMemAt(w, bank, ant, w->freq.load());
}

void InsertTuneToMemAt(Works *w, int bank, int ant, int32_t freq) {
    int32_t segFrom, segTo;
    int first, end;
    int idx = AtuIdxSearch(freq, &segFrom, &segTo, &first, &end);
    Trace("--------------> Save Tune To File idx %ld (idx:%d)\n", static_cast<long>(freq), idx);
    uint32_t word = w->tunerWord.load();
    int c = DecodeCapacitaFromTuneval(word);
    int l = DecodeInduttanzaFromTuneval(word);
    int mode = DecodeModoFromTuneval(word);
    Trace("-------------- Save TuneVal C:%i, L:%i, M:%c\n", c, l, '0' + mode);
    TuneEntry e{};
    e.valid = 1;
    e.mode = static_cast<uint8_t>(mode);
    e.L = static_cast<int16_t>(l);
    e.C = static_cast<int16_t>(c);
    Trace("SaveTabAtu Bank%i , antenna %i\n", bank, ant);
    if (!AntOk(ant)) {
        LogErr("InsertTuneToMem: antenna %d outside the tables", ant);
        return;
    }
    bool inGrid = idx >= 0 && idx < kTuneMemEntries; // outside: the file is still rewritten
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    int ramBank =
        w->tuneMemBank[ant] != kTuneMemBankUnknown ? w->tuneMemBank[ant] : w->numBanco.load();
    if (ramBank == bank) {
        if (inGrid) w->tuneMem[ant][idx] = e;
        WriteAtuFile(bank, ant, w->tuneMem[ant]);
        return;
    }
    // Another bank (the store-tune key's choice): its file through a scratch
    // table; the RAM tables keep the current bank.
    std::unique_ptr<TuneEntry[]> tab(new TuneEntry[kTuneMemEntries]());
    ReadAtuFile(bank, ant, tab.get());
    if (inGrid) tab[idx] = e;
    WriteAtuFile(bank, ant, tab.get());
}

namespace {

// Reads the text of a tuner-memory file into `tab`: the number of entry lines
// loaded. Lines it skips are logged under `name` when `log` is set, counted
// in *bad and the first of them described in *why (each when given).
int ParseAtuText(const std::string &text, const char *name, TuneEntry *tab, bool log, int *badOut,
                 std::string *why) {
    int loaded = 0;
    int lineNo = 0;
    int bad = 0;
    auto skip = [&](const char *what) {
        if (++bad == 1 && why != nullptr) *why = "line " + std::to_string(lineNo) + ": " + what;
        if (log && bad <= kBadLinesLogged) LogErr("%s line %d: %s, skipped", name, lineNo, what);
    };
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        lineNo++;
        // (Read in pieces of 511 characters: a longer line is not an entry.)
        if (line.size() >= 511) {
            skip("line too long");
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line[0] == ';' || OnlyBlanks(line.c_str())) continue;
        if (loaded >= kTuneMemEntries) {
            if (log)
                LogErr("%s: more entries than the table holds; the rest is skipped", name);
            else
                skip("more entries than the table holds");
            break;
        }
        const char *p = line.c_str();
        long idx;
        if (!ParseLong(p, &idx)) {
            skip("not an entry");
            continue;
        }
        if (idx < 0 || idx >= kTuneMemEntries) {
            if (log) {
                Trace("LoadTabAtu Errore idx\n");
                std::fputs("LoadTabAtu Errore idx", stdout);
                std::fflush(stdout);
            }
            skip("index outside the table");
            continue;
        }
        TuneEntry e{};
        if (!ParseEntry(p, &e)) {
            skip("not an entry");
            continue;
        }
        tab[idx] = e;
        loaded++;
    }
    if (log && bad > kBadLinesLogged) LogErr("%s: %d bad lines skipped in all", name, bad);
    if (badOut != nullptr) *badOut = bad;
    return loaded;
}

// Reads the file of (`bank`, `ant`) into `tab` (cleared first): the number
// of entry lines loaded, 0 for a missing file.
int ReadAtuFile(int bank, int ant, TuneEntry *tab) {
    std::memset(static_cast<void *>(tab), 0, sizeof(TuneEntry) * kTuneMemEntries);
    std::string unitPath = BankAtuFile(bank, ant + 1);
    std::string text;
    if (!ReadFileText(unitPath.c_str(), &text)) return 0;
    return ParseAtuText(text, unitPath.c_str(), tab, true, nullptr, nullptr);
}

// Writes `tab` to the file of (`bank`, `ant`) in its write window; 0 or -1.
// The comment lines of the file as it is (its header), kept at the top when
// it is written again; a file without any gets the standard header.
std::string AtuHeader(const std::string &path) {
    std::string old, header;
    if (ReadFileText(path.c_str(), &old)) {
        for (size_t at = 0; at < old.size();) {
            size_t nl = old.find('\n', at);
            size_t end = nl == std::string::npos ? old.size() : nl;
            size_t len = end - at;
            if (len > 0 && old[end - 1] == '\r') len--;
            if (old[at] == ';') header += old.substr(at, len) + "\n";
            at = end + 1;
        }
    }
    return header.empty() ? std::string("; index frequency valid mode L C\n") : header;
}

int WriteAtuFile(int bank, int ant, const TuneEntry *tab) {
    std::string text = AtuHeader(BankAtuFile(bank, ant + 1));
    char line[96];
    for (int i = 0; i < kTuneMemEntries; i++) {
        const TuneEntry &e = tab[i];
        if (e.valid == 0) continue;
        std::snprintf(line, sizeof line, "%i %ld %i %i %i %i\n", i,
                      static_cast<long>(AtuFreqfromIdx(i)), e.valid, e.mode, e.L, e.C);
        text += line;
    }
    if (RemountRw() != 0) {
        Trace("can't mount rw /opt/set/ error %d\n", errno);
        return -1;
    }
    int r = WriteFileSafe(BankAtuFile(bank, ant + 1).c_str(), text, false);
    RemountRo();
    return r;
}

} // namespace

int CheckAtuText(const std::string &text, std::string *why) {
    std::unique_ptr<TuneEntry[]> tab(new TuneEntry[kTuneMemEntries]());
    int bad = 0;
    ParseAtuText(text, "", tab.get(), false, &bad, why);
    return bad == 0 ? 0 : -1;
}

int LoadTabAtu(Works *w, int bank, int ant) {
    if (!AntOk(ant)) {
        LogErr("LoadTabAtu: antenna %d outside the tables", ant);
        return -1;
    }
    std::unique_ptr<TuneEntry[]> tab(new TuneEntry[kTuneMemEntries]());
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    int loaded = ReadAtuFile(bank, ant, tab.get());
    std::memcpy(static_cast<void *>(w->tuneMem[ant]), tab.get(), sizeof w->tuneMem[ant]);
    w->tuneMemBank[ant] = bank;
    return loaded;
}

int SaveTabAtu(Works *w, int bank, int ant) {
    Trace("SaveTabAtu Bank%i , antenna %i\n", bank, ant);
    if (!AntOk(ant)) {
        LogErr("SaveTabAtu: antenna %d outside the tables", ant);
        return -1;
    }
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    return WriteAtuFile(bank, ant, w->tuneMem[ant]);
}

int CopyTabAtu(Works *w, int from, int to, int ant) {
    if (!AntOk(ant)) return -1;
    std::unique_ptr<TuneEntry[]> tab(new TuneEntry[kTuneMemEntries]());
    // Under the tables' lock: a store into `to` cannot slip between the read
    // and the write.
    std::lock_guard<std::mutex> lock(w->tuneMemLock);
    ReadAtuFile(from, ant, tab.get());
    return WriteAtuFile(to, ant, tab.get());
}
