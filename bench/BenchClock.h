// The benchmarks' clock: seconds from the performance counter.
#pragma once

#include <windows.h>

inline double now()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}
