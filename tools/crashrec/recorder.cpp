// The file-system call recorder of the crash-state check (LD_PRELOAD): every
// open, write, ftruncate, fsync, fdatasync, rename and unlink on a path under
// $CRASHREC_ROOT is appended to the trace $CRASHREC_LOG, in the order the
// calls were made, with the bytes each write put where. helix-crash-states
// replays the trace and builds the states a power cut can leave.
//
// Trace records, one per call, each a line (written bytes follow their line):
//   C <path>                 opened with O_CREAT (created if it was absent)
//   T <path> <length>        truncated (O_TRUNC or ftruncate)
//   W <path> <offset> <n>    then n raw bytes and a line feed
//   S <path>                 fsync or fdatasync of a file
//   D <path>                 fsync of a directory
//   R <from> <to>            renamed
//   U <path>                 unlinked
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr int kMaxFd = 1024;
char gPaths[kMaxFd][PATH_MAX]; // the recorded path of each open descriptor ("" none)
bool gIsDir[kMaxFd];
pthread_mutex_t gLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
int gLog = -2; // -2 not opened yet, -1 recording off
char gRoot[PATH_MAX];
size_t gRootLen = 0;

template <typename F> F Next(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void LogRaw(const void *p, size_t n) {
    const char *c = static_cast<const char *>(p);
    while (n > 0) {
        long w = syscall(SYS_write, gLog, c, n);
        if (w <= 0) return;
        c += w;
        n -= static_cast<size_t>(w);
    }
}

bool On() {
    if (gLog == -2) {
        const char *log = std::getenv("CRASHREC_LOG"), *root = std::getenv("CRASHREC_ROOT");
        gLog = -1;
        if (log != nullptr && root != nullptr && std::strlen(root) < sizeof gRoot) {
            std::strcpy(gRoot, root);
            gRootLen = std::strlen(root);
            gLog = static_cast<int>(syscall(SYS_openat, AT_FDCWD, log,
                                            O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        }
    }
    return gLog >= 0;
}

// The absolute form of `path` when it lies under the root, else false.
bool Watched(const char *path, char *abs) {
    if (path == nullptr || !On()) return false;
    if (path[0] == '/') {
        if (std::strlen(path) >= PATH_MAX) return false;
        std::strcpy(abs, path);
    } else {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) return false;
        if (std::snprintf(abs, PATH_MAX, "%s/%s", cwd, path) >= PATH_MAX) return false;
    }
    return std::strncmp(abs, gRoot, gRootLen) == 0 && (abs[gRootLen] == '/' || abs[gRootLen] == 0);
}

void Line(const char *fmt, ...) {
    char buf[3 * PATH_MAX];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0)
        LogRaw(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

bool Tracked(int fd) {
    return fd >= 0 && fd < kMaxFd && gPaths[fd][0] != 0 && On();
}

void Opened(int fd, const char *abs, int flags) {
    if (fd < 0 || fd >= kMaxFd) return;
    std::strcpy(gPaths[fd], abs);
    struct stat st {};
    gIsDir[fd] = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    if (flags & O_CREAT) Line("C %s\n", abs);
    if ((flags & O_TRUNC) && !gIsDir[fd]) Line("T %s 0\n", abs);
}

int DoOpen(const char *name, int dirfd, const char *path, int flags, mode_t mode) {
    char abs[PATH_MAX];
    pthread_mutex_lock(&gLock);
    int fd;
    if (dirfd == AT_FDCWD)
        fd = Next<int (*)(const char *, int, ...)>(name)(path, flags, mode);
    else
        fd = Next<int (*)(int, const char *, int, ...)>(name)(dirfd, path, flags, mode);
    int err = errno;
    if (fd >= 0 && fd < kMaxFd) gPaths[fd][0] = 0;
    if (fd >= 0 && (dirfd == AT_FDCWD || path[0] == '/') && Watched(path, abs))
        Opened(fd, abs, flags);
    pthread_mutex_unlock(&gLock);
    errno = err;
    return fd;
}

mode_t ModeArg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
}

void Wrote(int fd, off_t at, const void *data, ssize_t n) {
    if (n <= 0 || !Tracked(fd)) return;
    Line("W %s %lld %zd\n", gPaths[fd], static_cast<long long>(at), n);
    LogRaw(data, static_cast<size_t>(n));
    LogRaw("\n", 1);
}

off_t WriteOffset(int fd) {
    if (fcntl(fd, F_GETFL) & O_APPEND) {
        struct stat st {};
        return fstat(fd, &st) == 0 ? st.st_size : 0;
    }
    return lseek(fd, 0, SEEK_CUR);
}

int Synced(int fd, int r) {
    if (r == 0 && Tracked(fd)) Line("%c %s\n", gIsDir[fd] ? 'D' : 'S', gPaths[fd]);
    return r;
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return DoOpen("open", AT_FDCWD, path, flags, mode);
}
int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return DoOpen("open64", AT_FDCWD, path, flags, mode);
}
int openat(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return DoOpen("openat", dirfd, path, flags, mode);
}
int openat64(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return DoOpen("openat64", dirfd, path, flags, mode);
}
int creat(const char *path, mode_t mode) {
    return DoOpen("open", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

ssize_t write(int fd, const void *buf, size_t n) {
    pthread_mutex_lock(&gLock);
    off_t at = Tracked(fd) ? WriteOffset(fd) : 0;
    ssize_t r = Next<ssize_t (*)(int, const void *, size_t)>("write")(fd, buf, n);
    int err = errno;
    Wrote(fd, at, buf, r);
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}
ssize_t pwrite(int fd, const void *buf, size_t n, off_t at) {
    pthread_mutex_lock(&gLock);
    ssize_t r = Next<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite")(fd, buf, n, at);
    int err = errno;
    Wrote(fd, at, buf, r);
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}
ssize_t pwrite64(int fd, const void *buf, size_t n, off64_t at) {
    pthread_mutex_lock(&gLock);
    ssize_t r = Next<ssize_t (*)(int, const void *, size_t, off64_t)>("pwrite64")(fd, buf, n, at);
    int err = errno;
    Wrote(fd, static_cast<off_t>(at), buf, r);
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}

int ftruncate(int fd, off_t length) {
    pthread_mutex_lock(&gLock);
    int r = Next<int (*)(int, off_t)>("ftruncate")(fd, length);
    int err = errno;
    if (r == 0 && Tracked(fd)) Line("T %s %lld\n", gPaths[fd], static_cast<long long>(length));
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}
int ftruncate64(int fd, off64_t length) {
    pthread_mutex_lock(&gLock);
    int r = Next<int (*)(int, off64_t)>("ftruncate64")(fd, length);
    int err = errno;
    if (r == 0 && Tracked(fd)) Line("T %s %lld\n", gPaths[fd], static_cast<long long>(length));
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}

int fsync(int fd) {
    pthread_mutex_lock(&gLock);
    int r = Synced(fd, Next<int (*)(int)>("fsync")(fd));
    int err = errno;
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}
int fdatasync(int fd) {
    pthread_mutex_lock(&gLock);
    int r = Synced(fd, Next<int (*)(int)>("fdatasync")(fd));
    int err = errno;
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}

int close(int fd) {
    pthread_mutex_lock(&gLock);
    if (fd >= 0 && fd < kMaxFd) gPaths[fd][0] = 0;
    int r = Next<int (*)(int)>("close")(fd);
    int err = errno;
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}

int rename(const char *from, const char *to) {
    pthread_mutex_lock(&gLock);
    int r = Next<int (*)(const char *, const char *)>("rename")(from, to);
    int err = errno;
    char a[PATH_MAX], b[PATH_MAX];
    if (r == 0 && Watched(from, a) && Watched(to, b)) Line("R %s %s\n", a, b);
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}

int unlink(const char *path) {
    pthread_mutex_lock(&gLock);
    int r = Next<int (*)(const char *)>("unlink")(path);
    int err = errno;
    char a[PATH_MAX];
    if (r == 0 && Watched(path, a)) Line("U %s\n", a);
    pthread_mutex_unlock(&gLock);
    errno = err;
    return r;
}

} // extern "C"
