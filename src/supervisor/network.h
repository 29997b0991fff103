// Network settings (/etc/network/interfaces).
#pragma once
int ReadLanParam();
