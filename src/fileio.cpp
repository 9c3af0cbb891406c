// The few file system calls whose behaviour differs between platforms.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orbset.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#endif

#if defined(_WIN32)
bool isdiskfile(void *handle)
{
    // CON, NUL and pipes open like files; only a file on a disk is one.
    // Windows refuses to open a directory.
    return GetFileType(handle) == FILE_TYPE_DISK;
}

FILE *openread(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return nullptr;
    if (!isdiskfile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))))) {
        fclose(f);
        return nullptr;
    }
    return f;
}
#else
int openregular(const char *path, int mode)
{
    // Opening a FIFO would wait for its other end: open without waiting,
    // then accept a regular file only (a directory, a device or a FIFO is
    // no mission file), and read and write it as usual from then on.
    int fd;
    do
        fd = open(path, mode | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

FILE *openread(const char *path)
{
    int fd = openregular(path, O_RDONLY);
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "rb");
    if (!f)
        close(fd);
    return f;
}
#endif

const char *basepart(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; p++) {
#if defined(_WIN32)
        // In a double-byte code page (Japanese 932 among them) the second
        // byte of a character may be a backslash that separates nothing.
        // UTF-8 has no such bytes, and no lead bytes either.
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            p++;
            continue;
        }
#endif
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

char *curdir()
{
    for (size_t size = 256; size <= 1 << 20; size *= 2) {
        char *buf = static_cast<char *>(malloc(size));
        if (!buf)
            return nullptr;
        if (getcwd(buf, size))
            return buf;
        free(buf);
        if (errno != ERANGE)
            return nullptr;
    }
    return nullptr;
}

static char *copyof(const char *text)
{
    char *copy = strdup(text);
    if (!copy)
        FATAL("Out of memory.");
    return copy;
}

// Whether path names a file that can be opened for reading.
static bool readable(const char *path)
{
    FILE *f = openread(path);
    if (f)
        fclose(f);
    return f != nullptr;
}

static int bytecompare(const void *a, const void *b)
{
    return strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

// A tree may hold a great many folders that equal each other ignoring
// case, and links back to a folder above among them: the entries read for
// one path are counted, and past this many the path is not found.
enum { MAXENTRIES = 1 << 20 };

// The entries of folder ("" for the current one) that equal name ignoring
// case but are not name itself, in byte order, since the order of a
// listing differs from one file system to the next: a null-terminated
// array, malloc'd, as are its names. Each entry read is taken from
// *budget; when it runs out, the listing ends there.
static char **twins(const char *folder, const char *name, long *budget)
{
#if defined(_WIN32)
    (void)folder;  // Windows finds any case itself, but in the current folder
    listing *l = openlisting();
#else
    listing *l = openfolder(*folder ? folder : ".");
#endif
    size_t count = 0, room = 4;
    char **found = static_cast<char **>(malloc(room * sizeof *found));
    if (!found)
        FATAL("Out of memory.");
    bool failed;
    while (const char *entry = l && --*budget >= 0 ? nextentry(l, &failed) : nullptr) {
        if (!foldequal(entry, name) || strcmp(entry, name) == 0)
            continue;
        if (count + 1 == room) {
            room *= 2;
            char **more = static_cast<char **>(realloc(found, room * sizeof *found));
            if (!more)
                FATAL("Out of memory.");
            found = more;
        }
        found[count++] = copyof(entry);
    }
    if (l)
        closelisting(l);
    found[count] = nullptr;
    qsort(found, count, sizeof *found, bytecompare);
    return found;
}

static void freetwins(char **names)
{
    for (char **n = names; *n; n++)
        free(*n);
    free(names);
}

#if defined(_WIN32)
// Whether path names a file (or a device), even one that cannot be read.
static bool namesfile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows finds any case itself: only a name in the current folder that
// names no file as given is looked for among its twins.
char *diskname(const char *path)
{
    if (namesfile(path))
        return copyof(path);
    long budget = MAXENTRIES;
    char **names = twins("", path, &budget);
    char *found = nullptr;
    for (char **n = names; *n && !found; n++)
        if (readable(*n))
            found = copyof(*n);
    freetwins(names);
    return found ? found : copyof(path);
}
#else
static bool isfolder(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

static bool isregular(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The first len bytes of text.
static char *cut(const char *text, size_t len)
{
    char *out = static_cast<char *>(malloc(len + 1));
    if (!out)
        FATAL("Out of memory.");
    memcpy(out, text, len);
    out[len] = '\0';
    return out;
}

// path with len of its bytes from at replaced by name, which may be
// longer or shorter: letters equal ignoring case need not be as long.
static char *respelt(const char *path, size_t at, size_t len, const char *name)
{
    size_t namelen = strlen(name), restlen = strlen(path + at + len);
    char *out = static_cast<char *>(malloc(at + namelen + restlen + 1));
    if (!out)
        FATAL("Out of memory.");
    memcpy(out, path, at);
    memcpy(out + at, name, namelen);
    memcpy(out + at + namelen, path + at + len, restlen + 1);
    return out;
}

static char *findfrom(const char *path, size_t at, long *budget);

// The path found when its part that ends at end is what it must be, or
// null: the file itself (as given, any regular file, which then wins
// even when it cannot be read; a twin must be readable too), or a folder
// below which the rest of the path is found.
static char *foundthrough(const char *path, size_t end, bool asgiven, long *budget)
{
    bool last = path[end + strspn(path + end, "/")] == '\0';
    char *upto = cut(path, end);
    bool fits = !last ? isfolder(upto) : asgiven ? isregular(upto) : readable(upto);
    free(upto);
    if (!fits)
        return nullptr;
    return last ? copyof(path) : findfrom(path, end, budget);
}

// The path found from its part that begins at at, the folders before it
// being found: that part as given, else the first in byte order of the
// entries that equal it ignoring case through which the rest is found.
static char *findfrom(const char *path, size_t at, long *budget)
{
    at += strspn(path + at, "/");
    size_t len = strcspn(path + at, "/");
    if (len == 0)
        return copyof(path);
    char *found = foundthrough(path, at + len, true, budget);
    if (found || *budget < 0)
        return found;
    char *folder = cut(path, at);
    char *name = cut(path + at, len);
    char **names = twins(folder, name, budget);
    for (char **n = names; *n && !found && *budget >= 0; n++) {
        char *other = respelt(path, at, len, *n);
        found = foundthrough(other, at + strlen(*n), false, budget);
        free(other);
    }
    freetwins(names);
    free(name);
    free(folder);
    return found;
}

// Installations copied from the game's CD or a store may name their files
// in any letter case, and a player types a name as Windows takes it: where
// the file system tells case apart, the path is looked up folder by
// folder. In each folder the name as given wins, otherwise the first in
// byte order of the entries that equal it ignoring case; a folder only
// when the rest of the path is found below it, so that an empty or
// unreadable twin cannot hide the file. A path not found so comes back as
// given.
char *diskname(const char *path)
{
    long budget = MAXENTRIES;
    char *found = findfrom(path, 0, &budget);
    return found ? found : copyof(path);
}
#endif
