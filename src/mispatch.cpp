// The patch command: the first enabled record of each mission file gets
// the new moon of its mission, after the user has said yes.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "celobj.h"
#include "missions.h"
#include "orbset.h"

static const char *const missionlist[] = {
    "miss1.mis",  "miss2.mis",  "miss4.mis",  "miss5.mis",  "miss6.mis",
    "miss7.mis",  "miss8.mis",  "miss9.mis",  "miss10.mis", "miss11.mis",
    "miss12.mis", "miss13.mis", "miss16.mis",
};

static const char prompt[] =
    "\nPatching is not undoable. Information will be lost.\n"
    "Are you sure you've made backups and want to continue (y/n)? ";

// What the scan found: the first enabled record, where it lies, and
// whether the file holds all of it.
static bool enabledfound;
static int64_t enabledoffset;
static bool enabledwhole;

static bool stopatenabled(int64_t offset, bool whole)
{
    if (celobj_int(CO_ENA) != 1)
        return true;
    enabledfound = true;
    enabledoffset = offset;
    enabledwhole = whole;
    return false;
}

// The number in the base name ("miss5.mis", "levels\miss5.mis"): "miss",
// then a decimal number as %d reads it (leading blanks and a sign allowed).
// False when there is none, or when it does not fit an int, which %d
// would silently wrap into some other mission's number.
static bool missionnumber(const char *path, int *number)
{
    const char *base = path;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    if (strncmp(base, "miss", 4) != 0)
        return false;
    char *end;
    errno = 0;
    long long n = strtoll(base + 4, &end, 10);
    if (end == base + 4 || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return false;
    *number = static_cast<int>(n);
    return true;
}

static void applyrow(const celobjrow *row)
{
    memset(celobj + CO_TEX, 0, TEXLEN);
    memcpy(celobj + CO_TEX, row->tex, strlen(row->tex));
    celobj_setfloat(CO_SIZ, row->siz);
    celobj_setfloat(CO_ROT, row->rot);
    for (int i = 0; i < 3; i++)
        celobj_setfloat(CO_COL + 4 * i, row->col[i]);
    celobj_setfloat(CO_A, 1.0f);
    celobj_setint(CO_FOG, 1);
}

enum writeresult { WRITE_OK, WRITE_NOOPEN, WRITE_NOSEEK, WRITE_CHANGED, WRITE_FAILED };

// Writes celobj over the record at offset, provided the file still holds
// the bytes the scan found there (old). Nothing is written otherwise.
static writeresult overwrite(FILE *f, int64_t offset, const unsigned char *old)
{
    unsigned char ondisk[RECLEN];
    if (!seekto(f, offset))
        return WRITE_NOSEEK;
    if (fread(ondisk, RECLEN, 1, f) != 1 || memcmp(ondisk, old, RECLEN) != 0)
        return WRITE_CHANGED;
    // A stream that was read must be positioned again before it is written.
    if (!seekto(f, offset))
        return WRITE_NOSEEK;
    if (fwrite(celobj, RECLEN, 1, f) != 1 || fflush(f) != 0)
        return WRITE_FAILED;
    return WRITE_OK;
}

// Even the close can fail to deliver what was written.
static writeresult writerecord(const char *path, int64_t offset, const unsigned char *old)
{
    FILE *f = fopen(path, "r+b");
    if (!f)
        return WRITE_NOOPEN;
    writeresult result = overwrite(f, offset, old);
    if (fclose(f) != 0 && result == WRITE_OK)
        result = WRITE_FAILED;
    return result;
}

void mispatch(const char *path, const char *stockname)
{
    if (par.verbosity > 2)
        TRACE("name=%s", path);
    FILE *f = openread(path);
    if (!f) {
        if (par.verbosity > 0)
            TRACE("Cannot open file %s.", path);
        return;
    }
    int number;
    if (!missionnumber(stockname ? stockname : path, &number)) {
        fclose(f);
        if (par.verbosity > 0)
            TRACE("Cannot get mission number for file %s.", path);
        return;
    }
    if (par.verbosity > 0)
        TRACE("Mission number %d. sizeof=%d", number, static_cast<int>(MISSIONS));
    const celobjrow *row = number >= 1 && number <= MISSIONS ? &celobj_miss[number - 1] : nullptr;
    if (!row || !row->tex) {
        fclose(f);
        if (par.verbosity > 0)
            TRACE("Don't know how to patch mission number %d.", number);
        return;
    }

    enabledfound = false;
    scanresult scan = scancelobj(f, __func__, stopatenabled);
    fclose(f);  // not held open while the user is asked
    if (scan == SCAN_READERROR) {
        if (par.verbosity > 0)
            TRACE("Cannot read file %s.", path);
        return;
    }
    // The file never grows: a record cut off by its end is left alone.
    if (!enabledfound || !enabledwhole) {
        if (par.verbosity > 0)
            TRACE("I don't know what to do with file %s.", path);
        return;
    }

    unsigned char old[RECLEN];
    memcpy(old, celobj, RECLEN);
    printf("\nPatching file %s:\n", path);
    printf("Old values:\n");
    print_celobj();
    printf("New values:\n");
    applyrow(row);
    print_celobj();
    if (!confirm(prompt)) {
        printf("No changes made to %s.\n", path);
        return;
    }

    unsigned long long at = static_cast<unsigned long long>(enabledoffset);
    switch (writerecord(path, enabledoffset, old)) {
    case WRITE_NOOPEN:
        FATAL("Cannot open %s for writing.", path);
    case WRITE_NOSEEK:
        FATAL("Cannot seek to 0x%llx in %s.", at, path);
    case WRITE_CHANGED:
        FATAL("%s changed since it was read.", path);
    case WRITE_FAILED:
        FATAL("Cannot write to %s.", path);
    case WRITE_OK:
        break;
    }
    printf("%s patched.\n", path);
}

void cmd_mispatch()
{
    if (par.verbosity > 2)
        ENTRY();
    if (par.file) {
        mispatch(par.file);
        return;
    }
    for (const char *stock : missionlist) {
        char *name = diskname(stock);
        mispatch(name, stock);
        free(name);
    }
}
