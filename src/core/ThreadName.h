#pragma once
// Names the calling thread as `top` and debuggers show it, and as leak checks find it:
// every thread the program starts itself is named "vt-…" (at most 15 characters).

#include <pthread.h>

namespace core {

inline void nameThisThread(const char *name)
{
    pthread_setname_np(pthread_self(), name);
}

}  // namespace core
