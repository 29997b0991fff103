// Line settings of the CAT ports: the FT-817 (38400 8N2, raw) and the TAV
// transceiver's CAT port probe (115200 8N1), and the glob of probe ports.
#pragma once
#include <string>
#include <vector>

int CatSerialSetup(int fd);
int CatProbeSetup(int fd);
// Non-canonical reading for the probe answer: VTIME 10 (1 s), VMIN 0.
int CatProbeTimedRead(int fd);
// Resolved paths matching the unit pattern `pattern`, sorted.
std::vector<std::string> GlobUnitPaths(const char *pattern);
