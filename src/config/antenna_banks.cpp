#include "config/antenna_banks.h"

// Placeholder until this table lands.
int LoadAllBankTable(Works *, int) {
    return 0;
}
void DeleteFileConf(Works *, int, int) {}
