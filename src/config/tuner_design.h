// The tuner design file /opt/set/tuner.txt: the tuner's nominal parts, which
// the model search of the automatic tune starts from. One "Key: value" line
// per value, read with the setup file's rules (the key, a colon and one blank
// at the start of the line; one trailing LF and one CR removed): LStepNH,
// CStepPF, CStrayPF, CoilQ, TxSideBit. A missing file means the defaults (the
// simulated tuner's parts); a bad line is logged and its default kept.
#pragma once
#include "model/records.h"

#include <string>

struct Works;

// Applies the text of a design file over `design`; the number of bad lines.
int ParseTunerDesign(const std::string &text, TunerDesign *design);
// Defaults, then the file, into works->tunerDesign. 0 read, 1 no file.
int ReadTunerDesign(Works *works);
