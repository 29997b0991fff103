#include "config/fan_table.h"

// Placeholder until this table lands.
int ReadVentolaFile(Works *) {
    return 0;
}
