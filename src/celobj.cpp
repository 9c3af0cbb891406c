// The one in-memory record and its printed form.
#include <cstring>

#include "celobj.h"
#include "orbset.h"

const char celobjtag[] = "CELOBJVAR";
unsigned char celobj[RECLEN];

// Fields are little-endian in the file whatever the host's byte order.
static uint32_t getle32(int field)
{
    const unsigned char *b = celobj + field;
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

static void putle32(int field, uint32_t v)
{
    unsigned char *b = celobj + field;
    for (int i = 0; i < 4; i++)
        b[i] = static_cast<unsigned char>(v >> (8 * i));
}

int32_t celobj_int(int field)
{
    return static_cast<int32_t>(getle32(field));
}

float celobj_float(int field)
{
    uint32_t bits = getle32(field);
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

void celobj_setint(int field, int32_t value)
{
    putle32(field, static_cast<uint32_t>(value));
}

void celobj_setfloat(int field, float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    putle32(field, bits);
}

void print_celobj()
{
    // The texture is printed up to its first NUL, never past its field.
    char tex[TEXLEN + 1];
    memcpy(tex, celobj + CO_TEX, TEXLEN);
    tex[TEXLEN] = '\0';
    int index = static_cast<signed char>(celobj[CO_INDEX]) - '0';
    printf("%s%d: ena=%d fog=%d iat=%d tex=%s a=%g off=%g siz=%g lat=%g "
           "lon=%g rot=%g col=(%g %g %g)\n",
           celobjtag, index, celobj_int(CO_ENA), celobj_int(CO_FOG),
           celobj_int(CO_IAT), printable(tex),
           celobj_float(CO_A), celobj_float(CO_OFF), celobj_float(CO_SIZ),
           celobj_float(CO_LAT), celobj_float(CO_LON), celobj_float(CO_ROT),
           celobj_float(CO_COL), celobj_float(CO_COL + 4), celobj_float(CO_COL + 8));
}
