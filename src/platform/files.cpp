#include "platform/files.h"

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

bool gSafeWriteStopBeforeRename = false;

static int WriteAll(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

void MakeParentDirs(const std::string &realPath) {
    for (size_t at = realPath.find('/', 1); at != std::string::npos;
         at = realPath.find('/', at + 1)) {
        std::string dir(realPath.data(), at);
        mkdir(dir.c_str(), 0755); // an existing directory is fine
    }
}

// One safe write at a time in this process: two threads saving the same file
// would share its temporary file, and the rename could put a mix of both in
// place.
static std::mutex gWriteLock;

// Makes a change of the directory entries above `real` durable.
static void SyncParentDir(const std::string &real) {
    size_t slash = real.rfind('/');
    std::string dir =
        slash == std::string::npos ? std::string(".") : std::string(real.data(), slash + 1);
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
}

static int WriteReplace(const std::string &real, const std::string &content, bool makeDirs = true) {
    std::lock_guard<std::mutex> lock(gWriteLock);
    if (makeDirs) MakeParentDirs(real);
    std::string tmp = real + ".tmp";
    // Created exclusively and never through a link: a symbolic link planted
    // at the temporary name is removed (unlink removes the link, not its
    // target), as is a temporary file a power cut left.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(tmp.c_str(), flags, 0644);
    if (fd < 0 && errno == EEXIST && unlink(tmp.c_str()) == 0) fd = open(tmp.c_str(), flags, 0644);
    if (fd < 0) {
        int err = errno;
        LogErr("can't write %s error %d", real.c_str(), err);
        errno = err; // for the caller's message
        return -1;
    }
    if (WriteAll(fd, content.data(), content.size()) != 0 || fsync(fd) != 0) {
        LogErr("can't write %s error %d", real.c_str(), errno);
        close(fd);
        unlink(tmp.c_str());
        return -1;
    }
    close(fd);
    if (gSafeWriteStopBeforeRename) return -1;
    if (rename(tmp.c_str(), real.c_str()) != 0) {
        LogErr("can't rename %s error %d", real.c_str(), errno);
        unlink(tmp.c_str());
        return -1;
    }
    SyncParentDir(real); // the rename itself made durable
    return 0;
}

int WriteFileSafe(const char *path, const std::string &content, bool window) {
    if (window && RemountRw() != 0) return -1;
    int r = WriteReplace(ResolvePath(path), content);
    if (window) RemountRo();
    return r;
}

// The length of the file up to and including its last line feed.
static off_t WholeLinesLength(int fd, off_t size) {
    char buf[512];
    for (off_t end = size; end > 0;) {
        off_t from =
            end > static_cast<off_t>(sizeof buf) ? end - static_cast<off_t>(sizeof buf) : 0;
        ssize_t n = pread(fd, buf, static_cast<size_t>(end - from), from);
        if (n <= 0) return size; // unreadable: leave it as it is
        for (ssize_t i = n; i-- > 0;)
            if (buf[i] == '\n') return from + i + 1;
        end = from;
    }
    return 0;
}

int AppendFileFlushed(const char *path, const std::string &text) {
    std::string real = ResolvePath(path);
    int fd = open(real.c_str(), O_RDWR | O_CLOEXEC);
    // A new file's name is made durable with its first record (below).
    bool created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = open(real.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        created = fd >= 0;
    }
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return -1;
    }
    // A record torn by a power cut during an earlier append is cut away, so
    // the file holds whole lines only.
    off_t size = WholeLinesLength(fd, st.st_size);
    if (size != st.st_size && ftruncate(fd, size) != 0) size = st.st_size;
    int r = pwrite(fd, text.data(), text.size(), size) == static_cast<ssize_t>(text.size()) &&
                    fdatasync(fd) == 0
                ? 0
                : -2;
    if (r != 0) {
        // A failed or short append (a full card) is rolled back to the old length.
        int err = errno;
        if (ftruncate(fd, size) == 0) fdatasync(fd);
        errno = err;
    }
    close(fd);
    if (created) SyncParentDir(real);
    return r;
}

int RenameFile(const char *from, const char *to) {
    std::string a = ResolvePath(from), b = ResolvePath(to);
    if (std::rename(a.c_str(), b.c_str()) != 0) return -1;
    // The rotation made durable: a power cut after it never brings the old
    // name back over records appended to a new file under that name.
    SyncParentDir(b);
    if (a.substr(0, a.rfind('/')) != b.substr(0, b.rfind('/'))) SyncParentDir(a);
    return 0;
}

bool ReadFileText(const char *path, std::string *out) {
    return ReadNamedFile(ResolvePath(path), out);
}

int RemoveFile(const char *path) {
    std::string real = ResolvePath(path);
    if (unlink(real.c_str()) != 0) return errno == ENOENT ? 0 : -1;
    SyncParentDir(real);
    return 0;
}

int WriteNamedFileSafe(const std::string &path, const std::string &content) {
    return WriteReplace(path, content, false);
}

bool ReadNamedFileBounded(const std::string &real, size_t limit, std::string *out) {
    int fd = open(real.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit) {
        close(fd);
        errno = EFBIG;
        return false;
    }
    out->clear();
    char buf[4096];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (out->size() + static_cast<size_t>(n) > limit) {
            out->clear();
            close(fd);
            errno = EFBIG;
            return false;
        }
        out->append(buf, static_cast<size_t>(n));
    }
    int err = errno;
    close(fd);
    errno = err;
    return ok;
}

bool ReadNamedFile(const std::string &real, std::string *out) {
    FILE *f = std::fopen(real.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[4096];
    size_t n;
    out->clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    bool whole = std::ferror(f) == 0; // a read error is no whole file
    std::fclose(f);
    return whole;
}
