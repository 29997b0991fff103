// Automatic tune step and the stored-tune loader (their full bodies come with
// the tune and tuner-memory modules).
#pragma once

struct Works;

// One step of the automatic tune; the link sends the tuner word after it.
void TuneTask(Works *works);
// Loads the stored tuner word for the current frequency and antenna `ant`.
int LoadTuneFromMEM(Works *works, int ant);
