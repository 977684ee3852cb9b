// Loading ServerList.lst: the line rules, the default file, a failed load,
// and the random order of the entries.
#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "platform/platform.h"
#include "serverlist/list_fixture.h"
#include "serverlist/shuffle.h"

namespace {

const std::string m = "/Win/UpdateWin.xml";  // appended to an entry not ending in ".xml"

Urls sorted(Urls urls) {
    std::sort(urls.begin(), urls.end());
    return urls;
}

}  // namespace

using ServerListLoad = ListFixture;

// Each row is loaded again by one list: every load starts from "0.0".
TEST_F(ServerListLoad, LinesGiveTheVersionAndTheManifestUrls) {
    const std::tuple<std::string, const char*, Urls> cases[] = {
        // text, version, sorted URLs
        {"", "0.0", {}},
        {"  version   =   7  \n", "7", {}},
        {"   https://spaces.example/list   "
         "\r\n\thttps://tab.example/list\nhttps://crlf.example/\r\n"
         "https://last.example/no-line-end",
         "0.0",
         {"https://crlf.example" + m, "https://last.example/no-line-end" + m,
          "https://spaces.example/list" + m}},
        {"# https://commented.example\n     # Version = 4.0\n\n      \nhttps://a.example\n"
         "#https://b.example\nVersion = 3.0\nhttps://a.example\n",
         "3.0",
         {"https://a.example" + m, "https://a.example" + m}},
        {"VERSION=2.5B\n", "2.5b", {}},
        {"Versioning = 3.1\n", "3.1", {}},
        {"version = 1 = 4.2\n", "4.2", {}},
        // The first version other than "0.0" wins; a later version line is no entry.
        {"Version = 1.0\nVersion = 2.0\nversion=https://x.example\n", "1.0", {}},
        {"Version = 0.0\nVersion = 2.0\n", "2.0", {}},
        {"Version =\nVersion =    \nVersion 2.0\nVersion = 5\n", "5", {}},
        {"HTTPS://capitals.example\nHttp://mixed.example\nhttp://\nftp://a\nftp://ab\nsftp://x\n"
         "gopher://other.example\nwww.example.com\nhttp://plain.example\n",
         "0.0",
         {"ftp://ab" + m, "http://plain.example" + m, "sftp://x" + m}},
        {"https://slash.example/path/\nhttps://noslash.example/path\n"
         "https://manifest.example/own.xml\nhttps://capitals.example/OWN.XML\n",
         "0.0",
         {"https://capitals.example/OWN.XML" + m, "https://manifest.example/own.xml",
          "https://noslash.example/path" + m, "https://slash.example/path/Win/UpdateWin.xml"}},
    };
    installation.writeFile(listPath, "Version = 6\nhttps://a.example\n");
    ServerList list(listPath, *context);
    for (const auto& [text, version, urls] : cases) {
        SCOPED_TRACE(text);
        installation.writeFile(listPath, text);
        list.load();
        EXPECT_EQ(list.version, version);
        EXPECT_EQ(sorted(list.urls), urls);
        EXPECT_EQ(readFile(listPath), text);
    }
    std::string many;  // entries beyond the bound are dropped, later lines still read
    Urls kept;
    for (std::size_t i = 0; i < ServerList::maxEntries + 5; ++i) {
        many += "https://s" + std::to_string(i) + ".example\n";
        if (i < ServerList::maxEntries)
            kept.push_back("https://s" + std::to_string(i) + ".example" + m);
    }
    installation.writeFile(listPath, many + "Version = 8.0\n");
    list.load();
    EXPECT_EQ(list.version, "8.0");
    EXPECT_EQ(sorted(list.urls), sorted(kept));
}

TEST_F(ServerListLoad, MissingFileIsCreatedWithTheDefaultOrRaised) {
    ServerList list(listPath, *context);
    // Text mode writes LF here; on Windows the same lines take 173 bytes.
    EXPECT_EQ(readFile(listPath),
              "# all items should start with a new line items may\n"
              "# contain space at beginning and end, urls should\n"
              "# start with http://, https://, sftp:// or ftp://\n\nVersion = 1.0\n\n");
    EXPECT_EQ(list.version, "1.0");
    EXPECT_EQ(list.fileHash(), "F1F29AA3409B3792E41530066AC6CE96CB8CF725");
    EXPECT_EQ(list.directory(), listDir);
    list.path = listDir + "/missing/ServerList.lst";
    EXPECT_EQ(list.fileHash(), "");
    try {
        list.load();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Server list file missing, attempt to create failed");
    }
    EXPECT_EQ(list.version, "1.0");
    list.path = "ServerList.lst";
    EXPECT_EQ(list.directory(), "./");
}

// One seed always gives one order.
TEST(Shuffle, EachSeedGivesItsOrder) {
    const std::tuple<unsigned, std::size_t, const char*> cases[] = {
        // seed, entries, order{1, 0, ""},
        {1, 1, "a"},
        {2, 7, "efdacgb"},
        {1, 7, "becfdga"},
        {1700000000, 7, "bcdafge"},
        {5, 26, "tlwqsokphdueamxjvnifgzbrcy"}};
    for (const auto& [seed, count, order] : cases) {
        Urls entries;
        for (std::size_t i = 0; i < count; ++i) entries.push_back(std::string(1, char('a' + i)));
        shuffleEntries(entries, seed);
        std::string shuffled;
        for (const std::string& entry : entries) shuffled += entry;
        EXPECT_EQ(shuffled, order) << "seed " << seed;
    }
}

// Each load is shuffled with the calendar second as its seed.
TEST_F(ServerListLoad, LoadShufflesWithTheCalendarSecond) {
    std::string text;
    Urls inFileOrder;
    for (char name = 'a'; name <= 'j'; ++name) {
        text += std::string("https://") + name + ".example\n";
        inFileOrder.push_back(std::string("https://") + name + ".example" + m);
    }
    installation.writeFile(listPath, text);
    Urls early = inFileOrder, late = inFileOrder;
    shuffleEntries(early, static_cast<unsigned>(platform::calendarSeconds()));
    ServerList list(listPath, *context);
    shuffleEntries(late, static_cast<unsigned>(platform::calendarSeconds()));
    EXPECT_TRUE(list.urls == early || list.urls == late);
}
