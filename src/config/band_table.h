// Band configuration table (/opt/set/config.txt).
#pragma once
struct Works;
int ReadConfigFile(Works *works);
