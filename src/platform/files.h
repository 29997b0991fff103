// Safe replacement of files under /opt/set: the new content goes to a
// temporary file in the same directory, is flushed to disk and renamed over
// the old file, so a power cut leaves either the old or the new file whole.
#pragma once
#include <string>

// Writes `content` to the unit path `path` (resolved here). When `window` is
// true the write is bracketed by the remount window; if the read-write remount
// fails nothing is written. Returns 0 on success, -1 on failure (logged).
int WriteFileSafe(const char *path, const std::string &content, bool window = true);

// Appends `text` (whole lines) to the unit path `path` and flushes it (no
// remount window). The file keeps whole lines only: a torn last line left by
// a power cut is cut away first, and an append that fails or writes short is
// rolled back to the old length. 0 written, -1 the file cannot be opened, -2
// the write failed (errno kept).
int AppendFileFlushed(const char *path, const std::string &text);

// Renames the unit path `from` to the unit path `to` (both resolved), replacing
// `to`. 0 on success, -1 on failure (errno kept; ENOENT when `from` is absent).
int RenameFile(const char *from, const char *to);

// Reads a whole file at the unit path `path`; returns false if it can't be opened.
bool ReadFileText(const char *path, std::string *out);

// Removes the file at the unit path `path` (resolved here) and makes the
// removal durable. 0 removed or absent, -1 failure (errno kept).
int RemoveFile(const char *path);

// A file the operator names (a backup archive): the path is taken as given,
// never inside the simulated root. Read whole; written as WriteFileSafe
// writes (temporary file, flush, rename), without the remount window.
bool ReadNamedFile(const std::string &path, std::string *out);
// The same, refusing (errno EFBIG) a file longer than `limit` bytes before
// it is read (a regular file) or once `limit` is passed (a device, a pipe).
bool ReadNamedFileBounded(const std::string &path, size_t limit, std::string *out);
int WriteNamedFileSafe(const std::string &path, const std::string &content);

// Creates the missing directories above the real path `realPath` (already resolved).
void MakeParentDirs(const std::string &realPath);

// Test hook: when set, WriteFileSafe stops after writing the temporary file and
// before the rename, as a power cut would.
extern bool gSafeWriteStopBeforeRename;
