// Tuner memory tables (/opt/set/atu_ant*.txt), one per antenna and bank.
#pragma once
struct Works;
// Loads the tuner memory of antenna `ant` (0..2) of `bank`.
int LoadTabAtu(Works *works, int bank, int ant);
