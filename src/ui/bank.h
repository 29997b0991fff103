// Bank and interface steps shared by the keys and the remote commands.
#pragma once
struct Works;

// Next antenna bank (wraps to 0 at or past `maxBank`), saved in the setup
// file, its tables loaded and the band row chosen again by the supervisor.
void ChangeBanco(Works *works);
// Next working interface (generic, TAV, FT-817), applied and stored in the bank.
void ChangeInterfaceBanco(Works *works);
// The bank key: on a remote station connected to its server the server's
// amplifier changes bank ("VORNBANK"); otherwise this unit's bank steps.
void BankKey(Works *works);
