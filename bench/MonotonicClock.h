#pragma once
// Milliseconds on the monotonic clock, the one time base of the measuring programs.

#include <ctime>

inline double nowMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
