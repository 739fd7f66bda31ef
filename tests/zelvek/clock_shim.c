/*
 * Preloaded by a test of the library (shared_save_test.cpp) to play a host
 * whose clock is off: the wall clock this process reads is ZEL_CLOCK_OFFSET
 * seconds ahead (behind when negative).  The file system's times stay true.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

typedef int (*ClockGettime)(clockid_t, struct timespec*);

int clock_gettime(clockid_t id, struct timespec* now) {
    static ClockGettime real;
    if (!real) real = (ClockGettime)dlsym(RTLD_NEXT, "clock_gettime");
    const int answer = real(id, now);
    const char* offset = getenv("ZEL_CLOCK_OFFSET");
    if (answer == 0 && offset && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) now->tv_sec += atol(offset);
    return answer;
}

time_t time(time_t* out) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (out) *out = now.tv_sec;
    return now.tv_sec;
}
