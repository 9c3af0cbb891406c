// The few file system calls whose behaviour differs between platforms.
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "orbset.h"

FILE *openread(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return nullptr;
    // Linux opens a directory for reading and fails only at the first
    // read; a directory is never a file here, on any platform.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        fclose(f);
        return nullptr;
    }
    return f;
}

bool seekto(FILE *f, int64_t offset)
{
#if defined(_WIN32)
    return _fseeki64(f, offset, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
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
