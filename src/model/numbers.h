// Strict number readers shared by every file, reply and datagram reader: a
// number is read from where the previous one ended (blanks and tabs before
// it skipped) and refused when it is not finite (nan, inf) or outside the
// range its field can hold, so no reader turns a broken value into a limit.
#pragma once

// 1: a number read into *out, *p moved past it; 0: no number there (*p
// unchanged); -1: refused (not finite or out of [lo, hi]; *p moved past it).
int ReadReal(const char **p, double lo, double hi, double *out);
// The same for an integer in base `base` (0: "0x" hex and leading-0 octal
// too); a minus sign is refused when lo >= 0.
int ReadInteger(const char **p, int base, long long lo, long long hi, long long *out);
// A whole text (blanks around it allowed) as one number of the range.
bool ParseReal(const char *text, double lo, double hi, double *out);
bool ParseInteger(const char *text, long long lo, long long hi, long long *out);
