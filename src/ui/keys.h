// Key actions: what a press of one of the six front-panel keys does in the
// current soft-key menu. Called only from the GPIO panel thread.
#pragma once

struct Works;

// key 1..6, left to right; longMask 0 for a short press (reported on release)
// or with bit key-1 set for a long press (reported while the key is held).
// Returns non-zero only from a repeating action on a long press: the panel
// thread then calls again after its repeat interval.
int DecodeTasto(Works *works, int key, int longMask);

// The TUNE key: starts an automatic tune, or stops the running one (and only
// stops it). Nothing without a tuner or with the tune switched off.
void GoTune(Works *works);
