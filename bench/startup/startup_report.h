#pragma once

#include <cstdio>

// Tells ntpsm-startup-timer that the window has been shown: one line on
// standard output, flushed at once.
inline void reportShown()
{
    std::fputs("shown\n", stdout);
    std::fflush(stdout);
}
