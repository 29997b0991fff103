// The crash-state check of the unit's saves (after ALICE, OSDI 2014, and
// CrashMonkey, OSDI 2018). Each save runs in a child process under the
// recorder (libhelix-crashrec.so, LD_PRELOAD), which traces its file-system
// calls. The trace is replayed over a copy of the files as they were, and at
// every point of it (after each call) the states a power cut can leave are
// built: data written but not yet flushed by fsync/fdatasync is lost, kept or
// (a tail written past the flushed length) torn; directory changes not yet
// made durable by a directory fsync are lost or kept, in order. Each state is
// read with the unit's readers and checked: every file is one of the versions
// the save passes through, whole; a save that returned is never undone; no
// record appended to a log is lost, none appears twice.
//
//   helix-crash-states [--full] [--lib PATH] [--verbose]
//
// Prints one line per save and the totals; exit status 1 on a violation.
#include "config/antenna_banks.h"
#include "config/backup.h"
#include "config/network.h"
#include "config/options.h"
#include "config/setup.h"
#include "config/tuner_memory.h"
#include "amplifier/temp_log.h"
#include "model/fault_history.h"
#include "model/works.h"
#include "platform/paths.h"
#include "sim_root.h"
#include "unit_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string ReadAll(const std::string &path, bool *exists = nullptr) {
    std::string s;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (exists != nullptr) *exists = f != nullptr;
    if (f == nullptr) return s;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

void WriteAll(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// ---- the saves ----

// Marks the end of a step in the trace: every save before it has returned.
int gMarkFd = -1;
void Mark() {
    if (gMarkFd >= 0 && write(gMarkFd, "M\n", 2) != 2) std::perror("mark");
}

const char kInterfacesText[] = "auto lo\niface lo inet loopback\n\nauto eth0\n"
                               "iface eth0 inet static\naddress 192.168.1.60\n"
                               "netmask 255.255.255.0\ngateway 192.168.1.1\n";

struct Save {
    const char *name;
    std::vector<std::string> files;                  // checked whole: one of their versions
    const char *log = nullptr;                       // an appended log checked record by record
    const char *logPrev = nullptr;                   // its previous generation
    std::function<void(Works *, int steps)> prepare; // in the checker, untraced
    std::function<void(Works *, int steps)> run;     // traced; Mark() after each step
    std::vector<int> records;                        // records appended by each step
};

void FillFaults(Works *w, const char *path, size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; i++)
        text += FaultHistoryLine(w, 1 + i % 20, kFaultAcked);
    WriteAll(ResolvePath(path), text);
}

std::vector<Save> Saves(int steps) {
    std::vector<Save> v;
    v.push_back({"setup",
                 {"/opt/set/setup.txt"},
                 nullptr,
                 nullptr,
                 [](Works *w, int) { writeSetup(w); },
                 [](Works *w, int n) {
                     for (int k = 0; k < n; k++) {
                         SET_SLOT(w->setup->Pitch, std::to_string(600 + k).c_str());
                         writeSetup(w);
                         Mark();
                     }
                 },
                 {}});
    v.push_back({"options",
                 {"/opt/set/options.txt"},
                 nullptr,
                 nullptr,
                 [](Works *w, int) { WriteOptions(w); },
                 [](Works *w, int n) {
                     for (int k = 0; k < n; k++) {
                         w->options.ampctldPort = 4600 + k;
                         WriteOptions(w);
                         Mark();
                     }
                 },
                 {}});
    v.push_back({"antenna bank",
                 {"/opt/set/antenna_b1.txt"},
                 nullptr,
                 nullptr,
                 [](Works *w, int) { SaveTabConfig(w, 1); },
                 [](Works *w, int n) {
                     for (int k = 0; k < n; k++) {
                         w->antTab[0].pwr = static_cast<float>(10 * (k + 1));
                         SaveTabConfig(w, 1);
                         Mark();
                     }
                 },
                 {}});
    v.push_back({"tuner memory",
                 {"/opt/set/atu_ant1_b1.txt"},
                 nullptr,
                 nullptr,
                 [](Works *w, int) { SaveTabAtu(w, 1, 0); },
                 [](Works *w, int n) {
                     for (int k = 0; k < n; k++) {
                         w->tuneMem[0][100 + k] = TuneEntry{1, 1, static_cast<int16_t>(10 + k), 20};
                         SaveTabAtu(w, 1, 0);
                         Mark();
                     }
                 },
                 {}});
    v.push_back(
        {"network",
         {"/etc/network/interfaces"},
         nullptr,
         nullptr,
         [](Works *, int) { WriteAll(ResolvePath("/etc/network/interfaces"), kInterfacesText); },
         [](Works *, int n) {
             ReadLanParam();
             for (int k = 0; k < n; k++) {
                 IP_v[3] = static_cast<uint8_t>(70 + k);
                 SaveLanParam();
                 Mark();
             }
         },
         {}});
    // The history just under its limit: the first flush moves it aside.
    Save faults{"fault history",
                {},
                kFaultsPath,
                kFaultsPrevPath,
                [](Works *w, int) {
                    FillFaults(w, kFaultsPrevPath, 2000);
                    FillFaults(w, kFaultsPath, kFaultsMaxBytes - 300);
                },
                [](Works *w, int n) {
                    for (int k = 0; k < n; k++) {
                        for (int r = 0; r < 2; r++)
                            FaultHistoryRecord(w, 2 + 2 * k + r, kFaultAdded);
                        FaultHistoryFlush(w);
                        Mark();
                    }
                },
                {}};
    faults.records.assign(static_cast<size_t>(steps), 2);
    v.push_back(faults);
    // Appends, a restart of the log (its rotation), a new log, appends.
    Save temp{"temperature log",
              {},
              kTempLogPath,
              kTempLogPrevPath,
              [](Works *w, int) {
                  WriteAll(ResolvePath(kTempLogPrevPath), ";TX,Temp1,Temp2,FDD,SWR\nold 1\n");
                  WriteAll(ResolvePath(kTempLogPath), ";TX,Temp1,Temp2,FDD,SWR\nold 2\nold 3\n");
                  (void)w;
              },
              [](Works *w, int n) {
                  for (int k = 0; k < n; k++) {
                      w->temp1 = static_cast<float>(30 + k);
                      LogTempFunction(w, 0);
                      Mark();
                      LogTempFunction(w, -1);
                      Mark();
                      w->temp1 = static_cast<float>(60 + k);
                      LogTempFunction(w, 0);
                      Mark();
                  }
              },
              {}};
    for (int k = 0; k < steps; k++)
        temp.records.insert(temp.records.end(), {1, 0, 1});
    v.push_back(temp);
    v.push_back({"restore",
                 {"/opt/set/setup.txt", "/opt/set/antenna_b1.txt", "/opt/set/options.txt",
                  "/etc/network/interfaces"},
                 nullptr,
                 nullptr,
                 [](Works *w, int) {
                     // The archive holds the new set; the old one is in place.
                     SET_SLOT(w->setup->Pitch, std::to_string(900).c_str());
                     writeSetup(w);
                     w->antTab[0].pwr = 77.0f;
                     SaveTabConfig(w, 1);
                     w->options.ampctldPort = 4999;
                     WriteOptions(w);
                     WriteAll(ResolvePath("/etc/network/interfaces"), kInterfacesText);
                     std::string out, err;
                     BackupSettings(ResolvePath("/backup.tar"), &out, &err);
                     SET_SLOT(w->setup->Pitch, std::to_string(500).c_str());
                     writeSetup(w);
                     w->antTab[0].pwr = 5.0f;
                     SaveTabConfig(w, 1);
                     w->options.ampctldPort = 4531;
                     WriteOptions(w);
                     std::string net = kInterfacesText;
                     net.replace(net.find("192.168.1.60"), 12, "192.168.1.99");
                     WriteAll(ResolvePath("/etc/network/interfaces"), net);
                 },
                 [](Works *, int) {
                     std::string out, err;
                     if (RestoreSettings(ResolvePath("/backup.tar"), &out, &err) != kBackupDone)
                         std::fprintf(stderr, "restore: %s", err.c_str());
                     Mark();
                 },
                 {}});
    return v;
}

// ---- the trace and its replay ----

struct Op {
    char kind; // C T W S D R U, M (end of a step)
    std::string a, b;
    long long off = 0;
    std::string data;
};

bool ParseTrace(const std::string &t, std::vector<Op> *ops) {
    size_t at = 0;
    while (at < t.size()) {
        size_t nl = t.find('\n', at);
        if (nl == std::string::npos) return false;
        std::string line = t.substr(at, nl - at);
        at = nl + 1;
        Op op;
        op.kind = line[0];
        std::string rest = line.size() > 2 ? line.substr(2) : "";
        if (op.kind == 'W') {
            size_t s2 = rest.rfind(' '), s1 = rest.rfind(' ', s2 - 1);
            op.a = rest.substr(0, s1);
            op.off = std::atoll(rest.c_str() + s1 + 1);
            size_t n = std::strtoull(rest.c_str() + s2 + 1, nullptr, 10);
            if (at + n + 1 > t.size()) return false;
            op.data = t.substr(at, n);
            at += n + 1;
        } else if (op.kind == 'T') {
            size_t s = rest.rfind(' ');
            op.a = rest.substr(0, s);
            op.off = std::atoll(rest.c_str() + s + 1);
        } else if (op.kind == 'R') {
            size_t s = rest.find(' ');
            op.a = rest.substr(0, s);
            op.b = rest.substr(s + 1);
        } else {
            op.a = rest;
        }
        ops->push_back(op);
    }
    return true;
}

struct Inode {
    std::string cur, dur; // the content now and the content a power cut keeps for sure
};
struct DirOp {
    char kind; // C create, R rename, U unlink
    std::string a, b;
    int ino = -1;
};
using Names = std::map<std::string, int>;

struct Fs {
    std::vector<Inode> ino;
    Names cur, dur;
    std::vector<DirOp> pending; // directory changes not yet durable, in order

    static void Apply(Names *n, const DirOp &d) {
        if (d.kind == 'C') (*n)[d.a] = d.ino;
        if (d.kind == 'U') n->erase(d.a);
        if (d.kind == 'R') {
            auto it = n->find(d.a);
            if (it == n->end()) return;
            int i = it->second;
            n->erase(it);
            (*n)[d.b] = i;
        }
    }
    int At(const std::string &p) {
        auto it = cur.find(p);
        return it == cur.end() ? -1 : it->second;
    }
    void Do(const Op &op) {
        int i = At(op.a);
        switch (op.kind) {
        case 'C':
            if (i < 0) {
                ino.push_back({});
                DirOp d{'C', op.a, "", static_cast<int>(ino.size()) - 1};
                Apply(&cur, d);
                pending.push_back(d);
            }
            break;
        case 'T':
            if (i >= 0) ino[static_cast<size_t>(i)].cur.resize(static_cast<size_t>(op.off));
            break;
        case 'W':
            if (i >= 0) {
                std::string &c = ino[static_cast<size_t>(i)].cur;
                size_t end = static_cast<size_t>(op.off) + op.data.size();
                if (c.size() < end) c.resize(end);
                c.replace(static_cast<size_t>(op.off), op.data.size(), op.data);
            }
            break;
        case 'S':
            if (i >= 0) ino[static_cast<size_t>(i)].dur = ino[static_cast<size_t>(i)].cur;
            break;
        case 'D':
            // A directory fsync commits the file system's journal: every
            // directory change before it is durable.
            for (const DirOp &d : pending)
                Apply(&dur, d);
            pending.clear();
            break;
        case 'R':
        case 'U': {
            DirOp d{op.kind, op.a, op.b, -1};
            Apply(&cur, d);
            pending.push_back(d);
            break;
        }
        default:
            break;
        }
    }
};

// The whole lines of a log text, its header lines (';') left out; a torn
// last line is not read, as the unit's appends cut it.
std::vector<std::string> LogLines(const std::string &t) {
    std::vector<std::string> v;
    size_t at = 0;
    for (size_t nl; (nl = t.find('\n', at)) != std::string::npos; at = nl + 1)
        if (t[at] != ';') v.push_back(t.substr(at, nl - at));
    return v;
}

struct Counts {
    long points = 0, states = 0, violations = 0;
};

struct Checker {
    const Save &save;
    std::string root;
    std::map<std::string, std::vector<std::string>> versions; // per file, per step
    std::map<std::string, std::vector<bool>> present;
    std::vector<std::string> prevLog, curLog, newRecords;
    std::vector<size_t> doneAfter; // records complete after each step
    bool verbose;
    Counts n;

    bool Fail(int point, const std::string &what) {
        n.violations++;
        if (verbose || n.violations <= 5)
            std::printf("  violation (%s, after call %d): %s\n", save.name, point, what.c_str());
        return false;
    }

    // One crash state: `content` of each file of interest (absent: no entry).
    bool Check(int point, int steps,
               const std::map<std::string, std::pair<bool, std::string>> &st) {
        bool ok = true;
        int last = static_cast<int>(versions.begin() == versions.end()
                                        ? doneAfter.size() - 1
                                        : versions.begin()->second.size() - 1);
        for (const std::string &f : save.files) {
            const auto &s = st.at(f);
            const auto &ver = versions[f];
            const auto &pres = present[f];
            auto is = [&](int k) {
                return k <= last && pres[static_cast<size_t>(k)] == s.first &&
                       (!s.first || ver[static_cast<size_t>(k)] == s.second);
            };
            bool older = false;
            for (int k = 0; k < steps; k++)
                older |= is(k);
            if (!is(steps) && !(steps < last && is(steps + 1)))
                ok = Fail(point, f +
                                     (older     ? " is back to an older version"
                                      : s.first ? " holds " + std::to_string(s.second.size()) +
                                                      " bytes that are no version of it"
                                                : " is missing") +
                                     (steps > 0 ? " after a save returned" : ""));
            std::string why;
            if (s.first && CheckSettingsFile(f.substr(1), s.second, &why) != 0)
                ok = Fail(point, f + " refused by its reader: " + why);
        }
        if (save.log != nullptr) {
            std::vector<std::string> seen;
            if (std::string(save.log) == kFaultsPath) {
                // The unit's own reader of the history, on the state.
                const auto &c = st.at(kFaultsPath), &p = st.at(kFaultsPrevPath);
                WriteAll(ResolvePath(kFaultsPath), c.second);
                WriteAll(ResolvePath(kFaultsPrevPath), p.second);
                if (!c.first) unlink(ResolvePath(kFaultsPath).c_str());
                if (!p.first) unlink(ResolvePath(kFaultsPrevPath).c_str());
                seen = FaultHistoryRead(100000);
                std::vector<std::string> oldest(seen.rbegin(), seen.rend());
                seen = oldest;
                for (std::string &l : seen)
                    if (!l.empty() && l.back() == '\n') l.pop_back();
            } else {
                seen = LogLines(st.at(save.logPrev).second);
                auto c = LogLines(st.at(save.log).second);
                seen.insert(seen.end(), c.begin(), c.end());
            }
            // The lines read are one stretch of everything the log held
            // (older generations may have been dropped by a rotation) that
            // reaches at least the last record of the appends that returned.
            std::vector<std::string> all = prevLog;
            all.insert(all.end(), curLog.begin(), curLog.end());
            all.insert(all.end(), newRecords.begin(), newRecords.end());
            size_t base = prevLog.size() + curLog.size();
            size_t need = base + (steps == 0 ? 0 : doneAfter[static_cast<size_t>(steps - 1)]);
            size_t end = 0;
            bool found = false;
            for (size_t j = seen.size(); j <= all.size(); j++)
                if (std::equal(seen.begin(), seen.end(),
                               all.begin() + static_cast<long>(j - seen.size()))) {
                    end = j;
                    found = true;
                }
            if (verbose)
                std::printf("  log state: %zu lines read, end %zu, at least %zu of %zu\n",
                            seen.size(), end, need, all.size());
            if (!found)
                ok = Fail(point, std::string(save.log) + ": records out of order, torn or doubled");
            else if (end < need)
                ok = Fail(point, std::string(save.log) + ": " + std::to_string(need - end) +
                                     " record(s) lost");
        }
        return ok;
    }
};

// Runs one save under the recorder; fills the checker. False when it could not run.
bool RunSave(const Save &s, int steps, const std::string &lib, const std::string &self,
             bool verbose, Counts *total) {
    std::string root = MakeTempSimRoot();
    UseSimRoot(root);
    {
        UnitRecord u;
        s.prepare(u.w(), steps);
    }
    // Every file under the root as it is before the save.
    std::map<std::string, std::string> before;
    std::function<void(const std::string &)> walk = [&](const std::string &dir) {
        DIR *d = opendir(dir.c_str());
        if (d == nullptr) return;
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name, p = dir + "/" + name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            if (lstat(p.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) walk(p);
            if (S_ISREG(st.st_mode) && st.st_size < (1 << 20)) before[p] = ReadAll(p);
        }
        closedir(d);
    };
    walk(root);

    std::string trace = root + ".trace";
    unlink(trace.c_str());
    pid_t pid = fork();
    if (pid == 0) {
        setenv("CRASHREC_LOG", trace.c_str(), 1);
        setenv("CRASHREC_ROOT", root.c_str(), 1);
        setenv("LD_PRELOAD", lib.c_str(), 1);
        // Under AddressSanitizer the recorder is loaded before its runtime.
        const char *asan = std::getenv("ASAN_OPTIONS");
        std::string opts = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", opts.c_str(), 1);
        execl(self.c_str(), self.c_str(), "--do", s.name, root.c_str(),
              std::to_string(steps).c_str(), trace.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::vector<Op> ops;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !ParseTrace(ReadAll(trace), &ops)) {
        std::printf("%s: the save did not run under the recorder (status %d)\n", s.name, status);
        return false;
    }

    if (verbose)
        for (const Op &op : ops)
            std::printf("  %c %s %s %lld %zu\n", op.kind, op.a.c_str(), op.b.c_str(), op.off,
                        op.data.size());
    Fs start;
    for (const auto &[p, c] : before) {
        start.ino.push_back({c, c});
        start.cur[p] = start.dur[p] = static_cast<int>(start.ino.size()) - 1;
    }
    Fs fs = start;
    Checker ck{s, root, {}, {}, {}, {}, {}, {}, verbose, {}};
    std::vector<std::string> files = s.files;
    if (s.log != nullptr) files = {s.log, s.logPrev};
    auto full = [&](const std::string &f) { return root + f; };
    auto snapshot = [&]() {
        for (const std::string &f : s.files) {
            int i = fs.At(full(f));
            ck.versions[f].push_back(i < 0 ? "" : fs.ino[static_cast<size_t>(i)].cur);
            ck.present[f].push_back(i >= 0);
        }
    };
    // The version of each file at the start and after each step.
    snapshot();
    for (const Op &op : ops) {
        fs.Do(op);
        if (op.kind == 'M') snapshot();
    }
    fs = start;
    if (s.log != nullptr) {
        ck.prevLog = LogLines(before[full(s.logPrev)]);
        ck.curLog = LogLines(before[full(s.log)]);
        // The new records, in the order the save wrote them (to the log or
        // to the temporary file of a new log).
        for (const Op &op : ops)
            if (op.kind == 'W' && (op.a == full(s.log) || op.a == full(s.log) + ".tmp")) {
                auto l = LogLines(op.data);
                ck.newRecords.insert(ck.newRecords.end(), l.begin(), l.end());
            }
        size_t sum = 0;
        for (int r : s.records)
            ck.doneAfter.push_back(sum += static_cast<size_t>(r));
    }
    // The checker's reader works in a scratch root of its own.
    std::string scratch = MakeTempSimRoot();
    UseSimRoot(scratch);
    int step = 0;
    for (size_t k = 0; k <= ops.size(); k++) {
        if (k > 0) {
            const Op &op = ops[k - 1];
            // After a step's end the same state is checked again: the save
            // has returned, so it must not be undone.
            if (op.kind == 'M')
                step++;
            else
                fs.Do(op);
        }
        ck.n.points++;
        // Every prefix of the pending directory changes, every choice of
        // lost, kept or torn data for each file of interest.
        for (size_t keep = 0; keep <= fs.pending.size(); keep++) {
            Names ns = fs.dur;
            for (size_t d = 0; d < keep; d++)
                Fs::Apply(&ns, fs.pending[d]);
            std::vector<std::pair<std::string, std::vector<std::string>>> choice;
            for (const std::string &f : files) {
                auto it = ns.find(full(f));
                std::vector<std::string> c;
                if (it != ns.end()) {
                    const Inode &in = fs.ino[static_cast<size_t>(it->second)];
                    c.push_back(in.dur);
                    if (in.cur != in.dur) c.push_back(in.cur);
                    if (in.cur.size() > in.dur.size() + 1 &&
                        in.cur.compare(0, in.dur.size(), in.dur) == 0)
                        c.push_back(
                            in.cur.substr(0, in.dur.size() + (in.cur.size() - in.dur.size()) / 2));
                }
                choice.push_back({f, c});
            }
            std::vector<size_t> pick(choice.size(), 0);
            for (;;) {
                std::map<std::string, std::pair<bool, std::string>> st;
                for (size_t i = 0; i < choice.size(); i++)
                    st[choice[i].first] = choice[i].second.empty()
                                              ? std::make_pair(false, std::string())
                                              : std::make_pair(true, choice[i].second[pick[i]]);
                ck.n.states++;
                ck.Check(static_cast<int>(k), step, st);
                size_t i = 0;
                while (i < pick.size() &&
                       (choice[i].second.empty() || ++pick[i] == choice[i].second.size())) {
                    pick[i] = 0;
                    i++;
                }
                if (i == pick.size()) break;
            }
        }
    }
    std::printf("%-16s %3d saves %5ld crash points %7ld states %3ld violations\n", s.name, step,
                ck.n.points, ck.n.states, ck.n.violations);
    total->points += ck.n.points;
    total->states += ck.n.states;
    total->violations += ck.n.violations;
    RemoveSimRoot(scratch);
    RemoveSimRoot(root);
    unlink(trace.c_str());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 6 && std::strcmp(argv[1], "--do") == 0) {
        // The child: one save, traced.
        UseSimRoot(argv[3]);
        int steps = std::atoi(argv[4]);
        gMarkFd = open(argv[5], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        for (const Save &s : Saves(steps))
            if (s.name == std::string(argv[2])) {
                UnitRecord u;
                s.run(u.w(), steps);
                return 0;
            }
        return 2;
    }
    int steps = 1;
    bool verbose = false;
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 2;
    self[len] = 0;
    std::string lib =
        std::string(self).substr(0, std::string(self).rfind('/')) + "/libhelix-crashrec.so";
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--full") == 0)
            steps = 3;
        else if (std::strcmp(argv[i], "--verbose") == 0)
            verbose = true;
        else if (std::strcmp(argv[i], "--lib") == 0 && i + 1 < argc)
            lib = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--full] [--lib PATH] [--verbose]\n", argv[0]);
            return 2;
        }
    }
    if (access(lib.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "no recorder at %s\n", lib.c_str());
        return 2;
    }
    Counts total;
    int saves = 0;
    for (const Save &s : Saves(steps)) {
        if (!RunSave(s, steps, lib, self, verbose, &total)) return 1;
        saves++;
    }
    std::printf(
        "total: %d kinds of save, %ld crash points, %ld crash states checked, %ld violations\n",
        saves, total.points, total.states, total.violations);
    return total.violations == 0 ? 0 : 1;
}
