// The new moon for each mission. Missions 3, 14 and 15 keep theirs.
#include "missions.h"

const celobjrow celobj_miss[MISSIONS] = {
    {"pmoon08.pcx", 8, 220, {0.7266667f, 0.56916666f, 0.22416666f}},
    {"pmoon09.pcx", 6, 240, {1, 1, 1}},
    {nullptr, 0, 0, {0, 0, 0}},
    {"pmoonfr.pcx", 7, 230, {0.9f, 0.9f, 1}},
    {"pmoon06.pcx", 7, 250, {0.56f, 0.56f, 0.35f}},
    {"pmoon06.pcx", 6, 270, {0.63f, 0.63f, 0.49f}},
    {"pmoon07.pcx", 6, 250, {1, 1, 1}},
    {"pmoon09.pcx", 7, 210, {1, 1, 1}},
    {"pmoon08.pcx", 7, 200, {0.72f, 0.72f, 0.8f}},
    {"pmoon09.pcx", 7, 210, {1, 1, 1}},
    {"pmoon03.pcx", 6, 340, {1, 1, 1}},
    {"pmoon05.pcx", 7, 330, {0.65f, 0.65f, 0.65f}},
    {"pmoonec.pcx", 7, 330, {0.3f, 0.3f, 0.3f}},
    {nullptr, 0, 0, {0, 0, 0}},
    {nullptr, 0, 0, {0, 0, 0}},
    {"pmoon08.pcx", 7, 220, {0.63f, 0.63f, 0.7f}},
};
