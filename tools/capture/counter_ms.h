// Milliseconds from a performance counter's ticks, apart from its Windows
// types so that the host tests reach it.
#ifndef QUILLSET_COUNTER_MS_H
#define QUILLSET_COUNTER_MS_H

#include <stdint.h>

// Whole seconds and the rest apart: ticks * 1000 overflows 64 bits after
// about 35 days of uptime where the counter runs in the GHz range. The
// result wraps every 49.7 days, as every millisecond DWORD does.
inline uint32_t CounterMs(int64_t ticks, int64_t frequency)
{
    return static_cast<uint32_t>(ticks / frequency * 1000 + ticks % frequency * 1000 / frequency);
}

#endif
