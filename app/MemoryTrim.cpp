#include "MemoryTrim.h"

#include <malloc.h>

bool MemoryTrim::maybeTrim(Clock::time_point now) {
    if (now < _next) return false;
    malloc_trim(0);
    _next = now + kPeriod;
    return true;
}
