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

// Stand-by (standby 1) or operate (0) asked from outside the panel (the
// amplifier's network protocol), with the IN-ATT key's rules: no stand-by
// while transmitting, no leaving it under transmission. Operate puts back the
// attenuator in use. The band's row of the bank records the choice, as the
// key does. 0 done or already so, -1 refused.
int AmplifierStandby(Works *works, int standby);
