#include "config/filter_table.h"

// Placeholder until this table lands.
int LoadTabFiltri(Works *) {
    return 0;
}
