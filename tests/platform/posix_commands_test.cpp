// The POSIX command lines, byte for byte; the scenarios run them for real.
#include "platform/posix/posix_commands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform.h"
#include "support/temp_dir.h"

TEST(PosixCommands, TextsAreExact) {
    const platform::CommandBuilders& posix = platform::posixCommands;
    const struct {
        std::string made, expected;
    } cases[] = {
        {posix.adminUnpack("/u/it's.msi", "/u/Update"),
         R"({ mkdir -p '/u/Update' && msiinfo tables '/u/it'\''s.msi' && msiextract -C '/u/Update' '/u/it'\''s.msi' && find '/u/Update' -type f \( -name PelorinAutoUpdate -o -name Pelorin \) -exec chmod a+x {} + && { ln -f '/u/it'\''s.msi' '/u/Update/Pelorin.msi' || cp '/u/it'\''s.msi' '/u/Update/Pelorin.msi'; }; } >/dev/null 2>&1)"},
        {posix.copyAndClean("/u/program files/H/P", "/i/$P", "/u/program files"),
         R"({ mkdir -p '/i/$P' && cp -R '/u/program files/H/P/.' '/i/$P' && rm -rf '/u/program files'; } >/dev/null 2>&1)"},
        // Every letter case of the name, and nothing that a wildcard would match.
        {posix.removeTree("/u/a*b?c[d]e\\f"),
         R"(find '/u/' -mindepth 1 -maxdepth 1 -iname 'a\*b\?c\[d\]e\\f' -exec rm -rf {} + >/dev/null 2>&1)"},
        {posix.removeTree("plain"),
         R"(find '.' -mindepth 1 -maxdepth 1 -iname 'plain' -exec rm -rf {} + >/dev/null 2>&1)"},
        {posix.deleteTask(),
         R"(t=$(crontab -l 2>/dev/null) || { crontab -l 2>&1 >/dev/null | grep -q '^no crontab for ' && t=; } || exit 1; printf '%s\n' "$t" | grep -q -e '# PelorinUpdateTask$' || exit 1; printf '%s\n' "$t" | grep -v -e '# PelorinUpdateTask$' | crontab -)"},
        {posix.createTaskFromDefinition("/i/T.cron"),
         R"(t=$(crontab -u root -l 2>/dev/null) || { crontab -u root -l 2>&1 >/dev/null | grep -q '^no crontab for ' && t=; } || exit 1; d=$(sed -e '/^[[:space:]]*$/d' -e 's/$/ # PelorinUpdateTask/' '/i/T.cron') && [ -n "$d" ] || exit 1; { [ -z "$t" ] || printf '%s\n' "$t" | grep -v -e '# PelorinUpdateTask$'; printf '%s\n' "$d"; } | crontab -u root - && crontab -u root -l 2>/dev/null | grep -q -e '# PelorinUpdateTask$')"},
        // cron would end the command at an unescaped '%'.
        {posix.createRepeatingTask("5", "/i/100%/L.sh", "/i/U", false),
         R"(t=$(crontab -l 2>/dev/null) || { crontab -l 2>&1 >/dev/null | grep -q '^no crontab for ' && t=; } || exit 1; { [ -z "$t" ] || printf '%s\n' "$t" | grep -v -e '# PelorinUpdateTask$'; printf '%s\n' '0 */5 * * * /bin/sh '\''/i/100\%/L.sh'\'' '\''/i/U'\'' # PelorinUpdateTask'; } | crontab - && crontab -l 2>/dev/null | grep -q -e '# PelorinUpdateTask$')"},
        {posix.createRepeatingTask("5", "/i/L.sh", "/i/U", true),
         R"(t=$(crontab -u root -l 2>/dev/null) || { crontab -u root -l 2>&1 >/dev/null | grep -q '^no crontab for ' && t=; } || exit 1; { [ -z "$t" ] || printf '%s\n' "$t" | grep -v -e '# PelorinUpdateTask$'; printf '%s\n' '0 */5 * * * /bin/sh '\''/i/L.sh'\'' '\''/i/U'\'' # PelorinUpdateTask'; } | crontab -u root - && crontab -u root -l 2>/dev/null | grep -q -e '# PelorinUpdateTask$')"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.made, c.expected);
}

TEST(PathIgnoringCase, FindsWhatWindowsWouldFind) {
    TempDir root;
    for (const char* made : {"/Program Files/Halvorne/Pelorin", "/data/List", "/data/list"})
        std::filesystem::create_directories(root.path() + made);
    const struct {
        std::string asked, found;
    } cases[] = {
        {"/program files/halvorne/PELORIN", "/Program Files/Halvorne/Pelorin"},
        {"/Program Files/Halvorne/Pelorin", "/Program Files/Halvorne/Pelorin"},
        {"/data/list", "/data/list"},  // an exact match wins
        {"/PROGRAM FILES/Halvorne/Missing/x", "/Program Files/Halvorne/Missing/x"},
        {"/nothing/here", "/nothing/here"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::pathIgnoringCase(root.path() + c.asked), root.path() + c.found);
}
