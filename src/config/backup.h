// Backup and restore of the settings: every settings file of /opt/set and the
// network file in one archive, a tar file (ustar, written here by hand) whose
// first member MANIFEST names each file with its size and SHA-256. tar is
// chosen so that any machine can list and unpack a backup without this
// program (tar -tvf, tar -xf) if the unit is gone.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Exit statuses of --backup and --restore.
constexpr int kBackupDone = 0;
constexpr int kBackupFailed = 1;  // a file could not be read or written
constexpr int kBackupRefused = 2; // the archive (or the unit's state) refused

// One file of an archive: its unit path without the leading '/'
// ("opt/set/setup.txt") and its bytes.
struct ArchiveMember {
    std::string name;
    std::string data;
};

// Writes every settings file found to the archive `archive` (a path as the
// operator gave it). What it did goes to *out, problems to *err, one line each.
int BackupSettings(const std::string &archive, std::string *out, std::string *err);
// Checks the archive whole, keeps the set in place as
// /opt/set/before-restore-<time>.tar, then puts the archive's set in place.
// The caller holds the instance lock (no controller runs).
int RestoreSettings(const std::string &archive, std::string *out, std::string *err);

// The tar file of `members`, MANIFEST first, each member dated `mtime`.
std::string MakeArchive(const std::vector<ArchiveMember> &members, int64_t mtime);
// Reads a tar file made by MakeArchive and checks its manifest: the members
// after MANIFEST (0, or -1 with why).
int ReadArchive(const std::string &bytes, std::vector<ArchiveMember> *members, std::string *why);
// Checks one file with its reader (named by its member name): 0, or -1 with why.
int CheckSettingsFile(const std::string &name, const std::string &data, std::string *why);
