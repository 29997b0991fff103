#include "config/tables.h"

// Placeholders until the tables land.
int ReadConfigFile(Works *) { return 0; }
int ReadVentolaFile(Works *) { return 0; }
int LoadTabFiltri(Works *) { return 0; }
int LoadAllBankTable(Works *, int) { return 0; }
void DeleteFileConf(Works *, int, int) {}
