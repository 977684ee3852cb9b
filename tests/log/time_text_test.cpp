#include "log/time_text.h"

#include <gtest/gtest.h>

namespace {

std::tm localTime(int hour, int minute, int second) {
    std::tm time = {};
    time.tm_year = 2026 - 1900;
    time.tm_mon = 6;  // July
    time.tm_mday = 3;
    time.tm_wday = 5;  // Friday
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

}  // namespace

TEST(TimeText, UsesTwelveHourClockWithNoonShownAsAm) {
    EXPECT_EQ(formatTimeText(localTime(12, 30, 0)), "Friday, July 03, 2026, 12:30:00am");
    EXPECT_EQ(formatTimeText(localTime(0, 30, 0)), "Friday, July 03, 2026, 12:30:00am");
    EXPECT_EQ(formatTimeText(localTime(13, 5, 9)), "Friday, July 03, 2026, 01:05:09pm");
    EXPECT_EQ(formatTimeText(localTime(11, 59, 59)), "Friday, July 03, 2026, 11:59:59am");
    EXPECT_EQ(formatTimeText(localTime(23, 0, 0)), "Friday, July 03, 2026, 11:00:00pm");
}
