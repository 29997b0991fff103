// Antenna tables and banks (/opt/set/antenna*.txt).
#pragma once
struct Works;
int LoadAllBankTable(Works *works, int bank);
void DeleteFileConf(Works *works, int bank, int kind);
