// Helpers for the unit tests: files with chosen bytes, records, and the
// program's standard output caught as text.
#ifndef TESTFILES_H
#define TESTFILES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "celobj.h"

// A 328-byte record with the tag, the index character and the given ena;
// the rest zero unless set afterwards.
std::string makerecord(char index, int32_t ena);
void putint(std::string &rec, int field, int32_t value);
void putfloat(std::string &rec, int field, float value);

// A fresh path in the temporary directory.
std::string temppath(const char *name);

// A temporary file holding data; removed by the destructor.
struct tempfile {
    std::string path;
    explicit tempfile(const std::string &data);
    ~tempfile();
};

struct found {
    int64_t offset;
    bool whole;
    std::string record;
};

// Scans the file at path and returns every record handed to the action.
std::vector<found> scanfile(const std::string &path, scanresult *result = nullptr,
                            size_t stopafter = SIZE_MAX);
std::vector<found> scandata(const std::string &data);

// What fn writes to standard output.
std::string capturestdout(const std::function<void()> &fn);

#endif
