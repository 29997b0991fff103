// The automatic tune against the simulated tuner and antenna: for each load
// and frequency, both searches (the stepped one and the model search, each
// the real link exchange by exchange) side by side, and the best SWR any
// relay setting gives with the same measurement chain. Prints Markdown
// tables, one per run, and a summary of each run.
//
// Options: --target SWR (1.5), --limit IDX (0: 600 samples), --drive W (0.5;
// 5 W forward), --quick (three frequencies), --run nominal|tolerance|noise|all
// (all), --seed N (1: the tolerance and noise runs draw case k from N + k),
// --case LOAD,MHZ (that case alone, with the controller's traces).
#include "amplifier/tune.h"
#include "sim_root.h"
#include "tune_rig.h"
#include "tuner_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    float target = 1.5f, drive = 0.5f;
    int limit = 0;
    bool quick = false;
    std::string run = "all";
    uint64_t seed = 1;
    const char *load = nullptr; // one case only (--case LOAD,MHZ), traced
    double mhz = 0.0;
};

enum class Run { Nominal, Tolerance, Noise };

const char *RunName(Run r) {
    switch (r) {
    case Run::Tolerance:
        return "tolerance: tuner parts drawn within +-5 % (seed + case)";
    case Run::Noise:
        return "noise: 2 counts plus 3 % on the reflected reading (seed + case)";
    case Run::Nominal:
        break;
    }
    return "noise-free: the simulated tuner's own parts";
}

// One search's results over a run.
struct Tally {
    int matchable = 0, within01 = 0, within2x = 0, cases = 0, worse = 0;
    std::vector<int> samples;
    double cpuUs = 0.0, cpuMaxUs = 0.0;
    int cpuSteps = 0;
};

void Configure(TuneRig *rig, const Options &o, const SimLoad &load, double f, Run run,
               uint64_t seed, int search) {
    Works *w = rig->w();
    w->swrTarget = o.target;
    w->swrTimeoutIdx = static_cast<uint8_t>(o.limit);
    w->attenuatorTune = 0;
    w->tsThreshold[0] = 4095;
    w->tsThreshold[1] = 4095;
    w->tsThreshold[2] = 1500;
    w->tsThreshold[3] = 3700;
    w->options.tuneSearch = search;
    w->tuneDebug = o.load != nullptr ? 1 : 0;
    rig->board.load = load;
    rig->board.freq = static_cast<uint32_t>(f);
    rig->board.driveW = o.drive;
    if (run == Run::Tolerance) {
        rig->board.parts = SimTunerPartsDrawn(seed, 5.0);
        rig->board.partsSeed = seed;
    }
    if (run == Run::Noise) {
        rig->board.noiseSeed = rig->board.noiseState = seed;
        rig->board.reflNoiseCounts = 2.0f;
        rig->board.reflNoisePct = 3.0f;
    }
}

double Median(std::vector<int> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void Count(Tally *t, const TuneRunResult &r, float best, float target) {
    t->cases++;
    bool matchable = best < target;
    if (matchable) {
        t->matchable++;
        if (r.finalSwr <= best + 0.1f) t->within01++;
    }
    if (r.finalSwr <= 2.0f * best) t->within2x++;
    t->samples.push_back(r.samples);
    t->cpuUs += r.cpuUsPerStep * r.samples;
    t->cpuSteps += r.samples;
    t->cpuMaxUs = std::max(t->cpuMaxUs, r.cpuUsMax);
}

void RunOne(const Options &o, Run run, const std::vector<const char *> &loads,
            const std::vector<double> &freqs) {
    std::printf("\n### Run: %s\n\n", RunName(run));
    std::printf("| load (ohm) | MHz | best SWR | stepped: final SWR | samples | ended | "
                "model: final SWR | samples | ended |\n");
    std::printf("|---|---:|---:|---:|---:|---|---:|---:|---|\n");
    Tally tally[2];
    int k = 0;
    for (const char *ld : loads) {
        SimLoad load;
        SimLoadParse(ld, &load);
        for (double f : freqs) {
            uint64_t seed = o.seed + static_cast<uint64_t>(k++);
            TuneRunResult res[2];
            for (int search = 0; search < 2; search++) {
                TuneRig rig;
                Configure(&rig, o, load, f, run, seed, search);
                res[search] = TuneRigRun(&rig, search == 1);
            }
            float best = res[1].bestSwr;
            if (o.load != nullptr)
                std::fprintf(stderr, "best word %08X: %s L %d C %d\n", res[1].bestWord,
                             SimTunerAntennaSide(res[1].bestWord) ? "antenna side" : "tx side",
                             SimTunerWordLOf(res[1].bestWord), SimTunerWordCOf(res[1].bestWord));
            for (int s = 0; s < 2; s++)
                Count(&tally[s], res[s], best, o.target);
            if (res[1].finalSwr > res[0].finalSwr + 0.02f) tally[1].worse++;
            auto ended = [](const TuneRunResult &r) {
                return std::string(TuneOutcomeName(r.outcome)) + (r.stored ? ", stored" : "");
            };
            std::printf("| %s | %.2f | %.2f | %.2f | %d | %s | %.2f | %d | %s |\n",
                        SimLoadName(load).c_str(), f / 1e6, static_cast<double>(best),
                        static_cast<double>(res[0].finalSwr), res[0].samples, ended(res[0]).c_str(),
                        static_cast<double>(res[1].finalSwr), res[1].samples,
                        ended(res[1]).c_str());
            std::fflush(stdout);
        }
    }
    std::printf("\n| search | within 0.1 of the best (matchable) | within 2x of the best (all) | "
                "median samples | max samples | CPU per sample, mean / max (us) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    const char *names[2] = {"stepped", "model"};
    for (int s = 0; s < 2; s++) {
        const Tally &t = tally[s];
        int mx = t.samples.empty() ? 0 : *std::max_element(t.samples.begin(), t.samples.end());
        std::printf("| %s | %d of %d (%.1f %%) | %d of %d | %.1f | %d | %.1f / %.0f |\n", names[s],
                    t.within01, t.matchable, t.matchable ? 100.0 * t.within01 / t.matchable : 0.0,
                    t.within2x, t.cases, Median(t.samples), mx,
                    t.cpuSteps ? t.cpuUs / t.cpuSteps : 0.0, t.cpuMaxUs);
    }
    std::printf("\nModel search more than 0.02 above the stepped search: %d of %d.\n",
                tally[1].worse, tally[1].cases);
}

// "1.02 0.87 0.66" from /proc/loadavg, or "?".
std::string LoadAverage() {
    char buf[64] = "";
    FILE *f = std::fopen("/proc/loadavg", "r");
    if (f == nullptr) return "?";
    double a = 0, b = 0, c = 0;
    int n = std::fscanf(f, "%lf %lf %lf", &a, &b, &c);
    std::fclose(f);
    if (n != 3) return "?";
    std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", a, b, c);
    return buf;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--target") {
            o.target = std::strtof(v, nullptr);
            i++;
        } else if (a == "--limit") {
            o.limit = std::atoi(v);
            i++;
        } else if (a == "--drive") {
            o.drive = std::strtof(v, nullptr);
            i++;
        } else if (a == "--run") {
            o.run = v;
            i++;
        } else if (a == "--seed") {
            o.seed = std::strtoull(v, nullptr, 10);
            i++;
        } else if (a == "--case") {
            static std::string text;
            text = v;
            size_t comma = text.rfind(',');
            if (comma == std::string::npos) return 2;
            o.mhz = std::strtod(text.c_str() + comma + 1, nullptr);
            text.resize(comma);
            o.load = text.c_str();
            i++;
        } else if (a == "--quick") {
            o.quick = true;
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--target SWR] [--limit 0-4] [--drive W] [--quick]\n"
                "       [--run nominal|tolerance|noise|all] [--seed N] [--case LOAD,MHZ]\n",
                argv[0]);
            return 2;
        }
    }
    std::string root = MakeTempSimRoot();
    UseSimRoot(root);
    // The controller's traces would bury the tables.
    if (o.load == nullptr && std::freopen("/dev/null", "w", stderr) == nullptr) return 1;

    std::vector<const char *> loads = {"12.5",     "50",       "200",      "800",    "10 60",
                                       "300 -400", "5",        "2000",     "25 50",  "25 -50",
                                       "100 150",  "100 -150", "vertical", "dipole", "dipole-coax",
                                       "endfed",   "nomatch"};
    std::vector<double> freqs = {1.85e6, 3.6e6,  7.1e6,   10.12e6, 14.2e6,
                                 18.1e6, 21.2e6, 24.94e6, 28.5e6,  50.2e6};
    if (o.quick) freqs = {3.6e6, 14.2e6, 50.2e6};
    if (o.load != nullptr) {
        loads = {o.load};
        freqs = {o.mhz * 1e6};
    }

    std::printf("Target SWR %.2f, cycle limit %d samples, %.1f W drive, seed %llu.\n",
                static_cast<double>(o.target), TuneCycleLimit(o.limit),
                static_cast<double>(o.drive), static_cast<unsigned long long>(o.seed));
    std::time_t now = std::time(nullptr);
    char day[32];
    std::strftime(day, sizeof day, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::printf("%s, %ld processors, load average %s (1, 5, 15 min).\n", day,
                sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    auto t0 = std::chrono::steady_clock::now();
    for (Run run : {Run::Nominal, Run::Tolerance, Run::Noise}) {
        const char *key = run == Run::Nominal     ? "nominal"
                          : run == Run::Tolerance ? "tolerance"
                                                  : "noise";
        if (o.run == "all" || o.run == key) RunOne(o, run, loads, freqs);
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("\n%.1f s in all; load average at the end %s.\n", secs, LoadAverage().c_str());
    RemoveSimRoot(root);
    return 0;
}
