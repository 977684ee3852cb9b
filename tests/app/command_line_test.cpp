#include "app/command_line.h"

#include <gtest/gtest.h>

TEST(CommandText, OnlySpacesAreStrippedAndOnlyAtTheEnds) {
    std::string text = "  Schtask  Install\tAdmin  ";
    EXPECT_EQ(normalizeCommandText(text), "schtask  install\tadmin");
    EXPECT_EQ(text, "schtask  install\tadmin");  // changed in place as well
    std::string spacesOnly = "   ";
    EXPECT_EQ(normalizeCommandText(spacesOnly), "");
    std::string tabbed = "\tschtask uninstall ";
    EXPECT_EQ(normalizeCommandText(tabbed), "\tschtask uninstall");
}

TEST(CommandText, JoinedWordsKeepTheirInnerSpacesAndLoseTheTrailingOne) {
    const char* const words[] = {" Schtask ", "install admin", "NOW "};
    EXPECT_EQ(joinCommandWords(4, words), "schtask install admin now");
    EXPECT_EQ(joinCommandWords(2, words), "schtask");
    EXPECT_EQ(joinCommandWords(1, words), "");
}
