// qscapture's millisecond clock on a machine up for 40 days, its counter at
// 3 GHz: ticks * 1000 would have overflowed, and every time-out expired.
#include <gtest/gtest.h>

#include "counter_ms.h"

TEST(CounterMs, OutlastsLongUptimes)
{
    const int64_t frequency = 3000000000;
    EXPECT_EQ(CounterMs(40 * 86400 * frequency + frequency / 2, frequency), 3456000500u);
}
