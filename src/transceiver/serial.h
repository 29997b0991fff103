// TAV transceiver serial link thread.
#pragma once
struct Works;
void *Serial(void *arg);
struct TavParams;
// Copies the TAV parameter record under serMut.
void getParameters(TavParams *copy, Works *works);
