// The mission file held for its in-place update, through the platform's
// own calls: no library buffer stands between a write and the file, so
// nothing reaches the file later than the program believes, and the
// program alone writes to the file while it holds it.
#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

#include "orbset.h"

// Another copy of orbset (or another program) may hold the file for a
// moment; it is waited for this long before the file counts as in use.
enum { WAITSTEPMS = 10, WAITSTEPS = 500 };

#if defined(_WIN32)

static bool inuse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool holdfile(const char *path, heldfile *held)
{
    // Others may go on reading, but none may write while we hold it.
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int step = 0; step < WAITSTEPS; step++) {
        h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || !inuse(GetLastError()))
            break;
        Sleep(WAITSTEPMS);
    }
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (!isdiskfile(h)) {
        CloseHandle(h);
        return false;
    }
    held->handle = h;
    return true;
}

bool stillnamed(heldfile *)
{
    // Without FILE_SHARE_DELETE in the share mode, nobody can rename the
    // held file, nor move another file over its name, until it is let go.
    return true;
}

bool heldseek(heldfile *held, int64_t offset)
{
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(held->handle, to, nullptr, FILE_BEGIN) != 0;
}

long heldread(heldfile *held, unsigned char *buf, long size)
{
    long got = 0;
    while (got < size) {
        DWORD n = 0;
        if (!ReadFile(held->handle, buf + got, static_cast<DWORD>(size - got), &n, nullptr))
            return -1;
        if (n == 0)
            break;
        got += static_cast<long>(n);
    }
    return got;
}

long heldwrite(heldfile *held, const unsigned char *buf, long size)
{
    long done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(held->handle, buf + done, static_cast<DWORD>(size - done), &n, nullptr) ||
            n == 0)
            break;
        done += static_cast<long>(n);
    }
    return done;
}

bool heldsync(heldfile *held)
{
    return FlushFileBuffers(held->handle) != 0;
}

void releasefile(heldfile *held)
{
    CloseHandle(held->handle);
}

#else

static int64_t nowms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum lockresult { LOCK_HELD, LOCK_BUSY, LOCK_FAILED };

// An exclusive lock on the whole file of the kind fcntl sets, owned by
// the open file, as flock's is, rather than by the process. NFS carries a
// flock out as this kind of lock on the server, where a lock of the
// process would be another owner's and shut our own flock out; two locks
// of one open file are one owner's.
static lockresult tryrangelock(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return LOCK_HELD;
    // Kernels before 3.15 know only the process's kind, which the static
    // program may meet.
    if (errno == EINVAL && fcntl(fd, F_SETLK, &lock) == 0)
        return LOCK_HELD;
    return errno == EINTR || errno == EACCES || errno == EAGAIN ? LOCK_BUSY : LOCK_FAILED;
}

static lockresult tryflock(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return LOCK_HELD;
    return errno == EINTR || errno == EWOULDBLOCK ? LOCK_BUSY : LOCK_FAILED;
}

// Tries the lock until it is held or the deadline has passed.
static bool waitfor(lockresult (*trylock)(int), int fd, int64_t deadline)
{
    for (;;) {
        lockresult r = trylock(fd);
        if (r != LOCK_BUSY)
            return r == LOCK_HELD;
        if (nowms() >= deadline)
            return false;
        struct timespec step = {0, WAITSTEPMS * 1000000L};
        nanosleep(&step, nullptr);
    }
}

// Programs on Linux lock a file in one of two ways that do not see each
// other: a holder of either kind keeps us out, so both are taken.
static bool lockfile(int fd, int64_t deadline)
{
    return waitfor(tryrangelock, fd, deadline) && waitfor(tryflock, fd, deadline);
}

// Whether path names the open file fd.
static bool names(const char *path, int fd)
{
    struct stat named, opened;
    return stat(path, &named) == 0 && fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// Editors and mod managers save by renaming a new copy over the old file,
// and some move the old one to a backup name first; a holder may do so
// while we wait for its lock. The file held must be the one that bears
// the name once the locks are ours: otherwise the path is opened again.
// The wait is timed by the clock, since on a busy machine each step
// sleeps longer than asked.
bool holdfile(const char *path, heldfile *held)
{
    int64_t deadline = nowms() + WAITSTEPMS * WAITSTEPS;
    for (;;) {
        int fd = openregular(path, O_RDWR);
        if (fd < 0)
            return false;
        bool locked = lockfile(fd, deadline);
        if (locked && names(path, fd)) {
            held->fd = fd;
            held->path = path;
            return true;
        }
        close(fd);
        if (!locked || nowms() >= deadline)
            return false;
    }
}

bool stillnamed(heldfile *held)
{
    return names(held->path, held->fd);
}

bool heldseek(heldfile *held, int64_t offset)
{
    return lseek(held->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

long heldread(heldfile *held, unsigned char *buf, long size)
{
    long got = 0;
    while (got < size) {
        ssize_t n = read(held->fd, buf + got, static_cast<size_t>(size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

long heldwrite(heldfile *held, const unsigned char *buf, long size)
{
    long done = 0;
    while (done < size) {
        ssize_t n = write(held->fd, buf + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool heldsync(heldfile *held)
{
    int r;
    do
        r = fdatasync(held->fd);
    while (r != 0 && errno == EINTR);
    return r == 0;
}

void releasefile(heldfile *held)
{
    // The lock goes with the descriptor. A failing close changes nothing
    // that the sync has already put on the disk.
    close(held->fd);
}

#endif
