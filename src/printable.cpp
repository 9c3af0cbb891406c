// Text that comes from outside the program (names of files and folders,
// the texture of a record, words of the command line) as it is printed.
// A terminal acts on the control characters in such text instead of
// showing them: a texture from a downloaded mission could clear the
// screen, retitle the window or draw a false record line or question. On
// a terminal each control character is shown as '?', as ls does; a file
// or a pipe gets every byte as the text holds it.
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "orbset.h"

size_t utf8len(const unsigned char *p)
{
    unsigned char lo = 0x80, hi = 0xBF;
    size_t len;
    if (p[0] >= 0xC2 && p[0] <= 0xDF)
        len = 2;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF)
        len = 3;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4)
        len = 4;
    else
        return 0;
    if (p[0] == 0xE0)
        lo = 0xA0;
    else if (p[0] == 0xED)
        hi = 0x9F;
    else if (p[0] == 0xF0)
        lo = 0x90;
    else if (p[0] == 0xF4)
        hi = 0x8F;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < len; i++)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return len;
}

// The length in bytes of the character at p, and whether it is a
// control. In UTF-8 the C1 controls are two bytes (C2 80 to C2 9F), and
// a byte 0x80 to 0x9F outside any character is C1 to a terminal that
// reads bytes. In a code page of single and double bytes, 0x80 and up
// are letters or their lead bytes.
static size_t charat(const unsigned char *p, bool utf8, bool *control)
{
    *control = *p < 0x20 || *p == 0x7F;
    if (!utf8 || *p < 0x80)
        return 1;
    size_t len = utf8len(p);
    if (len == 0) {
        *control = *p <= 0x9F;
        return 1;
    }
    *control = len == 2 && p[0] == 0xC2 && p[1] <= 0x9F;
    return len;
}

const char *maskcontrols(const char *text, bool utf8)
{
    static char *shown;
    static size_t room;
    size_t need = strlen(text) + 1;  // never longer than text
    if (need > room) {
        char *grown = static_cast<char *>(realloc(shown, need));
        if (!grown)
            FATAL("Out of memory.");
        shown = grown;
        room = need;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    char *out = shown;
    while (*p) {
        bool control;
        size_t len = charat(p, utf8, &control);
        if (control) {
            *out++ = '?';  // one for each character, however many bytes
        } else {
            memcpy(out, p, len);
            out += len;
        }
        p += len;
    }
    *out = '\0';
    return shown;
}

// Standard output does not change while the program runs.
enum outputkind { UNKNOWN, NOTERMINAL, TERMINAL, UTF8TERMINAL };

static outputkind findoutput()
{
#if defined(_WIN32)
    // Wherever the manifest's UTF-8 is honoured, the text is UTF-8; the
    // console shows it in that code page (see consolestart).
    DWORD mode;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        return NOTERMINAL;
    return GetACP() == CP_UTF8 ? UTF8TERMINAL : TERMINAL;
#else
    // A name on Linux is bytes; a terminal reads them as UTF-8, or as
    // bytes in which 0x80 to 0x9F are controls.
    return isatty(1) ? UTF8TERMINAL : NOTERMINAL;
#endif
}

const char *printable(const char *text)
{
    static outputkind output = UNKNOWN;
    if (output == UNKNOWN)
        output = findoutput();
    if (output == NOTERMINAL)
        return text;
    return maskcontrols(text, output == UTF8TERMINAL);
}
