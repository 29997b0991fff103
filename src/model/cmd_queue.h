// The power-board command ring: any thread queues a command code, the link
// thread alone takes them, in order.
//
// A code is formatted from the current values when the link sends it, so:
// - a code is not queued again while the last code waiting for the same board
//   setting is that very code (it will carry the newest values anyway);
// - a command code that finds the 29 places of the ring taken is not refused:
//   it waits in a small pending set (one entry per board setting) that the link
//   sends before the ring. Waiting codes for the same setting, older than it,
//   are cancelled, so nothing undoes the newer wish. Protection codes
//   therefore always reach the board.
#pragma once
#include "model/board_cmds.h"

struct Works;

// Appends a command code. Safe for several producers. Returns 0 when the code
// will be sent (queued, pending, or already waiting); -1 only for a code that
// names no command and finds the ring full (logged).
int IncPNTIn_CMDLinear(int code, Works *works);
// The board setting a code writes (codes writing the same setting share one
// value, e.g. every attenuator code); other codes stand for themselves.
int CmdTarget(int code);
// True when `code` names a command the link can send.
bool IsLinearCmd(int code);
// True when no code waits.
bool CmdQueueEmpty(Works *works);
// Number of codes waiting (pending set and ring).
int CmdQueuePending(Works *works);
// Takes the next code into *code (pending set first, then the ring; its slot
// is cleared); false when none waits.
bool CmdQueueTake(Works *works, int *code);
// Queues the power board's start-up commands.
void InitMicroCmd(Works *works);
// After a micro reset of the board: forgets the thresholds, filter and fan
// last sent and queues the start-up commands, the filter and (from a
// transceiver) the frequency again; the fan follows with the next status reply.
void InitMicroCmdAfterReset(Works *works);
