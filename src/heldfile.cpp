// The mission file held for its in-place update, through the platform's
// own calls: no library buffer stands between a write and the file, so
// nothing reaches the file later than the program believes, and the
// program alone writes to the file while it holds it.
#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
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
    // Ctrl+C must not end the program between a failed write and the
    // old bytes' return: it is ignored while the file is held.
    SetConsoleCtrlHandler(nullptr, TRUE);
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
    SetConsoleCtrlHandler(nullptr, FALSE);
}

#else

static void waitstep()
{
    struct timespec step = {0, WAITSTEPMS * 1000000L};
    nanosleep(&step, nullptr);
}

// An exclusive lock on the whole file; waits while another holds one.
static bool lockfile(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    for (int step = 0; step < WAITSTEPS; step++) {
        if (fcntl(fd, F_SETLK, &lock) == 0)
            return true;
        if (errno != EINTR && errno != EACCES && errno != EAGAIN)
            return false;
        waitstep();
    }
    return false;
}

bool holdfile(const char *path, heldfile *held)
{
    int fd = openregular(path, O_RDWR);
    if (fd < 0)
        return false;
    if (!lockfile(fd)) {
        close(fd);
        return false;
    }
    held->fd = fd;
    // A signal that ends the program must not come between a failed write
    // and the old bytes' return: those signals wait until the file is let
    // go.
    static const int endingsignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
    sigset_t ending;
    sigemptyset(&ending);
    for (int sig : endingsignals)
        sigaddset(&ending, sig);
    sigprocmask(SIG_BLOCK, &ending, &held->signals);
    return true;
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
    sigprocmask(SIG_SETMASK, &held->signals, nullptr);
}

#endif
