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
    const char *base = basepart(path);
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

enum writeresult {
    WRITE_OK,
    WRITE_NOOPEN,
    WRITE_NOSEEK,
    WRITE_NOREAD,
    WRITE_CHANGED,
    WRITE_FAILED,   // nothing changed: the old record is back on disk
    WRITE_DAMAGED,  // and not even the old record could be put back
};

// After a failed write or sync: the bytes written go back, and the record
// is read again, since only the file itself can say that it holds its old
// bytes.
static bool putback(heldfile *f, int64_t offset, const unsigned char *old, long written)
{
    unsigned char now[RECLEN];
    return heldseek(f, offset) && heldwrite(f, old, written) == written && heldsync(f) &&
           heldseek(f, offset) && heldread(f, now, RECLEN) == RECLEN &&
           memcmp(now, old, RECLEN) == 0;
}

// Writes celobj over the record at offset and puts it on the disk,
// provided the file still holds the bytes the scan found there (old).
// Whatever goes wrong, the file is left holding old, or the result says
// that it may not.
static writeresult overwrite(heldfile *f, int64_t offset, const unsigned char *old)
{
    unsigned char ondisk[RECLEN];
    if (!heldseek(f, offset))
        return WRITE_NOSEEK;
    long got = heldread(f, ondisk, RECLEN);
    if (got < 0)
        return WRITE_NOREAD;
    if (got != RECLEN || memcmp(ondisk, old, RECLEN) != 0)
        return WRITE_CHANGED;
    if (!heldseek(f, offset))
        return WRITE_NOSEEK;
    long written = heldwrite(f, celobj, RECLEN);
    if (written != RECLEN || !heldsync(f))
        return putback(f, offset, old, written) ? WRITE_FAILED : WRITE_DAMAGED;
    if (stillnamed(f))
        return WRITE_OK;
    // Renamed away while it was written, by a program that takes no lock:
    // the file that bears the name now holds nothing of ours, and the one
    // written, perhaps its backup, gets its old bytes back.
    return putback(f, offset, old, RECLEN) ? WRITE_CHANGED : WRITE_DAMAGED;
}

// The file is held from the re-read to the sync, so no other writer comes
// between the comparison and the write.
static writeresult writerecord(const char *ondisk, int64_t offset, const unsigned char *old)
{
    heldfile f;
    if (!holdfile(ondisk, &f))
        return WRITE_NOOPEN;
    writeresult result = overwrite(&f, offset, old);
    releasefile(&f);
    return result;
}

void mispatch(const char *path, const char *ondisk, const char *stockname)
{
    if (par.verbosity > 2)
        TRACE("name=%s", printable(path));
    FILE *f = openread(ondisk);
    if (!f) {
        if (par.verbosity > 0)
            TRACE("Cannot open file %s.", printable(path));
        return;
    }
    int number;
    if (!missionnumber(stockname ? stockname : path, &number)) {
        fclose(f);
        if (par.verbosity > 0)
            TRACE("Cannot get mission number for file %s.", printable(path));
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
            TRACE("Cannot read file %s.", printable(path));
        return;
    }
    // The file never grows: a record cut off by its end is left alone.
    if (!enabledfound || !enabledwhole) {
        if (par.verbosity > 0)
            TRACE("I don't know what to do with file %s.", printable(path));
        return;
    }

    unsigned char old[RECLEN];
    memcpy(old, celobj, RECLEN);
    printf("\nPatching file %s:\n", printable(path));
    printf("Old values:\n");
    print_celobj();
    printf("New values:\n");
    applyrow(row);
    print_celobj();
    if (!confirm(prompt)) {
        printf("No changes made to %s.\n", printable(path));
        return;
    }

    unsigned long long at = static_cast<unsigned long long>(enabledoffset);
    holdendings();  // until the player has been told what became of the file
    switch (writerecord(ondisk, enabledoffset, old)) {
    case WRITE_NOOPEN:
        FATAL("Cannot open %s for writing.", printable(path));
    case WRITE_NOSEEK:
        FATAL("Cannot seek to 0x%llx in %s.", at, printable(path));
    case WRITE_NOREAD:
        FATAL("Cannot read file %s.", printable(path));
    case WRITE_CHANGED:
        FATAL("%s changed since it was read.", printable(path));
    case WRITE_FAILED:
        FATAL("Cannot write to %s.", printable(path));
    case WRITE_DAMAGED:
        FATAL("Cannot write to %s, nor put its old record back: the file may be damaged. "
              "Restore it from your backup.", printable(path));
    case WRITE_OK:
        break;
    }
    printf("%s patched.\n", printable(path));
    letendingsgo();
}

void cmd_mispatch()
{
    if (par.verbosity > 2)
        ENTRY();
    if (par.file) {
        // Found as Windows would find it, but named as the user wrote it.
        char *ondisk = diskname(par.file);
        mispatch(par.file, ondisk);
        free(ondisk);
        return;
    }
    for (const char *stock : missionlist) {
        char *name = diskname(stock);
        mispatch(name, name, stock);
        free(name);
    }
}
