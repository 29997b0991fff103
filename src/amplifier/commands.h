// Sending the power-board commands: the text of each code comes from the
// command table (model/board_cmds.h); here are the steps some commands take
// beyond sending.
#pragma once
#include <cstddef>

struct Works;

// Builds the text of command `code` from the current values; the two letters
// go to letters[0..1]. Returns the text length, or -1 for a code with no text.
int FormatLinearCmd(Works *works, int code, char *text, size_t cap, char letters[2]);
// Sends command `code` (with its extra step) and moves the link to waiting;
// 0 when it went out.
int LinearSendCommand(Works *works, int code);
// Sends the attenuator text for `value` (0..3), recorded under `code`.
int SetAttenuatorCMD(Works *works, int value, int code);
// Queues protection on ("MP1;" then "AT11;") or off ("MP0;").
void AttivaDisattivaProtezione(Works *works, int on);
