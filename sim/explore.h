// The sequence explorer: a whole unit in this process (the board link, the
// supervisor and the key dispatcher, stepped with a clock of its own against
// the simulated board's protocol), driven by seeded random events, with the
// invariants the unit must keep after each of them checked once it settles.
// A failing sequence is shrunk to a shorter one that still fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What an event does; the fields a and b are its arguments.
enum class ExploreKind : uint8_t {
    Key,    // a: key 1..6, b: 1 long press
    Qsy,    // a: the radio's new frequency (Hz)
    Drive,  // a: drive power in tenths of a watt (0: off)
    Load,   // a: index of the load the tuner works into
    Board,  // a: board event (ExploreBoardEvent)
    Remote, // a: 0 bank step from a peer, 1 stand-by, 2 operate, 3 a peer's key b
    Option, // a: 0 model search on/off, 1 automatic tune on/off, 2 tune time-out index b
    Wait,   // a: seconds without events
};

enum ExploreBoardEvent {
    kBoardTripOn = 0, // protection bits raised (a trip that stays)
    kBoardTripOff,    // the cause gone
    kBoardHot,        // over-temperature
    kBoardCool,       // temperature back to normal
    kBoardSilent,     // the board stops answering for a few frames
    kBoardMicroReset, // the board's micro resets
    kBoardEvents
};

struct ExploreEvent {
    ExploreKind kind;
    int32_t a = 0;
    int32_t b = 0;
};

struct ExploreOptions {
    uint64_t seed = 1;
    int count = 100;  // sequences
    int events = 100; // events per sequence
    bool shrink = true;
    bool verbose = false;
    bool survey = false; // go on after a violation: one line per failing sequence, no shrinking
};

struct ExploreReport {
    int sequences = 0;     // sequences run
    long events = 0;       // events run
    bool violated = false; // an invariant failed
    uint64_t failingSeed = 0;
    int failingSequence = -1; // its index, from 0
    std::string invariant;    // "I1 ..." of the first failure
    std::vector<ExploreEvent> shrunk;
    std::string detail; // the wire, the screen and the files at the failure
    // Events by kind and invariant checks that ran (the figure's "covered").
    long kinds[8] = {};
    long checks = 0;
    double seconds = 0.0;
    int surveyFailures = 0;
};

// Runs `opt.count` sequences of `opt.events` events, sequence i from seed
// opt.seed + i, and stops at the first violation (shrunk when asked).
ExploreReport Explore(const ExploreOptions &opt);

// Runs one given sequence from scratch; "" when every invariant held, else
// the failure (invariant and detail).
std::string ExploreReplay(const std::vector<ExploreEvent> &events, std::string *detail = nullptr);

// The events of sequence `seed` as the explorer draws them (the unit's state
// chooses nothing: the same seed always gives the same list).
std::vector<ExploreEvent> ExploreDraw(uint64_t seed, int events);

std::string ExploreEventText(const ExploreEvent &e);
// Events written one a line as "kind a b" (numbers; kind as in ExploreKind),
// as --replay reads them and the report prints them.
std::vector<ExploreEvent> ExploreParse(const std::string &text);
const char *ExploreKindName(ExploreKind k);
