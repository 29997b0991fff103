// The tables under /opt/set that start-up loads.
#pragma once
struct Works;
int ReadConfigFile(Works *works);               // band configuration
int ReadVentolaFile(Works *works);              // fan table
int LoadTabFiltri(Works *works);                // filter table
int LoadAllBankTable(Works *works, int bank);   // antenna bank and tuner memories
void DeleteFileConf(Works *works, int bank, int kind);
