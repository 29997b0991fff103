#include "supervisor/thresholds.h"

// Placeholder until the band table lands.
void SearchCambioSoglie_TS(Works *) {}
