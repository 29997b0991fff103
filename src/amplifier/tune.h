// Automatic tune: the step the power-board link runs from each status reply,
// and its start and stop.
#pragma once

struct Works;

// One step of the automatic tune; the link sends the tuner word after it.
void TuneTask(Works *works);
// Starts an automatic tune at the current frequency.
void StartAutotune(Works *works);
// Ends a running tune; `success` 1 keeps the result.
void EscAutoTune(Works *works, int success);
