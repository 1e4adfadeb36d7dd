#pragma once
// What a soak watches for growth: this process's open descriptors and resident memory.
#include <dirent.h>
#include <unistd.h>

#include <fstream>

inline int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir && readdir(dir)) ++count;
    if (dir) closedir(dir);
    return count;
}

inline long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
