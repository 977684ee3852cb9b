#include "log/time_text.h"

#include <gtest/gtest.h>

TEST(TimeText, UsesTwelveHourClockWithNoonShownAsAm) {
    const struct {
        int hour, minute, second;
        const char* text;
    } cases[] = {
        {12, 30, 0, "Friday, July 03, 2026, 12:30:00am"},
        {0, 30, 0, "Friday, July 03, 2026, 12:30:00am"},
        {13, 5, 9, "Friday, July 03, 2026, 01:05:09pm"},
        {11, 59, 59, "Friday, July 03, 2026, 11:59:59am"},
        {23, 0, 0, "Friday, July 03, 2026, 11:00:00pm"},
    };
    for (const auto& c : cases) {
        std::tm time = {};
        time.tm_year = 2026 - 1900;
        time.tm_mon = 6;
        time.tm_mday = 3;
        time.tm_wday = 5;
        time.tm_hour = c.hour;
        time.tm_min = c.minute;
        time.tm_sec = c.second;
        EXPECT_EQ(formatTimeText(time), c.text);
    }
}
