// Line settings of the power-board port.
#pragma once

// Raw 8N1 at 115200 baud, no flow control, input flushed, applied at once.
// Returns 0 on success.
int SerialSetupLinear(int fd);
