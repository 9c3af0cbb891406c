// The celestial-object record as it lies in a mission file, the one
// in-memory copy of it, its printed form and the scanner that finds it.
#ifndef CELOBJ_H
#define CELOBJ_H

#include <cstdint>
#include <cstdio>

enum {
    TAGLEN = 9,    // "CELOBJVAR", no terminator
    RECLEN = 328,  // the whole record, handled as one block
    TEXLEN = 256,
};

// Byte offsets of the fields from the first byte of the tag. Integers and
// floats are 32-bit little-endian.
enum celobjfield {
    CO_INDEX = 9,
    CO_ENA = 24,
    CO_FOG = 28,
    CO_IAT = 32,
    CO_TEX = 36,
    CO_A = 292,
    CO_OFF = 296,
    CO_SIZ = 300,
    CO_LAT = 304,
    CO_LON = 308,
    CO_ROT = 312,
    CO_COL = 316,  // red, green, blue
};

extern const char celobjtag[];  // "CELOBJVAR"
extern unsigned char celobj[RECLEN];

int32_t celobj_int(int field);
float celobj_float(int field);
void celobj_setint(int field, int32_t value);
void celobj_setfloat(int field, float value);
void print_celobj();

// Called once per tag found, after the record has been copied into celobj.
// whole is false when the record runs past the end of the file (the
// missing bytes are zeros). Returns true to go on scanning.
typedef bool (*celobjaction)(int64_t offset, bool whole);

enum scanresult { SCAN_END, SCAN_STOPPED, SCAN_READERROR };

// Finds every tag in the stream, in the order of its offset, and hands
// each record to the action; worker names the caller in the trace lines.
// The stream must not have been read yet: the scan makes it unbuffered.
scanresult scancelobj(FILE *f, const char *worker, celobjaction action);

// The file offset where the scanner's block that holds offset ends: its
// reads end there.
int64_t scanblockend(int64_t offset);

#endif
