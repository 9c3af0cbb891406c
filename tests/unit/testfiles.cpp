#include "testfiles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

#include "orbset.h"

std::string makerecord(char index, int32_t ena)
{
    std::string rec(RECLEN, '\0');
    memcpy(&rec[0], celobjtag, TAGLEN);
    rec[CO_INDEX] = index;
    putint(rec, CO_ENA, ena);
    return rec;
}

void putint(std::string &rec, int field, int32_t value)
{
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; i++)
        rec[field + i] = static_cast<char>(v >> (8 * i));
}

void putfloat(std::string &rec, int field, float value)
{
    int32_t bits;
    memcpy(&bits, &value, sizeof bits);
    putint(rec, field, bits);
}

std::string temppath(const char *name)
{
    static int serial;
    const char *dir = getenv("TMPDIR");
#if defined(_WIN32)
    if (!dir)
        dir = getenv("TEMP");
#endif
    std::string path = dir ? dir : "/tmp";
    return path + "/orbset-unit-" + std::to_string(getpid()) + "-" +
           std::to_string(serial++) + "-" + name;
}

tempfile::tempfile(const std::string &data) : path(temppath("data"))
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(data.data(), 1, data.size(), f) != data.size() || fclose(f) != 0)
        throw std::runtime_error("cannot write " + path);
}

tempfile::~tempfile()
{
    remove(path.c_str());
}

static std::vector<found> *collected;
static size_t stopat;

static bool collect(int64_t offset, bool whole)
{
    collected->push_back({offset, whole, std::string(reinterpret_cast<char *>(celobj), RECLEN)});
    return collected->size() < stopat;
}

std::vector<found> scanfile(const std::string &path, scanresult *result, size_t stopafter)
{
    std::vector<found> out;
    collected = &out;
    stopat = stopafter;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        throw std::runtime_error("cannot open " + path);
    scanresult r = scancelobj(f, "unit", collect);
    fclose(f);
    if (result)
        *result = r;
    return out;
}

std::vector<found> scandata(const std::string &data)
{
    tempfile file(data);
    scanresult result;
    std::vector<found> out = scanfile(file.path, &result);
    if (result != SCAN_END)
        throw std::runtime_error("scan did not end at the end of the file");
    return out;
}

std::string capturestdout(const std::function<void()> &fn)
{
    fflush(stdout);
    FILE *tmp = tmpfile();
    int saved = dup(fileno(stdout));
    dup2(fileno(tmp), fileno(stdout));
    fn();
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::string out;
    rewind(tmp);
    int c;
    while ((c = fgetc(tmp)) != EOF)
        out += static_cast<char>(c);
    fclose(tmp);
    return out;
}
