// helix-explore: runs the sequence explorer (sim/explore.h).
//   helix-explore [--seed S] [--count N] [--events E] [--no-shrink] [--verbose]
//   helix-explore --replay FILE   (the events of a report, one "kind a b" a line)
// N sequences of E events from seed S. Exit 0 when every invariant held;
// 1 with the seed, the shrunk event list and the wire, screen and files at
// the failure otherwise; 2 for a wrong command line.
#include "explore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool Number(const char *text, unsigned long long max, unsigned long long *out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *out = v;
    return true;
}

int Usage() {
    std::fputs(
        "usage: helix-explore [--seed S] [--count N] [--events E] [--no-shrink] [--verbose]\n"
        "       helix-explore --survey ... | --replay FILE\n",
        stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    ExploreOptions opt;
    const char *replay = nullptr;
    for (int i = 1; i < argc; i++) {
        unsigned long long v = 0;
        const char *a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(a, "--seed") == 0 && Number(next, ~0ull, &v)) {
            opt.seed = v;
            i++;
        } else if (std::strcmp(a, "--count") == 0 && Number(next, 10000000, &v) && v > 0) {
            opt.count = static_cast<int>(v);
            i++;
        } else if (std::strcmp(a, "--events") == 0 && Number(next, 100000, &v) && v > 0) {
            opt.events = static_cast<int>(v);
            i++;
        } else if (std::strcmp(a, "--replay") == 0 && next != nullptr) {
            replay = next;
            i++;
        } else if (std::strcmp(a, "--no-shrink") == 0) {
            opt.shrink = false;
        } else if (std::strcmp(a, "--survey") == 0) {
            opt.survey = true;
        } else if (std::strcmp(a, "--verbose") == 0) {
            opt.verbose = true;
        } else {
            return Usage();
        }
    }
    // The unit's development traces would drown the report: they go nowhere.
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) {
        dup2(devnull, 2);
        close(devnull);
    }
    if (replay != nullptr) {
        FILE *f = std::fopen(replay, "r");
        if (f == nullptr) return Usage();
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20))
            text.append(buf, n);
        std::fclose(f);
        std::string detail;
        std::string fail = ExploreReplay(ExploreParse(text), &detail);
        std::printf("%s\n%s", fail.empty() ? "no violation" : fail.c_str(), detail.c_str());
        return fail.empty() ? 0 : 1;
    }
    ExploreReport r = Explore(opt);
    double perMin = r.seconds > 0 ? r.sequences * 60.0 / r.seconds : 0.0;
    std::printf("sequences %d, events %ld, checks %ld, %.1f s, %.0f sequences per minute\n",
                r.sequences, r.events, r.checks, r.seconds, perMin);
    std::printf("events by kind:");
    for (int k = 0; k < 8; k++)
        std::printf(" %s %ld", ExploreKindName(static_cast<ExploreKind>(k)), r.kinds[k]);
    std::printf("\n");
    if (opt.survey) {
        std::printf("%d of %d sequences failed\n", r.surveyFailures, r.sequences);
        return r.surveyFailures == 0 ? 0 : 1;
    }
    if (!r.violated) {
        std::printf("no violation\n");
        return 0;
    }
    std::printf("VIOLATION in sequence %d, seed %llu: %s\n", r.failingSequence,
                static_cast<unsigned long long>(r.failingSeed), r.invariant.c_str());
    std::printf("shrunk to %zu events:\n", r.shrunk.size());
    for (const ExploreEvent &e : r.shrunk)
        std::printf("  %d %d %d   %s\n", static_cast<int>(e.kind), e.a, e.b,
                    ExploreEventText(e).c_str());
    std::printf("%s", r.detail.c_str());
    return 1;
}
