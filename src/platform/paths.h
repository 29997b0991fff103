// Path resolver: every fixed absolute path the program opens, maps, globs or
// names in a shell command goes through here. When HELIX_ROOT is set the path
// is taken inside that directory (the simulated unit); otherwise unchanged.
#pragma once
#include <string>

// "<HELIX_ROOT><path>" for an absolute path when HELIX_ROOT is set, else path.
std::string ResolvePath(const char *path);
inline std::string ResolvePath(const std::string &path) {
    return ResolvePath(path.c_str());
}

// A read-only system file (a font): the root's copy when the root has one,
// else the host's own file, as a simulated root need not carry them. With
// neither, the resolved path (so a failure names it).
std::string ResolveSystemFile(const char *path);

// The program of a shell command. On the unit the name as given (a bare name
// is looked up on PATH, a full path used as it is). With HELIX_ROOT set always
// a full path inside the root: "<root>/bin/<name>" for a bare name, the
// resolved path for a full one, so a simulated unit never reaches the host's
// own mount, reboot or sudo (RunShell refuses a program outside the root).
std::string ResolveCommand(const char *name);

// The root prefix in force ("" on the unit).
std::string RootPrefix();

// Strips the root prefix again (for messages that name the unit's path).
std::string UnresolvePath(const std::string &path);
