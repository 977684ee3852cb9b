#include "app/command_line.h"

#include <gtest/gtest.h>

TEST(CommandText, OnlySpacesAreStrippedAndOnlyAtTheEnds) {
    const struct {
        std::string text, normalized;
    } cases[] = {{"  Schtask  Install\tAdmin  ", "schtask  install\tadmin"},
                 {"   ", ""},
                 {"\tschtask uninstall ", "\tschtask uninstall"}};
    for (auto c : cases) {
        EXPECT_EQ(normalizeCommandText(c.text), c.normalized);
        EXPECT_EQ(c.text, c.normalized);  // changed in place as well
    }
    const char* const words[] = {" Schtask ", "install admin", "NOW "};
    EXPECT_EQ(joinCommandWords(4, words), "schtask install admin now");
    EXPECT_EQ(joinCommandWords(2, words), "schtask");
    EXPECT_EQ(joinCommandWords(1, words), "");
}
