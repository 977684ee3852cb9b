#include "log/time_text.h"

#include <gtest/gtest.h>

TEST(TimeText, UsesTwelveHourClockWithNoonShownAsAm) {
    const std::pair<int, const char*> cases[] = {{12, "12:30:09am"},
                                                 {0, "12:30:09am"},
                                                 {13, "01:30:09pm"},
                                                 {11, "11:30:09am"},
                                                 {23, "11:30:09pm"}};
    for (const auto& [hour, text] : cases) {
        std::tm time = {};
        time.tm_year = 2026 - 1900, time.tm_mon = 6, time.tm_mday = 3, time.tm_wday = 5;
        time.tm_hour = hour, time.tm_min = 30, time.tm_sec = 9;
        EXPECT_EQ(formatTimeText(time), std::string("Friday, July 03, 2026, ") + text);
    }
}
