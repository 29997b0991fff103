// Protection-threshold selection for the band of the current frequency.
#pragma once
struct Works;
void SearchCambioSoglie_TS(Works *works);
