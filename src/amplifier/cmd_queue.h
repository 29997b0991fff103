// The power-board command ring: any thread queues a command code, the link
// thread alone takes them, in order.
#pragma once
struct Works;

// Appends a command code. Safe for several producers. When 29 codes already
// wait the code is refused with a log line; returns 0 when queued, -1 if refused.
int IncPNTIn_CMDLinear(int code, Works *works);
// True when no code waits.
bool CmdQueueEmpty(Works *works);
// Number of codes waiting.
int CmdQueuePending(Works *works);
// Takes the oldest code into *code (its slot is cleared); false when empty.
bool CmdQueueTake(Works *works, int *code);
// Queues the power board's start-up commands.
void InitMicroCmd(Works *works);
