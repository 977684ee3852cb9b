#include "log/time_text.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

const char* const weekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                    "Thursday", "Friday", "Saturday"};
const char* const monthNames[] = {"January",   "February", "March",    "April",
                                  "May",       "June",     "July",     "August",
                                  "September", "October",  "November", "December"};

}  // namespace

std::string formatTimeText(const std::tm& localTime) {
    int hour = localTime.tm_hour;
    const char* suffix = "am";
    if (hour > 12) {
        suffix = "pm";
        hour -= 12;
    }
    if (hour == 0) hour = 12;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %s %.2d, %d, %.2d:%.2d:%.2d%s",
                  weekdayNames[localTime.tm_wday % 7], monthNames[localTime.tm_mon % 12],
                  localTime.tm_mday, localTime.tm_year + 1900, hour, localTime.tm_min,
                  localTime.tm_sec, suffix);
    return text;
}

std::string currentTimeText() {
    std::tm localTime = {};
    if (!platform::localTimeNow(localTime)) return std::string();
    return formatTimeText(localTime);
}
