// Filter table (/opt/set/filter.txt).
#pragma once
struct Works;
int LoadTabFiltri(Works *works);
