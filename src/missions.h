// The new moon for each mission.
#ifndef MISSIONS_H
#define MISSIONS_H

struct celobjrow {
    const char *tex;  // null: the mission is not patched
    float siz;
    float rot;
    float col[3];  // red, green, blue
};

enum { MISSIONS = 16 };

// Row k - 1 holds the values for mission number k.
extern const celobjrow celobj_miss[MISSIONS];

#endif
