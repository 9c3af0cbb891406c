// The run parameters and the program's name, shared by every part.
#include "orbset.h"

params par = {0, nullptr};
const char progname[] = "orbset";
