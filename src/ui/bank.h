// Bank steps and utilities shared by the keys and the remote commands.
#pragma once
struct Works;

// Next antenna bank (wraps to 0 at or past `maxBank`), saved in the setup
// file, its tables loaded and the band row chosen again by the supervisor.
void ChangeBanco(Works *works);
// The same step without the setup write: the caller saves (the remote
// commands save a peer's bank steps at most once a second).
void ChangeBancoUnsaved(Works *works);
// Next working interface (generic, TAV, FT-817), applied and stored in the bank.
void ChangeInterfaceBanco(Works *works);
// Copies the antenna table (with its interface) and the three tuner memories
// of bank `from` to bank `to`; the current bank's tables are then reloaded.
void CopyBank(Works *works, int from, int to);
// Deletes the stored tables of `bank`, or of every bank 0..maxBank-1 when
// `bank` is `maxBank`; the current bank's tables are then reloaded.
void ResetBank(Works *works, int bank);
// The bank key: on a remote station connected to its server the server's
// amplifier changes bank ("VORNBANK"); otherwise this unit's bank steps.
void BankKey(Works *works);
