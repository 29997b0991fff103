// Existence test for a unit path.
#pragma once

// True when the unit path `path` (resolved) exists.
bool FileExists(const char *path);
