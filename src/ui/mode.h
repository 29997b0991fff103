// Working mode: which frequency source runs (0 generic, 1 TAV, 2 FT-817,
// 3 a rig daemon, 4 the logging program's datagrams).
#pragma once
struct Works;

// Starts and stops the TAV, CAT serial, rig daemon and logger links for `ModeWorkIdx` and queues
// the power-board command 35. Before start-up has reached the point where it
// starts the links itself, only the switches are set.
void SetModeWorkIDX(Works *works);
// The same with the choice made by the caller: `startThreads` false only sets
// the switches (start-up starts the threads afterwards from them).
void ApplyModeWork(Works *works, bool startThreads);
