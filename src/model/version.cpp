#include "model/version.h"

const char *const kSwVersion = HELIX_VERSION;
