// Line settings of the TAV transceiver's serial stream (115200 8N1, raw).
#pragma once
// Sets the line on `fd`; 0 on success, -1 when the driver refuses it.
int TavSerialSetup(int fd);
