#include "install/install_backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/installation.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// An installation whose Application/a.txt is the new release's and whose backup
// holds the old one, with `journal` written as the journal.
struct Interrupted {
    explicit Interrupted(const std::string& journal) {
        for (const auto& [path, text] : {std::pair(root + "/Application/a.txt", "new"),
                                         {root + "/added.txt", "added"},
                                         {update + "/backup/Application/a.txt", "old"},
                                         {update + "/install.journal", journal.c_str()}}) {
            fs::create_directories(fs::path(path).parent_path());
            std::ofstream(path, std::ios::binary) << text;
        }
    }
    // What undo may change, as it stands.
    std::string state() const {
        std::string text;
        for (const std::string& path :
             {root + "/Application/a.txt", root + "/added.txt",
              update + "/backup/Application/a.txt", update + "/install.journal"})
            text += fs::exists(path) ? readFile(path) + ";" : "-;";
        return text;
    }
    TempDir dir;
    const std::string root = dir.path() + "/Pelorin", update = dir.path() + "/Update";
    InstallBackup backup{root, update, {}};
};

const std::string head = "Pelorin install journal 1\n";
const std::string whole = head + "added added.txt\nreplaced Application/a.txt\nmoved\nend 2\n";

}  // namespace

// A journal that is not whole, or names a path outside the installation, is never acted on.
TEST(InstallBackup, JournalNotReadWholeIsNeverActedOn) {
    const std::string refused[] = {
        "",
        head,  // cut short: no end line
        head + "added added.txt\nreplaced Application/a.txt\nmoved\n",
        head + "added added.txt\r\nreplaced Application/a.txt\r\nmoved\r\nend 2\r\n",
        head + "added added.txt\nend 2\n",           // the count is wrong
        head + "added added.txt\nend 1",             // the last line unended
        head + "added added.txt\nend 1\nadded x\n",  // lines after the end
        head + "moved\nadded added.txt\nend 1\n",    // moved before an entry
        head + "end 01\n",
        head + "removed added.txt\nend 1\n",
        "Pelorin install journal 2\nend 0\n",
        head + "added \nend 1\n",  // the installation itself
        head + "added /etc\nend 1\n",
        head + "replaced ../../x\nmoved\nend 1\n",
        head + "added Application/../../x\nend 1\n",
        head + "added C:/Windows\nend 1\n",
        head + "added a\\..\\..\\x\nend 1\n",
        head + "added a//b\nend 1\n",
    };
    for (const std::string& journal : refused) {
        SCOPED_TRACE(journal);
        Interrupted install(journal);
        const std::string before = install.state();
        EXPECT_FALSE(install.backup.load());
        EXPECT_FALSE(install.backup.undo());
        EXPECT_FALSE(install.backup.finish());
        EXPECT_EQ(install.state(), before);
    }
    Interrupted unreadable(whole);  // a folder where the journal should be
    fs::remove(unreadable.update + "/install.journal");
    fs::create_directories(unreadable.update + "/install.journal");
    EXPECT_FALSE(unreadable.backup.load());
    EXPECT_FALSE(unreadable.backup.undo());
    EXPECT_TRUE(fs::exists(unreadable.update + "/backup/Application/a.txt"));
}

// A whole journal is undone as far as the backup allows; a moved-aside file it lacks is lost.
TEST(InstallBackup, UndoTrustsTheBackupOnlyWhereTheJournalSaysSo) {
    const struct {
        std::string journal;
        bool keepBackup, undone;
        std::string after;  // a.txt, added.txt, the backup's a.txt, the journal
    } cases[] = {
        {whole, true, true, "old;-;-;-;"},
        // Moved, and the backup lost it: nothing is put back, nothing removed.
        {whole, false, false, "new;added;-;" + whole + ";"},
        // The copy never started: nothing was added, and a.txt never left.
        {head + "added added.txt\nreplaced Application/a.txt\nend 2\n", false, true,
         "new;added;-;-;"},
        {head + "placed-over Application/a.txt\nmoved\nend 1\n", true, true, "old;added;-;-;"},
        {head + "placed-over Application/a.txt\nmoved\nend 1\n", false, false,
         "new;added;-;" + head + "placed-over Application/a.txt\nmoved\nend 1\n;"},
        {head + "placed added.txt\nmoved\nend 1\n", true, true, "new;-;-;-;"},
        {head + "end 0\n", true, true, "new;added;-;-;"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.journal);
        Interrupted install(test.journal);
        if (!test.keepBackup) fs::remove(install.update + "/backup/Application/a.txt");
        ASSERT_TRUE(install.backup.load());
        EXPECT_EQ(install.backup.undo(), test.undone);
        EXPECT_EQ(install.state(), test.after);
    }
}
