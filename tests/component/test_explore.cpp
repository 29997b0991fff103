// The sequence explorer (sim/explore.h): its fixed seeds keep every
// invariant, and the sequences it shrank for the faults it found stay mended.
// Events are written one a line as "kind a b" (kind: 0 key, 1 qsy, 2 drive,
// 3 load, 4 board, 5 remote, 6 option, 7 wait).
#include "amplifier/tune.h"
#include "explore.h"
#include "model/errors.h"
#include "tune_rig.h"

#include <gtest/gtest.h>

namespace {

void ExpectHolds(const char *events) {
    std::string detail;
    EXPECT_EQ(ExploreReplay(ExploreParse(events), &detail), "") << events << detail;
}

} // namespace

TEST(Explorer, FixedSeedsKeepEveryInvariant) {
    ExploreOptions opt;
    opt.seed = 1;
    opt.count = 200;
    opt.events = 100;
    ExploreReport r = Explore(opt);
    std::string events;
    for (const ExploreEvent &e : r.shrunk)
        events += ExploreEventText(e) + "\n";
    EXPECT_FALSE(r.violated) << "seed " << r.failingSeed << ": " << r.invariant << "\n"
                             << events << r.detail;
    EXPECT_EQ(r.sequences, 200);
}

// The ANT key brings the new antenna's stored tune along.
TEST(ExplorerFaults, AntennaKeyLoadsThatAntennasTune) {
    ExpectHolds("0 3 0\n0 3 0\n");
}

// Faults 2 and 3: a generic-mode band change during a tune ends it; MANUAL
// during a tune ends the tune first, and no TAV tune starts under it.
TEST(ExplorerFaults, TuneFollowsTheBandAndLeavesTheOperatorsHands) {
    ExpectHolds("0 4 0\n5 0 3\n0 4 0\n1 21219000 0\n");
    ExpectHolds("0 4 0\n0 4 0\n0 6 0\n");
    ExpectHolds("0 1 0\n0 4 1\n0 6 0\n4 0 3\n6 1 1\n2 3 0\n6 1 0\n5 0 3\n");
}

// Fault 4: the pads a protection holds in (a tune out of cycles, an
// over-temperature) are what the screen says; one time-out, one error.
TEST(ExplorerFaults, ProtectionPadsAreOnTheScreen) {
    ExpectHolds("6 2 4\n0 4 0\n0 4 0\n7 10 0\n");
    ExpectHolds("4 2 4\n7 1 0\n");
    TuneRig rig; // no drive: the tune waits for a carrier until its cycles run out
    rig.w()->swrTimeoutIdx = 4;
    TuneRunResult r = TuneRigRun(&rig, false);
    EXPECT_EQ(r.outcome, TuneOutcome::TimeOut);
    EXPECT_FALSE(ExistError(rig.w(), kErrTuneMaxSwr));
}

// Fault 7: a stored tune keeps the file's header line.
TEST(ExplorerFaults, StoringKeepsTheHeader) {
    ExpectHolds("0 4 0\n2 4 0\n0 4 1\n0 2 0\n5 3 2\n");
}
