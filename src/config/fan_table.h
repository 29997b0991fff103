// Fan table (/opt/set/ventola.txt) and temperature log.
#pragma once
struct Works;
int ReadVentolaFile(Works *works);
