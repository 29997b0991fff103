// The program's version, from the VERSION file of the source tree.
#pragma once

extern const char *const kSwVersion;
