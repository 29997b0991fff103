// The model search of the automatic tune (option TuneSearch 1): it fits the
// unknown load to every SWR read so far through the tuner's model
// (tune_model.h) and reads the word the fitted model predicts best, then
// polishes round the best word read and ends on the lowest of the best
// words read again. It looks for the best setting: the SWR target only
// decides whether the result counts as a success.
//
// It runs in place of the stepped search's states from the tune's first
// sample on; start, carrier wait, trip handling, cycle limit and the end of
// the tune stay the tune's own (tune.h).
#pragma once

struct Works;

// One step from the tune's first sample on (kTuneLCoarse starts the search):
// takes the sample of the word in force and puts the next word into the
// tuner word. Returns 1 when the search is over; its result is then the
// tune's best sample (miglioretuneParam), which the tune makes current and
// ends on.
int TuneSearchStep(Works *works);
